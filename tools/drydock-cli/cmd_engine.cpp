// drydock-cli engine commands: the installer engine without its window. Like the
// window, they read config.dat and hw_languages.xml from the program folder and
// write the debug log there; unlike it, they never write config.dat, which the
// window owns. The tables follow only at update-mod, as in the window.

#include "commands.h"
#include "fileutils.h"
#include "gamedir.h"
#include "installerengine.h"
#include "installersettings.h"
#include "sysregistry.h"
#include "uiseams.h"
#include "uitexts.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <memory>

namespace {

// Answers the package reader's "same ID" question as the command line says and
// every other question with its default button, as a user pressing Enter would.
class CliPrompter : public Prompter
{
public:
    CliPrompter(QString idCaption, int idAnswer)
        : m_idCaption(std::move(idCaption)), m_idAnswer(idAnswer)
    {
    }
    int ask(Icon, const QString& caption, const QString&, const QStringList& buttons,
            int defaultButton, int) override
    {
        // Update, install beside, cancel.
        if (caption == m_idCaption && buttons.size() == 3)
            return m_idAnswer;
        return defaultButton;
    }

private:
    QString m_idCaption;
    int m_idAnswer;
};

constexpr int kIdQuestionCaption = 136; // installer text
enum SameId { Update = 0, Beside = 1, Cancel = 2 };

// Everything the window would hold around its engine, for one command.
class Session
{
public:
    Session(const QString& gameDir, int sameId)
        : m_programDir(QCoreApplication::applicationDirPath()), m_texts(UiTexts::Program::Installer)
    {
        ReadInstallerSettings(m_programDir, m_settings);
        // Missing texts read as their numbers, as in the window.
        m_texts.load(m_programDir + QStringLiteral("/hw_languages.xml"), m_settings.language);
        m_systemRegistry = CreateSystemRegistry(m_programDir);
        m_prompter = std::make_unique<CliPrompter>(m_texts.own(kIdQuestionCaption), sameId);

        InstallerEngine::Services services;
        services.programDir = m_programDir;
        services.systemRegistry = m_systemRegistry.get();
        services.installerTexts = &m_texts.ownTexts();
        services.sharedTexts = &m_texts.sharedTexts();
        services.prompter = m_prompter.get();
        services.log = [this](const QString& line) {
            m_logLines.append(line);
            if (m_settings.debugLog)
                WriteLog(m_programDir, QStringLiteral("installer_debug"), line);
        };
        for (const UiTexts::Language& l : m_texts.languages())
            services.knownLanguageIds.append(l.id);
        m_engine = std::make_unique<InstallerEngine>(std::move(services), m_settings);
        m_engine->setGameDir(gameDir);
        // The window fills its base-mod box at once; that settles the base mod.
        m_engine->baseModChoices();
    }

    InstallerEngine& engine() { return *m_engine; }
    InstallerSettings& settings() { return m_settings; }

    // Where the engine's log stands now, for failureSince().
    qsizetype logMark() const { return m_logLines.size(); }
    // "what: " + the last engine log line written since the mark, or the fallback.
    QString failureSince(qsizetype mark, const QString& what, const QString& fallback) const
    {
        QString why = fallback;
        if (m_logLines.size() > mark)
            why = m_logLines.last();
        return what + QStringLiteral(": ") + why;
    }

    int saveRegistry()
    {
        if (!m_engine->saveRegistry())
            return cliFail(QDir::toNativeSeparators(m_engine->gameDir()) +
                           QStringLiteral("/Slipway/ships.dat: cannot write the registry"));
        return 0;
    }

private:
    QString m_programDir;
    InstallerSettings m_settings;
    UiTexts m_texts;
    std::unique_ptr<SystemRegistry> m_systemRegistry;
    std::unique_ptr<CliPrompter> m_prompter;
    QStringList m_logLines;
    std::unique_ptr<InstallerEngine> m_engine;
};

struct Parsed
{
    QStringList positional;
    QStringList flags;
    int sameId = Cancel;
};

bool parse(const QString& command, const QStringList& args, Parsed* out, QString* bad)
{
    const QString sameIdOption = QStringLiteral("--on-same-id=");
    bool optionsEnded = false;
    for (const QString& a : args) {
        if (!optionsEnded && a == QLatin1String("--")) {
            optionsEnded = true;
        } else if (!optionsEnded && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
            if (command == QLatin1String("install") && a.startsWith(sameIdOption)) {
                const QString value = a.mid(sameIdOption.size());
                const QStringList values{QStringLiteral("update"), QStringLiteral("beside"),
                                         QStringLiteral("cancel")};
                out->sameId = static_cast<int>(values.indexOf(value));
                if (out->sameId < 0) {
                    *bad = QStringLiteral("--on-same-id takes update, beside or cancel");
                    return false;
                }
            } else if ((command == QLatin1String("base-mod") &&
                        (a == QLatin1String("--fake-patch") || a == QLatin1String("--none"))) ||
                       (command == QLatin1String("redo-base-mod") &&
                        a == QLatin1String("--fake-patch"))) {
                out->flags.append(a);
            } else {
                *bad = QStringLiteral("unknown option '%1'").arg(a);
                return false;
            }
        } else {
            out->positional.append(a);
        }
    }
    return true;
}

QByteArray local(const QString& text)
{
    return text.toLocal8Bit();
}

QString shipText(const QString& name, const QString& author, const QString& version)
{
    return name + QStringLiteral(" by ") + author + QLatin1Char(' ') + version;
}

int install(Session& s, const QStringList& packages)
{
    InstallerEngine& engine = s.engine();
    bool allInstalled = true;
    for (const QString& package : packages) {
        QString line;
        if (engine.enqueue({package}) == 0) {
            line = QStringLiteral("failed: not a ship package (.xsp): ") + package;
        } else {
            const InstallResult r = engine.installNext(false);
            const QString ship = shipText(r.name, r.author, r.version);
            if (r.status == 0)
                line = QStringLiteral("installed ") + ship;
            else if (r.status == 2)
                line = QStringLiteral("skipped (older version) ") + ship;
            else
                line =
                    QStringLiteral("failed: ") +
                    (r.error.isEmpty() ? QStringLiteral("the package was not installed") : r.error);
        }
        allInstalled = allInstalled && line.startsWith(QLatin1String("installed "));
        cliWriteOut(local(line) + '\n');
    }
    if (const int code = s.saveRegistry())
        return code;
    return allInstalled ? 0 : 1;
}

int list(Session& s)
{
    const ShipRegistry& registry = s.engine().registry();
    QByteArray out;
    for (qsizetype k = 0; k < registry.Ships.size(); ++k) {
        const ShipPackage& p = registry.Ships.at(k);
        const QString slot =
            registry.Buffer == 0 ? QStringLiteral("-") : QString::number(registry.Buffer + k);
        QStringList fields{slot};
        if (p.Deleted == 0)
            fields << QStringLiteral("installed")
                   << (p.Enabled ? QStringLiteral("yes") : QStringLiteral("no")) << p.Name
                   << p.Author << p.Version;
        else
            fields << (p.Deleted == 1 ? QStringLiteral("waiting") : QStringLiteral("free"))
                   << QStringLiteral("-") << QString() << QString() << QString();
        out += local(fields.join(QLatin1Char('\t'))) + '\n';
    }
    cliWriteOut(out);
    return 0;
}

// uninstall, disable, enable
int changeShip(Session& s, const QString& command, const QString& name, const QString& author)
{
    InstallerEngine& engine = s.engine();
    const int index = engine.findShip(name, author);
    if (index < 0)
        return cliFail(QStringLiteral("no installed ship %1 by %2 in %3")
                           .arg(name, author, QDir::toNativeSeparators(engine.gameDir())));
    const ShipPackage ship = engine.registry().Ships.at(index);
    const qsizetype mark = s.logMark();
    bool done = false;
    QString past;
    if (command == QLatin1String("uninstall")) {
        done = engine.uninstallShip(index, false);
        past = QStringLiteral("uninstalled ");
    } else {
        const bool enable = command == QLatin1String("enable");
        done = engine.setShipEnabled(index, enable);
        past = enable ? QStringLiteral("enabled ") : QStringLiteral("disabled ");
    }
    if (!done)
        return cliFail(s.failureSince(mark, QStringLiteral("cannot %1 %2").arg(command, ship.Name),
                                      QStringLiteral("the engine refused")));
    if (const int code = s.saveRegistry())
        return code;
    cliWriteOut(local(past + shipText(ship.Name, ship.Author, ship.Version)) + '\n');
    return 0;
}

int updateMod(Session& s)
{
    const qsizetype mark = s.logMark();
    const bool ok = s.engine().updateMod();
    // Buffer, text ids and the update time changed also when a step failed.
    if (const int code = s.saveRegistry())
        return code;
    if (!ok)
        return cliFail(s.failureSince(mark, QStringLiteral("cannot update the mod"),
                                      QStringLiteral("a step failed")));
    return 0;
}

int createMod(Session& s, qsizetype mark)
{
    if (!s.engine().createMod())
        return cliFail(s.failureSince(mark, QStringLiteral("cannot rebuild the mod"),
                                      QStringLiteral("a step failed")));
    return s.saveRegistry();
}

int baseMod(Session& s, const QString& name)
{
    InstallerEngine& engine = s.engine();
    const QStringList choices = engine.baseModChoices();
    QString wanted = choices.first(); // the no-base-mod item
    if (!name.isEmpty()) {
        wanted.clear();
        for (const QString& c : choices.mid(1))
            if (c.compare(name, Qt::CaseInsensitive) == 0)
                wanted = c;
        if (wanted.isEmpty())
            return cliFail(QStringLiteral("no mod %1 in %2")
                               .arg(name, QDir::toNativeSeparators(engine.gameDir() +
                                                                   QStringLiteral("/mods"))));
    }
    if (wanted == engine.currentBaseMod())
        return 0;
    const qsizetype mark = s.logMark();
    if (!engine.selectBaseMod(wanted))
        return cliFail(s.failureSince(mark, QStringLiteral("cannot select the base mod ") + wanted,
                                      QStringLiteral("refused")));
    return createMod(s, mark);
}

int redoBaseMod(Session& s)
{
    const qsizetype mark = s.logMark();
    if (!s.engine().redoBaseMod())
        return cliFail(QStringLiteral("no base mod selected in ") +
                       QDir::toNativeSeparators(s.engine().gameDir()));
    return createMod(s, mark);
}

} // namespace

int engineCommand(const QStringList& args)
{
    const QString command = args.first();
    Parsed p;
    QString bad;
    if (!parse(command, args.mid(1), &p, &bad))
        return cliUsageError(bad);

    const bool byShip = command == QLatin1String("uninstall") ||
                        command == QLatin1String("disable") || command == QLatin1String("enable");
    const bool none = p.flags.contains(QLatin1String("--none"));
    qsizetype wanted = 1;
    if (byShip)
        wanted = 3;
    else if (command == QLatin1String("base-mod"))
        wanted = none ? 1 : 2;
    if (command == QLatin1String("install") ? p.positional.size() < 2
                                            : p.positional.size() != wanted) {
        if (command == QLatin1String("install"))
            return cliUsageError(QStringLiteral("'install' takes GAMEDIR and one or more PKG"));
        if (command == QLatin1String("base-mod"))
            return cliUsageError(QStringLiteral("'base-mod' takes GAMEDIR and NAME or --none"));
        return cliUsageError(QStringLiteral("'%1' takes %2 argument(s)").arg(command).arg(wanted));
    }

    const QString gameDir = QDir::cleanPath(QFileInfo(p.positional.first()).absoluteFilePath());
    if (!IsValidGameDir(gameDir))
        return cliFail(QDir::toNativeSeparators(gameDir) +
                       QStringLiteral(": not a game directory (no vega.exe)"));
    Session s(gameDir, p.sameId);
    if (p.flags.contains(QLatin1String("--fake-patch")))
        s.settings().baseType = 1;

    if (command == QLatin1String("install")) {
        QStringList packages;
        for (const QString& pkg : p.positional.mid(1))
            packages << QFileInfo(pkg).absoluteFilePath();
        return install(s, packages);
    }
    if (command == QLatin1String("list"))
        return list(s);
    if (byShip)
        return changeShip(s, command, p.positional[1], p.positional[2]);
    if (command == QLatin1String("update-mod"))
        return updateMod(s);
    if (command == QLatin1String("base-mod"))
        return baseMod(s, none ? QString() : p.positional[1]);
    return redoBaseMod(s);
}
