// Type tables: any text must read, every entry must take the record-length rule
// and field access, and the grouped tables must read back what their writers
// make of them (same groups, same lines, and written again the same bytes).
#include "equipment.h"
#include "shiprecord.h"
#include "typetable.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void require(bool condition, const char* what)
{
    if (!condition) {
        std::fprintf(stderr, "fuzz_tables: %s\n", what);
        std::abort();
    }
}

void checkRecord(const QString& line)
{
    const ShipRecord r(line);
    const RecordLayout l = r.layout();
    if (l.complete) {
        require(l.tailStart > 54 && l.lastNumericField == l.tailStart + 8, "tail misplaced");
        require(l.identifierField > l.lastNumericField && l.identifierField < r.fieldCount(),
                "identifier outside the record");
        const ShipRecord again(r.emitted());
        require(again.layout().complete && again.layout().tailStart == l.tailStart,
                "a re-emitted record has another length");
        require(again.identifier() == r.identifier(), "a re-emitted record lost its identifier");
    } else {
        require(r.emitted() == r.line(), "an incomplete record was not kept whole");
    }
    for (int n = 0; n < r.fieldCount() + 2; n += 7)
        (void)r.doubleField(n);
    (void)r.intField(kTurretCountField);
    (void)TableIdentifier(line);
    (void)TableField(line, 18);
}

void checkDummies(const QByteArray& input)
{
    const DummyTable first = DummyTable::read(input);
    const QByteArray written = first.text({QStringLiteral("// fuzz")});
    const DummyTable second = DummyTable::read(written);
    require(second.problems().isEmpty(), "a written dummy table needs repairs");
    require(second.groups().size() == first.groups().size(), "dummy groups lost or gained");
    for (qsizetype i = 0; i < first.groups().size(); ++i) {
        const TableGroup& a = first.groups().at(i);
        const TableGroup& b = second.groups().at(i);
        require(a.name == b.name, "a dummy group changed its name");
        require(a.lines.size() == b.lines.size(), "a dummy group changed its size");
        for (qsizetype k = 0; k < a.lines.size(); ++k)
            require(TerminatedLine(a.lines.at(k)) == b.lines.at(k), "a dummy line changed");
    }
    require(second.text({QStringLiteral("// fuzz")}) == written, "dummy text not stable");
}

void checkComponents(const QByteArray& input)
{
    const ComponentTable first = ComponentTable::read(input);
    const QByteArray written = first.text({QStringLiteral("// fuzz")}, "\r\n");
    const ComponentTable second = ComponentTable::read(written);
    require(second.problems().isEmpty(), "a written component table needs repairs");
    require(second.components().size() == first.components().size(), "components lost or gained");
    for (qsizetype c = 0; c < first.components().size(); ++c) {
        const ComponentGroup& a = first.components().at(c);
        const ComponentGroup& b = second.components().at(c);
        require(a.name == b.name && a.groups.size() == b.groups.size(), "a component changed");
        for (qsizetype g = 0; g < a.groups.size(); ++g) {
            require(a.groups.at(g).name == b.groups.at(g).name, "a group changed its name");
            require(a.groups.at(g).lines.size() == b.groups.at(g).lines.size(),
                    "a group changed its size");
            for (qsizetype k = 0; k < a.groups.at(g).lines.size(); ++k)
                require(TerminatedLine(a.groups.at(g).lines.at(k)) == b.groups.at(g).lines.at(k),
                        "a component line changed");
        }
    }
    require(second.text({QStringLiteral("// fuzz")}, "\r\n") == written,
            "component text not stable");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));

    const TypeTable plain = ReadTypeTable(input);
    for (const QString& entry : plain.entries) {
        require(!IsSkippedTableLine(entry), "a comment or blank line became an entry");
        checkRecord(entry);
    }
    (void)plain.count();

    const TypeTable compact = ReadCompactTable(input);
    require(compact.entries.size() <= plain.entries.size() + 1, "compact reader found more lines");
    CockpitTable cockpits(compact);
    for (const QString& entry : plain.entries)
        cockpits.merge(entry);
    require(ReadCompactTable(cockpits.text({})).entries.size() <= cockpits.size(),
            "cockpit table grew on the way through the file");
    (void)EquipmentNameTexts(compact);

    // A written table reads back with the count it declares.
    const TypeTable rewritten = ReadTypeTable(FormatTypeTable({}, 48, plain.entries));
    require(rewritten.count() == rewritten.entries.size(), "written header count is off");

    checkDummies(input);
    checkComponents(input);
    return 0;
}
