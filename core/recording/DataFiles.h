#pragma once

#include "core/recording/ReadingTable.h"

#include <QByteArray>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <atomic>

namespace voltaro {

// Saving the reading table to a file and reading saved files back.
//
// Two formats, chosen by the file name alone: a name ending in ".xml" (lower
// case, exactly) is an XML data packet that carries every field and null;
// any other name is a tab-separated text table a spreadsheet program opens.
namespace datafiles {

struct SaveResult {
    bool ok = false;
    QString error; // why it failed, for the message shown to the user
};

// How far a load or save has come, read by another thread for a progress
// bar: `done` of `total` bytes of a file loaded, or rows of a table saved.
struct Progress {
    std::atomic<qint64> done{0};
    std::atomic<qint64> total{0};
};

struct LoadResult {
    bool ok = false;
    qsizetype rowsAdded = 0; // rows now in the table that the file brought
    bool replaced = false;   // the file replaced the whole table (XML)
};

// Whether `fileName` selects the XML data packet. ".XML" does not.
bool isXmlFileName(const QString& fileName);

// The text table: a header line and one line per row, CR LF after each, in
// Latin-1 (the 8-bit code page of a Linux desktop).
QByteArray textTable(const ReadingTable& table);
// The header line, and one row's line, each with its CR LF.
QByteArray textHeader();
QByteArray textLine(const ReadingTable& table, qsizetype row);
SaveResult saveText(const ReadingTable& table, const QString& fileName, Progress* progress = nullptr);
// Appends the rows of a text table; rows before a failing line stay. A file
// that changes while it is read (truncated, rewritten) fails where that is
// seen, after the rows of the whole lines read before; a line it was cut in
// is never taken.
LoadResult loadText(ReadingTable& table, const QString& fileName, Progress* progress = nullptr);
LoadResult loadText(ReadingTable& table, QIODevice& device, Progress* progress = nullptr);

// The columns of one text line, as the loader reads them: split at tabs when
// the line has one, else at runs of blanks and control characters (files of
// older versions); double-quoted tokens may hold blanks, tabs and "" for ".
// Empty columns of a tabbed line are kept as empty strings; `ok` is false for
// a quoted column followed by other text.
QStringList splitTextLine(QStringView line, bool* ok = nullptr);

// Whether every text of the table can be written into the packet (XML holds
// no control character but tab, LF and CR).
bool xmlCanHold(const ReadingTable& table);
// The packet, or nothing when the table holds a text the packet cannot carry.
QByteArray xmlPacket(const ReadingTable& table);
SaveResult saveXml(const ReadingTable& table, const QString& fileName, Progress* progress = nullptr);
// Replaces the table with the packet's rows; on failure (a file that changed
// while it was read among them) the table is unchanged. A packet laid out as
// this program writes it is read by a reader of its own (OwnPacket.h); any
// other goes through the general XML reader, read again from the start
// (from a device that cannot seek, through the general reader alone).
LoadResult loadXml(ReadingTable& table, const QString& fileName, Progress* progress = nullptr);
LoadResult loadXml(ReadingTable& table, QIODevice& device, Progress* progress = nullptr);

// The general ways alone, as every file was written and read before the
// program's own layouts got ways of their own: the toolkit's XML writer and
// reader, and the text table's general splitting for every line. For the
// checks that hold the two against each other.
namespace general {
QByteArray xmlPacket(const ReadingTable& table);
LoadResult loadXml(ReadingTable& table, QIODevice& device);
LoadResult loadText(ReadingTable& table, QIODevice& device);
} // namespace general

// The ROW attribute that carries a field's value in the XML data packet.
QString xmlAttributeName(const QString& fieldName);

// Loads either format, chosen by the name; `emptyFirst` empties the table before.
LoadResult loadTableFile(const QString& fileName, ReadingTable& table, bool emptyFirst,
                         Progress* progress = nullptr);

} // namespace datafiles
} // namespace voltaro
