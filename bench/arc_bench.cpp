// Throughput of the whole-file archive operations on one large catalogue: adding
// entries, rewriting them in place and with a tail move, listing and extracting.
// Every extracted entry is compared with what was written, so a run also proves
// that nothing was lost on the way.
#include "archivefile.h"
#include "gamechange.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStorageInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr int kFullEntries = 2000;
constexpr qint64 kMinSize = 4 * 1024;
constexpr qint64 kMaxSize = 4 * 1024 * 1024;
constexpr quint64 kSeed = 0x5EED2024;
constexpr int kRewrites = 100;
constexpr int kEdgeGroup = 100; // adds compared at the start and the end

struct Entry
{
    QString target; // as handed to WriteArchiveFile
    QString name;   // as the catalogue holds it (packed name for text)
    qint64 size = 0;
    bool text = false;
    quint64 version = 0; // which content the entry holds now
};

double megabytes(qint64 bytes)
{
    return double(bytes) / 1e6;
}

double rate(qint64 bytes, double seconds)
{
    return seconds > 0 ? megabytes(bytes) / seconds : 0.0;
}

// Deterministic content of one entry version: random bytes, or table-like text
// that deflate shrinks to about a third.
QByteArray makeContent(int index, const Entry& e)
{
    std::mt19937_64 rng(kSeed ^ (quint64(index) << 20) ^ (e.version << 52));
    QByteArray out(e.size, Qt::Uninitialized);
    char* p = out.data();
    char* const end = p + e.size;
    if (!e.text) {
        for (; end - p >= 8; p += 8) {
            const quint64 v = rng();
            std::memcpy(p, &v, 8);
        }
        while (p < end)
            *p++ = char(rng());
        return out;
    }
    static const char* const kWords[32] = {
        "Hull",   "Shield", "Laser",   "Cargo",  "Engine", "Turret",  "Pulse",  "Beam",
        "Light",  "Heavy",  "Fighter", "Corvet", "Frigat", "Carrier", "Drone",  "Mass",
        "Speed",  "Rudder", "Dock",    "Bay",    "Gun",    "Rocket",  "Ion",    "Plasma",
        "Photon", "Nova",   "Scout",   "Hauler", "Miner",  "Trader",  "Escort", "Titan"};
    char field[32];
    int column = 0;
    while (p < end) {
        const quint64 v = rng();
        int n;
        if (v & 1)
            n = std::snprintf(field, sizeof field, "%s;", kWords[(v >> 1) & 31]);
        else
            n = std::snprintf(field, sizeof field, "%u;", unsigned((v >> 8) % 100000));
        if (++column == 12) {
            field[n++] = '\n';
            column = 0;
        }
        const int take = int(std::min<qint64>(n, end - p));
        std::memcpy(p, field, size_t(take));
        p += take;
    }
    return out;
}

struct Options
{
    double scale = 1.0;
    double moveBudget = 60.0;
    bool keep = false;
};

class Bench
{
public:
    Bench(const Options& options, const QString& dir) : m_options(options), m_dir(dir) {}
    int run();

private:
    void plan();
    bool addAll();
    bool rewriteSameSize();
    bool rewriteNewSize();
    bool list();
    bool extractAll();
    qint64 tailAfter(const QString& name) const;

    Options m_options;
    QString m_dir;
    QString m_cat;
    std::vector<Entry> m_entries;
    QHash<QString, int> m_indexOf; // lower-case catalogue name -> entry
    qint64 m_total = 0;
};

void Bench::plan()
{
    const int count = std::max(2 * kEdgeGroup, int(std::lround(kFullEntries * m_options.scale)));
    // Below a tenth the entries shrink too, so that a quick run stays quick.
    const double shrink = std::min(1.0, m_options.scale / 0.1);
    const qint64 maxSize = std::max(2 * kMinSize, qint64(double(kMaxSize) * shrink));
    std::mt19937_64 rng(kSeed);
    std::uniform_real_distribution<double> logSize(std::log(double(kMinSize)),
                                                   std::log(double(maxSize)));
    m_entries.resize(size_t(count));
    for (int i = 0; i < count; ++i) {
        Entry& e = m_entries[size_t(i)];
        e.size = qint64(std::exp(logSize(rng)));
        e.text = rng() & 1;
        if (e.text) {
            e.target = QStringLiteral("types/t%1.txt").arg(i, 4, 10, QLatin1Char('0'));
            e.name = QStringLiteral("types\\t%1.pck").arg(i, 4, 10, QLatin1Char('0'));
        } else {
            e.target = QStringLiteral("textures/b%1.dds").arg(i, 4, 10, QLatin1Char('0'));
            e.name = QStringLiteral("textures\\b%1.dds").arg(i, 4, 10, QLatin1Char('0'));
        }
        m_indexOf.insert(e.name.toLower(), i);
        m_total += e.size;
    }
}

bool Bench::addAll()
{
    const int n = int(m_entries.size());
    std::vector<double> seconds(static_cast<size_t>(n));
    double total = 0;
    QElapsedTimer timer;
    for (int i = 0; i < n; ++i) {
        const Entry& e = m_entries[size_t(i)];
        const QByteArray content = makeContent(i, e);
        timer.start();
        const bool ok = WriteArchiveFile(content.constData(), content.size(),
                                         m_cat + "::" + e.target, e.text, false);
        seconds[size_t(i)] = double(timer.nsecsElapsed()) / 1e9;
        if (!ok) {
            std::fprintf(stderr, "add of %s failed: %s\n", qPrintable(e.target),
                         qPrintable(ArchiveErrorMessage(LastArchiveError())));
            return false;
        }
        total += seconds[size_t(i)];
    }
    const qint64 stored = QFileInfo(m_dir + "/bench.dat").size();
    std::printf("add                %5d entries %9.1f MB %8.2f s %8.1f MB/s  (stored %.1f MB)\n", n,
                megabytes(m_total), total, rate(m_total, total), megabytes(stored));
    // Packing dominates the packed entries, so each kind gets its own rate.
    const auto group = [&](const char* label, int from) {
        double s = 0, sText = 0, sPlain = 0;
        qint64 bytesText = 0, bytesPlain = 0;
        for (int i = from; i < from + kEdgeGroup; ++i) {
            const Entry& e = m_entries[size_t(i)];
            s += seconds[size_t(i)];
            (e.text ? sText : sPlain) += seconds[size_t(i)];
            (e.text ? bytesText : bytesPlain) += e.size;
        }
        std::printf("  %-16s %8.2f ms/entry  packed %6.1f MB/s  plain %6.1f MB/s  "
                    "(entries %d-%d, %.1f MB)\n",
                    label, 1000 * s / kEdgeGroup, rate(bytesText, sText), rate(bytesPlain, sPlain),
                    from, from + kEdgeGroup - 1, megabytes(bytesText + bytesPlain));
    };
    group("first 100 adds", 0);
    group("last 100 adds", n - kEdgeGroup);
    return true;
}

bool Bench::rewriteSameSize()
{
    // Plain entries nearest the middle: their stored size is their size, so the
    // rewrite stays in place.
    std::vector<int> picks;
    for (int i = 0; i < int(m_entries.size()); ++i)
        if (!m_entries[size_t(i)].text)
            picks.push_back(i);
    const int middle = int(m_entries.size()) / 2;
    std::sort(picks.begin(), picks.end(),
              [middle](int a, int b) { return std::abs(a - middle) < std::abs(b - middle); });
    picks.resize(std::min<size_t>(picks.size(), kRewrites));

    const QList<CatalogEntryInfo> before = ListCatalog(m_cat);
    double total = 0;
    qint64 bytes = 0;
    QElapsedTimer timer;
    for (int index : picks) {
        Entry& e = m_entries[size_t(index)];
        e.version = 1;
        const QByteArray content = makeContent(index, e);
        timer.start();
        // Under a journal, as the programs write: it saves the old bytes, so the
        // new ones may take their place.
        GameChange change(m_dir + "/bench.journal", m_dir);
        if (!change.ok() ||
            !WriteArchiveFile(content.constData(), content.size(), m_cat + "::" + e.target, false,
                              false) ||
            !change.commit()) {
            std::fprintf(stderr, "rewrite of %s failed\n", qPrintable(e.target));
            return false;
        }
        total += double(timer.nsecsElapsed()) / 1e9;
        bytes += e.size;
    }
    const QList<CatalogEntryInfo> after = ListCatalog(m_cat);
    bool kept = before.size() == after.size();
    for (qsizetype i = 0; kept && i < before.size(); ++i)
        kept = before[i].name == after[i].name && before[i].size == after[i].size;
    std::printf("rewrite same size  %5zu entries %9.1f MB %8.2f s %8.1f MB/s  "
                "(%.2f ms/entry, catalogue order %s)\n",
                picks.size(), megabytes(bytes), total, rate(bytes, total),
                picks.empty() ? 0.0 : 1000 * total / double(picks.size()),
                kept ? "kept" : "CHANGED");
    return kept;
}

qint64 Bench::tailAfter(const QString& name) const
{
    const QList<CatalogEntryInfo> list = ListCatalog(m_cat);
    qint64 tail = 0;
    bool after = false;
    for (const CatalogEntryInfo& info : list) {
        if (after)
            tail += info.size;
        else if (info.name.compare(name, Qt::CaseInsensitive) == 0)
            after = true;
    }
    return tail;
}

bool Bench::rewriteNewSize()
{
    const int first = int(m_entries.size()) / 2 - kRewrites / 2;
    double total = 0;
    qint64 bytes = 0;
    qint64 moved = 0;
    int done = 0;
    QElapsedTimer timer;
    for (int index = first; index < first + kRewrites; ++index) {
        if (total > m_options.moveBudget)
            break;
        Entry& e = m_entries[size_t(index)];
        e.version = 2;
        e.size += e.size / 8 + 1;
        moved += tailAfter(e.name);
        const QByteArray content = makeContent(index, e);
        timer.start();
        if (!WriteArchiveFile(content.constData(), content.size(), m_cat + "::" + e.target, e.text,
                              false)) {
            std::fprintf(stderr, "rewrite of %s failed\n", qPrintable(e.target));
            return false;
        }
        total += double(timer.nsecsElapsed()) / 1e9;
        bytes += e.size;
        ++done;
    }
    // The rewritten entries grew.
    m_total = 0;
    for (const Entry& e : m_entries)
        m_total += e.size;
    std::printf("rewrite new size   %5d entries %9.1f MB %8.2f s %8.1f MB/s  "
                "(%.0f ms/entry, tails moved %.1f MB at %.1f MB/s)\n",
                done, megabytes(bytes), total, rate(bytes, total), done ? 1000 * total / done : 0.0,
                megabytes(moved), rate(moved, total));
    if (done < kRewrites)
        std::printf("  only %d of %d entries: every rewrite moves the tail behind it, and the "
                    "time budget of %.0f s (--move-budget) ran out\n",
                    done, kRewrites, m_options.moveBudget);
    return true;
}

bool Bench::list()
{
    constexpr int kRounds = 10;
    qsizetype listed = 0;
    QElapsedTimer timer;
    timer.start();
    for (int round = 0; round < kRounds; ++round)
        listed = ListCatalog(m_cat).size();
    const double seconds = double(timer.nsecsElapsed()) / 1e9 / kRounds;
    const qint64 catBytes = QFileInfo(m_cat).size();
    std::printf("list               %5lld entries %9.3f MB %8.4f s %8.1f MB/s  "
                "(%.0f entries/s, catalogue text)\n",
                static_cast<long long>(listed), megabytes(catBytes), seconds,
                rate(catBytes, seconds), seconds > 0 ? double(listed) / seconds : 0.0);
    return listed == qsizetype(m_entries.size());
}

bool Bench::extractAll()
{
    const QList<CatalogEntryInfo> list = ListCatalog(m_cat);
    const QString out = m_dir + "/extracted.bin";
    double total = 0;
    qint64 bytes = 0;
    int bad = 0;
    QElapsedTimer timer;
    for (const CatalogEntryInfo& info : list) {
        timer.start();
        const bool ok = ExtractArchiveFile(m_cat + "::" + info.name, out, false, false);
        total += double(timer.nsecsElapsed()) / 1e9;
        const int index = m_indexOf.value(info.name.toLower(), -1);
        QFile f(out);
        if (!ok || index < 0 || !f.open(QIODevice::ReadOnly) ||
            f.readAll() != makeContent(index, m_entries[size_t(index)])) {
            if (++bad <= 5)
                std::fprintf(stderr, "entry %s did not come back as written\n",
                             qPrintable(info.name));
            continue;
        }
        bytes += f.size();
    }
    QFile::remove(out);
    std::printf("extract            %5lld entries %9.1f MB %8.2f s %8.1f MB/s  (%s)\n",
                static_cast<long long>(list.size()), megabytes(bytes), total, rate(bytes, total),
                bad ? "MISMATCHES" : "all verified");
    return bad == 0 && list.size() == qsizetype(m_entries.size());
}

int Bench::run()
{
    plan();
    m_cat = m_dir + "/bench.cat";
    QFile::remove(m_cat);
    QFile::remove(m_dir + "/bench.dat");
    if (!EnsureCatalog(m_cat)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(m_cat));
        return 2;
    }
    const qint64 needed = m_total + m_total / 4 + 64 * 1024 * 1024;
    const qint64 available = QStorageInfo(m_dir).bytesAvailable();
    if (available >= 0 && available < needed) {
        std::fprintf(stderr, "%s has %.0f MB free, the run needs about %.0f MB\n",
                     qPrintable(m_dir), megabytes(available), megabytes(needed));
        return 2;
    }
    int texts = 0;
    for (const Entry& e : m_entries)
        texts += e.text;
    std::printf("arc_bench: %zu entries, %.1f MB (%d packed text, %zu plain random), in %s\n",
                m_entries.size(), megabytes(m_total), texts, m_entries.size() - size_t(texts),
                qPrintable(QDir::toNativeSeparators(m_dir)));
    std::fflush(stdout);

    bool ok = addAll();
    std::fflush(stdout);
    ok = ok && rewriteSameSize();
    std::fflush(stdout);
    ok = ok && rewriteNewSize();
    std::fflush(stdout);
    ok = ok && list();
    std::fflush(stdout);
    ok = ok && extractAll();
    if (!m_options.keep) {
        QFile::remove(m_cat);
        QFile::remove(m_dir + "/bench.dat");
    }
    return ok ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Writes 2,000 entries (4 KiB to 4 MiB, about 1.2 GB) into one catalogue, rewrites "
        "100 middle entries in place and with a new size, lists and extracts everything, "
        "and prints the throughput of each phase.");
    parser.addHelpOption();
    const QCommandLineOption scaleOption(
        "scale",
        "Fraction of the full run: entries = 2000 x F (at least 200); below 0.1 the "
        "entries shrink as well.",
        "F", "1");
    const QCommandLineOption dirOption("dir", "Work folder (default: a new temporary folder).",
                                       "DIR");
    const QCommandLineOption budgetOption(
        "move-budget", "Seconds allowed for the rewrites that move tails (default 60).", "S", "60");
    const QCommandLineOption keepOption("keep", "Keep the catalogue afterwards.");
    parser.addOptions({scaleOption, dirOption, budgetOption, keepOption});
    parser.process(app);

    Options options;
    bool ok = false;
    options.scale = parser.value(scaleOption).toDouble(&ok);
    if (!ok || options.scale <= 0 || options.scale > 10) {
        std::fprintf(stderr, "--scale needs a number above 0 and at most 10\n");
        return 2;
    }
    options.moveBudget = parser.value(budgetOption).toDouble(&ok);
    if (!ok || options.moveBudget < 0) {
        std::fprintf(stderr, "--move-budget needs a number of seconds\n");
        return 2;
    }
    options.keep = parser.isSet(keepOption);

    std::unique_ptr<QTemporaryDir> temp;
    QString dir = parser.value(dirOption);
    if (dir.isEmpty()) {
        temp = std::make_unique<QTemporaryDir>(QDir::temp().filePath("arc_bench-XXXXXX"));
        if (!temp->isValid()) {
            std::fprintf(stderr, "cannot create a temporary folder\n");
            return 2;
        }
        temp->setAutoRemove(!options.keep);
        dir = temp->path();
    } else if (!QDir().mkpath(dir)) {
        std::fprintf(stderr, "cannot create %s\n", qPrintable(dir));
        return 2;
    }
    Bench bench(options, QFileInfo(dir).absoluteFilePath());
    return bench.run();
}
