// Importing a ship that exists in a mod's catalogue/data pair: its record, the
// models its scene names, the textures those models name, its dummies,
// components, cockpits and texts. The import wizard and "hullwright-cli import"
// both run on this.
//
// Nothing is written outside <programDir>/temp (the four tables and scratch
// copies, removed when the session ends) and, at finish, <programDir>/Slipway
// (the chosen files at their catalogue paths). Catalogue names that would leave
// Slipway are skipped with a log line.
#pragma once

#include "imports.h"
#include "modelcompiler.h"
#include "shipdraft.h"

#include <QList>
#include <QString>
#include <QStringList>

class QIODevice;

// ---- readers over text files of any size, streamed, any line end

// The body references of a scene: after the blank lines and "/" comments, the
// first line must begin (in any case) with "VER:"; then every line that begins
// with "P " gives its second ";" field when that field begins with " B ".
struct ScenePart
{
    QString number; // what follows "P " up to the first ";"
    QString name;   // the second ";" field, without its "B "
};
struct SceneBodies
{
    enum Status { Scene, NotAScene, Unreadable };
    Status status = Unreadable;
    QStringList references; // as the part lines give them (trimmed), each once, in order
    // Every part line, in order, up to kMaxSceneParts (a list to choose from).
    QList<ScenePart> parts;
    bool partsCut = false;
};
inline constexpr int kMaxSceneParts = 5000;
SceneBodies ReadSceneBodies(QIODevice& device);
SceneBodies ReadSceneBodiesFile(const QString& path);
// A scene file on disk in its plain or packed form (".pbd", ".pbb"): a packed
// one is unpacked to workDir/scene.txt first, and that copy removed after.
SceneBodies ReadSceneFile(const QString& path, const QString& workDir);

// The compare form of a body reference: backslashes, lower case, a non-zero
// number padded with "0" to five digits, and "v\" before a bare name.
QString BodyReferenceKey(const QString& reference);
// The compare form of a model entry: without its extension, backslashes, lower
// case and without a leading "objects\".
QString ModelEntryKey(const QString& entry);
// The models (in their order) whose key one of the references has.
QStringList MatchSceneModels(const QStringList& references, const QStringList& models);

// Texture file names (lower case, no folder) that the "MATERIAL6:" lines of a
// text model name: every value from the line's third word on that has a file
// extension.
QStringList ReadModelTextures(QIODevice& device);
// The textures (in their order) whose file name, in lower case, is one of names.
QStringList MatchTextures(const QStringList& names, const QStringList& textures);

// A dummy or component row belongs to the ship whose scene it names (dummies:
// field 0 of the line; components: the component name).
bool RowNamesScene(const ImportRow& row, GroupedTable kind, const QString& scene);

// ".pbb" -> ".bob", ".pbd" -> ".bod"; other names stay.
QString PlainModelName(const QString& name);

// ---- one import session

struct SceneModels
{
    enum Status { Found, NoSceneEntry, NotAScene, Unreadable };
    Status status = NoSceneEntry;
    QString sceneEntry;       // the catalogue entry read (empty when none)
    QStringList references;   // what its part lines name
    QStringList models;       // matching entries of models(), in list order
};

struct TextureSearch
{
    QStringList textures;   // matching entries of textures(), in list order
    QStringList unreadable; // models whose textures could not be read, with the reason
};

// What the user chose; indexes are into ships(), dummies(), components() and
// cockpits().
struct ImportChoice
{
    int ship = -1;
    QList<int> dummies, components, cockpits;
    QStringList models, textures; // catalogue entries
    QList<PackageText> texts;
};

struct ImportFinish
{
    QStringList extracted; // Slipway-relative paths written
    QStringList skipped;   // entries left out, each with the reason
};

class ModImport
{
public:
    // language: the text-page language of the ship names ("44").
    ModImport(const QString& catalog, const QString& programDir, const QString& language,
              ImportLog log = {});
    ~ModImport(); // removes the tables and scratch files in temp
    ModImport(const ModImport&) = delete;
    ModImport& operator=(const ModImport&) = delete;

    // Lists the catalogue and extracts its four tables into temp. False (with
    // *error) when the catalogue cannot be read or holds no ship table; a missing
    // cockpit, dummy or component table leaves that list empty with a log line.
    bool open(QString* error = nullptr);
    void close(); // what the destructor does; safe to call twice

    const QString& catalog() const { return m_catalog; }
    const QList<PickerEntry>& ships() const { return m_ships; }
    // A ship the mod brings rather than one of the game's that its table repeats:
    // the mod names it in its texts or holds its scene.
    bool isOwnShip(int ship) const;
    const QList<ImportRow>& dummies() const { return m_dummies; }
    const QList<ImportRow>& components() const { return m_components; }
    const QStringList& cockpits() const { return m_cockpits; } // lines; position = index
    const QStringList& models() const { return m_models; }     // entries under objects
    const QStringList& textures() const { return m_textures; } // .dds and .tex under textures
    QStringList missingTables() const { return m_missing; }
    // Temporary table files present now (for the tests of clean-up).
    QStringList tableFiles() const;

    int findShip(const QString& identifier) const; // -1 when none
    // The scene of ships()[ship] read from a scratch copy.
    SceneModels sceneModels(int ship);
    QList<int> shipDummies(int ship) const;
    QList<int> shipComponents(int ship) const;
    // Cockpits the ship's turrets name by index (not the default 0), turret order.
    QList<int> turretCockpits(int ship) const;
    // Each model is extracted into temp, decompiled when binary, and read.
    TextureSearch texturesOf(const QStringList& models, const ModelConversion& compiler);
    // Texts N and N + 1 of page 17 (N: the record's field 6) of every language
    // page in the catalogue's folder "t".
    QList<PackageText> shipTexts(int ship);
    // Everything pre-selected, as the wizard proposes it.
    ImportChoice proposal(int ship, const ModelConversion& compiler);

    // Fills draft (normally a new-ship draft) with the choice: the record, the
    // scene and cockpit scene, the models and textures extracted into Slipway
    // under "<PACKAGE>/" paths with their plain names, the dummies, components,
    // cockpits and texts. Turrets that name a chosen cockpit by index name it by
    // its key, so the cockpit keeps its place wherever the package is installed.
    ImportFinish finish(const ImportChoice& choice, ShipDraft& draft);

private:
    void note(const QString& line) const;
    QString tempPath(const QString& name) const;
    bool extractScratch(const QString& entry, const QString& target, QString* error);
    QString findEntry(const QString& objectName, const QStringList& suffixes) const;
    QList<int> rowsOfShip(int ship, const QList<ImportRow>& rows, GroupedTable kind) const;
    bool extractToSlipway(const QString& entry, QList<DraftFolder>* tree, QString* sceneFile,
                          ImportFinish& result);

    QString m_catalog, m_programDir, m_language;
    ImportLog m_log;
    bool m_open = false;
    QStringList m_entries; // every catalogue entry
    QList<PickerEntry> m_ships;
    QList<ImportRow> m_dummies, m_components;
    QStringList m_cockpits, m_models, m_textures, m_missing;
};
