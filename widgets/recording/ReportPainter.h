#pragma once

#include "core/recording/ReportLayout.h"

#include <QtGlobal>

#include <functional>

class QPagedPaintDevice;

namespace voltaro {

class ReadingTable;

// The printed report of the reading table: a title and column headings at the
// top of every page, one line per row, and a footer at the foot of every page.
// Where each line goes is worked out in ReportLayout.h; this paints them.
namespace report {

// Told after each page how many of how many pages are done; returning false
// stops the report there.
using Progress = std::function<bool(int pagesDone, int pages)>;

// Paints the whole table onto `device`, one page after the other, using the
// device's own page layout. An empty table paints nothing at all (the device
// is not even begun) and gives false, as does a report `progress` stopped.
bool paint(const ReadingTable& table, QPagedPaintDevice& device, const Progress& progress = {});

} // namespace report
} // namespace voltaro
