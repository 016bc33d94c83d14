#include "registryrepair.h"

#include "archivefile.h"
#include "gamedir.h"
#include "installerengine.h"
#include "registry.h"
#include "safefile.h"
#include "textpages.h"

#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSet>

namespace {

class PublishedList : public TextPageHandler
{
public:
    bool wantsPage(int page) const override { return page == 9001; }
    void addText(int, int id, QString&& text) override
    {
        if (id == 1 || id == 2 || id == 11)
            values.insert(id, text.trimmed());
    }
    std::optional<int> value(int id) const
    {
        bool ok = false;
        const int v = values.value(id).toInt(&ok);
        return ok ? std::optional<int>(v) : std::nullopt;
    }
    QHash<int, QString> values;
};

// Page 9001 of the first language found in the mod: ship count, update time and
// the first installed ship's table index as last published to the game.
PublishedList readPublishedList(const QString& catalog, const QString& tempDir)
{
    PublishedList list;
    static const QRegularExpression pageName(QStringLiteral("^t\\\\\\d+9001\\.pck$"),
                                             QRegularExpression::CaseInsensitiveOption);
    for (const CatalogEntryInfo& e : ListCatalog(catalog)) {
        if (!pageName.match(e.name).hasMatch())
            continue;
        const QString temp = tempDir + QStringLiteral("/published-9001.xml");
        if (ExtractArchiveFile(catalog + QStringLiteral("::") + e.name, temp, false, false))
            ParseTextPageFile(temp, list);
        QFile::remove(temp);
        if (list.value(1))
            break;
    }
    return list;
}

} // namespace

RegistryRepair RepairRegistry(const QString& gameDir, const QString& tempDir, const QDateTime& now)
{
    RegistryRepair result;
    ShipRegistry registry;
    RegistryReadStatus status;
    const QString path = RegistryPath(gameDir);
    ReadRegistry(gameDir, registry, QString(), QString(), &status);
    if (!status.broken())
        return result;
    result.neededRepair = true;
    result.damage = status.message(path);

    // The broken bytes stay for whoever wants to rescue more by hand.
    const QString stamp = now.toString(QStringLiteral("yyyyMMdd-hhmmss"));
    QString copy = path + QStringLiteral(".broken-") + stamp;
    for (int n = 2; QFileInfo::exists(copy); ++n)
        copy = path + QStringLiteral(".broken-") + stamp + QLatin1Char('-') + QString::number(n);
    if (!CopyFileChecked(path, copy, &result.error))
        return result;
    result.brokenCopy = copy;
    result.kept = static_cast<int>(registry.Ships.size());

    for (qsizetype i = status.lostBlocks.size() - 1; i >= 0; --i) {
        ShipPackage waiting;
        waiting.Deleted = 1;
        registry.Ships.insert(status.lostBlocks.at(i), waiting);
        ++result.placeholders;
    }

    const QString catalog = gameDir + QStringLiteral("/mods/") +
                            QLatin1String(InstallerEngine::kModName) + QStringLiteral(".cat");
    const PublishedList published = readPublishedList(catalog, tempDir);
    if (!status.headerKeys.contains(QLatin1String("UpdateTime:")) && published.value(2)) {
        registry.UpdateTime = *published.value(2);
        result.recovered << QStringLiteral("UpdateTime");
    }
    if (!status.headerKeys.contains(QLatin1String("Buffer:")) && published.value(11) &&
        *published.value(11) > 0 && *published.value(11) < InstallerEngine::kMaxBuffer) {
        registry.Buffer = *published.value(11);
        result.recovered << QStringLiteral("Buffer");
    }
    const int publishedCount = published.value(1).value_or(0);
    while (registry.Ships.size() < qMin(publishedCount, InstallerEngine::kMaxBuffer)) {
        ShipPackage waiting;
        waiting.Deleted = 1;
        registry.Ships.append(waiting);
        ++result.placeholders;
    }

    result.orphans = UnownedModEntries(gameDir, registry);

    result.written = WriteRegistry(gameDir, registry, QString(), QString(), &result.error);
    return result;
}
