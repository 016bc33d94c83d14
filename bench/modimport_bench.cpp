// The import wizard's scene and text-model readers on one large generated file,
// next to a plain block read that only counts line ends.
//
//   build/release/bench/modimport_bench [--mb N]   (default 100 MB)
#include "modimport.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

namespace {

// Part lines with LF, CR LF and CR ends, and a material line every 50 lines.
bool writeFile(const QString& path, qint64 bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        return false;
    f.write("// generated\r\nVER: 1;\r\n");
    const char* ends[] = {"\r\n", "\n", "\r"};
    QByteArray block;
    for (qint64 i = 0; f.size() + block.size() < bytes; ++i) {
        block += "P " + QByteArray::number(i) + "; B ships\\big\\part" + QByteArray::number(i % 40) +
                 "; 0; 0; 0; 1; 2; 3; 4; 5; 6; 7; 8; 9;" + ends[i % 3];
        if (i % 50 == 0)
            block += "MATERIAL6: 0; 0x2000000; 1.0; tex" + QByteArray::number(i % 7) + ".dds; 0.25;\n";
        if (block.size() > (1 << 20)) {
            f.write(block);
            block.clear();
        }
    }
    return f.write(block) == block.size();
}

double seconds(const QElapsedTimer& t)
{
    return double(t.nsecsElapsed()) / 1e9;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    qint64 mb = 100;
    const QStringList args = app.arguments();
    if (args.size() == 3 && args.at(1) == QLatin1String("--mb"))
        mb = args.at(2).toLongLong();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("scene.bod"));
    if (mb <= 0 || !writeFile(path, mb << 20)) {
        std::fprintf(stderr, "usage: modimport_bench [--mb N]; cannot write %s\n", qPrintable(path));
        return 2;
    }
    const qint64 size = QFile(path).size();

    QElapsedTimer t;
    t.start();
    QFile raw(path);
    raw.open(QIODevice::ReadOnly);
    qint64 ends = 0;
    while (!raw.atEnd()) {
        const QByteArray b = raw.read(64 * 1024);
        ends += b.count('\n') + b.count('\r');
    }
    const double plain = seconds(t);

    t.restart();
    const SceneBodies scene = ReadSceneBodiesFile(path);
    const double sceneTime = seconds(t);

    t.restart();
    QFile model(path);
    model.open(QIODevice::ReadOnly);
    const QStringList textures = ReadModelTextures(model);
    const double textureTime = seconds(t);

    const double mib = double(size) / (1 << 20);
    std::printf("file            %.1f MiB, %lld line ends\n", mib, ends);
    std::printf("block read      %.2f s  (%.0f MiB/s)\n", plain, mib / plain);
    std::printf("scene reader    %.2f s  (%.0f MiB/s), %lld references\n", sceneTime, mib / sceneTime,
                qint64(scene.references.size()));
    std::printf("texture reader  %.2f s  (%.0f MiB/s), %lld names\n", textureTime, mib / textureTime,
                qint64(textures.size()));
    return 0;
}
