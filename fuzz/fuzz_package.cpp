// Package document reader (the uncompressed path). The input follows a
// "Packager: 1" line and is read twice: into a folder without an installed list,
// and into a mod catalogue against an installed list that holds a twin, an ID
// match and shared file names. Every read must end with a consistent status and
// must not write beside its target folders.
#include "archivefile.h"
#include "uiseams.h"
#include "xspfile.h"

#include <QDir>
#include <QFile>
#include <QSet>

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

// Runs between two clean-ups of the work folder; keeps the disk use bounded.
constexpr int kCleanEvery = 64;

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_package: %s\n", what);
        std::abort();
    }
}

// Work folder layout: <root>/in/package.xsp, <root>/box/{prog,base,game}. Names
// placed one to three levels above a target would show up in box or root.
struct Work
{
    Work()
    {
        std::atexit([] { QDir(rootOf(getpid())).removeRecursively(); });
    }
    static QString rootOf(pid_t pid)
    {
        return QDir::tempPath() + QStringLiteral("/fuzz_package-") +
               QString::number(static_cast<qint64>(pid));
    }

    QString root = rootOf(getpid());
    QString box = root + QStringLiteral("/box");
    QString input = root + QStringLiteral("/in/package.xsp");
    QString prog = box + QStringLiteral("/prog");
    QString base = box + QStringLiteral("/base");
    QString game = box + QStringLiteral("/game");
    QString catalog = game + QStringLiteral("/mods/Hullwright.cat");

    void reset()
    {
        QDir(box).removeRecursively();
        for (const QString& dir : {prog, base, game + QStringLiteral("/mods")})
            require(QDir().mkpath(dir), "cannot create the work folders");
        require(EnsureCatalog(catalog), "cannot create the mod catalogue");
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

QSet<QString> entries(const QString& dir)
{
    const QStringList names =
        QDir(dir).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    return QSet<QString>(names.begin(), names.end());
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
    static Work work;
    static int runs = 0;
    static const QList<ShipPackage> installed = installedShips();
    static const QStringList installerTexts = numbered("installer ", 150);
    static const QStringList sharedTexts = numbered("shared ", 20);
    if (runs++ % kCleanEvery == 0) {
        work.reset();
        require(QDir().mkpath(work.root + QStringLiteral("/in")), "cannot create the input folder");
    }

    {
        QFile in(work.input);
        require(in.open(QIODevice::WriteOnly | QIODevice::Truncate), "cannot write the input");
        in.write("Packager: 1\n");
        in.write(reinterpret_cast<const char*>(data), static_cast<qint64>(size));
    }

    CheckedProgress progress;
    QuietStatus status;
    {
        PackageContext context;
        context.programDir = work.prog;
        context.progress = &progress;
        OpenPackageOptions options;
        options.baseDir = work.base;
        ShipPackage p;
        QFile in(work.input);
        checkResult(OpenPackage(in, p, options, context), p, 0);
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
        QFile in(work.input);
        checkResult(OpenPackage(in, p, options, context), p, installed.size());
    }

    static const QSet<QString> rootNames{QStringLiteral("in"), QStringLiteral("box")};
    static const QSet<QString> boxNames{QStringLiteral("prog"), QStringLiteral("base"),
                                        QStringLiteral("game")};
    require(entries(work.root) == rootNames && entries(work.box) == boxNames &&
                entries(work.root + QStringLiteral("/in")) ==
                    QSet<QString>{QStringLiteral("package.xsp")},
            "a file was written beside the target folders");
    return 0;
}
