// The text table loader, the XML packet loader and the CSV loader on any
// bytes: the first byte picks the loader (bit 1 CSV, else bit 0 XML). Each is
// held against the general way it replaces for the files the program writes
// itself (the packet's own reader, the plain-line path of the text table and
// of CSV): both must load the bytes alike.
#include "core/recording/DataFiles.h"
#include "fuzz/FuzzInput.h"

#include <QBuffer>

namespace df = voltaro::datafiles;

namespace {

QStringList dump(const voltaro::ReadingTable& t) {
    QStringList out;
    for (qsizetype r = 0; r < t.rowCount(); ++r) {
        QStringList cells;
        for (int f = 0; f < voltaro::ReadingTable::FieldCount; ++f)
            cells << (t.isNull(r, f) ? QStringLiteral("<null>") : t.text(r, f));
        out << cells.join(QChar(0x1F));
    }
    return out;
}

template <typename Load> df::LoadResult loadBytes(QByteArray bytes, voltaro::ReadingTable& into, Load load) {
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    return load(into, buffer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    const bool csv = data[0] & 2;
    const bool xml = !csv && (data[0] & 1);
    voltaro::ReadingTable table;
    const auto result = csv   ? loadBytes(bytes, table, [](auto& t, auto& d) { return df::loadCsv(t, d); })
                        : xml ? loadBytes(bytes, table, [](auto& t, auto& d) { return df::loadXml(t, d); })
                              : loadBytes(bytes, table, [](auto& t, auto& d) { return df::loadText(t, d); });
    if (result.rowsAdded != table.rowCount())
        voltaro::fuzz::fault("the rows a load reports are not the rows in the table");
    voltaro::ReadingTable general;
    const auto expected =
        csv   ? loadBytes(bytes, general, [](auto& t, auto& d) { return df::general::loadCsv(t, d); })
        : xml ? loadBytes(bytes, general, [](auto& t, auto& d) { return df::general::loadXml(t, d); })
              : loadBytes(bytes, general, [](auto& t, auto& d) { return df::general::loadText(t, d); });
    if (result.ok != expected.ok || result.rowsAdded != expected.rowsAdded)
        voltaro::fuzz::fault("the fast load and the general one end differently");
    if (dump(table) != dump(general))
        voltaro::fuzz::fault("the fast load and the general one load different rows");
    return 0;
}
