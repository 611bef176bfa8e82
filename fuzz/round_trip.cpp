// Whatever loads is saved in every format and must load back to the same
// table: a file the program writes and cannot read back as it was is a
// fault, and so is a packet its own writer writes otherwise than the general
// XML writer did. The first byte picks the loader of the input (bit 1 CSV,
// else bit 0 XML).
#include "core/recording/DataFiles.h"
#include "fuzz/FuzzInput.h"

#include <QBuffer>

namespace df = voltaro::datafiles;

namespace {

QStringList dump(const voltaro::ReadingTable& t) {
    QStringList out;
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        QStringList cells;
        for (int f = 0; f < voltaro::ReadingTable::FieldCount; ++f) {
            cells << (t.isNull(r, f) ? QStringLiteral("<null>") : t.text(r, f));
        }
        out << cells.join(QChar(0x1F));
    }
    return out;
}

template <typename Load> bool loadBytes(QByteArray bytes, voltaro::ReadingTable& into, Load load) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return load(into, buffer).ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArray input(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    voltaro::ReadingTable table;
    const auto loadText = [](voltaro::ReadingTable& t, QIODevice& d) { return df::loadText(t, d); };
    const auto loadXml = [](voltaro::ReadingTable& t, QIODevice& d) { return df::loadXml(t, d); };
    const auto loadCsv = [](voltaro::ReadingTable& t, QIODevice& d) { return df::loadCsv(t, d); };
    // A text load that fails part way keeps the rows before: those are saved too.
    if (data[0] & 2)
        loadBytes(input, table, loadCsv);
    else if (data[0] & 1)
        loadBytes(input, table, loadXml);
    else
        loadBytes(input, table, loadText);

    // The packet carries every field; it may refuse a text it cannot carry.
    // The program's own writer writes what the toolkit's writer wrote.
    const QByteArray packet = df::xmlPacket(table);
    if (packet != df::general::xmlPacket(table))
        voltaro::fuzz::fault("the packet's own writer and the general one write different bytes");
    if (!packet.isEmpty()) {
        voltaro::ReadingTable back;
        if (!loadBytes(packet, back, loadXml))
            voltaro::fuzz::fault("a packet the program wrote does not load");
        if (dump(back) != dump(table))
            voltaro::fuzz::fault("a packet the program wrote loads to another table");
    }
    // The text table carries every field but NVal, and writes a text with
    // blanks at its ends trimmed and an empty text as NULL, as it always has:
    // what it writes must load and be written again byte for byte.
    const QByteArray text = df::textTable(table);
    voltaro::ReadingTable once;
    if (!loadBytes(text, once, loadText) || once.rowCount() != table.rowCount())
        voltaro::fuzz::fault("a text table the program wrote does not load");
    if (df::textTable(once) != text)
        voltaro::fuzz::fault("a text table the program wrote loads to another table");

    // CSV carries every field but NVal, a value in the file's decimal
    // separator: what it writes must load and be written again byte for byte,
    // in either variant. Its dates count back from the same moment both times.
    constexpr qint64 kLastRowAt = 1'700'000'000'000;
    table.setLastRowAt(kLastRowAt);
    for (const QStringView sep : {QStringView(u"."), QStringView(u",")}) {
        const QByteArray csv = df::csvTable(table, sep);
        voltaro::ReadingTable back;
        if (!loadBytes(csv, back, loadCsv) || back.rowCount() != table.rowCount())
            voltaro::fuzz::fault("a CSV the program wrote does not load");
        back.setLastRowAt(kLastRowAt);
        if (df::csvTable(back, sep) != csv)
            voltaro::fuzz::fault("a CSV the program wrote loads to another table");
    }
    return 0;
}
