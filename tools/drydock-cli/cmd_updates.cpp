// drydock-cli updates: the ship update check of the installer window, headless.
// It runs the same checker and downloader on an event loop of its own and
// installs through the engine as the window's update dialog does.

#include "clisession.h"
#include "commands.h"
#include "fileutils.h"
#include "gamedir.h"
#include "installerengine.h"
#include "installersettings.h"
#include "sysregistry.h"
#include "uiseams.h"
#include "uitexts.h"
#include "updatecheck.h"

#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QUrl>

#include <memory>

using namespace UpdateCheck;

namespace {

QByteArray local(const QString& text)
{
    return text.toLocal8Bit();
}

QString failureText(const ShipCheckResult& result)
{
    QStringList reasons;
    for (const Failure& f : result.failures)
        reasons << (f.address.isEmpty()
                        ? f.reason()
                        : f.reason() + QStringLiteral(" (") + f.address + QLatin1Char(')'));
    return QStringLiteral("failed: ") + reasons.join(QStringLiteral("; "));
}

QString statusWord(const ShipCheckResult& result)
{
    switch (result.outcome) {
    case ShipCheckResult::Outcome::Newer:
        return QStringLiteral("newer");
    case ShipCheckResult::Outcome::Same:
        return QStringLiteral("same");
    case ShipCheckResult::Outcome::Older:
        return QStringLiteral("older");
    case ShipCheckResult::Outcome::Failed:
        break;
    }
    return failureText(result);
}

} // namespace

int updatesCommand(const QStringList& args)
{
    QStringList positional;
    bool install = false;
    bool json = false;
    for (const QString& a : args) {
        if (a == QLatin1String("--install"))
            install = true;
        else if (a == QLatin1String("--json"))
            json = true;
        else if (a.startsWith(QLatin1Char('-')) && a.size() > 1)
            return cliUsageError(QStringLiteral("unknown option '%1'").arg(a));
        else
            positional << a;
    }
    if (positional.size() != 1)
        return cliUsageError(QStringLiteral("'updates' takes GAMEDIR [--install] [--json]"));
    const QString gameDir = QDir::cleanPath(QFileInfo(positional.first()).absoluteFilePath());
    if (!IsValidGameDir(gameDir))
        return cliFail(QDir::toNativeSeparators(gameDir) +
                       QStringLiteral(": not a game directory (no vega.exe)"));

    CliSession session(gameDir);
    InstallerEngine& engine = session.engine();
    const UiTexts& texts = session.texts();
    const QString programDir = session.programDir();

    QList<ShipCheck> jobs;
    for (const ShipPackage& ship : engine.registry().Ships)
        if (ship.Deleted == 0)
            jobs << ShipCheck::of(ship);

    QEventLoop loop;
    ShipUpdateChecker checker(&texts.ownTexts());
    QObject::connect(&checker, &ShipUpdateChecker::Signal_Finished, &loop, &QEventLoop::quit);
    checker.start(jobs);
    if (!jobs.isEmpty())
        loop.exec();

    bool allGood = true;
    QStringList newer;
    QByteArray out;
    QJsonArray ships, installs;
    for (qsizetype i = 0; i < jobs.size(); ++i) {
        const ShipCheckResult& r = checker.results().at(i);
        const bool failed = r.outcome == ShipCheckResult::Outcome::Failed;
        allGood = allGood && !failed;
        if (r.outcome == ShipCheckResult::Outcome::Newer)
            newer << r.fileAddress;
        const QString status = statusWord(r);
        out += local(QStringList{jobs.at(i).name, jobs.at(i).installedVersion,
                                 failed ? QStringLiteral("-") : r.remoteVersion, status}
                         .join(QLatin1Char('\t'))) +
               '\n';
        ships.append(QJsonObject{
            {QStringLiteral("name"), jobs.at(i).name},
            {QStringLiteral("installed"), jobs.at(i).installedVersion},
            {QStringLiteral("newest"), failed ? QJsonValue(QJsonValue::Null) : QJsonValue(r.remoteVersion)},
            {QStringLiteral("status"), failed ? QStringLiteral("failed") : status},
            {QStringLiteral("reason"), failed ? status.mid(QStringLiteral("failed: ").size()) : QString()}});
    }
    const auto finish = [&](int code) {
        if (json)
            cliWriteJson(QJsonObject{{QStringLiteral("game"), QDir::toNativeSeparators(gameDir)},
                                     {QStringLiteral("ships"), ships},
                                     {QStringLiteral("installs"), installs}});
        return code;
    };
    if (!json)
        cliWriteOut(out);
    if (!install || newer.isEmpty())
        return finish(allGood ? 0 : 1);

    FileDownloader downloader(&texts.ownTexts());
    QObject::connect(&downloader, &FileDownloader::Signal_Finished, &loop, &QEventLoop::quit);
    downloader.downloadFiles(newer, programDir + QStringLiteral("/Downloads"));
    loop.exec();

    for (qsizetype i = 0; i < newer.size(); ++i) {
        const DownloadResult& d = downloader.results().at(i);
        QString line;
        if (!d.ok) {
            line = QStringLiteral("failed: download of ") + newer.at(i) + QStringLiteral(": ") +
                   d.failure.reason();
        } else {
            line = InstallResultLine(engine.install(d.savedPath, nullptr, false));
        }
        allGood = allGood && line.startsWith(QLatin1String("installed "));
        installs.append(QJsonObject{{QStringLiteral("address"), newer.at(i)},
                                    {QStringLiteral("result"), line}});
        if (!json)
            cliWriteOut(local(line) + '\n');
    }
    return finish(allGood ? 0 : 1);
}

// The program update stays off until a mirror is configured; this lets a player or a
// packager switch a real channel on without a new build.
int mirrorsCommand(const QStringList& args)
{
    const QString programDir = QCoreApplication::applicationDirPath();
    InstallerSettings settings;
    if (!ReadInstallerSettings(programDir, settings))
        return cliFail(QDir::toNativeSeparators(programDir) +
                       QStringLiteral("/config.dat: cannot be read"));
    if (args.isEmpty()) {
        for (const QString& mirror : settings.updateMirrors)
            cliWriteOut(local(mirror + QLatin1Char('\n')));
        return 0;
    }
    QStringList mirrors;
    if (args.first() == QLatin1String("--clear") && args.size() == 1) {
        // none: the program update is off again
    } else if (args.first() == QLatin1String("--set") && args.size() > 1) {
        for (const QString& a : args.mid(1)) {
            const QUrl url(a, QUrl::StrictMode);
            if (!url.isValid() || (url.scheme() != QLatin1String("http") &&
                                   url.scheme() != QLatin1String("https")))
                return cliUsageError(QStringLiteral("'%1' is not an http or https address").arg(a));
            mirrors << a;
        }
    } else {
        return cliUsageError(QStringLiteral("'mirrors' takes nothing, --set URL... or --clear"));
    }
    settings.updateMirrors = mirrors;
    if (!WriteInstallerSettings(programDir, settings))
        return cliFail(QDir::toNativeSeparators(programDir) +
                       QStringLiteral("/config.dat: cannot be written"));
    return 0;
}
