// The import's readers of scenes and text models: any bytes read in bounded
// memory, and a file reads the same whatever its line ends.
#include "modimport.h"

#include <QBuffer>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_modscene: %s\n", what);
        std::abort();
    }
}

struct Read
{
    SceneBodies scene;
    QStringList textures;
};

Read read(const QByteArray& bytes)
{
    Read r;
    QBuffer b;
    b.setData(bytes);
    b.open(QIODevice::ReadOnly);
    r.scene = ReadSceneBodies(b);
    b.seek(0);
    r.textures = ReadModelTextures(b);
    return r;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const Read plain = read(bytes);
    for (const QString& ref : plain.scene.references) {
        require(ref.size() <= 64 * 1024, "a reference longer than a line may be");
        const QString key = BodyReferenceKey(ref);
        require(key == key.toLower() && key.contains(QLatin1Char('\\')), "a key not in compare form");
    }
    for (const QString& t : plain.textures)
        require(!t.contains(QLatin1Char('/')) && !t.contains(QLatin1Char('\\')), "a texture with a folder");

    QByteArray lf = bytes;
    lf.replace("\r\n", "\n");
    QByteArray cr = lf;
    cr.replace('\n', '\r');
    for (const QByteArray& other : {lf, cr}) {
        const Read again = read(other);
        require(again.scene.status == plain.scene.status, "line ends change the scene check");
        require(again.scene.references == plain.scene.references, "line ends change the references");
        require(again.textures == plain.textures, "line ends change the textures");
    }
    return 0;
}
