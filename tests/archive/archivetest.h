// Helpers shared by the archive test programs (each includes this once).
#pragma once

#include "arc.h"

#include <QFile>
#include <QtTest>

#include <atomic>
#include <cstdlib>
#include <new>

// The largest single allocation through operator new while an AllocationWatch
// lives: the library's buffers are std::vectors, so a forged size that made it
// ask for the claimed bytes shows here.
namespace allocation {
inline std::atomic<bool> watching{false};
inline std::atomic<std::size_t> largest{0};
} // namespace allocation

void* operator new(std::size_t size)
{
    if (allocation::watching.load(std::memory_order_relaxed)) {
        std::size_t seen = allocation::largest.load(std::memory_order_relaxed);
        while (size > seen && !allocation::largest.compare_exchange_weak(seen, size)) {
        }
    }
    if (void* p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}
void operator delete(void* p) noexcept
{
    std::free(p);
}
void operator delete(void* p, std::size_t) noexcept
{
    std::free(p);
}

struct AllocationWatch
{
    AllocationWatch()
    {
        allocation::largest = 0;
        allocation::watching = true;
    }
    ~AllocationWatch() { allocation::watching = false; }
    static std::size_t largest() { return allocation::largest; }
};

inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

inline bool writeFile(const QString& path, const QByteArray& data)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(data) == data.size();
}

inline QByteArray xorWith(QByteArray data, uchar key)
{
    for (char& c : data)
        c = char(uchar(c) ^ key);
    return data;
}

inline const unsigned char* u(const QByteArray& b)
{
    return reinterpret_cast<const unsigned char*>(b.constData());
}

inline bool isPacked(const QByteArray& b)
{
    return arc_is_packed(u(b), size_t(b.size()));
}

// Stores the bytes under a path ("x.cat::entry" or a disk file) as they are, or
// packed with ARC_TYPE_PACKED.
inline bool putEntry(const QString& path, const QByteArray& data, int type = ARC_TYPE_PLAIN)
{
    ArcFileHandle* h = arc_open(QFile::encodeName(path).constData(), ARC_MODE_WRITE, 1, type);
    if (!h)
        return false;
    arc_seek(h, 0, ARC_SEEK_SET);
    const bool written = arc_write(h, data.constData(), data.size()) == data.size();
    arc_truncate(h);
    return arc_close(h) && written;
}
