// hullwright-cli balance and profile: the balancer of "Balance Ship" on one
// record, and profiles made from a ship table, as "Import" in the profile editor.

#include "balancer.h"
#include "commands.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <cstdio>

namespace {

void note(const QString& message)
{
    const QByteArray line = "hullwright-cli: " + message.toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

QString recordArgument(const QString& arg)
{
    if (arg != QLatin1String("-"))
        return arg;
    QFile in;
    return in.open(stdin, QIODevice::ReadOnly) ? QString::fromLatin1(in.readLine()) : QString();
}

bool parseInt(const QString& text, int* v)
{
    bool ok = false;
    *v = text.trimmed().toInt(&ok);
    return ok;
}

} // namespace

int balanceCommand(const QStringList& args)
{
    QStringList plain;
    BalanceMode mode = BalanceMode::Equal;
    std::optional<BalanceSlider> moved;
    QString movedValue;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--mode") && i + 1 < args.size()) {
            const QString m = args.at(++i);
            if (m == QLatin1String("equal"))
                mode = BalanceMode::Equal;
            else if (m == QLatin1String("lowest"))
                mode = BalanceMode::LowestFirst;
            else if (m == QLatin1String("highest"))
                mode = BalanceMode::HighestFirst;
            else
                return cliUsageError(QStringLiteral("unknown mode: ") + m);
        } else if (a == QLatin1String("--moved") && i + 1 < args.size()) {
            const QString m = args.at(++i);
            const int eq = int(m.indexOf(QLatin1Char('=')));
            moved = BalanceSliderFromName(eq < 0 ? m : m.left(eq));
            if (!moved)
                return cliUsageError(QStringLiteral("unknown slider: ") + m);
            if (eq >= 0)
                movedValue = m.mid(eq + 1);
        } else if (a.startsWith(QLatin1String("--")) && a != QLatin1String("-")) {
            return cliUsageError(QStringLiteral("unknown option: ") + a);
        } else {
            plain << a;
        }
    }
    if (plain.size() != 2)
        return cliUsageError(QStringLiteral("balance needs a record and a profile"));
    const QString record = recordArgument(plain.at(0));
    if (record.trimmed().isEmpty())
        return cliFail(QStringLiteral("the ship record is empty"));
    ProfileFile pf;
    QString error;
    if (!ReadProfileFile(plain.at(1), &pf, &error))
        return cliFail(error);
    if (!pf.problem.isEmpty())
        return cliFail(QStringLiteral("%1 cannot be used: %2").arg(plain.at(1), pf.problem));
    const ProfileChoice choice = FittingProfiles({pf}, record);
    if (choice.usable.isEmpty())
        return cliFail(QStringLiteral("the profile is for class %1 (variant %2); the ship is "
                                      "class %3, variant %4")
                           .arg(pf.profile.shipClass)
                           .arg(pf.profile.variant)
                           .arg(choice.shipClass)
                           .arg(choice.variant));
    Balancer b(pf.profile);
    if (!b.load(record, &error))
        return cliFail(error);
    if (b.shieldsOutside())
        note(QStringLiteral("the ship's shields (type %1, count %2) lie outside the profile; "
                            "they stay as they are")
                 .arg(b.loadedShields().type)
                 .arg(b.loadedShields().count));
    if (moved && !movedValue.isEmpty()) {
        // The value as the record holds it (the shield slider: its position).
        int v = 0;
        if (!parseInt(movedValue, &v))
            return cliUsageError(QStringLiteral("not a number: ") + movedValue);
        const qint64 offset = *moved == BalanceSlider::Shields ? 0 : b.range(*moved).min;
        b.setValue(*moved, int(std::clamp<qint64>(v - offset, INT_MIN, INT_MAX)));
    }
    const BalanceRun run = b.balance(mode, moved);
    cliWriteOut("average before: " + QByteArray::number(run.averageBefore) + '\n');
    cliWriteOut("average after: " + QByteArray::number(run.averageAfter) + '\n');
    cliWriteOut(b.record().toLatin1() + '\n');
    if (!run.reached())
        note(QStringLiteral("100 cannot be reached: %1; the closest state is kept")
                 .arg(BalanceStopText(run.stop)));
    return 0;
}

int profileCommand(const QStringList& args)
{
    if (args.value(0) != QLatin1String("import"))
        return cliUsageError(QStringLiteral("profile knows only import"));
    QStringList plain;
    QList<int> variants;
    int shipClass = -1;
    QString name;
    for (int i = 1; i < args.size(); ++i) {
        const QString& a = args.at(i);
        int v = 0;
        if ((a == QLatin1String("--class") || a == QLatin1String("--variant")) &&
            i + 1 < args.size()) {
            if (!parseInt(args.at(++i), &v) || v < 0)
                return cliUsageError(a + QStringLiteral(" needs a number of 0 or more"));
            if (a == QLatin1String("--class"))
                shipClass = v;
            else
                variants << v;
        } else if (a == QLatin1String("--name") && i + 1 < args.size()) {
            name = args.at(++i);
        } else if (a.startsWith(QLatin1String("--"))) {
            return cliUsageError(QStringLiteral("unknown option: ") + a);
        } else {
            plain << a;
        }
    }
    if (plain.size() != 2 || shipClass < 0)
        return cliUsageError(QStringLiteral("profile import needs TABLE, --class N and OUT"));
    QString out = plain.at(1);
    if (!out.endsWith(QLatin1String(".xbp"), Qt::CaseInsensitive))
        out += QStringLiteral(".xbp");
    QTemporaryDir work(cliWorkTemplate());
    if (!work.isValid())
        return cliFail(QStringLiteral("no temporary folder: ") + work.errorString());
    ProfileImport imported = ImportProfileFromTable(plain.at(0), shipClass, variants, work.path());
    if (!imported.ok)
        return cliFail(imported.error);
    const QFileInfo target(out);
    imported.profile.fileName = target.completeBaseName();
    imported.profile.name = name.isEmpty() ? target.completeBaseName() : name;
    QString error;
    if (!WriteProfile(target.absolutePath(), imported.profile, &error))
        return cliFail(error);
    cliWriteOut(QStringLiteral("wrote %1 from %2 ships\n").arg(out).arg(imported.ships).toLocal8Bit());
    if (const QString why = ProfileProblem(imported.profile); !why.isEmpty())
        note(QStringLiteral("the profile cannot be used for balancing: ") + why);
    return 0;
}
