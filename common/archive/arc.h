// Catalogue archive library: files that live loose on disk or as entries of a
// Vega catalogue/data pair (NN.cat + NN.dat), with the packed form (a key byte
// followed by a scrambled gzip member) unpacked and packed transparently.
//
// C-style API without any Qt dependency. Single-threaded: the registries of open
// catalogues and files and the last-error slot are process-wide and unlocked.
//
// Paths: a path containing "::" names a catalogue entry ("<cat path>::<entry>"),
// any other path a disk file. Either separator is accepted; entry names are held
// with backslashes. Every handle returned must be released with its close call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Error codes; the numbers and their messages are fixed (callers and logs show them).
enum ArcError : int {
    ARC_OK = 0,
    ARC_E_HANDLE = 1,       // "Invalid handle."
    ARC_E_SEEK = 2,         // "Cannot seek to specified position."
    ARC_E_SEEKMODE = 3,     // "Bad seek mode."
    ARC_E_OPEN = 4,         // "Unknown error while opening file."
    ARC_E_ACCESS = 5,       // "Cannot open file - access denied or file locked."
    ARC_E_EXISTS = 6,       // "File already exist."
    ARC_E_NOFILE = 7,       // "File does not exist."
    ARC_E_MODE = 8,         // "Bad file mode."
    ARC_E_BADDATA = 9,      // "Bad data in file."
    ARC_E_EMPTY = 10,       // "File is empty."
    ARC_E_LOCKED = 11,      // "File is locked"
    ARC_E_CATNOTOPEN = 12,  // "CAT archive is not open."
    ARC_E_NOENTRY = 13,     // "No entry in CAT file."
    ARC_E_NODAT = 14,       // "Cannot find DAT file."
    ARC_E_ENTRYSIZE = 15,   // "Invalid size in CAT entry."
    ARC_E_CATLOCKED = 16,   // "Files in CAT are locked."
    ARC_E_NAME = 17,        // "File name syntax is incorrect."
    ARC_E_INTERNAL = 18,    // "Internal error."
    ARC_E_NOMEM = 19,       // "Cannot allocate memory."
    ARC_E_FLAGS = 20,       // "Bad flags specified."
    ARC_E_GZ_RESERVED = 21, // "GZIP - reserved flag bits are set."
    ARC_E_GZ_MAGIC = 22,    // "GZIP - no GZIP header found."
    ARC_E_GZ_SHORT = 23,    // "GZIP - input stream too small."
    ARC_E_GZ_CRC = 24,      // "GZIP - data CRC does not match."
    ARC_E_GZ_HCRC = 25,     // "GZIP - header CRC does not match"
    ARC_E_GZ_METHOD = 26,   // "GZIP - unsupported compression."
    ARC_E_GZ_ZLIB = 27,     // "GZIP - deflate/inflate failed."
    ARC_E_TOOLARGE = 28,    // "File is too large to be held in memory."
};

// File object flags (ArcStatRecord::flags).
enum ArcFileFlags : int { ARC_F_DISK = 1, ARC_F_PLAIN = 2, ARC_F_PACKED = 4 };

// arc_open modes and types; arc_seek origins (the library's own numbering).
enum { ARC_MODE_READ = 0, ARC_MODE_WRITE = 1 };
enum { ARC_TYPE_AUTO = 0, ARC_TYPE_PLAIN = 1, ARC_TYPE_PACKED = 2 };
enum { ARC_SEEK_SET = 0, ARC_SEEK_END = 1, ARC_SEEK_CUR = 2 };

// Byte-level constants of the formats.
constexpr unsigned char ARC_CAT_SCRAMBLE_BASE = 0x6E; // cat byte i ^= (0x6E + i) & 0xFF
constexpr unsigned char ARC_DAT_XOR = 0xA5;           // every data-file byte
constexpr unsigned char ARC_KEY_XOR = 0x3C;           // packed form: byte 0 = key ^ 0x3C
constexpr int64_t ARC_MOVE_CHUNK = 20480000;          // tail moves use at most this buffer

struct ArcStatRecord
{
    char name[260];     // full name of the file object, truncated
    int32_t mtime;      // seconds since 1970; -1 for a plain entry
    int64_t length;     // data length
    int64_t storedSize; // size in the data file or on disk when opened
    int32_t flags;      // ArcFileFlags
};

struct ArcFindRecord
{
    char name[260]; // entry name (backslashes), truncated
    int64_t size;   // stored size
};

struct ArcFileHandle;
struct ArcCatalogHandle;
struct ArcSearchHandle;

// mode: 0 read, 1 read-write; create: 0/1; type: 0 automatic, 1 plain, 2 packed.
ArcFileHandle* arc_open(const char* path, int mode, int create, int type);
// True when everything was stored. Releases the handle in every case.
bool arc_close(ArcFileHandle* h);
int64_t arc_read(ArcFileHandle* h, void* buffer, int64_t count);
int64_t arc_write(ArcFileHandle* h, const void* buffer, int64_t count);
bool arc_seek(ArcFileHandle* h, int64_t offset, int origin);
int64_t arc_size(ArcFileHandle* h);
bool arc_eof(ArcFileHandle* h);
// The file now ends at the current position.
bool arc_truncate(ArcFileHandle* h);
bool arc_stat(ArcFileHandle* h, ArcStatRecord* record);
// Deletes a disk file or a catalogue entry (its bytes become a filler); fails
// with 11 while it is open.
bool arc_remove(const char* path);

ArcCatalogHandle* arc_open_catalog(const char* path, int create);
bool arc_close_catalog(ArcCatalogHandle* h);
// Patterns: literal text, "?" (one character), "*" (any run); case-insensitive.
// Returns null when no entry matches.
ArcSearchHandle* arc_find_first(ArcCatalogHandle* h, const char* pattern, ArcFindRecord* record);
bool arc_find_next(ArcSearchHandle* s, ArcFindRecord* record);
bool arc_find_close(ArcSearchHandle* s);

// --- Catalogue changes that the game may watch at any instant ---
//
// The game reads a catalogue/data pair itself, at any time. So the data file's bytes
// that the catalogue on disk lists are not overwritten: a stored entry's data is
// added past them (the entry moves to the end of the list), and the catalogue is
// replaced by writing it beside, syncing and renaming it over the old one, which is
// the single commit point of every change. The one exception is an entry rewritten
// with the same number of stored bytes while the change journal covers the data
// file: it keeps its place (and nothing behind it moves), its old bytes saved by the
// journal first, so a crash still brings them back. Bytes that no entry owns any more (a
// rewritten or removed entry's) stay listed under a filler name of the library's
// own ("Hullwright\unused\<n>"), so that the entries after them keep their
// offsets. Fillers are not files: searches skip them, they cannot be opened for
// writing, and new entries cannot take their names. Trailing fillers are cut off
// when a catalogue is stored; when the fillers outweigh the entries (and hold at
// least the compaction threshold), storing the catalogue also compacts the pair, in
// steps that keep it valid throughout.

// Stores `size` bytes read from the descriptor `fd` (from its current position) as the
// plain entry `path` ("<cat>::<entry>"), replacing an entry of that name: read, scrambled
// and written straight into the data file in blocks, never held whole nor copied into
// a scratch file first. The entry's place follows the rules above. False when the
// source ends early or cannot be read (the entry is then left empty, as a failed
// arc_close leaves it), when the data or catalogue cannot be written, or with 11
// while the entry is open.
bool arc_store_plain(const char* path, int fd, int64_t size);

// Bytes held by fillers, or -1 for a null handle.
int64_t arc_catalog_unused(ArcCatalogHandle* h);
// True for a filler's entry name (either separator, any letter case).
bool arc_is_filler_name(const char* name);
constexpr int64_t ARC_DEFAULT_COMPACT_MIN = int64_t(1) << 20; // 1 MiB
// Sets the least filler room that is compacted (a value < 1 restores the default)
// and returns the previous one. For tests; a kill-point harness sets the starting
// value through the environment (VEGA_ARC_COMPACT_MIN, bytes).
int64_t arc_set_compact_threshold(int64_t bytes);

// Copies the whole source into the destination (mode 1) from its start; does not
// cut a longer destination (the caller truncates).
bool arc_copy(ArcFileHandle* source, ArcFileHandle* destination);

// --- Memory bound ---
//
// Whatever the library holds in memory whole is refused above this many bytes with
// ARC_E_TOOLARGE, before anything of that size is allocated: the stored bytes of an
// entry or packed disk file opened with arc_open (and, unpacked, its content: the
// inflater stops as soon as the output passes the cap), catalogue text, a plain disk
// source that arc_copy reads into a memory file, and arc_gzip_decode/arc_unpack
// output. Data written into a file object is not capped. Streams (below) are not
// capped: they never hold a file whole.
constexpr int64_t ARC_DEFAULT_MEMORY_CAP = int64_t(256) << 20; // 256 MiB
int64_t arc_memory_cap();
// Sets the cap (a value < 1 restores the default) and returns the previous one.
// For tests; the default holds for the programs.
int64_t arc_set_memory_cap(int64_t cap);

// --- Streaming reads: the content of a disk file or entry in order, in bounded memory ---
//
// Type as for arc_open (0 automatic, 1 plain, 2 packed). Plain data is read from
// the data file (or disk file) in chunks, packed data is unscrambled and inflated
// chunk by chunk; the gzip trailer's CRC-32 and length are checked at the end, so
// the end of the data is only reported once it is verified. The codes are those of
// arc_open and the whole-buffer decoder; ARC_E_GZ_RESERVED (reserved gzip flag bits)
// still yields the data and counts as success. An entry of size 0 is empty in every
// type, as with arc_open.
//
// While a stream is open its name counts as open for reading: opening it for
// writing fails with 8, removing it with 11. The stream holds its catalogue open;
// other entries of that catalogue may still be rewritten meanwhile (the stream
// follows its entry's offset). A stream is not a file handle: arc_* handle calls
// do not take it.
struct ArcStream;
// Null on failure (code in arc_last_error()).
ArcStream* arc_stream_open(const char* path, int type);
// Up to count bytes; 0 at the verified end (and for count 0), -1 on failure. A
// failure is final: later calls return -1 again.
int64_t arc_stream_read(ArcStream* s, void* buffer, int64_t count);
// ARC_OK, ARC_E_GZ_RESERVED (data complete and valid) or the failure's code.
int arc_stream_error(const ArcStream* s);
// Releases the stream; true when it had not failed. Leaves the last-error slot
// as it is, so that a failed read's code can still be read afterwards.
bool arc_stream_close(ArcStream* s);

// Receives the data of arc_stream in order; 0 to go on, any other value stops the
// stream and becomes arc_stream's result (and the last error).
typedef int (*ArcSink)(void* ctx, const unsigned char* data, size_t size);
// Opens, reads to the end into the sink, closes. Returns ARC_OK or
// ARC_E_GZ_RESERVED when all data was delivered and verified, else the code.
int arc_stream(const char* path, int type, ArcSink sink, void* ctx);

// The process-wide code of the last failure, a handle's own last code, and the
// fixed message of a code ("Internal error." for unknown codes).
int arc_last_error();
// The system error (errno) behind the last ARC_E_INTERNAL failure; 0 when unknown.
int arc_last_errno();
int arc_handle_error(ArcFileHandle* h);
const char* arc_error_message(int code);

// --- Packed form and catalogue text, usable on their own (tools, tests, fuzzers) ---

// Codec status values of the gzip layer.
enum ArcCodecStatus : int {
    ARC_GZ_OK = 0,
    ARC_GZ_RESERVED = 1,
    ARC_GZ_NOMAGIC = -1,
    ARC_GZ_TOOSHORT = -2,
    ARC_GZ_DATACRC = -3,
    ARC_GZ_HEADERCRC = -4,
    ARC_GZ_METHOD = -5,
    ARC_GZ_ZLIB = -6,
    ARC_GZ_TOOLARGE = -7, // the output would pass the memory cap (ARC_E_TOOLARGE)
    ARC_GZ_INTERNAL = -8,
};
// Maps a codec status to an error code.
int arc_codec_error(int status);

// A buffer is packed when it has >= 3 bytes and, with c = b[0]^0x3C, b[1]^c == 0x1F
// and b[2]^c == 0x8B.
bool arc_is_packed(const unsigned char* data, size_t length);

// Reads one gzip member (any RFC 1952 header). The trailer's length is trusted only
// up to what deflate can produce from the input, so a forged trailer cannot cause a
// huge allocation, and only up to the memory cap (ARC_GZ_TOOLARGE above it); the
// inflater never writes past that length. Returns a codec status; status 1
// (reserved flag bits) still yields the data.
int arc_gzip_decode(const unsigned char* data, size_t length, std::vector<unsigned char>& out,
                    uint32_t* mtime);
// Writes one gzip member: level 9, raw deflate, memory level 9, OS byte 11.
int arc_gzip_encode(const unsigned char* data, size_t length, uint32_t mtime,
                    std::vector<unsigned char>& out, const char* name = nullptr,
                    const char* comment = nullptr);
// Packed form = key byte ^ 0x3C, then the gzip member XORed with the key (unscrambled
// on the fly; the member is not copied). Same statuses and cap as arc_gzip_decode.
int arc_unpack(const unsigned char* data, size_t length, std::vector<unsigned char>& out,
               uint32_t* mtime);
// key < 0 picks a key from the processor clock.
int arc_pack(const unsigned char* data, size_t length, uint32_t mtime,
             std::vector<unsigned char>& out, int key = -1);

// Scrambles or unscrambles catalogue text in place (the same operation).
void arc_scramble_catalog(unsigned char* data, size_t length, size_t startIndex = 0);

struct ArcCatalogLine
{
    std::string name; // backslashes
    int64_t size;
};
// Parses unscrambled catalogue text: the first line is the data-file line, every
// further line "name size" split at the last blank. Returns 0, 9 for a line without
// a blank, 15 for a size that is negative or too large, 10 for empty text.
int arc_parse_catalog_text(const char* text, size_t length, std::string& datLine,
                           std::vector<ArcCatalogLine>& entries);

// Longest name component and whole entry name, in bytes, that arc_valid_entry_name
// accepts: what common file systems take for a name and a path.
enum { ARC_MAX_NAME_COMPONENT = 255, ARC_MAX_ENTRY_NAME = 4095 };

// True when an entry name is acceptable for a new entry: not empty, none of
// / : * < > | and no control character (below 0x20, or 0x7F), not absolute (leading
// backslash), no ".." component, and within the lengths above.
bool arc_valid_entry_name(const char* name);
