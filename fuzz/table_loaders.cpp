// The text table loader and the XML packet loader on any bytes: the first
// byte picks the loader.
#include "core/recording/DataFiles.h"
#include "fuzz/FuzzInput.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    QByteArray bytes(reinterpret_cast<const char*>(data + 1), static_cast<qsizetype>(size - 1));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    voltaro::ReadingTable table;
    const auto result = (data[0] & 1) ? voltaro::datafiles::loadXml(table, buffer)
                                      : voltaro::datafiles::loadText(table, buffer);
    if (result.rowsAdded != table.rowCount())
        voltaro::fuzz::fault("the rows a load reports are not the rows in the table");
    return 0;
}
