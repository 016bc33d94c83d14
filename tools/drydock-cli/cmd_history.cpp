// drydock-cli history, undo and redo: a game directory's change history and the
// undo of its last change.

#include "changehistory.h"
#include "clisession.h"
#include "commands.h"
#include "gamedir.h"
#include "installerengine.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>

namespace {

QString undoState(const HistoryEntry& e)
{
    if (e.undoable)
        return QStringLiteral("undo");
    if (e.redoable)
        return QStringLiteral("redo");
    return QStringLiteral("-");
}

QString shipsText(const HistoryEntry& e)
{
    QStringList out;
    for (qsizetype k = 0; k < e.ships.size(); ++k) {
        const int slot = k < e.shipSlots.size() ? e.shipSlots.at(k) : -1;
        out << (slot > 0 ? QStringLiteral("%1 (slot %2)").arg(e.ships.at(k)).arg(slot) : e.ships.at(k));
    }
    return out.join(QStringLiteral(", "));
}

int history(const QString& gameDir, bool json)
{
    QList<HistoryEntry> entries;
    QString error;
    if (!ChangeHistory::read(gameDir, &entries, &error))
        return cliFail(error);
    if (json) {
        QJsonArray list;
        for (auto it = entries.crbegin(); it != entries.crend(); ++it) {
            QJsonObject o = it->toJson();
            o.insert(QStringLiteral("undoable"), it->undoable);
            o.insert(QStringLiteral("redoable"), it->redoable);
            o.insert(QStringLiteral("undoBytes"), it->dataBytes);
            list.append(o);
        }
        const HistoryEntry* undo = ChangeHistory::nextUndo(entries);
        const HistoryEntry* redo = ChangeHistory::nextRedo(entries);
        cliWriteJson(QJsonObject{{QStringLiteral("game"), QDir::toNativeSeparators(gameDir)},
                                 {QStringLiteral("nextUndo"), undo ? QJsonValue(undo->id) : QJsonValue()},
                                 {QStringLiteral("nextRedo"), redo ? QJsonValue(redo->id) : QJsonValue()},
                                 {QStringLiteral("entries"), list}});
        return 0;
    }
    // id, time, program, operation, ships, files, undo state, TAB-separated, newest first.
    QByteArray out;
    for (auto it = entries.crbegin(); it != entries.crend(); ++it)
        out += QStringList{QString::number(it->id), it->time.toString(Qt::ISODate), it->program,
                           it->operation, shipsText(*it), QString::number(it->files.size()),
                           undoState(*it)}
                   .join(QLatin1Char('\t'))
                   .toLocal8Bit() +
               '\n';
    cliWriteOut(out);
    return 0;
}

int undo(const QString& gameDir, bool redo)
{
    // A writer like any other: the session takes the lock and rolls back a crashed change.
    CliSession s(gameDir);
    if (!s.engine().writeRefusal().isEmpty())
        return cliFail(s.engine().writeRefusal());
    QString error;
    HistoryEntry done;
    const bool ok = s.engine().undo(redo, &error, &done);
    if (done.id == 0)
        return cliFail(error);
    cliWriteOut((done.operation + QLatin1Char('\n')).toLocal8Bit());
    return ok ? 0 : cliFail(error);
}

} // namespace

int historyCommand(const QStringList& args)
{
    const QString command = args.first();
    QStringList positional;
    bool json = false;
    for (const QString& a : args.mid(1)) {
        if (a == QLatin1String("--json") && command == QLatin1String("history"))
            json = true;
        else if (a.startsWith(QLatin1Char('-')) && a.size() > 1)
            return cliUsageError(QStringLiteral("unknown option '%1'").arg(a));
        else
            positional << a;
    }
    if (positional.size() != 1)
        return cliUsageError(QStringLiteral("'%1' takes GAMEDIR").arg(command));
    const QString gameDir = QDir::cleanPath(QFileInfo(positional.first()).absoluteFilePath());
    if (!IsValidGameDir(gameDir))
        return cliFail(QDir::toNativeSeparators(gameDir) +
                       QStringLiteral(": not a game directory (no vega.exe)"));
    if (command == QLatin1String("history"))
        return history(gameDir, json);
    return undo(gameDir, command == QLatin1String("redo"));
}
