// The outer container of ship packages: one LZMA1 stream in the LZMA-alone form
// (properties 0x5D, 2 MiB dictionary, the real 64-bit size, no end marker).
#pragma once

#include <QIODevice>
#include <QString>

#include <memory>

class QFile;
class ProgressSink;

// Fast trades a little size for a much quicker encoder; the header and the
// stream form stay the same, so every reader takes both.
enum class LzmaMode { Standard, Fast };

// Encodes the whole source file into the target. True on success; a failed
// encode leaves no target behind.
bool CompressFile(const QString& source, const QString& target, ProgressSink* progress = nullptr,
                  LzmaMode mode = LzmaMode::Standard);

// The same container written as a stream: each write is encoded at once and the
// size in the header is filled in by finish(), so the whole input is never
// stored. The target appears only when finish() succeeds; a failed write, or
// destroying the device unfinished, leaves no target behind.
class LzmaFileWriter : public QIODevice
{
public:
    explicit LzmaFileWriter(const QString& target, LzmaMode mode = LzmaMode::Standard);
    ~LzmaFileWriter() override;
    bool open(); // write-only; false when the target or the encoder cannot start
    bool finish();
    bool isSequential() const override { return true; }

protected:
    qint64 readData(char*, qint64) override { return -1; }
    qint64 writeData(const char* data, qint64 size) override;

private:
    struct State;
    std::unique_ptr<State> m_state;
};
// Decodes exactly the size the header states (or up to the end marker when the
// header says the size is unknown). Corrupt or short streams return false and
// leave no target behind. Dictionaries that would need more than 1 GiB are refused.
bool DecompressFile(const QString& source, const QString& target, ProgressSink* progress = nullptr);

// Reads the decoded bytes of an LZMA-alone stream as they are decoded, so that a
// reader can stop at its own limits before the whole stream is unpacked. The
// device is sequential; bytesAvailable() is the stated size still to come (or a
// large stand-in while an unknown-size stream has not ended). A corrupt or short
// stream makes read() fail; `failed()` then tells it from a clean end.
class LzmaReadDevice : public QIODevice
{
public:
    // `source` is read from its current position, which must be the stream's header;
    // the caller keeps it open for the device's life.
    explicit LzmaReadDevice(QFile& source);
    ~LzmaReadDevice() override;
    bool open(OpenMode mode) override; // the header is read and checked here
    void close() override;
    bool isSequential() const override { return true; }
    qint64 bytesAvailable() const override;
    qint64 statedSize() const { return m_stated; } // -1: unknown
    qint64 decoded() const { return m_decoded; }   // bytes handed out by readData
    bool failed() const { return m_failed; }

protected:
    qint64 readData(char* data, qint64 max) override;
    qint64 writeData(const char*, qint64) override { return -1; }

private:
    struct Coder;
    QFile& m_src;
    std::unique_ptr<Coder> m_coder;
    qint64 m_stated = -1;
    qint64 m_decoded = 0;
    bool m_ended = false;
    bool m_failed = false;
};
