// The scratch folders of one editor window ("Slipway" with the unpacked package,
// "temp"). Two windows never share them: closing one must not delete the files
// the other is editing.
#pragma once

#include <QString>

#include <memory>

class QLockFile;

class WindowWorkFolder
{
public:
    // The first window takes the program folder itself (its "Slipway" and
    // "temp"); a window started while that one runs gets a folder of its own
    // below <programDir>/work. Such folders left by windows that are gone (their
    // lock is free) are removed first.
    explicit WindowWorkFolder(const QString& programDir);
    ~WindowWorkFolder(); // a folder of its own is removed with everything in it
    WindowWorkFolder(const WindowWorkFolder&) = delete;
    WindowWorkFolder& operator=(const WindowWorkFolder&) = delete;

    // The folder that holds this window's "Slipway" and "temp".
    QString root() const { return m_root; }
    bool ownFolder() const { return m_own; }

private:
    QString m_root;
    bool m_own = false;
    std::unique_ptr<QLockFile> m_lock;
};
