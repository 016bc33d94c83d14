#include "shipdraft.h"

#include "creatorsettings.h"
#include "editorrules.h"
#include "shiprecord.h"

namespace {

QString packaged(const QString& name)
{
    return QLatin1String(kPackagePrefix) + name;
}

QString folderOf(const QString& name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : name.left(slash);
}

QList<DraftFolder> treeFromFiles(const QList<PackageFile>& files)
{
    QList<DraftFolder> tree;
    for (const PackageFile& f : files)
        AddDraftFiles(tree, folderOf(f.Name), {packaged(f.Name)});
    return tree;
}

bool sameFiles(const QStringList& rows, const QList<PackageFile>& entries, const QString& prefix)
{
    if (rows.size() != entries.size())
        return false;
    for (qsizetype i = 0; i < rows.size(); ++i)
        if (rows.at(i) != prefix + entries.at(i).Name)
            return false;
    return true;
}

QString scenePath(const std::optional<PackageFile>& file)
{
    return file ? packaged(file->Name) : QString();
}

} // namespace

ShipDraft NewShipDraft(const CreatorSettings& settings, const QList<NumberedName>& classes)
{
    ShipDraft draft;
    ShipRecord record = ShipRecord::newShip();
    const int classIndex = record.intField(kClassField, -1);
    if (classIndex >= 0 && classIndex < classes.size())
        record.setField(kClassNumberField, QString::number(classes.at(classIndex).number));
    draft.record = record.line();
    draft.author = settings.defaultAuthor;
    draft.web = settings.defaultWeb;
    draft.mirror1 = settings.defaultMirror1;
    draft.mirror2 = settings.defaultMirror2;
    return draft;
}

bool ApplySaveWebDefaults(ShipDraft& draft, const CreatorSettings& settings)
{
    if (!settings.saveWeb)
        return false;
    bool changed = false;
    for (auto [field, fallback] : {std::pair{&draft.web, &settings.defaultWeb},
                                   std::pair{&draft.mirror1, &settings.defaultMirror1},
                                   std::pair{&draft.mirror2, &settings.defaultMirror2}})
        if (field->trimmed().isEmpty() && !fallback->isEmpty()) {
            *field = *fallback;
            changed = true;
        }
    return changed;
}

void ApplyTableShip(ShipDraft& draft, const QString& line)
{
    const ShipRecord record(line);
    draft.record = record.line();
    // "0" is the table's "no scene", not a scene of that name.
    const auto scene = [&record](int field) {
        return IsNoScene(record.field(field)) ? QString() : record.field(field).trimmed();
    };
    draft.sceneName = scene(kSceneField);
    draft.cockpitName = scene(kCockpitSceneField);
    draft.existingTextId = record.intField(kDescriptionField);
    draft.id = record.identifier();
}

QString SceneGameNameOf(const QString& entryName)
{
    QString n = entryName;
    if (n.startsWith(QLatin1String("objects/cut/"), Qt::CaseInsensitive))
        n = n.mid(12);
    else if (n.startsWith(QLatin1String("objects/"), Qt::CaseInsensitive))
        n = n.mid(8);
    const qsizetype dot = n.lastIndexOf(QLatin1Char('.'));
    return dot > n.lastIndexOf(QLatin1Char('/')) ? n.left(dot) : n;
}

ShipDraft DraftFromPackage(const ShipPackage& p)
{
    ShipDraft d;
    d.id = p.ID;
    d.name = p.Name;
    d.author = p.Author;
    d.version = p.Version;
    d.shipyards = p.Shipyards;
    d.web = p.Web;
    d.mirror1 = p.Mirror1;
    d.mirror2 = p.Mirror2;
    d.writeUpdateInfo = p.WriteUpdateInfo;
    d.useExistingText = p.OriginalDesc != 0;
    d.existingTextId = p.OriginalDesc;
    d.texts = p.Texts;
    d.sceneFile = scenePath(p.SceneFile);
    d.cockpitFile = scenePath(p.CockpitFile);
    auto sceneName = [](const std::optional<PackageFile>& f) {
        return f ? SceneGameNameOf(f->Name) : QString();
    };
    // A scene the package does not carry is one the game has: its name is the
    // record's field.
    const ShipRecord record(p.Data);
    const auto named = [&record](int field) {
        return IsNoScene(record.field(field)) ? QString() : record.field(field).trimmed();
    };
    // The record's own spelling wins when it names the carried file anyway.
    const auto pick = [&](const std::optional<PackageFile>& f, int field) {
        const QString fromRecord = named(field);
        if (!f)
            return fromRecord;
        const QString fromFile = sceneName(f);
        return GameSceneName(fromRecord).compare(GameSceneName(fromFile), Qt::CaseInsensitive) == 0
                   ? fromRecord
                   : fromFile;
    };
    d.sceneName = pick(p.SceneFile, kSceneField);
    d.cockpitName = pick(p.CockpitFile, kCockpitSceneField);
    d.models = treeFromFiles(p.Models);
    d.others = treeFromFiles(p.Files);
    for (const PackageFile& s : p.Scripts)
        d.scripts << QLatin1String(kPackagePrefix) + QStringLiteral("Scripts/") + s.Name;
    d.dummies = p.Dummies;
    d.components = p.Components;
    d.cockpits = p.Cockpits;
    if (!p.ScreenShot.isEmpty())
        d.picture = packaged(QStringLiteral("ShipPics/") + p.ScreenShot);
    d.comment = decodeNewlines(p.Comment);
    d.record = p.Data;
    return d;
}

QString DraftRecord(const ShipDraft& d)
{
    // A record whose counts cannot be followed is written whole, as it is.
    ShipRecord record(d.record);
    if (!record.layout().complete)
        return d.record;
    bool changed = false;
    const auto set = [&](int field, const QString& name) {
        const QString want = GameSceneName(name);
        if (record.field(field).trimmed() != want) {
            record.setField(field, want);
            changed = true;
        }
    };
    set(kSceneField, d.sceneName);
    set(kCockpitSceneField, d.cockpitName);
    const QString id = d.id.trimmed();
    if (!id.isEmpty() && record.identifier() != id) {
        record.setIdentifier(id);
        changed = true;
    }
    return changed ? record.line() : d.record;
}

int AddDraftFiles(QList<DraftFolder>& tree, const QString& dir, const QStringList& files)
{
    if (files.isEmpty())
        return 0;
    QString target = dir;
    target.replace(QLatin1Char('\\'), QLatin1Char('/'));
    qsizetype at = -1;
    for (qsizetype i = 0; i < tree.size() && at < 0; ++i)
        if (tree.at(i).dir == target)
            at = i;
    if (at < 0) {
        tree.append({target, {}});
        at = tree.size() - 1;
    }
    tree[at].files << files;
    return int(files.size());
}

QStringList DraftTreeFiles(const QList<DraftFolder>& tree)
{
    QStringList files;
    for (const DraftFolder& f : tree)
        files << f.files;
    return files;
}

DraftChange FirstUnsavedChange(const ShipDraft& d, const ShipPackage* p)
{
    if (!p)
        return DraftChange::NoPackage;
    if (d.record != p->Data)
        return DraftChange::Record;
    // QString compares an empty field and a null member as equal, which is the
    // rule for the optional fields; the others must match exactly anyway.
    if (d.name != p->Name || d.author != p->Author || d.version != p->Version || d.id != p->ID ||
        d.web != p->Web || d.mirror1 != p->Mirror1 || d.mirror2 != p->Mirror2)
        return DraftChange::Header;
    if (d.shipyards != p->Shipyards)
        return DraftChange::Shipyards;
    // The package keeps the comment with "<newline>" markers; compared raw, any
    // comment of more than one line would count as changed for ever.
    QString comment = d.comment;
    comment.remove(QLatin1Char('\r'));
    const QString picture =
        p->ScreenShot.isEmpty() ? QString() : packaged(QStringLiteral("ShipPics/") + p->ScreenShot);
    if (encodeNewlines(comment) != p->Comment || d.picture != picture)
        return DraftChange::CommentOrPicture;
    if (d.sceneFile != scenePath(p->SceneFile) || d.cockpitFile != scenePath(p->CockpitFile))
        return DraftChange::Scenes;
    if (!sameFiles(DraftTreeFiles(d.models), p->Models, QLatin1String(kPackagePrefix)) ||
        !sameFiles(DraftTreeFiles(d.others), p->Files, QLatin1String(kPackagePrefix)) ||
        !sameFiles(d.scripts, p->Scripts, QLatin1String(kPackagePrefix) + QStringLiteral("Scripts/")))
        return DraftChange::FileLists;
    if (d.cockpits.size() != p->Cockpits.size())
        return DraftChange::Cockpits;
    if (d.dummies.size() != p->Dummies.size() || d.texts.size() != p->Texts.size())
        return DraftChange::DummiesOrTexts;
    for (qsizetype i = 0; i < d.dummies.size(); ++i)
        if (d.dummies.at(i).Section != p->Dummies.at(i).Section ||
            d.dummies.at(i).Data != p->Dummies.at(i).Data)
            return DraftChange::DummiesOrTexts;
    for (qsizetype i = 0; i < d.texts.size(); ++i)
        if (d.texts.at(i).Language != p->Texts.at(i).Language ||
            d.texts.at(i).Name != p->Texts.at(i).Name ||
            d.texts.at(i).Description != p->Texts.at(i).Description)
            return DraftChange::DummiesOrTexts;
    return DraftChange::NoChanges;
}

bool SameDraft(const ShipDraft& a, const ShipDraft& b)
{
    auto folders = [](const QList<DraftFolder>& x, const QList<DraftFolder>& y) {
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i)
            if (x.at(i).dir != y.at(i).dir || x.at(i).files != y.at(i).files)
                return false;
        return true;
    };
    auto texts = [](const QList<PackageText>& x, const QList<PackageText>& y) {
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i)
            if (x.at(i).Language != y.at(i).Language || x.at(i).Name != y.at(i).Name ||
                x.at(i).Description != y.at(i).Description)
                return false;
        return true;
    };
    auto dummies = [](const QList<PackageDummy>& x, const QList<PackageDummy>& y) {
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i)
            if (x.at(i).Section != y.at(i).Section || x.at(i).Data != y.at(i).Data)
                return false;
        return true;
    };
    auto components = [](const QList<PackageComponent>& x, const QList<PackageComponent>& y) {
        if (x.size() != y.size())
            return false;
        for (qsizetype i = 0; i < x.size(); ++i)
            if (x.at(i).Part1 != y.at(i).Part1 || x.at(i).Part2 != y.at(i).Part2 ||
                x.at(i).Part3 != y.at(i).Part3)
                return false;
        return true;
    };
    QString ca = a.comment, cb = b.comment;
    ca.remove(QLatin1Char('\r'));
    cb.remove(QLatin1Char('\r'));
    return a.id == b.id && a.name == b.name && a.author == b.author && a.version == b.version &&
           a.shipyards == b.shipyards && a.web == b.web && a.mirror1 == b.mirror1 &&
           a.mirror2 == b.mirror2 && a.writeUpdateInfo == b.writeUpdateInfo &&
           a.useExistingText == b.useExistingText &&
           (!a.useExistingText || a.existingTextId == b.existingTextId) && texts(a.texts, b.texts) &&
           a.sceneName == b.sceneName && a.sceneFile == b.sceneFile && a.cockpitName == b.cockpitName &&
           a.cockpitFile == b.cockpitFile && folders(a.models, b.models) && folders(a.others, b.others) &&
           a.scripts == b.scripts && dummies(a.dummies, b.dummies) &&
           components(a.components, b.components) && a.cockpits == b.cockpits && a.picture == b.picture &&
           ca == cb && a.record == b.record;
}
