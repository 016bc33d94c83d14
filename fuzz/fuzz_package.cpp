// Package document reader (the uncompressed path). The input follows a
// "Packager: 1" line and is read twice from memory: into a folder without an
// installed list, and into a mod catalogue against an installed list that holds a
// twin, an ID match and shared file names. Every read must end with a consistent
// status and must not write beside its target folders. The folders live in shared
// memory where there is some: placed files are synced, and a disk makes that slow.
#include "archivefile.h"
#include "uiseams.h"
#include "xspfile.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <dirent.h>
#include <ftw.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_package: %s\n", what);
        std::abort();
    }
}

int removeOne(const char* path, const struct stat*, int, struct FTW*)
{
    return ::remove(path);
}

// Work folder layout: <root>/box/{prog,base,game}. Names placed one to three levels
// above a target would show up in box or root. Every run starts from the same
// empty folders and catalogue: state left by earlier runs would make the coverage of
// a run depend on them.
struct Work
{
    Work()
    {
        std::atexit([] { QDir(rootOf(getpid())).removeRecursively(); });
        reset();
        require(EnsureCatalog(catalog), "cannot create the mod catalogue");
        QFile cat(catalog);
        require(cat.open(QIODevice::ReadOnly), "cannot read the mod catalogue");
        emptyCatalog = cat.readAll();
    }
    static QString rootOf(pid_t pid)
    {
        static const QString shm = QStringLiteral("/dev/shm");
        const QString parent = QFileInfo(shm).isWritable() ? shm : QDir::tempPath();
        return parent + QStringLiteral("/fuzz_package-") +
               QString::number(static_cast<qint64>(pid));
    }

    QString root = rootOf(getpid());
    QString box = root + QStringLiteral("/box");
    QString prog = box + QStringLiteral("/prog");
    QString base = box + QStringLiteral("/base");
    QString game = box + QStringLiteral("/game");
    QString catalog = game + QStringLiteral("/mods/Hullwright.cat");
    QString dataFile = game + QStringLiteral("/mods/Hullwright.dat");
    QByteArray emptyCatalog;

    // Plain calls: the toolkit's recursive removal costs more than a whole run.
    void reset() const
    {
        const QByteArray boxPath = QFile::encodeName(box);
        require(nftw(boxPath.constData(), removeOne, 16, FTW_DEPTH | FTW_PHYS) == 0 ||
                    errno == ENOENT,
                "cannot clear the work folder");
        for (const QString& dir : {prog, base, game + QStringLiteral("/mods")})
            require(QDir().mkpath(dir), "cannot create the work folders");
        if (emptyCatalog.isEmpty())
            return;
        QFile cat(catalog);
        require(cat.open(QIODevice::WriteOnly) && cat.write(emptyCatalog) == emptyCatalog.size(),
                "cannot write the mod catalogue");
        QFile dat(dataFile);
        require(dat.open(QIODevice::WriteOnly), "cannot write the mod data file");
    }
};

PackageFile file(const char* name, quint32 time)
{
    PackageFile f;
    f.Name = QLatin1String(name);
    f.Time = time;
    return f;
}

QList<ShipPackage> installedShips()
{
    ShipPackage twin;
    twin.Name = QStringLiteral("Tern");
    twin.Author = QStringLiteral("Fuzz");
    twin.Version = QStringLiteral("1.2b");
    twin.ID = QStringLiteral("FUZZ-TERN");
    twin.Enabled = true;
    twin.SceneFile = file("objects/ships/tern_scene.bod", 500);
    twin.Models = {file("objects/ships/shared.bob", 500)};
    twin.Files = {file("textures/shared.tga", 500)};
    twin.Scripts = {file("setup.shared.xml", 500)};

    ShipPackage other = twin;
    other.Name = QStringLiteral("Skua");
    other.ID = QStringLiteral("fuzz-skua");
    other.Version = QStringLiteral("2");

    ShipPackage placeholder;
    placeholder.Deleted = 1;
    placeholder.ID = QStringLiteral("FUZZ-GONE");
    return {twin, other, placeholder};
}

QStringList numbered(const char* prefix, int count)
{
    QStringList texts;
    for (int i = 0; i < count; ++i)
        texts << QLatin1String(prefix) + QString::number(i);
    return texts;
}

struct CyclingPrompter : Prompter
{
    int next = 0;
    int ask(Icon, const QString&, const QString&, const QStringList& buttons, int, int) override
    {
        require(buttons.size() == 3, "the update question has three buttons");
        return next++ % 3;
    }
};

struct CheckedProgress : ProgressSink
{
    qint64 total = -1;
    void setTotal(qint64 t) override
    {
        require(t >= 0, "negative progress total");
        total = t;
    }
    void setDone(qint64 done) override
    {
        require(total >= 0 && done >= 0 && done <= total, "progress outside its total");
    }
};

struct QuietStatus : StatusSink
{
    void showStatus(const QString&) override {}
};

// True when dir holds exactly these names. Plain calls: the toolkit's listing costs
// a good part of a run.
bool holdsOnly(const QByteArray& dir, std::initializer_list<const char*> names)
{
    DIR* d = opendir(dir.constData());
    if (!d)
        return false;
    size_t found = 0;
    bool foreign = false;
    while (const dirent* e = readdir(d)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0)
            continue;
        ++found;
        foreign = foreign || std::none_of(names.begin(), names.end(), [e](const char* n) {
                      return std::strcmp(n, e->d_name) == 0;
                  });
    }
    closedir(d);
    return !foreign && found == names.size();
}

void checkResult(const OpenPackageResult& r, const ShipPackage& p, qsizetype installed)
{
    require(r.status >= PackageOk && r.status <= PackageTooNew, "unknown status");
    require(r.status != PackageOk || (r.complete && !p.Name.isEmpty() && !p.Author.isEmpty()),
            "status 0 without a complete package");
    require(r.status == PackageOk || r.replaces == -1, "a failed read names a ship it replaces");
    require(r.replaces >= -1 && r.replaces < installed, "replaced ship out of range");
    require(installed > 0 || r.status != PackageOlder, "older-version status without a list");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    // Names with a NUL make the file classes warn on every run; the warnings
    // say nothing the checks below do not.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const Work work;
    static const QList<ShipPackage> installed = installedShips();
    static const QStringList installerTexts = numbered("installer ", 150);
    static const QStringList sharedTexts = numbered("shared ", 20);
    work.reset();

    QByteArray document("Packager: 1\n");
    document.append(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QString name = QStringLiteral("package");

    CheckedProgress progress;
    QuietStatus status;
    {
        PackageContext context;
        context.programDir = work.prog;
        context.progress = &progress;
        OpenPackageOptions options;
        options.baseDir = work.base;
        ShipPackage p;
        QBuffer in(&document);
        in.open(QIODevice::ReadOnly);
        checkResult(OpenPackageDocument(in, name, p, options, context), p, 0);
    }
    {
        CyclingPrompter prompter;
        prompter.next = static_cast<int>(size % 3);
        PackageContext context;
        context.programDir = work.prog;
        context.prompter = &prompter;
        context.progress = &progress;
        context.status = &status;
        context.installerTexts = &installerTexts;
        context.sharedTexts = &sharedTexts;
        OpenPackageOptions options;
        options.baseDir = work.game;
        options.installed = &installed;
        options.modCatalog = work.catalog;
        ShipPackage p;
        QBuffer in(&document);
        in.open(QIODevice::ReadOnly);
        checkResult(OpenPackageDocument(in, name, p, options, context), p, installed.size());
    }

    static const QByteArray root = QFile::encodeName(work.root);
    static const QByteArray box = QFile::encodeName(work.box);
    require(holdsOnly(root, {"box"}) && holdsOnly(box, {"prog", "base", "game"}),
            "a file was written beside the target folders");
    return 0;
}
