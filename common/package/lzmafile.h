// The outer container of ship packages: one LZMA1 stream in the LZMA-alone form
// (properties 0x5D, 2 MiB dictionary, the real 64-bit size, no end marker).
#pragma once

#include <QIODevice>
#include <QString>

#include <memory>

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
