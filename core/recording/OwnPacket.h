#pragma once

#include "core/recording/ReadingTable.h"

#include <QByteArray>
#include <QByteArrayView>
#include <QIODevice>
#include <QString>

namespace voltaro::datafiles {

class ChangeWatch;
struct Progress;

// The XML data packet exactly as this program writes it, written and read
// without a general XML writer or reader: the XML declaration, the fixed
// METADATA of the table's fields, then one ROW a line, indented by eight
// blanks, with RowState="4" and the fields that are not null in the fields'
// order, each value escaped as the toolkit's XML writer escapes it (&lt;
// &gt; &amp; &quot; and &#9; &#10; &#13;), in UTF-8.
//
// The bytes are those the toolkit's QXmlStreamWriter made of the same table
// with automatic formatting, which is how every packet used to be written;
// the reader takes exactly the files this writer can make and hands anything
// else back to the general XML reader, so what loads and what is refused
// stays as it was.
namespace ownpacket {

// Everything before the first row, up to "<ROWDATA" (without its ">").
QByteArrayView head();
// What follows the head: ">" before the first row, and after the last row
// the end of the packet; a table without rows closes ROWDATA at once.
QByteArrayView rowsStart();
QByteArrayView endAfterRows();
QByteArrayView endWithoutRows();

// Appends row `row` as its ROW element, the line break and indentation
// before it included. False, with `why` set when given, when a text holds a
// character XML cannot hold; nothing is appended then.
bool appendRow(const ReadingTable& table, qsizetype row, QByteArray& out, QString* why);

// A decimal integer as QString::number writes it: no sign but a minus, no
// leading zero, within 32 bits. Any other text is not taken (what else
// QString::toInt takes is left to it).
bool readInteger(QByteArrayView text, std::int32_t* out);

enum class Outcome {
    Loaded,       // the packet is in the table
    NotOwnLayout, // the file is laid out otherwise: read it with the general reader
    Failed,       // a read failed or the file changed while it was read
};

// Reads a packet laid out as appendRow() writes it from `device`, from where
// it stands, into `into` (an empty table). As soon as anything else is seen
// it gives up with NotOwnLayout; `into` then holds a part of the rows.
// `progress` (may be null) is set to the bytes read so far.
Outcome read(QIODevice& device, const ChangeWatch& watch, ReadingTable& into, Progress* progress);

} // namespace ownpacket
} // namespace voltaro::datafiles
