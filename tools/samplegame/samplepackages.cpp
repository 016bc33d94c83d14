#include "samplegame.h"

#include "xspfile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

namespace SampleGame {

namespace {

// 2010-01-01 00:00 UTC; every file time is an offset from it so that the
// packages come out byte for byte the same on every run.
constexpr quint32 kTimeBase = 1262304000;
constexpr quint32 kDay = 86400;

const char kAuthor[] = "Orrin Vale";
const char kOwnCockpit[] = "SS_COCKPIT_MERGANSER_REAR";
// The engine pod both ships carry: same name, same time, same bytes.
const char kSharedModel[] = "objects/ships/parts/vale_engine.bod";
constexpr quint32 kSharedModelTime = kTimeBase + 3 * kDay;

// A binary body model: a magic word and pseudo-random bytes. The middle holds
// text that looks like a document line, so a reader that loses its place
// inside embedded bytes shows up at once.
QByteArray binaryModel(quint32 seed, int size)
{
    QByteArray bytes("BOB1");
    quint32 state = seed;
    while (bytes.size() < size) {
        state = state * 1664525u + 1013904223u;
        bytes.append(static_cast<char>(state >> 24));
        if (bytes.size() == size / 2)
            bytes.append("\nName: not a header line\n");
    }
    return bytes.left(size);
}

QByteArray sceneText(const char* title, const QByteArrayList& bodies)
{
    QByteArray text = QByteArray("// ") + title + "\r\nVER: 1;\r\n";
    for (qsizetype i = 0; i < bodies.size(); ++i)
        text += "P " + QByteArray::number(i) + "; B " + bodies[i] + "; " +
                QByteArray::number(i ? -1 : 0) + "; 0; 0; " + QByteArray::number(i * 900) + ";\r\n";
    return text;
}

QByteArray bodyText(const char* title, int vertices)
{
    QByteArray text = QByteArray("// ") + title + "\r\n";
    for (int v = 0; v < vertices; ++v)
        text += QByteArray::number(v * 37 % 11 - 5) + ";" + QByteArray::number(v * 53 % 7 - 3) +
                ";" + QByteArray::number(v * 19 % 13 - 6) + ";\r\n";
    text += "-1; // end of points\r\n";
    return text;
}

// An uncompressed 4 x 4 true-colour image with its origin at the top left.
QByteArray texture()
{
    QByteArray t(18, '\0');
    t[2] = 2;     // true colour, uncompressed
    t[12] = 4;    // width
    t[14] = 4;    // height
    t[16] = 24;   // bits per pixel
    t[17] = 0x20; // top-left origin
    for (int p = 0; p < 16; ++p)
        t.append(static_cast<char>(0x40 + 8 * p))
            .append('\x60')
            .append(static_cast<char>(0x70 + 4 * p));
    return t;
}

QByteArray scriptText()
{
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
           "<script name=\"setup.merganser\" version=\"1\">\r\n"
           "  <!-- offers the Merganser at the shipyards its package names -->\r\n"
           "  <ship id=\"SS_SH_OV_MERGANSER\" />\r\n"
           "</script>\r\n";
}

QString joined(const QStringList& fields)
{
    return fields.join(QLatin1Char(';')) + QLatin1Char(';');
}

QStringList numbers(std::initializer_list<int> values)
{
    QStringList out;
    for (int v : values)
        out << QString::number(v);
    return out;
}

// Escort fighter with one rear turret: T = 2, two gun groups (two forward guns,
// one turret gun), so the identifier sits at field 98.
QString merganserRecord()
{
    QStringList f;
    f << QStringLiteral("ships\\fighters\\merganser") << QStringLiteral("250")
      << QStringLiteral("0.082") << QStringLiteral("0.078") << QStringLiteral("0.104");
    f << numbers({1, 0, 23000, 1600, 106, 1, 5, 37, 3200, 112, 202});
    f << QStringLiteral("ships\\fighters\\merganser_scene")
      << QStringLiteral("cockpits\\merganser_cockpit");
    f << numbers({31, 3, 2600}) << QStringLiteral("0.095");
    f << numbers({1, 2, 7, 4, 8, 8, 15, 32, 0});
    // The turret's cockpit is the package's own, named by its key.
    f << QLatin1String(kOwnCockpit) << QStringLiteral("1");
    f << numbers({0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    f << numbers({0, 0, 1, 3800, 35, 36, 1, 0, 0, 2, 2}); // 52: number of class 1
    f << numbers({1, 0, 0, 0, 2, 1, 11, 0}); // turret entries
    f << numbers({2});                       // gun groups
    f << numbers({1, 0, 1, 2, 1, 1, 0, 0, 0, 0, 2, 1, 0, 1, 0, 0});
    f << numbers({3, 1, 2, 1, 3, 1, 1, 2, 0, 0});
    f << numbers({1, 54000, 25, 1, 0, 68000, 10, 310, 0});
    f << QStringLiteral("OV-MERGANSER"); // the package ID, as saving writes it
    return joined(f);
}

// Heavy fighter without turrets: T = 1, one group of four guns, identifier at 96.
QString goosanderRecord()
{
    QStringList f;
    f << QStringLiteral("ships\\fighters\\goosander") << QStringLiteral("251")
      << QStringLiteral("0.061") << QStringLiteral("0.057") << QStringLiteral("0.083");
    f << numbers({2, 0, 17500, 1150, 106, 1, 5, 37, 5200, 112, 202});
    f << QStringLiteral("ships\\fighters\\goosander_scene")
      << QStringLiteral("cockpits\\goosander_cockpit");
    f << numbers({124, 4, 4900}) << QStringLiteral("0.101");
    f << numbers({1, 3, 31, 6, 6, 6, 20, 45, 0});
    f << numbers({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    f << numbers({0, 1, 1, 7200, 35, 36, 1, 1, 0, 3, 1}); // 52: number of class 2
    f << numbers({1, 0, 0, 0});
    f << numbers({1});
    f << numbers({1, 0, 1, 4});
    f << numbers({1, 1, 0, 0, 0, 0, 2, 1, 0, 1, 0, 0, 3, 1, 0, 2, 0, 0, 4, 1, 0, 3, 0, 0});
    f << numbers({1, 125000, 25, 1, 0, 155000, 100, 311, 0});
    f << QStringLiteral("OV-GOOSANDER");
    return joined(f);
}

// Writes one source file and returns its package entry.
bool addSource(const QString& sources, const QString& name, quint32 time, const QByteArray& content,
               PackageFile* entry, QString* error)
{
    const QString path =
        sources + QLatin1Char('/') + QString(name).replace(QLatin1Char('/'), QLatin1Char('_'));
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(content) != content.size()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, f.errorString());
        return false;
    }
    entry->Name = name;
    entry->Time = time;
    entry->Size = static_cast<qint32>(content.size());
    entry->SourcePath = path;
    return true;
}

bool buildMerganser(const QString& sources, ShipPackage* p, QString* error)
{
    p->Name = QStringLiteral("Merganser");
    p->Author = QLatin1String(kAuthor);
    p->Version = QStringLiteral("1.0");
    p->ID = QStringLiteral("OV-MERGANSER");
    p->Data = merganserRecord();
    p->Web = QStringLiteral("http://ships.example.org/merganser/");
    p->Mirror1 = QStringLiteral("http://mirror.example.org/merganser/");
    p->Shipyards = {true, false, false, true, false, false, false, false};
    p->Comment = QStringLiteral("Sample ship written by drydock-cli make-sample-game.\n"
                                "Free to install, change and share.");
    p->Texts = {{Language, QStringLiteral("Merganser"),
                 QStringLiteral("A nimble escort fighter. Armament: two forward guns and one "
                                "rear turret.")},
                {49, QStringLiteral("Merganser"),
                 QStringLiteral("Ein wendiger Begleitjaeger mit einem Heckturm.")}};
    const QString scene = QStringLiteral("ships\\fighters\\merganser_scene");
    p->Dummies = {
        {QStringLiteral("SDTYPE_ANIMATED"), scene + QStringLiteral(";1;11;")},
        {QStringLiteral("SDTYPE_GUN"), scene + QStringLiteral(";3;-2;0;6;3;0;5;-4;1;4;")}};
    p->Components = {{scene, QStringLiteral("SCTYPE_HARDPOINT"), QStringLiteral("11;-3;1;6;")},
                     {scene, QStringLiteral("SCTYPE_ENGINE"), QStringLiteral("20;0;0;-9;")}};
    p->Cockpits = {QStringLiteral("1;1;60;30;0;0;1;4512;0;0;0;0;0;0;0;-100000;0;0;") +
                   QLatin1String(kOwnCockpit) + QLatin1Char(';')};

    PackageFile f;
    const QByteArray sceneBytes = sceneText("merganser_scene", {"ships\\fighters\\merganser_body",
                                                                "ships\\parts\\vale_engine",
                                                                "ships\\fighters\\merganser_body"});
    if (!addSource(sources, QStringLiteral("objects/ships/fighters/merganser_scene.bod"),
                   kTimeBase + kDay, sceneBytes, &f, error))
        return false;
    p->SceneFile = f;
    if (!addSource(sources, QStringLiteral("objects/cockpits/merganser_cockpit.bod"),
                   kTimeBase + kDay + 60, sceneText("merganser_cockpit", {"cockpits\\frame_light"}),
                   &f, error))
        return false;
    p->CockpitFile = f;
    if (!addSource(sources, QStringLiteral("objects/ships/fighters/merganser_body.bob"),
                   kTimeBase + 2 * kDay, binaryModel(0x4d455247, 6000), &f, error))
        return false;
    p->Models << f;
    if (!addSource(sources, QLatin1String(kSharedModel), kSharedModelTime,
                   bodyText("vale_engine - engine pod", 24), &f, error))
        return false;
    p->Models << f;
    if (!addSource(sources, QStringLiteral("textures/merganser_hull.tga"), kTimeBase + 4 * kDay,
                   texture(), &f, error))
        return false;
    p->Files << f;
    if (!addSource(sources, QStringLiteral("setup.merganser.xml"), kTimeBase + 5 * kDay,
                   scriptText(), &f, error))
        return false;
    p->Scripts << f;
    if (!addSource(sources, QStringLiteral("merganser.png"), kTimeBase,
                   ShipScreenshot(QStringLiteral("Merganser")), &f, error))
        return false;
    p->ScreenShot = f.SourcePath;
    return true;
}

bool buildGoosander(const QString& sources, ShipPackage* p, QString* error)
{
    p->Name = QStringLiteral("Goosander");
    p->Author = QLatin1String(kAuthor);
    p->Version = QStringLiteral("1.2");
    p->ID = QStringLiteral("OV-GOOSANDER");
    p->Data = goosanderRecord();
    p->Shipyards = {false, true, false, false, true, false, false, false};
    p->Texts = {{Language, QStringLiteral("Goosander"),
                 QStringLiteral("A heavy fighter with four forward guns.")},
                {49, QStringLiteral("Goosander"),
                 QStringLiteral("Ein schwerer Jaeger mit vier Frontgeschuetzen.")}};
    p->Dummies = {
        {QStringLiteral("SDTYPE_GUN"),
         QStringLiteral("ships\\fighters\\goosander_scene;4;-2;0;6;3;0;5;-4;1;4;5;1;3;")}};

    PackageFile f;
    if (!addSource(sources, QStringLiteral("objects/ships/fighters/goosander_scene.bod"),
                   kTimeBase + 10 * kDay,
                   sceneText("goosander_scene",
                             {"ships\\fighters\\goosander_body", "ships\\parts\\vale_engine"}),
                   &f, error))
        return false;
    p->SceneFile = f;
    // Its record names this cockpit scene, so the package carries it.
    if (!addSource(sources, QStringLiteral("objects/cockpits/goosander_cockpit.bod"),
                   kTimeBase + 10 * kDay + 60,
                   sceneText("goosander_cockpit", {"cockpits\\frame_heavy"}), &f, error))
        return false;
    p->CockpitFile = f;
    if (!addSource(sources, QStringLiteral("objects/ships/fighters/goosander_body.bob"),
                   kTimeBase + 11 * kDay, binaryModel(0x474f4f53, 7000), &f, error))
        return false;
    p->Models << f;
    if (!addSource(sources, QLatin1String(kSharedModel), kSharedModelTime,
                   bodyText("vale_engine - engine pod", 24), &f, error))
        return false;
    p->Models << f;
    if (!addSource(sources, QStringLiteral("goosander.png"), kTimeBase + 10 * kDay,
                   ShipScreenshot(QStringLiteral("Goosander")), &f, error))
        return false;
    p->ScreenShot = f.SourcePath;
    return true;
}

} // namespace

QStringList PackageFileNames()
{
    return {QStringLiteral("Merganser.xsp"), QStringLiteral("Goosander.xsp")};
}

bool MakeSamplePackages(const QString& folder, QString* error)
{
    QString ignored;
    QString& why = error ? *error : ignored;
    if (!QDir().mkpath(folder)) {
        why = QStringLiteral("cannot create %1").arg(QDir::toNativeSeparators(folder));
        return false;
    }
    // Sources and the writer's temporary document live in a scratch folder.
    QTemporaryDir scratch;
    if (!scratch.isValid()) {
        why = QStringLiteral("cannot create a temporary folder: %1").arg(scratch.errorString());
        return false;
    }
    PackageContext context;
    context.programDir = scratch.path();

    bool (*const builders[])(const QString&, ShipPackage*, QString*) = {buildMerganser,
                                                                        buildGoosander};
    const QStringList names = PackageFileNames();
    for (int i = 0; i < names.size(); ++i) {
        const QString sources = scratch.filePath(QStringLiteral("src%1").arg(i));
        ShipPackage package;
        if (!QDir().mkpath(sources) || !builders[i](sources, &package, &why))
            return false;
        const QString target = QDir(folder).filePath(names[i]);
        if (!SavePackage(package, target, context)) {
            why = QStringLiteral("cannot write %1").arg(QDir::toNativeSeparators(target));
            return false;
        }
    }
    return true;
}

} // namespace SampleGame
