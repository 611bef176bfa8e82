#pragma once

class QWidget;

namespace voltaro {

class ReadingTable;

namespace report {

// Opens the report of `table` in a print preview over `parent` and returns
// when the preview is closed. A very long report is prepared only when the
// user says so, and shows its progress.
void preview(QWidget* parent, const ReadingTable& table);

} // namespace report
} // namespace voltaro
