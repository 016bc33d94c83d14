#include "samplegame.h"

#include "shiprecord.h"
#include "xspfile.h"

#include <QDir>
#include <QFile>

namespace SampleGame {

namespace {

constexpr quint32 kTime = 1262304000; // 2010-01-01: fixed file times, fixed packages

// The default line with the ship's identifier and its own scene, which the game shows.
QString shipLine(const QString& id, const QString& scene)
{
    ShipRecord line(
        QString::fromLatin1(kDefaultShipLine).replace(QStringLiteral("HW_NEW_SHIP"), id));
    line.setField(kSceneField, scene);
    return line.line();
}

QByteArray fileText(const QString& name, int index)
{
    QByteArray bytes = "// " + name.toLatin1() + "\r\n";
    for (int v = 0; bytes.size() < 4096; ++v)
        bytes += QByteArray::number((v * 7919 + index) % 1000) + ";1;-2;\r\n";
    return bytes;
}

} // namespace

bool MakeManyShipPackages(const QString& folder, int first, int count, QStringList* paths,
                          QString* error)
{
    const QString sources = folder + QStringLiteral("/many-src");
    if (!QDir().mkpath(sources)) {
        if (error)
            *error = sources + QStringLiteral(": cannot create");
        return false;
    }
    for (int i = first; i < first + count; ++i) {
        const QString n = QString::number(i);
        ShipPackage p;
        p.Name = QStringLiteral("Many Ship ") + n;
        p.Author = QStringLiteral("Fleet Yard");
        p.Version = QStringLiteral("1.0");
        p.ID = QStringLiteral("MS_SH_MANY_") + n;
        const QString scene = QStringLiteral("ships\\many\\m") + n + QStringLiteral("_scene");
        p.Data = shipLine(p.ID, scene);
        p.Texts = {{Language, p.Name, QStringLiteral("Generated ship number ") + n}};
        p.Dummies = {{QStringLiteral("SDTYPE_GUN"), scene + QStringLiteral(";1;0;0;4;")}};
        p.Components = {{scene, QStringLiteral("SCTYPE_ENGINE"), QStringLiteral("1;0;0;-9;")}};
        p.Cockpits = {QStringLiteral("1;1;60;30;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;"
                                     "MS_CP_MANY_") +
                      n + QLatin1Char(';')};
        const QStringList names = {QStringLiteral("objects/ships/many/m") + n +
                                       QStringLiteral("_scene.bod"),
                                   QStringLiteral("objects/ships/many/m") + n +
                                       QStringLiteral("_body.bob")};
        QStringList written;
        for (const QString& name : names) {
            const QString source = sources + QLatin1Char('/') + name.section(QLatin1Char('/'), -1);
            const QByteArray bytes = fileText(name, i);
            QFile f(source);
            if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size()) {
                if (error)
                    *error = source + QStringLiteral(": cannot write");
                return false;
            }
            f.close();
            written << source;
            PackageFile entry;
            entry.Name = name;
            entry.Time = kTime;
            entry.Size = static_cast<qint32>(bytes.size());
            entry.SourcePath = source;
            if (name.endsWith(QLatin1String("_scene.bod")))
                p.SceneFile = entry;
            else
                p.Models << entry;
        }
        const QString path = folder + QStringLiteral("/many_") + n + QStringLiteral(".xsp");
        PackageContext context;
        context.programDir = folder;
        const bool saved = SavePackage(p, path, context);
        for (const QString& source : written)
            QFile::remove(source);
        if (!saved) {
            if (error)
                *error = path + QStringLiteral(": cannot write the package");
            return false;
        }
        paths->append(path);
    }
    QDir(sources).removeRecursively();
    return true;
}

} // namespace SampleGame
