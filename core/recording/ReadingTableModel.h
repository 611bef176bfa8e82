#pragma once

#include "core/recording/ReadingTable.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>

class QTimer;

namespace voltaro {

// The grid's view of the reading table: six columns (the count is not
// shown). Rows appended while readings stream in are published to the views
// in batches, at most twice a second (less often once the table holds
// millions of rows), so a fast meter never forces a redraw per row; nothing
// is lost, only shown a moment later. A row after a quiet spell shows at once.
class ReadingTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { ColNo, ColTime, ColFunction, ColValue, ColUnit, ColJudge, ColumnCount };

    explicit ReadingTableModel(ReadingTable& table, QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Rows were appended to the table; they reach the views shortly.
    void rowsAppended();
    // Publishes appended rows now.
    void flush();
    // The table was emptied or replaced.
    void tableReset();

    static int columnWidth(int column);

signals:
    // Rows were published; `newest` is the last row.
    void rowsPublished(int newest);

private:
    ReadingTable& table_;
    int published_ = 0;
    QTimer* publishTimer_;
    QElapsedTimer lastPublished_;
};

} // namespace voltaro
