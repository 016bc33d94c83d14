// textpage_bench: loads generated text pages (250 texts a page, with entities,
// CDATA, comments and attributes the loader does not know) with the parser, and sets the time next to that of Python's
// expat binding loading the same file into a dict (textpage_bench.py, run with
// "python3 -c"). Both sides report the best CPU time of several runs of the parse
// alone, for each page size (40,000 and 160,000 texts by default).

#include "textpages.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <cstdio>
#include <ctime>
#include <random>

namespace {

constexpr int kTextsPerPage = 250;
constexpr quint32 kSeed = 20240611;

const char kUsage[] = "Usage: textpage_bench [--runs N] [--texts A,B,...] [--keep DIR]\n"
                      "  --runs N    parse runs per side, best one counts (default 7)\n"
                      "  --texts     texts per page, one page each, smallest first\n"
                      "              (default 40000,160000)\n"
                      "  --keep DIR  write the generated pages into DIR and keep them\n";

void print(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

int failed(const QString& text)
{
    const QByteArray bytes = "textpage_bench: " + text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    return 1;
}

// A page like the game's: mostly short names and long descriptions, a few
// hundred pages, markup the loader skips, and the usual entities.
QByteArray generatePage(int pages)
{
    static const char* const words[] = {
        "hull",      "shield",        "Argon",  "freighter", "sector", "jump",
        "drive",     "cargo",         "Größe",  "naïve",     "Ωmega",  "&amp;",
        "&lt;b&gt;", "&quot;x&quot;", "&#233;", "laser",     "turret", "escort",
        "corvette",  "trade",         "dock",   "station",
    };
    std::mt19937 random(kSeed);
    const auto word = [&] { return words[random() % std::size(words)]; };
    QByteArray xml;
    xml.reserve(qsizetype(pages) * 21 * 1024);
    xml += "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\r\n<?editor version=\"3\"?>\r\n";
    xml += "<!-- generated text page -->\r\n<language id=\"44\" revision=\"12\">\r\n";
    for (int p = 0; p < pages; ++p) {
        const int page = p < 20 ? 17 + p : 300000 + p;
        xml += "<page id=\"" + QByteArray::number(page) + "\" title=\"Page " +
               QByteArray::number(p) + "\" descr=\"generated\" voice=\"no\">\r\n";
        for (int t = 0; t < kTextsPerPage; ++t) {
            xml += " <t id=\"" + QByteArray::number(1000 + t) + '"';
            if (t % 7 == 0)
                xml += " speaker=\"narrator\"";
            xml += '>';
            const int words = t % 3 == 0 ? 1 + static_cast<int>(random() % 3)
                                         : 6 + static_cast<int>(random() % 11);
            if (t % 10 == 0)
                xml += "<![CDATA[<raw> & text]]> ";
            for (int w = 0; w < words; ++w) {
                if (w)
                    xml += ' ';
                xml += word();
            }
            xml += "</t>\r\n";
            if (t % 50 == 0)
                xml += " <!-- block " + QByteArray::number(t) + " -->\r\n";
        }
        xml += "</page>\r\n";
    }
    xml += "</language>\r\n";
    return xml;
}

// CPU time of this process: what other programs on a shared machine disturb least.
double cpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

struct Timing
{
    double bestMs = -1;
    qsizetype texts = 0;
};

template <typename Make> Timing timeParse(const QString& path, int runs, Make make)
{
    Timing timing;
    for (int r = 0; r < runs; ++r) {
        auto handler = make();
        const double started = cpuMs();
        if (!ParseTextPageFile(path, handler))
            return {};
        const double ms = cpuMs() - started;
        timing.texts = handler.count();
        if (timing.bestMs < 0 || ms < timing.bestMs)
            timing.bestMs = ms;
    }
    return timing;
}

struct Library : TextLibrary
{
    qsizetype count() const { return size(); }
};

// The authoring program's load: ship texts of page 17 wanted, all else skipped.
struct Collected : GameTexts
{
    Collected()
    {
        QList<int> wanted;
        for (int id = 1000; id < 1000 + kTextsPerPage; ++id)
            wanted.append(id);
        setWantedShipTexts(wanted);
    }
    qsizetype count() const { return shipTexts().size(); }
};

struct SizeResult
{
    int texts = 0;
    double parserMs = 0, expatMs = 0;
};

// One page of `texts` texts: generated, parsed by both sides.
bool measure(const QString& dir, int texts, int runs, SizeResult* out)
{
    const int pages = qMax(1, texts / kTextsPerPage);
    const QString path = dir + QStringLiteral("/%1/440001.xml").arg(pages * kTextsPerPage);
    QDir().mkpath(QFileInfo(path).path());
    const QByteArray page = generatePage(pages);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(page) != page.size()) {
        failed(QStringLiteral("cannot write ") + path);
        return false;
    }
    file.close();
    print(QStringLiteral("page: %1 (%2 MB, %3 pages, %4 texts)")
              .arg(path)
              .arg(static_cast<double>(page.size()) / (1024.0 * 1024.0), 0, 'f', 2)
              .arg(pages)
              .arg(pages * kTextsPerPage));

    const Timing all = timeParse(path, runs, [] { return Library(); });
    if (all.bestMs < 0) {
        failed(QStringLiteral("the generated page does not parse"));
        return false;
    }
    const Timing wanted = timeParse(path, runs, [] { return Collected(); });
    print(QStringLiteral("  parser, every text:      %1 ms (%2 texts)")
              .arg(all.bestMs, 0, 'f', 1)
              .arg(all.texts));
    print(QStringLiteral("  parser, collected pages: %1 ms").arg(wanted.bestMs, 0, 'f', 1));
    out->texts = pages * kTextsPerPage;
    out->parserMs = all.bestMs;

    QFile script(QStringLiteral(TEXTPAGE_BENCH_PY));
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty() || !script.open(QIODevice::ReadOnly)) {
        print(QStringLiteral("  expat: python3 or %1 not found, no comparison")
                  .arg(script.fileName()));
        return true;
    }
    QProcess process;
    process.start(python, {QStringLiteral("-c"), QString::fromUtf8(script.readAll()), path,
                           QString::number(runs)});
    if (!process.waitForFinished(600000) || process.exitCode() != 0) {
        failed(QStringLiteral("python3 failed: ") +
               QString::fromLocal8Bit(process.readAllStandardError()));
        return false;
    }
    const QList<QByteArray> result = process.readAllStandardOutput().trimmed().split(' ');
    out->expatMs = result.value(0).toDouble();
    print(QStringLiteral("  python3 expat, dict:     %1 ms (%2 texts)")
              .arg(out->expatMs, 0, 'f', 1)
              .arg(QString::fromLatin1(result.value(1))));
    if (result.value(1).toLongLong() != all.texts) {
        failed(QStringLiteral("the two sides read a different number of texts"));
        return false;
    }
    print(QStringLiteral("  ratio parser/expat:      %1 (aim <= 0.5)")
              .arg(all.bestMs / out->expatMs, 0, 'f', 2));
    return true;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    int runs = 7;
    QList<int> sizes = {40000, 160000};
    QString keep;
    const QStringList args = app.arguments().mid(1);
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--runs") && i + 1 < args.size()) {
            runs = qMax(1, args[++i].toInt());
        } else if (args[i] == QLatin1String("--texts") && i + 1 < args.size()) {
            sizes.clear();
            for (const QString& s : args[++i].split(QLatin1Char(',')))
                sizes << qBound(kTextsPerPage, s.toInt(), 4000000);
        } else if (args[i] == QLatin1String("--keep") && i + 1 < args.size()) {
            keep = args[++i];
        } else {
            std::fputs(kUsage, stderr);
            return 2;
        }
    }

    QTemporaryDir temp;
    const QString dir = keep.isEmpty() ? temp.path() : keep;
    if (!QDir().mkpath(dir))
        return failed(QStringLiteral("cannot create ") + dir);
    QList<SizeResult> results;
    for (int texts : sizes) {
        SizeResult r;
        if (!measure(dir, texts, runs, &r))
            return 1;
        results << r;
    }
    if (results.size() >= 2) {
        const SizeResult& a = results.first();
        const SizeResult& b = results.last();
        print(QStringLiteral("parser %1 / %2 texts: %3 (%4x the texts; aim <= 1.1x that)")
                  .arg(b.texts)
                  .arg(a.texts)
                  .arg(b.parserMs / a.parserMs, 0, 'f', 2)
                  .arg(double(b.texts) / a.texts, 0, 'f', 2));
    }
    return 0;
}
