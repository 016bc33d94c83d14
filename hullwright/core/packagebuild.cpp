#include "packagebuild.h"

#include "fileutils.h"
#include "lzmafile.h"
#include "safefile.h"
#include "uiseams.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <condition_variable>
#include <mutex>
#include <thread>

namespace {

QString fileNameOf(const QString& path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// Folder + "/" + base name: the key under which a text model and its binary
// twin count as one file.
QString modelKey(const QString& name)
{
    const qsizetype slash = name.lastIndexOf(QLatin1Char('/'));
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return (dot > slash ? name.left(dot) : name).toLower();
}

QString extensionOf(const QString& name)
{
    const QString file = fileNameOf(name);
    const qsizetype dot = file.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : file.mid(dot + 1);
}

// A source taken into the package: it must exist and open for reading.
std::optional<PackageFile> sourceEntry(const QString& source, const QString& name)
{
    QFile f(source);
    if (source.isEmpty() || !QFileInfo(source).isFile() || !f.open(QIODevice::ReadOnly))
        return std::nullopt;
    PackageFile e;
    e.Name = name;
    e.SourcePath = source;
    e.Size = qint32(qMin<qint64>(f.size(), std::numeric_limits<qint32>::max()));
    e.Time = quint32(qMax<qint64>(0, QFileInfo(source).lastModified().toSecsSinceEpoch()));
    return e;
}

QString targetName(const QString& dir, const QString& source)
{
    QString name = dir + QLatin1Char('/') + fileNameOf(source);
    while (name.contains(QLatin1String("//")))
        name.replace(QLatin1String("//"), QLatin1String("/"));
    return name;
}

std::optional<PackageFile> sceneEntry(const QString& gameName, const QString& file,
                                      const QString& programDir)
{
    if (gameName.trimmed().isEmpty())
        return std::nullopt;
    QString source = ExpandPackagePath(file, programDir);
    source.replace(QLatin1String("%5c"), QLatin1String("/"), Qt::CaseInsensitive);
    return sourceEntry(source, SceneEntryName(gameName.trimmed(), source));
}

} // namespace

QString ExpandPackagePath(const QString& path, const QString& programDir)
{
    if (path.startsWith(QLatin1String(kPackagePrefix)))
        return programDir + QStringLiteral("/Slipway/") + path.mid(int(sizeof kPackagePrefix) - 1);
    return path;
}

MissingField FirstMissingField(const ShipDraft& d)
{
    if (d.name.trimmed().isEmpty())
        return MissingField::Name;
    if (d.author.trimmed().isEmpty())
        return MissingField::Author;
    if (d.id.trimmed().isEmpty())
        return MissingField::Id;
    if (d.record.trimmed().isEmpty())
        return MissingField::Record;
    if (d.sceneName.trimmed().isEmpty() || d.sceneFile.trimmed().isEmpty())
        return MissingField::Scene;
    return MissingField::None;
}

QString PackageSaveName(const QString& name)
{
    return name.right(4).toLower() == QLatin1String(".xsp") ? name : name + QStringLiteral(".xsp");
}

QString SceneEntryName(const QString& gameName, const QString& sourcePath)
{
    QString n = gameName;
    n.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const qsizetype slash = n.lastIndexOf(QLatin1Char('/'));
    const QString folder = slash < 0 ? QString() : n.left(slash);
    QString name = (folder.isEmpty() || folder == QLatin1String(".") ? QStringLiteral("objects/cut/")
                                                                      : QStringLiteral("objects/")) +
                   n;
    const QString lower = name.toLower();
    if (!lower.endsWith(QLatin1String(".pbd")) && !lower.endsWith(QLatin1String(".bod")) &&
        !lower.endsWith(QLatin1String(".bob")))
        name += QLatin1Char('.') + extensionOf(sourcePath);
    return name;
}

ShipPackage BuildPackage(const ShipDraft& d, const QString& programDir)
{
    ShipPackage p;
    p.Name = d.name;
    p.Author = d.author;
    p.Version = d.version;
    p.ID = d.id;
    p.Web = d.web;
    p.Mirror1 = d.mirror1;
    p.Mirror2 = d.mirror2;
    p.Shipyards = d.shipyards;
    p.ScreenShot = d.picture;
    p.WriteUpdateInfo = d.writeUpdateInfo;
    // Turret cockpits of the package's own cockpits are already keys in the
    // editor's record; the scene names and the ID are what the editor shows.
    p.Data = DraftRecord(d);
    QString comment = d.comment;
    comment.remove(QLatin1Char('\r'));
    p.Comment = comment.replace(QLatin1Char('\n'), QLatin1String("<newline>"));
    p.OriginalDesc = d.useExistingText ? d.existingTextId : 0;
    p.Texts = d.texts;
    p.SceneFile = sceneEntry(d.sceneName, d.sceneFile, programDir);
    p.CockpitFile = sceneEntry(d.cockpitName, d.cockpitFile, programDir);

    QStringList sceneKeys;
    for (const auto& scene : {p.SceneFile, p.CockpitFile})
        if (scene)
            sceneKeys << modelKey(scene->Name);
    for (const DraftFolder& folder : d.models) {
        for (const QString& row : folder.files) {
            const QString source = ExpandPackagePath(row, programDir);
            auto entry = sourceEntry(source, targetName(folder.dir, source));
            if (!entry)
                continue;
            const QString key = modelKey(entry->Name);
            if (sceneKeys.contains(key))
                continue;
            qsizetype earlier = -1;
            for (qsizetype i = 0; i < p.Models.size() && earlier < 0; ++i)
                if (modelKey(p.Models.at(i).Name) == key)
                    earlier = i;
            if (earlier < 0) {
                p.Models << *entry;
                continue;
            }
            // The binary form wins over the text form of the same model.
            PackageFile& e = p.Models[earlier];
            if (extensionOf(e.Name).toLower() == QLatin1String("bod") &&
                extensionOf(entry->Name).toLower() == QLatin1String("bob"))
                e = *entry;
        }
    }
    for (const DraftFolder& folder : d.others)
        for (const QString& row : folder.files) {
            const QString source = ExpandPackagePath(row, programDir);
            if (auto entry = sourceEntry(source, targetName(folder.dir, source)))
                p.Files << *entry;
        }
    for (const QString& row : d.scripts) {
        const QString source = ExpandPackagePath(row, programDir);
        if (auto entry = sourceEntry(source, fileNameOf(source)))
            p.Scripts << *entry;
    }
    p.Dummies = d.dummies;
    p.Components = d.components;
    p.Cockpits = d.cockpits;
    return p;
}

QString UpdateInfoPath(const ShipPackage& package, const QString& target)
{
    QString name = package.Name;
    name.remove(QLatin1Char(' '));
    return QFileInfo(target).absolutePath() + QLatin1Char('/') + name + QStringLiteral(".dat");
}

QByteArray UpdateInfoText(const ShipPackage& package, const QString& target)
{
    return ("Script: " + package.Name + "\nVersion: " + package.Version +
            "\nFile: " + QFileInfo(target).fileName() + "\n")
        .toLocal8Bit();
}

namespace {

// Prepares (compiles when asked, packs) the models, then the files, one after
// the other on a thread of its own; the document writer takes each when it
// reaches it. The sinks are never called from this thread.
class Preparer
{
public:
    Preparer(const ShipPackage& package, const QString& work, const ModelConversion& conversion)
        : m_entries(package.Models + package.Files), m_work(work), m_conversion(conversion)
    {
    }
    ~Preparer() { finish(false); }

    void start()
    {
        m_thread = std::thread([this] { run(); });
    }

    // Waits until entry `flat` (models first, then files) is ready. False with
    // the reason when its preparation failed.
    bool take(qsizetype flat, PackageFile& entry, QString* why)
    {
        std::unique_lock lock(m_mutex);
        m_changed.wait(lock, [&] { return m_done > flat || m_failedAt >= 0; });
        if (m_failedAt >= 0 && m_failedAt <= flat) {
            if (why)
                *why = m_error;
            return false;
        }
        entry = m_entries.at(flat);
        return true;
    }

    // Stops the thread after the entry in hand. Without success the files a
    // save removes afterwards go now: packed forms made and entries never taken.
    void finish(bool succeeded)
    {
        if (m_finished)
            return;
        m_finished = true;
        {
            std::lock_guard lock(m_mutex);
            m_stop = true;
        }
        if (m_thread.joinable())
            m_thread.join();
        if (succeeded)
            return;
        for (const PackageFile& f : m_entries)
            if (f.RemoveAfterSave)
                QFile::remove(f.SourcePath);
    }

private:
    void run()
    {
        for (qsizetype i = 0; i < m_entries.size(); ++i) {
            PackageFile entry;
            {
                std::lock_guard lock(m_mutex);
                if (m_stop)
                    return;
                entry = m_entries.at(i);
            }
            QString why;
            bool ok = PrepareModelFile(entry, m_work, true, m_conversion, &why);
            // A compiled model may have grown past what a package holds.
            if (ok) {
                ShipPackage alone;
                alone.Files = {entry};
                why = OversizedPackageFile(alone, QString());
                ok = why.isEmpty();
                if (!ok && entry.RemoveAfterSave)
                    QFile::remove(entry.SourcePath);
            }
            {
                std::lock_guard lock(m_mutex);
                if (ok) {
                    m_entries[i] = entry;
                    m_done = i + 1;
                } else {
                    m_failedAt = i;
                    m_error = why;
                }
            }
            m_changed.notify_all();
            if (!ok)
                return;
        }
    }

    QList<PackageFile> m_entries;
    const QString m_work;
    const ModelConversion m_conversion;
    std::thread m_thread;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    qsizetype m_done = 0;
    qsizetype m_failedAt = -1;
    QString m_error;
    bool m_stop = false;
    bool m_finished = false;
};

} // namespace

bool SaveShipPackage(const ShipPackage& original, const QString& target,
                     const PackageContext& context, QString* error,
                     const ModelConversion& sharedConversion, QString* updateInfoError,
                     LzmaMode mode)
{
    auto failed = [&](const QString& why) {
        if (error)
            *error = why;
        return false;
    };
    if (!QDir(context.programDir).mkpath(QStringLiteral("temp")))
        return failed(QStringLiteral("cannot create the folder ") + context.programDir +
                      QStringLiteral("/temp"));
    // Refused before any model is compiled or byte written.
    if (const QString oversized = OversizedPackageFile(original, context.programDir);
        !oversized.isEmpty())
        return failed(oversized);
    ShipPackage package = original;
    // The save's own work folder; a killed save's folder goes at the next save.
    const QString temp = context.programDir + QStringLiteral("/temp");
    RemoveStaleWorkFolders(temp, QStringLiteral("save"));
    const QString work = MakeWorkFolder(temp, QStringLiteral("save"));
    if (work.isEmpty())
        return failed(QStringLiteral("cannot create a work folder in ") + temp);
    const struct WorkGone {
        QString dir;
        ~WorkGone() { RemoveTree(dir, true); }
    } workGone{work};
    // One time-out per save, whatever the number of models.
    ModelConversion conversion = sharedConversion;
    conversion.hung = std::make_shared<bool>(false);
    if (mode == LzmaMode::Fast)
        conversion.packLevel = kFastPackLevel;
    QString why;
    // The models and files are packed in document order on a thread of their own
    // while this one writes the document straight into the LZMA encoder: packing
    // the next model overlaps encoding the ones before it, and the document is
    // never stored whole.
    Preparer preparer(package, work, conversion);
    const QString part = target + QStringLiteral(".part");
    bool written = false;
    {
        LzmaFileWriter out(part, mode);
        if (out.open()) {
            preparer.start();
            const EntryReady ready = [&](int kind, qsizetype index, PackageFile& entry) {
                return preparer.take(kind == KindModel ? index : package.Models.size() + index,
                                     entry, &why);
            };
            written = WritePackageDocument(package, out, context, ready) && out.finish();
        }
    }
    preparer.finish(written);
    if (!written) {
        QFile::remove(part);
        return failed(why.isEmpty() ? QStringLiteral("cannot write ") + part : why);
    }
    if (!RenameFileChecked(part, target, &why)) {
        QFile::remove(part);
        return failed(why);
    }
    if (package.WriteUpdateInfo && !package.Web.isEmpty() &&
        !WriteFileAtomic(UpdateInfoPath(package, target), UpdateInfoText(package, target), &why)) {
        // The package is in place by now; only the caller that can say so gets true.
        if (updateInfoError) {
            *updateInfoError = why;
            return true;
        }
        return failed(target + QStringLiteral(" was saved, but its update-info file was not: ") +
                      why);
    }
    return true;
}

OpenForEditResult OpenPackageForEditing(const QString& path, const QString& programDir,
                                        ShipPackage& package, const PackageContext& context)
{
    OpenForEditResult r;
    r.read.status = PackageFailed;
    QFile file(path);
    if (!QFileInfo(path).isFile() || !file.open(QIODevice::ReadOnly)) {
        r.error = QStringLiteral("cannot open ") + path;
        return r;
    }
    QDir(programDir).mkpath(QStringLiteral("temp"));
    QTemporaryDir staging(programDir + QStringLiteral("/temp/open-XXXXXX"));
    if (!staging.isValid()) {
        r.error = QStringLiteral("cannot create a folder in ") + programDir + QStringLiteral("/temp");
        return r;
    }
    OpenPackageOptions options;
    options.baseDir = staging.path();
    options.scriptDir = QStringLiteral("Slipway/Scripts");
    options.inSlipway = true;
    ShipPackage read;
    r.read = OpenPackage(file, read, options, context);
    if (r.read.status != PackageOk || !r.read.complete || !r.read.problems.isEmpty()) {
        if (r.read.status == PackageOk)
            r.read.status = PackageFailed;
        r.error = r.read.error.isEmpty() ? QStringLiteral("the package does not read whole")
                                         : r.read.error;
        return r;
    }
    const QString unpacked = staging.path() + QStringLiteral("/Slipway");
    auto keepTime = [&](const QString& name, quint32 time) {
        QFile f(unpacked + QLatin1Char('/') + name);
        if (f.open(QIODevice::ReadWrite))
            f.setFileTime(QDateTime::fromSecsSinceEpoch(time), QFileDevice::FileModificationTime);
    };
    for (const auto& scene : {read.SceneFile, read.CockpitFile})
        if (scene)
            keepTime(scene->Name, scene->Time);
    for (const QList<PackageFile>* list : {&read.Models, &read.Files})
        for (const PackageFile& f : *list)
            keepTime(f.Name, f.Time);
    for (const PackageFile& f : read.Scripts)
        keepTime(QStringLiteral("Scripts/") + f.Name, f.Time);

    // Swap by renames: the old files move aside whole and come back whole when
    // the new ones cannot take their place, so the editor's paths stay true.
    const QString slipway = programDir + QStringLiteral("/Slipway");
    const QString aside = staging.path() + QStringLiteral("/previous");
    const bool hadOld = QFileInfo::exists(slipway);
    if (hadOld && !QDir().rename(slipway, aside)) {
        r.error = QStringLiteral("cannot move the files of the open package out of ") + slipway;
        r.read.status = PackageFailed;
        return r;
    }
    if (!QDir().rename(unpacked, slipway)) {
        if (hadOld)
            QDir().rename(aside, slipway);
        r.error = QStringLiteral("cannot move the unpacked files to ") + slipway;
        r.read.status = PackageFailed;
        return r;
    }
    // The editor keeps the comment as the package file holds it, "<newline>"
    // markers and all, as BuildPackage makes it.
    read.Comment = encodeNewlines(read.Comment);
    package = read;
    return r;
}
