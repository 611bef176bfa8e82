#include "core/recording/ReadingTableModel.h"

#include "core/recording/UnitSymbols.h"

#include <QTimer>

#include <algorithm>

namespace voltaro {

namespace {

// Each publication repaints the grid, laying out the text of every cell in
// sight: at the meter's fastest, five times a second was a fifth of the
// window's CPU time, so rows streaming in are published twice a second. A
// row that comes after a quiet spell is published at once.
// Publishing also makes the grid's row header recompute where every row
// starts, about a nanosecond a row: nothing for a short recording, but 4 %
// of a core at nine million rows five times a second. A long table is
// therefore published less often still: every rows/10,000 ms keeps that
// work near 1 % of a core however long the recording grows (a second at ten
// million rows).
constexpr int kPublishMs = 500;
constexpr qsizetype kRowsPerPublishMs = 10'000;

int publishInterval(qsizetype rows) {
    return static_cast<int>(std::max<qsizetype>(kPublishMs, rows / kRowsPerPublishMs));
}

constexpr int kFieldOfColumn[] = {ReadingTable::No,    ReadingTable::Time, ReadingTable::Function,
                                  ReadingTable::Value, ReadingTable::Unit, ReadingTable::Judge};

} // namespace

ReadingTableModel::ReadingTableModel(ReadingTable& table, QObject* parent)
    : QAbstractTableModel(parent), table_(table), published_(static_cast<int>(table.rowCount())),
      publishTimer_(new QTimer(this)) {
    publishTimer_->setSingleShot(true);
    publishTimer_->setInterval(kPublishMs);
    connect(publishTimer_, &QTimer::timeout, this, &ReadingTableModel::flush);
}

int ReadingTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : published_;
}

int ReadingTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ReadingTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= published_)
        return {};
    const int field = kFieldOfColumn[index.column()];
    switch (role) {
    case Qt::DisplayRole: {
        const QString text = table_.text(index.row(), field);
        return index.column() == ColUnit ? unitSymbols(text) : text;
    }
    case Qt::TextAlignmentRole:
        switch (index.column()) {
        case ColTime:
        case ColFunction: return int(Qt::AlignCenter);
        case ColValue:
        case ColUnit: return int(Qt::AlignRight | Qt::AlignVCenter);
        default: return int(Qt::AlignLeft | Qt::AlignVCenter);
        }
    default: return {};
    }
}

QVariant ReadingTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 || section >= ColumnCount)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char* const kTitles[] = {"No", "time", "Function", "Value", "Unit", "Judge"};
    return QString::fromLatin1(kTitles[section]);
}

int ReadingTableModel::columnWidth(int column) {
    // The time column is six pixels wider than the stored layout's 50 (and
    // the number column six narrower), so "hh:mm:ss" fits with this toolkit's
    // cell margins; the two together take the same room.
    static constexpr int kWidths[] = {47, 56, 70, 56, 35, 0};
    return column >= 0 && column < ColumnCount ? kWidths[column] : 0;
}

void ReadingTableModel::rowsAppended() {
    if (publishTimer_->isActive())
        return;
    const qint64 interval = publishInterval(table_.rowCount());
    const qint64 since = lastPublished_.isValid() ? lastPublished_.elapsed() : interval;
    if (since >= interval)
        flush();
    else
        publishTimer_->start(static_cast<int>(interval - since));
}

void ReadingTableModel::flush() {
    publishTimer_->stop();
    lastPublished_.start();
    const int rows = static_cast<int>(table_.rowCount());
    if (rows <= published_)
        return;
    beginInsertRows({}, published_, rows - 1);
    published_ = rows;
    endInsertRows();
    emit rowsPublished(rows - 1);
}

void ReadingTableModel::tableReset() {
    publishTimer_->stop();
    beginResetModel();
    published_ = static_cast<int>(table_.rowCount());
    endResetModel();
    if (published_ > 0)
        emit rowsPublished(published_ - 1);
}

} // namespace voltaro
