// Small shared operations: version comparison, text templates, folder trees,
// block copies and the dated debug logs.
#pragma once

#include <QString>

class QIODevice;
class ProgressSink;

// Letters become number components: "a" -> ".1.", "z" -> ".26." (either case).
QString VersionLettersToNumbers(const QString& version);
// +1 when b is newer than a, -1 when older, 0 when equal.
int CompareVersions(const QString& a, const QString& b);
// Fills "%1", "%2", "%3" in one pass (a filled-in text is not searched again);
// missing texts count as empty.
QString FormatText(const QString& templ, const QString& t1 = QString(),
                   const QString& t2 = QString(), const QString& t3 = QString());
// Creates the missing folders of a "/"-separated relative path below base.
void MakePath(const QString& base, const QString& relative);
// Removes a folder tree; with removeFiles false it fails where files remain. Links
// inside are removed, never followed.
bool RemoveTree(const QString& path, bool removeFiles);
// A new work folder "<parent>/<prefix>-<pid>-<random>"; empty when none can be made.
// The process number in the name lets a later run tell a killed run's leftovers.
QString MakeWorkFolder(const QString& parent, const QString& prefix);
// Removes the work folders of `prefix` below parent whose process no longer runs.
void RemoveStaleWorkFolders(const QString& parent, const QString& prefix);
// Copies source's size to target in blocks, reporting progress. False when the
// source ended early or the target refused a block.
bool CopyFileData(QIODevice& source, QIODevice& target, qint64 blockSize,
                  ProgressSink* progress = nullptr);
// Appends "[dd:MM:yy - hh:mm:ss] message" to <programDir>/log/<logName>.txt.
// Nothing happens when the log name or the message is empty.
void WriteLog(const QString& programDir, const QString& logName, const QString& message);
