#pragma once

#include "core/recording/ReadingTable.h"

#include <QByteArray>
#include <QDate>
#include <QIODevice>
#include <QString>
#include <QStringList>
#include <QStringView>

#include <atomic>
#include <optional>
#include <utility>
#include <vector>

namespace voltaro {

// Saving the reading table to a file and reading saved files back.
//
// Three formats, chosen by the file name alone: a name ending in ".xml" (lower
// case, exactly) is an XML data packet that carries every field and null; a
// name ending in ".csv" (in any case) is CSV for spreadsheets; any other name
// is a tab-separated text table a spreadsheet program opens too.
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
// Whether `fileName` selects CSV: ".csv", ".CSV" or any other case.
bool isCsvFileName(const QString& fileName);

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

// CSV (RFC 4180): a header line and one line per row, CR LF after each, in
// UTF-8 without a byte order mark. The columns are the text table's with the
// row's local date and time, "2026-12-10T14:05:09", after its time of day:
//   No,Time,DateTime,DC/AC,Value,Unit,AUTO
// `decimalSep` is the program's decimal separator setting. Where it is a
// comma the fields are separated by semicolons, as a spreadsheet of that
// locale expects, else by commas. A value is written as the table holds it,
// a number written with the other of "." and "," taking `decimalSep`
// instead ("1.5" is "1,5" in a semicolon file), so that the spreadsheet of
// that locale reads every value as a number; an overload ("0L") stays text.
// A field holding a comma, a semicolon, a double quote, CR or LF is quoted,
// with "" for each quote; a null field is empty, an empty text "".
char csvSeparator(QStringView decimalSep);
QByteArray csvHeader(QStringView decimalSep);

// The local date of each row of a table, for the CSV's date-and-time column.
// The table keeps each row's time of day only, so the dates are counted back
// from the moment of the last row (ReadingTable::lastRowAt(): when it was
// recorded, the moment the journal it was recovered from was last written,
// the modification time of the text or XML file it was loaded from, or the
// last row's date and time in a CSV; `fallback` when the table does not
// know): the last row is of that moment's day unless its time of day is more
// than an hour later than the moment's; going back, a time of day more than
// an hour later than that of the row after it is of the day before (a
// midnight lies between them; an hour or less is the clocks going back in
// autumn). A row whose time does not read as hh:mm:ss (with any one
// separator) is passed over, and its date-and-time field is empty. Rows more
// than a day apart cannot be told from rows less than one apart: the earlier
// gets too late a date.
class RowDates {
public:
    RowDates(const ReadingTable& table, qint64 fallback);
    QDate date(qsizetype row) const;
    // The date of a row with the time of day `text` recorded at the moment
    // `atMs` (milliseconds since the epoch), by the rule above.
    static QDate dateAt(QStringView text, qint64 atMs);

private:
    // From each of these rows on, up to the next, the dates are this one's.
    std::vector<std::pair<qsizetype, QDate>> starts_;
};

// The whole table, its dates from RowDates with the moment now as fallback.
QByteArray csvTable(const ReadingTable& table, QStringView decimalSep);
// One row's line with its CR LF; `date` is the row's (invalid: the date-and-
// time field is empty).
QByteArray csvLine(const ReadingTable& table, qsizetype row, QStringView decimalSep, QDate date);
SaveResult saveCsv(const ReadingTable& table, const QString& fileName, QStringView decimalSep,
                   Progress* progress = nullptr);
// Appends the rows of a CSV written by the program (of either separator, told
// by the header line), as loadText() does a text table's; the date-and-time
// column is passed over. A file whose header holds a tab is a text table of
// an earlier version that was given a ".csv" name, and loads as one. The
// program ends every line with CR LF: a last line without a line end was cut
// short as it was written (a recording killed, a file still being written)
// and is left out, and the load still succeeds; so is a quoted field not
// closed at the end. The table's lastRowAt() becomes the last row's date and
// time when the file gives it.
LoadResult loadCsv(ReadingTable& table, const QString& fileName, Progress* progress = nullptr);
LoadResult loadCsv(ReadingTable& table, QIODevice& device, Progress* progress = nullptr);
// The fields of one CSV record (lines joined, without the last line end):
// a null string for an empty field, an empty one for "". `ok` is false for
// a quoted field followed by other text or a quote that is not closed.
QStringList splitCsvLine(QStringView line, QChar separator, bool* ok = nullptr);

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
// reader, and the text table's general splitting for every line (of a CSV
// too). For the checks that hold the two against each other.
namespace general {
QByteArray xmlPacket(const ReadingTable& table);
LoadResult loadXml(ReadingTable& table, QIODevice& device);
LoadResult loadText(ReadingTable& table, QIODevice& device);
LoadResult loadCsv(ReadingTable& table, QIODevice& device);
} // namespace general

// The ROW attribute that carries a field's value in the XML data packet.
QString xmlAttributeName(const QString& fieldName);

// Loads any format, chosen by the name; `emptyFirst` empties the table
// before. Rows loaded from a text table or an XML packet are taken to end at
// the file's modification time (ReadingTable::lastRowAt()).
LoadResult loadTableFile(const QString& fileName, ReadingTable& table, bool emptyFirst,
                         Progress* progress = nullptr);

} // namespace datafiles
} // namespace voltaro
