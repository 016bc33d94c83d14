// The model file the package benchmarks embed: alternating 64 KiB runs of
// table-like text and random bytes from a fixed seed, so that every machine
// packs the same bytes.
#pragma once

#include <QByteArray>
#include <QCryptographicHash>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstring>
#include <random>

constexpr quint64 kBenchModelSeed = 20240601;

// Written in blocks so that the bench never holds the model. Returns its SHA-1,
// empty on failure. Models of one ship take seeds of their own (an offset), or
// they would be copies of one another.
inline QByteArray WriteBenchModel(const QString& path, qint64 size, quint64 seedOffset = 0)
{
    QFile out(path);
    if (!out.open(QIODevice::WriteOnly))
        return {};
    std::mt19937_64 random(kBenchModelSeed + seedOffset);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    constexpr qint64 kRun = 64 * 1024;
    QByteArray block;
    qint64 written = 0;
    for (qint64 run = 0; written < size; ++run) {
        block.clear();
        if (run % 2 == 0) {
            while (block.size() < kRun) {
                const quint64 r = random();
                block += QByteArray::number(r % 100000) + ';' +
                         QByteArray::number(r >> 40 & 0xfff) + ";-" +
                         QByteArray::number(r >> 20 & 0x3ff) + "; // point " +
                         QByteArray::number(block.size()) + "\r\n";
            }
            block.truncate(kRun);
        } else {
            block.resize(kRun);
            for (qint64 i = 0; i < kRun; i += 8) {
                const quint64 r = random();
                std::memcpy(block.data() + i, &r, 8);
            }
        }
        block.truncate(qMin<qint64>(block.size(), size - written));
        if (out.write(block) != block.size())
            return {};
        hash.addData(block);
        written += block.size();
    }
    return hash.result().toHex();
}

inline QByteArray FileSha1(const QString& path)
{
    QFile f(path);
    QCryptographicHash hash(QCryptographicHash::Sha1);
    if (!f.open(QIODevice::ReadOnly) || !hash.addData(&f))
        return {};
    return hash.result().toHex();
}

// Output helpers shared by the benchmarks: results on stdout, failures on stderr
// prefixed with the bench's name.
inline void BenchPrint(const QString& text)
{
    const QByteArray bytes = text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
    std::fflush(stdout);
}

inline int BenchFail(const char* bench, const QString& text)
{
    const QByteArray bytes = QByteArray(bench) + ": " + text.toLocal8Bit() + '\n';
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    return 1;
}

inline QString BenchSeconds(qint64 ms)
{
    return QString::number(static_cast<double>(ms) / 1000.0, 'f', 2) + QStringLiteral(" s");
}
