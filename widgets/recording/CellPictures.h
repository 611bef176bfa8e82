#pragma once

#include <QCache>
#include <QColor>
#include <QFont>
#include <QImage>
#include <QStyledItemDelegate>

#include <array>

namespace voltaro {

// Paints the reading grid's cells from pictures of cells drawn before. A
// cell is drawn by the style as ever, once, into a picture of the surface's
// own format over the same background, and a cell with the same text, size,
// state and alignment is that picture copied. Most of a recording's cells
// repeat (the function, the unit, the judgement, the second), and drawing a
// text lays it out three times. Anything unusual (a printer, a scaled
// painter, a patterned background, an icon) is drawn as ever.
class CellPictures : public QStyledItemDelegate {
    Q_OBJECT
public:
    static constexpr int kPictures = 512;

    explicit CellPictures(QObject* parent = nullptr);

    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;

    // Cells drawn from a picture, and pictures drawn, since the start.
    qint64 copied() const { return copied_; }
    qint64 drawn() const { return drawn_; }
    int kept() const { return pictures_.size(); }

    struct Key {
        QString text;
        int width;
        int height;
        int state;
        int features;
        int alignment;
        int elide;
        friend bool operator==(const Key&, const Key&) = default;
    };

private:
    // What every picture shares; when it changes, the pictures are dropped.
    struct Look {
        QFont font;
        qint64 palette = 0;
        const void* style = nullptr;
        QRgb backdrop = 0;
        QImage::Format format = QImage::Format_Invalid;
        qreal ratio = 0;
        friend bool operator==(const Look&, const Look&) = default;
    };

    // A column whose texts do not come again (the record number) is drawn
    // without keeping pictures, tried again every so often.
    struct Column {
        int looked = 0;
        int found = 0;
        int passed = 0;
    };
    bool worthKeeping(int column) const;

    mutable QCache<Key, QImage> pictures_{kPictures};
    mutable std::array<Column, 16> columns_{};
    mutable Look look_;
    mutable qint64 copied_ = 0;
    mutable qint64 drawn_ = 0;
};

size_t qHash(const CellPictures::Key& key, size_t seed = 0) noexcept;

} // namespace voltaro
