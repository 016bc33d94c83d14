#include "archivefile.h"

#include <cstring>

#include "arc.h"
#include "safefile.h"

#include <QFile>
#include <QFileInfo>
#include <QIODevice>

#include <memory>
#include <vector>

#include <sys/stat.h>

namespace {

struct HandleCloser
{
    void operator()(ArcFileHandle* h) const { arc_close(h); }
};
using Handle = std::unique_ptr<ArcFileHandle, HandleCloser>;

// Library form of a path: backslashes throughout.
QByteArray arcPath(const QString& path)
{
    QString p = path;
    p.replace(QLatin1Char('/'), QLatin1Char('\\'));
    return QFile::encodeName(p);
}

// Disk form for the toolkit's own file classes.
QString diskPath(const QString& path)
{
    QString p = path;
    p.replace(QLatin1Char('\\'), QLatin1Char('/'));
    return p;
}

int lastSeparator(const QString& path)
{
    return qMax(
        path.lastIndexOf(QLatin1Char('/')),
        qMax(path.lastIndexOf(QLatin1Char('\\')), path.lastIndexOf(QLatin1String("::")) + 1));
}

QString extensionOf(const QString& path)
{
    const int dot = path.lastIndexOf(QLatin1Char('.'));
    if (dot < 0 || dot < lastSeparator(path))
        return QString();
    return path.mid(dot + 1).toLower();
}

bool isPackedExtension(const QString& path)
{
    const QString ext = extensionOf(path);
    return ext == QLatin1String("pck") || ext == QLatin1String("pbb") ||
           ext == QLatin1String("pbd");
}

bool isGzipError(int code)
{
    return code >= ARC_E_GZ_RESERVED && code <= ARC_E_GZ_ZLIB;
}

// An old entry that cannot be opened as it is (the other form, or too large to be
// held in memory) does not stop a write that replaces it anyway.
bool isReplaceableError(int code)
{
    return isGzipError(code) || code == ARC_E_TOOLARGE;
}

void setError(QString* error, const QString& why)
{
    if (error)
        *error = why;
}

QString libraryError(const QString& path, int code)
{
    return diskPath(path) + QStringLiteral(": ") + QString::fromLatin1(arc_error_message(code));
}

// The data of an archive stream as a sequential read-only device, so that
// WriteFileAtomic pulls it block by block. A failed read (an I/O error, or a
// packed file whose gzip trailer does not match at the end) is a read error of
// the device, which makes WriteFileAtomic drop what it has written.
class StreamDevice : public QIODevice
{
public:
    explicit StreamDevice(ArcStream* stream) : m_stream(stream)
    {
        QIODevice::open(QIODevice::ReadOnly | QIODevice::Unbuffered);
    }
    bool isSequential() const override { return true; }
    bool failed() const { return m_failed; }

protected:
    qint64 readData(char* data, qint64 maxSize) override
    {
        const int64_t n = arc_stream_read(m_stream, data, maxSize);
        if (n < 0) {
            m_failed = true;
            setErrorString(QString::fromLatin1(arc_error_message(arc_stream_error(m_stream))));
        }
        return n;
    }
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    ArcStream* m_stream;
    bool m_failed = false;
};

// Streams a disk file or entry into a disk file through WriteFileAtomic.
bool streamToFile(const QString& source, int type, const QString& destination, QString* error)
{
    ArcStream* stream = arc_stream_open(arcPath(source).constData(), type);
    if (!stream) {
        setError(error, libraryError(source, arc_last_error()));
        return false;
    }
    QString why;
    bool ok = false;
    {
        StreamDevice device(stream);
        ok = WriteFileAtomic(diskPath(destination), device, &why);
        if (!ok && device.failed())
            why = libraryError(source, arc_stream_error(stream));
    }
    arc_stream_close(stream); // keeps a failed read's code in arc_last_error()
    if (!ok)
        setError(error, why);
    return ok;
}

} // namespace

qint64 InMemoryFileLimit()
{
    return arc_memory_cap();
}

bool ReadFileWhole(const QString& path, QByteArray* data, QString* error)
{
    data->clear();
    QFile file(diskPath(path));
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, diskPath(path) + QStringLiteral(": ") + file.errorString());
        return false;
    }
    const qint64 size = file.size();
    if (size > InMemoryFileLimit()) {
        setError(error, diskPath(path) +
                            QStringLiteral(": too large to be read into memory (%1 bytes, the "
                                           "limit is %2 bytes)")
                                .arg(size)
                                .arg(InMemoryFileLimit()));
        return false;
    }
    *data = file.readAll();
    // Checked again: the file may have grown since its size was taken.
    if (file.error() != QFileDevice::NoError || data->size() > InMemoryFileLimit()) {
        setError(error, diskPath(path) + QStringLiteral(": ") +
                            (data->size() > InMemoryFileLimit()
                                 ? QStringLiteral("too large to be read into memory")
                                 : file.errorString()));
        data->clear();
        return false;
    }
    return true;
}

bool IsVirtualPath(const QString& path)
{
    return path.contains(QLatin1String("::"));
}

QString PackedName(const QString& path, bool withText)
{
    const QString ext = extensionOf(path);
    QString packed;
    if (ext == QLatin1String("bod"))
        packed = QStringLiteral("pbd");
    else if (ext == QLatin1String("bob"))
        packed = QStringLiteral("pbb");
    else if (withText && (ext == QLatin1String("xml") || ext == QLatin1String("txt")))
        packed = QStringLiteral("pck");
    if (packed.isEmpty())
        return path;
    return path.left(path.size() - ext.size()) + packed;
}

bool ExtractArchiveFile(const QString& source, const QString& destination, bool packedName,
                        bool forcePlain, QString* error)
{
    QString src = source;
    if (packedName)
        src = PackedName(src, false);
    return streamToFile(src, forcePlain ? ARC_TYPE_PLAIN : ARC_TYPE_AUTO, destination, error);
}

namespace {

// Opens a target for writing under the naming rules of the whole-file writes.
// `name` receives the name actually opened (the packed name when packing).
ArcFileHandle* openTarget(const QString& target, bool pack, bool append, QString* name)
{
    const bool entry = IsVirtualPath(target);
    // Only a fresh write replaces a loose file; appending must keep what is there.
    if (!entry && !append && !RemoveFileChecked(diskPath(target)))
        return nullptr;
    *name = pack ? PackedName(target, true) : target;
    pack = pack && *name != target;
    const QByteArray path = arcPath(*name);
    const int type = pack ? ARC_TYPE_PACKED : ARC_TYPE_PLAIN;
    ArcFileHandle* h = arc_open(path.constData(), ARC_MODE_WRITE, append ? 0 : 1, type);
    if (!h && !append && entry && isReplaceableError(arc_last_error())) {
        // The old entry is in the other form or too large to open; it is being
        // replaced anyway.
        arc_remove(path.constData());
        h = arc_open(path.constData(), ARC_MODE_WRITE, 1, type);
    }
    if (h && !arc_seek(h, 0, append ? ARC_SEEK_END : ARC_SEEK_SET)) {
        arc_close(h);
        h = nullptr;
    }
    return h;
}

} // namespace

bool WriteArchiveFile(const char* data, qint64 size, const QString& target, bool pack, bool append)
{
    if (!data || size < 1)
        return false;
    QString name;
    Handle h(openTarget(target, pack, append, &name));
    if (!h)
        return false;
    if (arc_write(h.get(), data, size) != size || !arc_truncate(h.get()))
        return false;
    return arc_close(h.release());
}

bool AddArchiveFile(QFile& source, const QString& target, bool pack)
{
    const bool entry = IsVirtualPath(target);
    if (!entry && !RemoveFileChecked(diskPath(target)))
        return false;
    QString name = target;
    if (pack) {
        name = PackedName(target, true);
        pack = name != target;
    }
    if (entry && !pack && source.open(QIODevice::ReadOnly)) {
        // A plain entry from a regular file goes straight into the data file.
        struct stat st;
        const bool regular = ::fstat(source.handle(), &st) == 0 && S_ISREG(st.st_mode);
        // A packed copy under the packed name goes, as below.
        if (regular && PackedName(name, false) != name && !RemoveArchiveFile(name)) {
            source.close();
            return false;
        }
        if (regular) {
            const bool stored = arc_store_plain(arcPath(name).constData(), source.handle(),
                                                static_cast<int64_t>(st.st_size));
            source.close();
            return stored;
        }
        source.close();
    }
    if (!RemoveArchiveFile(name))
        return false;
    Handle h(arc_open(arcPath(name).constData(), ARC_MODE_WRITE, 1,
                      pack ? ARC_TYPE_PACKED : ARC_TYPE_PLAIN));
    if (!h || !arc_seek(h.get(), 0, ARC_SEEK_SET))
        return false;
    bool complete = false;
    if (source.open(QIODevice::ReadOnly)) {
        complete = true;
        std::vector<char> block(1 << 20);
        for (;;) {
            const qint64 n = source.read(block.data(), static_cast<qint64>(block.size()));
            if (n < 0)
                complete = false;
            if (n <= 0)
                break;
            if (arc_write(h.get(), block.data(), n) != n) {
                complete = false;
                break;
            }
        }
        source.close();
    }
    arc_truncate(h.get());
    // An unreadable source still leaves the (empty) target, but is not a success.
    return arc_close(h.release()) && complete;
}

bool RemoveArchiveFile(const QString& path)
{
    if (arc_remove(arcPath(PackedName(path, false)).constData()))
        return true;
    const int code = arc_last_error();
    return code == ARC_E_NOENTRY || code == ARC_E_NOFILE;
}

QList<CatalogEntryInfo> ListCatalog(const QString& catalog)
{
    QList<CatalogEntryInfo> result;
    ArcCatalogHandle* c = arc_open_catalog(arcPath(catalog).constData(), 0);
    if (!c)
        return result;
    ArcFindRecord record;
    if (ArcSearchHandle* s = arc_find_first(c, "*", &record)) {
        do {
            result.append({QString::fromLocal8Bit(record.name), record.size});
        } while (arc_find_next(s, &record));
        arc_find_close(s);
    }
    arc_close_catalog(c);
    return result;
}

bool CatalogHasEntry(const QString& catalog, const QString& entry)
{
    // Entry names never hold the pattern characters "?" and "*": a name is its own pattern.
    const QByteArray name = QFile::encodeName(QString(entry).replace(QLatin1Char('/'), QLatin1Char('\\')));
    if (name.isEmpty() || name.contains('?') || name.contains('*'))
        return false;
    ArcCatalogHandle* c = arc_open_catalog(arcPath(catalog).constData(), 0);
    if (!c)
        return false;
    ArcFindRecord record;
    ArcSearchHandle* s = arc_find_first(c, name.constData(), &record);
    if (s)
        arc_find_close(s);
    arc_close_catalog(c);
    return s != nullptr;
}

CatalogReadHold::CatalogReadHold(const QString& catalog)
    : m_handle(arc_open_catalog(arcPath(catalog).constData(), 0))
{
}

CatalogReadHold::~CatalogReadHold()
{
    release();
}

bool CatalogReadHold::release()
{
    ArcCatalogHandle* h = m_handle;
    m_handle = nullptr;
    return !h || arc_close_catalog(h);
}

bool UnpackDiskFile(const QString& source, const QString& destination, QString* error)
{
    QString why;
    bool ok = false;
    const QFileInfo info(diskPath(source));
    if (!info.isFile()) {
        why = libraryError(source, ARC_E_NOFILE);
    } else if (info.size() == 0) {
        // An empty file is no packed file (the stream would take it for an empty one).
        why = libraryError(source, ARC_E_GZ_SHORT);
    } else {
        ok = streamToFile(source, ARC_TYPE_PACKED, destination, &why);
        if (!ok && isGzipError(arc_last_error()))
            why = diskPath(source) + QStringLiteral(": not a packed file: ") +
                  ArchiveErrorMessage(arc_last_error());
    }
    if (ok)
        return true;
    // A source that cannot be unpacked leaves an empty destination.
    WriteFileAtomic(diskPath(destination), QByteArray());
    setError(error, why);
    return false;
}

bool CopyArchiveFile(const QString& source, const QString& destination)
{
    const int dstType = isPackedExtension(destination) ? ARC_TYPE_PACKED : ARC_TYPE_PLAIN;
    const int srcType = isPackedExtension(source) ? ARC_TYPE_PACKED : ARC_TYPE_PLAIN;
    // Source first: a missing source must not leave an empty new destination behind.
    Handle src(arc_open(arcPath(source).constData(), ARC_MODE_READ, 0, srcType));
    if (!src)
        return false;
    Handle dst(arc_open(arcPath(destination).constData(), ARC_MODE_WRITE, 1, dstType));
    if (!dst && arc_last_error() == ARC_E_TOOLARGE) {
        // An old destination too large to be held in memory is overwritten whole anyway.
        arc_remove(arcPath(destination).constData());
        dst.reset(arc_open(arcPath(destination).constData(), ARC_MODE_WRITE, 1, dstType));
    }
    if (!dst)
        return false;
    const bool copied = arc_seek(dst.get(), 0, ARC_SEEK_SET) &&
                        arc_seek(src.get(), 0, ARC_SEEK_SET) && arc_copy(src.get(), dst.get()) &&
                        arc_truncate(dst.get());
    const bool stored = arc_close(dst.release());
    return copied && stored;
}

bool EnsureCatalog(const QString& catalog)
{
    ArcCatalogHandle* c = arc_open_catalog(arcPath(catalog).constData(), 1);
    if (!c)
        return false;
    return arc_close_catalog(c);
}

int LastArchiveError()
{
    return arc_last_error();
}

QString ArchiveErrorMessage(int code)
{
    QString message = QString::fromLatin1(arc_error_message(code));
    if (code == ARC_E_INTERNAL && code == arc_last_error() && arc_last_errno() != 0)
        message += QStringLiteral(" (") + QString::fromLocal8Bit(std::strerror(arc_last_errno())) +
                   QLatin1Char(')');
    return message;
}

ArchiveStreamWriter::~ArchiveStreamWriter()
{
    abandon();
}

bool ArchiveStreamWriter::open(const QString& target, bool pack)
{
    abandon();
    QString name;
    m_handle = openTarget(target, pack, false, &name);
    m_target = name;
    m_failed = m_handle == nullptr;
    return !m_failed;
}

bool ArchiveStreamWriter::write(const char* data, qint64 size)
{
    if (!m_handle || m_failed)
        return false;
    if (size > 0 && arc_write(m_handle, data, size) != size)
        m_failed = true;
    return !m_failed;
}

bool ArchiveStreamWriter::commit()
{
    if (!m_handle)
        return false;
    const bool ok = !m_failed && arc_truncate(m_handle);
    ArcFileHandle* h = m_handle;
    m_handle = nullptr;
    const bool stored = arc_close(h);
    // Nothing half-stored stays behind under the name.
    if (!ok || !stored)
        arc_remove(arcPath(m_target).constData());
    return ok && stored;
}

void ArchiveStreamWriter::abandon()
{
    if (!m_handle)
        return;
    // Emptied first so that the close does not pack data that is thrown away.
    arc_seek(m_handle, 0, ARC_SEEK_SET);
    arc_truncate(m_handle);
    arc_close(m_handle);
    m_handle = nullptr;
    arc_remove(arcPath(m_target).constData());
}
