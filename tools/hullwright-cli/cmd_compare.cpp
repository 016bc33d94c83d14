// hullwright-cli compare: where a ship stands among the game's ships of its
// class, the numbers the class chart of the balance and customisation dialogs
// draws. One statistic a line, or JSON.

#include "classstats.h"
#include "commands.h"
#include "packagebuild.h"
#include "typetable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

QString number(double v)
{
    return QString::number(v, 'g', 6);
}

QByteArray textReport(const ClassStatistics& cs)
{
    QString out = QStringLiteral("%1: %2 ships of %3 entries (%4 filler lines, %5 without a "
                                 "readable class skipped)\n")
                      .arg(cs.selection.describe())
                      .arg(cs.inClass)
                      .arg(cs.entries)
                      .arg(cs.fillers)
                      .arg(cs.unplaceable);
    for (int i = 0; i < kClassStats; ++i) {
        const ClassStat s = ClassStat(i);
        const StatSummary& st = cs.stat(s);
        QString line = ClassStatName(s).leftJustified(16);
        if (st.count == 0) {
            line += QStringLiteral("no values");
        } else {
            line += QStringLiteral("min %1  q1 %2  median %3  q3 %4  max %5")
                        .arg(number(st.min), number(st.q1), number(st.median), number(st.q3),
                             number(st.max));
            if (st.shipPlaced)
                line += QStringLiteral("  ship %1  percentile %2")
                            .arg(number(st.shipValue), QString::number(st.percentile, 'f', 1));
        }
        if (!ClassStatUnit(s).isEmpty())
            line += QStringLiteral("  [%1]").arg(ClassStatUnit(s));
        line += QStringLiteral("  (%1 ships").arg(st.count);
        if (st.skipped)
            line += QStringLiteral(", %1 not numbers").arg(st.skipped);
        out += line + QStringLiteral(")\n");
    }
    return out.toUtf8();
}

QByteArray jsonReport(const ClassStatistics& cs)
{
    QJsonObject doc;
    doc.insert(QStringLiteral("class"), cs.selection.number);
    doc.insert(QStringLiteral("entries"), cs.entries);
    doc.insert(QStringLiteral("fillers"), cs.fillers);
    doc.insert(QStringLiteral("unplaceable"), cs.unplaceable);
    doc.insert(QStringLiteral("ships"), cs.inClass);
    QJsonArray stats;
    for (int i = 0; i < kClassStats; ++i) {
        const ClassStat s = ClassStat(i);
        const StatSummary& st = cs.stat(s);
        QJsonObject o;
        o.insert(QStringLiteral("name"), ClassStatName(s));
        o.insert(QStringLiteral("unit"), ClassStatUnit(s));
        o.insert(QStringLiteral("count"), st.count);
        o.insert(QStringLiteral("skipped"), st.skipped);
        if (st.count > 0) {
            o.insert(QStringLiteral("min"), st.min);
            o.insert(QStringLiteral("q1"), st.q1);
            o.insert(QStringLiteral("median"), st.median);
            o.insert(QStringLiteral("q3"), st.q3);
            o.insert(QStringLiteral("max"), st.max);
        }
        if (st.shipPlaced) {
            o.insert(QStringLiteral("ship"), st.shipValue);
            o.insert(QStringLiteral("percentile"), st.percentile);
        }
        stats.append(o);
    }
    doc.insert(QStringLiteral("statistics"), stats);
    return QJsonDocument(doc).toJson(QJsonDocument::Indented);
}

} // namespace

int compareCommand(const QStringList& args)
{
    QStringList positional;
    QString game, record, classText;
    bool json = false, haveRecord = false;
    for (qsizetype i = 0; i < args.size(); ++i) {
        const QString& a = args[i];
        if (a == QLatin1String("--json"))
            json = true;
        else if (a == QLatin1String("--game") && i + 1 < args.size())
            game = args[++i];
        else if (a == QLatin1String("--record") && i + 1 < args.size())
            record = args[++i], haveRecord = true;
        else if (a == QLatin1String("--class") && i + 1 < args.size())
            classText = args[++i];
        else if (a.startsWith(QLatin1Char('-')) && a.size() > 1)
            return cliUsageError(QStringLiteral("unknown option '%1'").arg(a));
        else
            positional << a;
    }
    if (game.isEmpty() || positional.size() + (haveRecord ? 1 : 0) != 1)
        return cliUsageError(
            QStringLiteral("'compare' takes PKG or --record LINE, and --game GAMEDIR"));
    QTemporaryDir work;
    if (!work.isValid())
        return cliFail(QStringLiteral("cannot create a temporary folder: ") + work.errorString());
    if (!haveRecord) {
        PackageContext context;
        context.programDir = work.path();
        ShipPackage package;
        const OpenForEditResult r =
            OpenPackageForEditing(positional.first(), work.path(), package, context);
        if (!r.ok())
            return cliFail(positional.first() + QStringLiteral(": ") +
                           (r.error.isEmpty() ? r.read.error : r.error));
        record = package.Data;
    }
    if (record.trimmed().isEmpty())
        return cliFail(QStringLiteral("the ship record is empty"));
    std::optional<ClassSelection> selection;
    if (!classText.isEmpty()) {
        int n = 0;
        if (!ParseTableInt(classText, &n))
            return cliUsageError(QStringLiteral("--class takes a number, not '%1'").arg(classText));
        selection = ClassSelection::classNumber(n);
    } else {
        selection = ClassSelection::ofRecord(record);
        if (!selection)
            return cliFail(QStringLiteral("the record's class number (field 52) is not a number; "
                                          "give --class"));
    }
    QStringList entries;
    QString error;
    if (!LoadGameShipTable(game, work.path(), &entries, &error))
        return cliFail(error);
    const ClassStatistics cs = ComputeClassStatistics(entries, *selection, record);
    if (cs.inClass == 0)
        return cliFail(QStringLiteral("the game's ship table holds no ship of ") +
                       cs.selection.describe());
    cliWriteOut(json ? jsonReport(cs) : textReport(cs));
    return 0;
}
