#include "samplegame.h"

#include "archivefile.h"

#include <QByteArrayList>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace SampleGame {

namespace {

const char kCatalog[] = "Shipwrights.cat";
const char kModCockpit[] = "1020;4;120;60;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;SS_COCKPIT_SW_DORSAL";
constexpr int kModCockpitIndex = CockpitCount; // appended to the game's cockpits
constexpr int kModText = 5000;

struct ModDef
{
    const char* name;
    const char* id;
    const char* base;        // the game ship whose record it starts from
    const char* description; // language 44
    const char* german;      // language 49 name; empty: no German page text
};
const ModDef kModShips[] = {
    {"Albatross", "SS_SH_SW_ALBATROSS", "SS_SH_BITTERN",
     "A long-range frigate from the Shipwrights yards, with a dorsal turret of its own design.",
     "Albatros"},
    {"Merlin", "SS_SH_SW_MERLIN", "SS_SH_KESTREL", "A nimble scout for the Shipwrights' patrols.", ""},
};

QByteArray lower(const char* text)
{
    return QByteArray(text).toLower();
}

QByteArray sceneName(const ModDef& d)
{
    return "ships\\shipwrights\\" + lower(d.name) + "_scene";
}

// The game's record of the base ship, turned into the mod's ship.
QByteArray modRecord(const ModDef& d, int k)
{
    QByteArray line;
    for (const QByteArray& l : ShipTable(true).split('\n'))
        if (l.endsWith(";" + QByteArray(d.base) + ";"))
            line = l;
    QByteArrayList f = line.split(';');
    f[0] = "ships\\shipwrights\\" + lower(d.name);
    f[6] = QByteArray::number(kModText + 2 * k);
    f[16] = sceneName(d);
    f[17] = "cockpits\\" + lower(d.name) + "_cockpit";
    if (k == 0)
        f[31] = QByteArray::number(kModCockpitIndex); // the first turret: the mod's own cockpit
    f[f.size() - 2] = d.id;
    return f.join(';');
}

// A text model with a material line per texture; binary ones behind a "BOB1" line.
QByteArray model(const char* title, const QByteArrayList& textures, bool binary)
{
    QByteArray t = binary ? QByteArray("BOB1\n") : QByteArray();
    t += QByteArray("// ") + title + "\r\n";
    for (qsizetype i = 0; i < textures.size(); ++i)
        t += "MATERIAL6: " + QByteArray::number(i) + "; 0x2000000; 1.0; " + textures[i] + "; 0.25;\r\n";
    t += "MATERIAL3: 1; 128; 128; 128;\r\n";
    for (int v = 0; v < 6; ++v)
        t += QByteArray::number(v * 7 % 5 - 2) + ";" + QByteArray::number(v % 3) + ";" +
             QByteArray::number(v * 3 % 4) + ";\r\n";
    t += "-1; // end of points\r\n";
    return t;
}

QByteArray texture(char shade)
{
    QByteArray t("DDS ");
    t += QByteArray(124, '\0');
    t += QByteArray(48, shade);
    return t;
}

QByteArray textLine(int id, const QByteArray& text)
{
    return " <t id=\"" + QByteArray::number(id) + "\">" + text + "</t>\r\n";
}

QByteArray textPage(int language)
{
    QByteArray t = "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<language id=\"" +
                   QByteArray::number(language) + "\">\r\n<page id=\"17\" title=\"Shipwrights\">\r\n";
    for (int k = 0; k < 2; ++k) {
        const ModDef& d = kModShips[k];
        const QByteArray name = language == Language ? d.name : d.german;
        if (name.isEmpty())
            continue;
        t += textLine(kModText + 2 * k, name);
        t += textLine(kModText + 2 * k + 1, language == Language ? d.description : "Eine Fregatte.");
    }
    return t + "</page>\r\n</language>\r\n";
}

// The mod's dummy lines by group; field 0 is the ship's scene.
QList<std::pair<QByteArray, QByteArray>> modDummies()
{
    const QByteArray a = sceneName(kModShips[0]);
    const QByteArray m = sceneName(kModShips[1]);
    return {{"SDTYPE_ANIMATED", a + ";3;11;12;13;"},
            {"SDTYPE_DOCK", a + ";2;0;-4;12;"},
            {"SDTYPE_GUN", a + ";4;-2;0;6;3;0;5;-4;1;4;5;1;3;"},
            {"SDTYPE_GUN", m + ";2;-2;0;6;3;0;5;"}};
}

// The game's dummy table with the mod's lines added to their groups.
QByteArray dummyTable()
{
    QByteArray out = "// Dummies.txt - Shipwrights\n";
    const QByteArrayList lines = DummyTable(true).split('\n');
    for (qsizetype i = 0; i < lines.size(); ++i) {
        const QByteArray& l = lines[i];
        const QByteArrayList f = l.split(';');
        if (!l.startsWith("SDTYPE_") || f.size() != 3) {
            if (!l.startsWith("//") && !(l.isEmpty() && i == lines.size() - 1))
                out += l + '\n';
            continue;
        }
        QByteArrayList added;
        for (const auto& [group, line] : modDummies())
            if (group == f[0])
                added << line;
        const int count = f[1].toInt();
        out += f[0] + ';' + QByteArray::number(count + added.size()) + ";\n";
        for (int k = 0; k < count; ++k)
            out += lines[++i] + '\n';
        for (const QByteArray& a : added)
            out += a + '\n';
    }
    return out;
}

QByteArray componentTable()
{
    QByteArray t = ComponentTable();
    t += sceneName(kModShips[0]) + ";2;\n";
    t += "SCTYPE_HARDPOINT;2;\n11;-3;1;6;\n12;3;2;4;\n";
    t += "SCTYPE_ENGINE;1;\n20;0;0;-16;\n\n";
    return t;
}

QByteArray shipTable()
{
    QByteArray t = "// TShips.txt - Shipwrights\n48;" + QByteArray::number(ShipCount + 2) + ";\n";
    for (const QByteArray& l : ShipTable(true).split('\n'))
        if (!l.isEmpty() && !l.startsWith("//") && !l.startsWith("48;"))
            t += l + '\n';
    for (int k = 0; k < 2; ++k)
        t += modRecord(kModShips[k], k) + '\n';
    return t;
}

QByteArray cockpitTable()
{
    QByteArray t = CockpitTable();
    t.replace("47;" + QByteArray::number(CockpitCount) + ";", "47;" + QByteArray::number(CockpitCount + 1) + ";");
    return t + kModCockpit + ";\n";
}

// Line ends of every kind and lines the reader must pass over: the scene as
// editors and converters leave them.
QByteArray albatrossScene()
{
    return "// albatross_scene - Shipwrights\r\n"
           "\r\n"
           "   \r\n"
           "VER: 3;\r\n"
           "// body parts\r"
           "P 0; B ships\\shipwrights\\albatross_hull; 0; 0; 0; 0;\r\n"
           "P 1; B ships\\shipwrights\\albatross_bridge; 0; -1; 0; 120;\n"
           "P 2; B 123; 0; 0; 0; 0;\r"
           "P 3; N light_red; 0; 0; 0; 0;\n"
           "P 4;B ships\\shipwrights\\albatross_old; 0; 0; 0; 0;\n"
           "P 5; B ships\\shipwrights\\albatross_missing; 0; 0; 0; 0;\r\n"
           "C 0; 1; 2;\r\n"
           "{ unknown block }\r\n";
}

QByteArray simpleScene(const char* title, const QByteArray& body)
{
    return QByteArray("// ") + title + "\r\nVER: 1;\r\nP 0; B " + body + "; 0; 0; 0; 0;\r\n";
}

} // namespace

QList<Entry> ModEntries()
{
    const QString c = QLatin1String(kCatalog);
    auto e = [&c](const char* name, const QByteArray& text) { return Entry{c, QLatin1String(name), text}; };
    return {
        e("types\\TShips.pck", shipTable()),
        e("types\\TCockpits.pck", cockpitTable()),
        e("types\\Dummies.pck", dummyTable()),
        e("types\\Components.pck", componentTable()),
        e("t\\440050.pck", textPage(Language)),
        e("t\\490050.pck", textPage(49)),
        e("objects\\ships\\shipwrights\\albatross_scene.pbd", albatrossScene()),
        e("objects\\ships\\shipwrights\\albatross_hull.pbb",
          model("albatross_hull", {"albatross_hull.dds", "textures\\SW_Panels.tex"}, true)),
        e("objects\\ships\\shipwrights\\albatross_bridge.pbd",
          model("albatross_bridge", {"albatross_glass.dds"}, false)),
        e("objects\\ships\\shipwrights\\albatross_old.pbb", model("albatross_old", {"unused.dds"}, true)),
        e("objects\\v\\00123.pbb", model("00123", {"sw_panels.tex", "sw_lights.dds"}, true)),
        e("objects\\cockpits\\albatross_cockpit.pbd", simpleScene("albatross_cockpit", "cockpits\\frame_light")),
        e("objects\\ships\\shipwrights\\merlin_scene.pbd",
          simpleScene("merlin_scene", "ships\\shipwrights\\merlin_body")),
        e("objects\\ships\\shipwrights\\merlin_body.pbd", model("merlin_body", {"merlin_skin.dds"}, false)),
        e("textures\\albatross_hull.dds", texture('\x30')),
        e("textures\\albatross_glass.dds", texture('\x50')),
        e("textures\\sw_panels.tex", texture('\x70')),
        e("textures\\sw_lights.dds", texture('\x18')),
        e("textures\\merlin_skin.dds", texture('\x60')),
        e("textures\\unused.dds", texture('\x10')),
        e("textures\\readme.txt", "Textures of the Shipwrights mod.\r\n"),
    };
}

QList<ModShip> ModShips()
{
    QList<ModShip> ships;
    for (int k = 0; k < 2; ++k) {
        const ModDef& d = kModShips[k];
        ModShip s;
        s.id = QLatin1String(d.id);
        s.name = QLatin1String(d.name);
        s.description = QLatin1String(d.description);
        s.line = QString::fromLatin1(modRecord(d, k));
        s.scene = QString::fromLatin1(sceneName(d));
        for (const auto& [group, line] : modDummies())
            if (line.startsWith(sceneName(d) + ';'))
                s.dummies << QString::fromLatin1(group + '\t' + line);
        s.languages = QByteArray(d.german).isEmpty() ? 1 : 2;
        if (k == 0) {
            s.models = {QStringLiteral("objects\\ships\\shipwrights\\albatross_hull.pbb"),
                        QStringLiteral("objects\\ships\\shipwrights\\albatross_bridge.pbd"),
                        QStringLiteral("objects\\v\\00123.pbb")};
            s.textures = {QStringLiteral("textures\\albatross_hull.dds"),
                          QStringLiteral("textures\\albatross_glass.dds"),
                          QStringLiteral("textures\\sw_panels.tex"), QStringLiteral("textures\\sw_lights.dds")};
            // The first turret names the mod's cockpit; the others the game's.
            const QByteArrayList cockpits = CockpitTable().split('\n');
            s.cockpits = {QLatin1String(kModCockpit) + QLatin1Char(';')};
            for (int index : {7, 8})
                s.cockpits << QString::fromLatin1(cockpits.at(index + 2));
            const QString scene = s.scene;
            s.components = {scene + "\tSCTYPE_HARDPOINT\t11;-3;1;6;", scene + "\tSCTYPE_HARDPOINT\t12;3;2;4;",
                            scene + "\tSCTYPE_ENGINE\t20;0;0;-16;"};
        } else {
            s.models = {QStringLiteral("objects\\ships\\shipwrights\\merlin_body.pbd")};
            s.textures = {QStringLiteral("textures\\merlin_skin.dds")};
        }
        ships << s;
    }
    return ships;
}

bool MakeSampleMod(const QString& folder, QString* error)
{
    QString ignored;
    QString& why = error ? *error : ignored;
    const QString catalog = QDir(folder).filePath(QLatin1String(kCatalog));
    QString data = catalog;
    data.replace(data.size() - 3, 3, QStringLiteral("dat"));
    if (!QDir().mkpath(folder) || (QFileInfo::exists(catalog) && !QFile::remove(catalog)) ||
        (QFileInfo::exists(data) && !QFile::remove(data)) || !EnsureCatalog(catalog)) {
        why = QStringLiteral("cannot create %1").arg(QDir::toNativeSeparators(catalog));
        return false;
    }
    for (const Entry& e : ModEntries()) {
        // Tables, pages and models are written under their plain names and packed.
        QString name = e.name;
        const bool packed = name.endsWith(QLatin1String(".pck")) || name.endsWith(QLatin1String(".pbd")) ||
                            name.endsWith(QLatin1String(".pbb"));
        if (name.endsWith(QLatin1String(".pck")))
            name.replace(name.size() - 3, 3, name.startsWith(QLatin1String("t\\")) ? "xml" : "txt");
        else if (name.endsWith(QLatin1String(".pbd")))
            name.replace(name.size() - 3, 3, QStringLiteral("bod"));
        else if (name.endsWith(QLatin1String(".pbb")))
            name.replace(name.size() - 3, 3, QStringLiteral("bob"));
        if (!WriteArchiveFile(e.text.constData(), e.text.size(), catalog + "::" + name, packed, false)) {
            why = QStringLiteral("cannot write %1 into %2: %3")
                      .arg(e.name, QDir::toNativeSeparators(catalog), ArchiveErrorMessage(LastArchiveError()));
            return false;
        }
    }
    return true;
}

} // namespace SampleGame
