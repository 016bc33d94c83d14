// The ship-record editor: any line opens; an untouched record saves as it was
// (the cargo swap aside); turret and gun edits always give a record whose counts
// can be followed again.
#include "recordeditor.h"
#include "shiprecord.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_record: %s\n", what);
        std::abort();
    }
}

void checkLine(const QString& line, unsigned seed)
{
    RecordContext context;
    context.classes = {{1, QStringLiteral("A")}, {4, QStringLiteral("B")}};
    context.cockpitLines = {QStringLiteral("0;SS_COCKPIT_DEFAULT;")};
    RecordEditor e(line, context);
    const ShipRecord original(line);
    const QStringList changed = e.changedFields();
    require(changed.isEmpty() ||
                changed == QStringList({QStringLiteral("28"), QStringLiteral("29")}),
            "an untouched record changed");
    (void)e.allValues();
    e.setValue(QStringLiteral("min_speed"), QStringLiteral("2.5"));
    e.setValue(QStringLiteral("yaw"), QString::number(seed % 720));
    e.setValue(QStringLiteral("class"), QString::number(seed % 3));
    e.setValue(QStringLiteral("player_price"), QStringLiteral("5"));
    if (!e.variablePartReadable()) {
        require(e.turretRows() == 0 && !e.addTurret(QStringLiteral("1:2")),
                "turrets edited in an unreadable record");
        return;
    }
    if (seed & 1)
        e.addTurret(QStringLiteral("3:4"));
    if (seed & 2)
        e.removeTurret(0);
    if (seed & 4)
        e.setStandardCockpit(0, 0);
    if (seed & 8)
        e.addGunGroup();
    if (seed & 16)
        e.setGun(0, 0,
                 {QStringLiteral("2"), QStringLiteral("0"), QStringLiteral("0"),
                  QStringLiteral("0"), QStringLiteral("0")});
    if (seed & 32)
        e.removeGunGroup(0);
    const ShipRecord saved(e.record());
    require(saved.layout().complete, "an edited record lost its layout");
    require(saved.identifier() == original.identifier(), "an edit lost the identifier");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QString text =
        QString::fromLatin1(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    unsigned seed = 0;
    for (const QString& line : text.split(QLatin1Char('\n'))) {
        checkLine(line, seed);
        seed = seed * 31 + unsigned(line.size());
    }
    return 0;
}
