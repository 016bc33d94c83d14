// Small helpers shared by the Hullwright test programs.
#pragma once

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTest>
#ifdef QT_WIDGETS_LIB
#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QTabWidget>
#include <QTreeWidget>
#include <QWidget>
#endif

// "<unreadable>" rather than empty, so a missing file never equals an empty one.
inline QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

#if __has_include("lzmafile.h")
#include "lzmafile.h"
// The LZMA modes whose encoding of a package's document gives the package's
// bytes. A small document may come out the same in both.
inline QList<int> EncodedModes(const QString& package)
{
    const QString document = package + QStringLiteral(".doc");
    const QString again = package + QStringLiteral(".again");
    QList<int> modes;
    if (DecompressFile(package, document))
        for (LzmaMode mode : {LzmaMode::Standard, LzmaMode::Fast})
            if (CompressFile(document, again, nullptr, mode) && readFile(again) == readFile(package))
                modes << int(mode);
    QFile::remove(document);
    QFile::remove(again);
    return modes;
}
#endif

// Makes the folder; with a time, sets the file's modification time to it.
inline bool writeFile(const QString& path, const QByteArray& bytes, qint64 time = 0)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return false;
    return time == 0 || (f.flush() && f.setFileTime(QDateTime::fromSecsSinceEpoch(time),
                                                    QFileDevice::FileModificationTime));
}

// A creator settings file that points at the game directory.
inline bool writeConfig(const QString& program, const QString& game, const QByteArray& more = {})
{
    return writeFile(program + "/config.dat",
                     "<creator>\nVegaDir: " + game.toLocal8Bit() + "\n" + more + "</creator>\n");
}

// Cell text with the escapes \n, \r, \t, \\ and \xNN replaced; any other
// backslash stays, as in the game's paths.
inline QByteArray unescape(const QByteArray& cell)
{
    QByteArray out;
    for (qsizetype i = 0; i < cell.size(); ++i) {
        const char next = i + 1 < cell.size() ? cell[i + 1] : 0;
        const qsizetype k = next ? QByteArray("nrt\\").indexOf(next) : -1;
        if (cell[i] == '\\' && next == 'x') {
            out += char(cell.mid(i + 2, 2).toInt(nullptr, 16));
            i += 3;
        } else if (cell[i] == '\\' && k >= 0) {
            out += "\n\r\t\\"[k];
            ++i;
        } else {
            out += cell[i];
        }
    }
    return out;
}

// The rows of data/<name>, tab-separated cells with escapes; "#" starts a comment line.
inline QList<QStringList> tableRows(const QString& name)
{
    QFile f(QFINDTESTDATA("data/" + name));
    if (!f.open(QIODevice::ReadOnly))
        qFatal("cannot read the table %s", qPrintable(name));
    QList<QStringList> rows;
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.isEmpty() || line.startsWith('#'))
            continue;
        QStringList cells;
        for (const QByteArray& cell : line.split('\t'))
            cells << QString::fromLatin1(unescape(cell));
        rows << cells;
    }
    return rows;
}

// The stand-in model compiler (data/stand-in-compiler.sh) at path, executable.
inline bool installCompiler(const QString& path)
{
    return QDir().mkpath(QFileInfo(path).absolutePath()) &&
           QFile::copy(QFINDTESTDATA("data/stand-in-compiler.sh"), path) &&
           QFile::setPermissions(path, QFile::ReadOwner | QFile::ExeOwner);
}

struct Result
{
    int code = -1; // -1: did not finish or crashed
    QByteArray out, err;
};

inline Result run(const QString& program, const QStringList& args,
                  const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment())
{
    QProcess p;
    p.setProcessEnvironment(env);
    p.start(program, args);
    Result r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit)
        r = {p.exitCode(), p.readAllStandardOutput(), p.readAllStandardError()};
    return r;
}

// Copies files and folders of the built program folder into program.
inline bool copyProgramFiles(const QString& program, const QStringList& names)
{
    QStringList args{"-r"};
    for (const QString& name : names)
        args << qEnvironmentVariable("VEGA_PROGRAM_DIR") + '/' + name;
    return QDir().mkpath(program) && run("cp", args << program).code == 0;
}

// Every file below root, relative to it, sorted.
inline QStringList filesBelow(const QString& root)
{
    QStringList files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files << QDir(root).relativeFilePath(it.next());
    files.sort();
    return files;
}

#ifdef QT_WIDGETS_LIB
// With HULLWRIGHT_SCREENSHOTS=DIR, saves the widget as DIR/name.png.
inline void screenshot(QWidget* w, const QString& name)
{
    const QString dir = qEnvironmentVariable("HULLWRIGHT_SCREENSHOTS");
    if (dir.isEmpty())
        return;
    QDir().mkpath(dir);
    w->show();
    QCoreApplication::processEvents();
    w->grab().save(dir + QLatin1Char('/') + name + ".png");
}

// Every text a user can see in a widget tree.
inline QStringList visibleTexts(QWidget* root)
{
    QStringList texts{root->windowTitle()};
    for (QWidget* w : root->findChildren<QWidget*>()) {
        if (auto* l = qobject_cast<QLabel*>(w))
            texts << l->text();
        if (auto* b = qobject_cast<QAbstractButton*>(w))
            texts << b->text() << b->toolTip();
        if (auto* g = qobject_cast<QGroupBox*>(w))
            texts << g->title();
        if (auto* t = qobject_cast<QTabWidget*>(w))
            for (int i = 0; i < t->count(); ++i)
                texts << t->tabText(i);
        if (auto* m = qobject_cast<QMenu*>(w))
            texts << m->title();
        if (auto* tree = qobject_cast<QTreeWidget*>(w))
            for (int i = 0; i < tree->columnCount(); ++i)
                texts << tree->headerItem()->text(i);
    }
    for (QAction* a : root->findChildren<QAction*>())
        texts << a->text() << a->toolTip();
    return texts;
}
#endif
