// The outer container of ship packages: one LZMA1 stream in the LZMA-alone form
// (properties 0x5D, 2 MiB dictionary, the real 64-bit size, no end marker).
#pragma once

#include <QString>

class ProgressSink;

// Encodes the whole source file into the target. True on success; a failed
// encode leaves no target behind.
bool CompressFile(const QString& source, const QString& target, ProgressSink* progress = nullptr);
// Decodes exactly the size the header states (or up to the end marker when the
// header says the size is unknown). Corrupt or short streams return false and
// leave no target behind. Dictionaries that would need more than 1 GiB are refused.
bool DecompressFile(const QString& source, const QString& target, ProgressSink* progress = nullptr);
