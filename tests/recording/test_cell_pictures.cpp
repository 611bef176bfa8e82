// The grid's cells and the value box's panel drawn from pictures look exactly as the style draws them.
#include "widgets/recording/CellPictures.h"
#include "widgets/recording/JudgeLamp.h"
#include "widgets/recording/PanelPictures.h"

#include <QApplication>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QScrollBar>
#include <QStandardItemModel>
#include <QStyleFactory>
#include <QTableView>

#include <gtest/gtest.h>

#include <memory>

using voltaro::CellPictures;

namespace {

struct Grid {
    std::unique_ptr<QStyle> fusion{QStyleFactory::create(QStringLiteral("Fusion"))}; // outlives the view
    QStandardItemModel model{40, 3};
    QTableView view;
    CellPictures* pictures = nullptr;

    explicit Grid(bool withPictures) {
        view.setStyle(fusion.get());
        for (int r = 0; r < model.rowCount(); ++r) {
            // Repeating texts, as a recording's are, and ones seen once.
            model.setItem(r, 0, new QStandardItem(QString::number(r + 1)));
            auto* value =
                new QStandardItem(r % 3 == 0 ? QStringLiteral("-1.2345") : QStringLiteral("22.001"));
            value->setTextAlignment(Qt::AlignRight | Qt::AlignVCenter);
            model.setItem(r, 1, value);
            auto* judge = new QStandardItem(r % 5 == 0 ? QStringLiteral("Fail") : QStringLiteral("Pass"));
            judge->setTextAlignment(Qt::AlignCenter);
            model.setItem(r, 2, judge);
        }
        view.setModel(&model);
        view.setSelectionBehavior(QAbstractItemView::SelectRows);
        view.verticalHeader()->hide();
        view.verticalHeader()->setDefaultSectionSize(18);
        view.setColumnWidth(1, 44); // narrower than "-1.2345": elided
        view.resize(220, 200);
        if (withPictures) {
            pictures = new CellPictures(&view);
            view.setItemDelegate(pictures);
        }
        view.selectRow(3);
        view.show();
    }
    QImage image() { return view.grab().toImage(); }
};

} // namespace

TEST(CellPictures, CellsFromPicturesMatchCellsDrawnByTheStyle) {
    Grid plain(false);
    Grid drawn(true);
    ASSERT_EQ(plain.image(), drawn.image());
    EXPECT_GT(drawn.pictures->drawn(), 0);
    EXPECT_GT(drawn.pictures->copied(), 0) << "the repeated texts are copied the first time already";

    // Scrolled, with another row selected: the pictures kept are used again.
    for (Grid* g : {&plain, &drawn}) {
        g->view.selectRow(20);
        g->view.scrollTo(g->model.index(20, 0));
    }
    const qint64 copiedBefore = drawn.pictures->copied();
    EXPECT_EQ(plain.image(), drawn.image());
    EXPECT_GT(drawn.pictures->copied(), copiedBefore);

    // A new font or selection colour: no picture of the old look is shown.
    QPalette red = plain.view.palette();
    red.setColor(QPalette::Highlight, Qt::red);
    for (Grid* g : {&plain, &drawn}) {
        g->view.setFont(QFont(QStringLiteral("DejaVu Serif"), 14));
        g->view.setPalette(red);
    }
    EXPECT_EQ(plain.image(), drawn.image());
}

TEST(CellPictures, CellsWhoseTextsNeverComeAgainAreStillDrawnAsTheStyleDrawsThem) {
    Grid plain(false);
    Grid drawn(true);
    for (Grid* g : {&plain, &drawn})
        g->view.resize(220, 800);
    // The record numbers are new every time; the other columns repeat.
    for (int round = 0; round < 12; ++round) {
        for (Grid* g : {&plain, &drawn})
            for (int r = 0; r < g->model.rowCount(); ++r)
                g->model.item(r, 0)->setText(QString::number(round * 1000 + r));
        ASSERT_EQ(plain.image(), drawn.image()) << round;
    }
    EXPECT_GT(drawn.pictures->copied(), 0);
    EXPECT_LE(drawn.pictures->kept(), CellPictures::kPictures);
}

TEST(PanelPictures, AValueBoxWithItsPanelCopiedLooksAsTheStyleDrawsIt) {
    struct Box {
        QWidget back;
        QLineEdit* edit = new QLineEdit(&back);
        explicit Box(QStyle* style) {
            back.setAutoFillBackground(true);
            back.resize(200, 60);
            edit->setGeometry(10, 10, 129, 32);
            edit->setReadOnly(true);
            if (style) {
                style->setParent(edit);
                edit->setStyle(style);
            }
            back.show();
        }
    };
    Box plain(nullptr);
    auto* pictures = new voltaro::PanelPictures;
    Box copied(pictures);
    for (const char* text : {"1.2345", "-22.001", "0.0000"}) {
        for (Box* b : {&plain, &copied})
            b->edit->setText(QString::fromLatin1(text));
        ASSERT_EQ(plain.back.grab().toImage(), copied.back.grab().toImage()) << text;
    }
    EXPECT_EQ(pictures->drawn(), 1);
    EXPECT_EQ(pictures->copied(), 2);

    // Another colour under it, then its own: drawn again each time.
    QPalette dark = plain.back.palette();
    dark.setColor(QPalette::Window, Qt::darkGray);
    for (Box* b : {&plain, &copied})
        b->back.setPalette(dark);
    EXPECT_EQ(plain.back.grab().toImage(), copied.back.grab().toImage());
    EXPECT_EQ(pictures->drawn(), 2);
    QPalette green = plain.edit->palette();
    green.setColor(QPalette::Base, QColor(0, 128, 0));
    for (Box* b : {&plain, &copied})
        b->edit->setPalette(green);
    EXPECT_EQ(plain.back.grab().toImage(), copied.back.grab().toImage());
    EXPECT_EQ(pictures->drawn(), 3);
}

TEST(PaintMemo, APartOfTheLampRepaintedUnderTheLinkLampIsCopiedExactly) {
    struct Panel {
        QWidget back;
        voltaro::JudgeLamp* lamp = new voltaro::JudgeLamp(&back);
        QLabel* caption = new QLabel(QStringLiteral("PASS"), &back);
        QLabel* link = new QLabel(&back);
        Panel() {
            back.setAutoFillBackground(true);
            back.resize(140, 140);
            lamp->setGeometry(5, 8, 113, 121);
            lamp->setBrushColor(QColor(0, 128, 0));
            // An opaque caption over the circle: the lamp never paints that part.
            caption->setAutoFillBackground(true);
            caption->setGeometry(35, 52, 75, 36);
            link->setGeometry(95, 5, 25, 24); // over the circle's edge, as the link's lamp is
        }
        QImage render() {
            QImage image(back.size(), QImage::Format_ARGB32_Premultiplied);
            back.render(&image);
            return image;
        }
    };
    Panel blinking;
    QImage shown = blinking.render();
    for (const char* text : {"#", "", "@"}) {
        blinking.link->setText(QString::fromLatin1(text));
        // Only the link's part is painted again, as a repaint of it does.
        const QRect part = blinking.link->geometry();
        blinking.back.render(&shown, part.topLeft(), QRegion(part));
        Panel fresh;
        fresh.link->setText(QString::fromLatin1(text));
        ASSERT_EQ(shown, fresh.render()) << text;
    }
    EXPECT_EQ(blinking.lamp->copiedPaints(), 3);
}

TEST(PanelPictures, AScrollBarCopiedLooksAsTheStyleDrawsItWhereverItsSliderIs) {
    QWidget back;
    back.setAutoFillBackground(true);
    back.resize(40, 240);
    QScrollBar plain(Qt::Vertical, &back);
    QScrollBar copied(Qt::Vertical, &back);
    plain.setGeometry(0, 0, 14, 225);
    copied.setGeometry(20, 0, 14, 225);
    auto* pictures = new voltaro::PanelPictures;
    pictures->setParent(&copied);
    copied.setStyle(pictures);
    back.show();
    // The same place twice, then a longer range and the slider at its end.
    for (const auto& [rows, at] : {std::pair{100, 0}, {100, 0}, {300, 290}, {300, 290}}) {
        for (QScrollBar* bar : {&plain, &copied}) {
            bar->setRange(0, rows);
            bar->setValue(at);
        }
        const QImage shown = back.grab().toImage();
        ASSERT_EQ(shown.copy(0, 0, 14, 225), shown.copy(20, 0, 14, 225)) << rows << " " << at;
    }
    EXPECT_EQ(pictures->copied(), 2);
}
