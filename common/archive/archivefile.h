// Whole-file operations over the archive library, with virtual paths as the
// programs write them: "<catalogue path>::<entry name>" names an entry, any other
// path a disk file. Either slash may be used; entry names reach the library with
// backslashes. Each call opens what it needs and closes it before returning.
#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

class QFile;
struct ArcCatalogHandle;

// The most any caller holds of one file in memory (an entry, an unpacked packed
// file, a table or text page read whole): 256 MiB, the archive library's default
// memory cap (arc.h). Larger files are refused with a clear error; files that go
// to disk are streamed and have no such limit.
constexpr qint64 kMaxInMemoryFile = qint64(256) << 20;
// The limit in force: kMaxInMemoryFile, unless a test lowered the library's cap.
qint64 InMemoryFileLimit();
// Reads a disk file whole when it is at most InMemoryFileLimit() bytes. False with
// a reason ("<path>: ...") when it cannot be read or is larger; *data is then empty.
bool ReadFileWhole(const QString& path, QByteArray* data, QString* error = nullptr);

struct CatalogEntryInfo
{
    QString name;    // backslashes, as held in the catalogue
    qint64 size = 0; // stored size in the data file
};

// Packed-form name of a path: ".bod" -> ".pbd", ".bob" -> ".pbb" and, when
// withText is set, ".xml"/".txt" -> ".pck" (case-insensitive). Other names are
// returned unchanged.
QString PackedName(const QString& path, bool withText = true);
bool IsVirtualPath(const QString& path);

// Extracts a disk file or entry to a disk file. packedName maps .bob/.bod sources
// to their packed names; forcePlain keeps packed bytes packed. The data is streamed
// (packed data inflated chunk by chunk and checked against its gzip trailer at the
// end), never held whole, and the destination is written through WriteFileAtomic
// (safefile.h): a failed extraction leaves no new destination and an existing one
// unchanged. False when the source cannot be opened or read to a valid end or the
// destination cannot be written; *error then says why.
bool ExtractArchiveFile(const QString& source, const QString& destination, bool packedName,
                        bool forcePlain, QString* error = nullptr);
// Writes a buffer into a disk file or entry. append adds to an existing target.
// pack stores .bod/.bob/.xml/.txt targets in packed form under their packed name.
bool WriteArchiveFile(const char* data, qint64 size, const QString& target, bool pack, bool append);
// Replaces the target with the contents of an (unopened) file. An unreadable
// source leaves an empty target. False only when the target cannot be opened.
bool AddArchiveFile(QFile& source, const QString& target, bool pack);
// Removes a disk file or entry; .bob/.bod names are removed under their packed names.
// True when it is gone afterwards, also when it was not there.
bool RemoveArchiveFile(const QString& path);
// Entries in catalogue order; empty when the catalogue cannot be opened.
QList<CatalogEntryInfo> ListCatalog(const QString& catalog);
// True when the catalogue lists the entry (backslashes or slashes, any case). Looks
// it up without listing the catalogue; shares a catalogue held open.
bool CatalogHasEntry(const QString& catalog, const QString& entry);
// Keeps a catalogue open, parsed once, while many of its entries are read one
// by one: every entry opened meanwhile (ExtractArchiveFile, streams, lists) shares
// it instead of reading and parsing the whole catalogue again. Nothing is held
// when the catalogue cannot be opened; the reads then open it themselves.
class CatalogReadHold
{
public:
    explicit CatalogReadHold(const QString& catalog);
    ~CatalogReadHold();
    CatalogReadHold(const CatalogReadHold&) = delete;
    CatalogReadHold& operator=(const CatalogReadHold&) = delete;
    bool held() const { return m_handle != nullptr; }
    // Lets go now; false when the catalogue could not be stored.
    bool release();

private:
    ArcCatalogHandle* m_handle = nullptr;
};

// Unpacks a loose packed file, streamed like ExtractArchiveFile; an unreadable or
// invalid source gives an empty destination and false (*error says why).
bool UnpackDiskFile(const QString& source, const QString& destination, QString* error = nullptr);
// Copies between any two virtual paths, converting between the plain and packed
// forms by extension (.pck, .pbb, .pbd are packed). True when all was copied.
bool CopyArchiveFile(const QString& source, const QString& destination);

// Creates an empty catalogue (data-file line only) when none exists at the path.
bool EnsureCatalog(const QString& catalog);
// Last error of the archive library and its message, for front ends that report it.
int LastArchiveError();
QString ArchiveErrorMessage(int code);

struct ArcFileHandle;

// Writes one disk file or entry in pieces and stores it once, at commit: a large
// file is packed once instead of once per piece, so the time is linear in its
// size. The stored result equals a WriteArchiveFile of the whole data.
class ArchiveStreamWriter
{
public:
    ArchiveStreamWriter() = default;
    ~ArchiveStreamWriter(); // an open, uncommitted target is removed
    ArchiveStreamWriter(const ArchiveStreamWriter&) = delete;
    ArchiveStreamWriter& operator=(const ArchiveStreamWriter&) = delete;

    // Same naming rules as a fresh WriteArchiveFile (packed names when packing).
    bool open(const QString& target, bool pack);
    bool write(const char* data, qint64 size);
    bool commit();
    void abandon();
    QString target() const { return m_target; }

private:
    ArcFileHandle* m_handle = nullptr;
    QString m_target;
    bool m_failed = false;
};
