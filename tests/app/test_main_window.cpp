#include "support/WindowTestSupport.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/lcd/LcdPanel.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTableView>
#include <QToolButton>

#include <gtest/gtest.h>

#include <memory>

using namespace voltaro;
using E = LcdElement;

namespace {

class MainWindow : public ::testing::Test {
protected:
    void SetUp() override {
        w = std::make_unique<TFCOMM>();
        w->show();
        QApplication::processEvents();
    }

    QWidget* child(const char* name) const {
        auto* c = w->findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(c, nullptr) << name;
        return c;
    }

    // Geometry of a control relative to the client area.
    QRect inClient(const char* name) const {
        QWidget* c = child(name);
        return c ? QRect(c->mapTo(w->centralWidget(), QPoint(0, 0)), c->size()) : QRect();
    }

    std::unique_ptr<TFCOMM> w;
};

} // namespace

TEST_F(MainWindow, FixedClientAreaWithoutMaximise) {
    EXPECT_EQ(w->centralWidget()->size(), QSize(714, 477));
    EXPECT_EQ(w->minimumSize(), w->maximumSize());
    EXPECT_FALSE(w->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(w->windowFlags() & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(w->windowTitle() == "Voltaro Interface Program Ver 4.01(x64)" ||
                w->windowTitle() == "Voltaro Interface Program Ver 4.01(x86)")
        << w->windowTitle().toStdString();
    w->showMinimized();
    w->showNormal();
    QApplication::processEvents();
    EXPECT_EQ(inClient("Panel1"), QRect(3, 28, 334, 181));
}

TEST_F(MainWindow, RegionsAndVisibleControlsSitWhereTheLayoutPutsThem) {
    struct Place {
        const char* name;
        QRect rect; // in client coordinates
        const char* text;
        const char* hint;
    };
    const Place places[] = {
        {"Panel6", {5, -4, 707, 34}, nullptr, nullptr},
        {"Panel1", {3, 28, 334, 181}, nullptr, nullptr},
        {"Panel4", {340, 30, 371, 132}, nullptr, nullptr},
        {"Panel5", {341, 166, 372, 38}, nullptr, nullptr},
        {"Chtshow", {336, 204, 376, 269}, nullptr, nullptr},
        {"DBGrid1", {1, 232, 334, 241}, nullptr, nullptr},
        {"BtCOM1", {10, 2, 61, 24}, "COM 1", nullptr},
        {"COMCon", {71, 1, 152, 25}, "COM Connect", nullptr},
        {"USBCon", {226, 2, 119, 25}, "USB Connect", "USB Connect"},
        {"BitBtn1", {610, 1, 89, 25}, "QUIT", nullptr},
        {"RepeatSet", {1, 210, 54, 20}, "Repeat", "Repeage Record"},
        {"RecordSI", {55, 210, 143, 20}, "Sampling Interval           'S", nullptr},
        {"RecordSITime", {157, 210, 27, 21}, "10", nullptr},
        {"RecordNew", {246, 210, 23, 21}, nullptr, "Close Data"},
        {"OpenDataFiles", {268, 210, 23, 21}, nullptr, "Open old data files"},
        {"saveas", {290, 210, 23, 21}, nullptr, "Save data files"},
        {"BtPrint", {312, 210, 22, 21}, nullptr, "Print"},
        {"BtFill", {365, 170, 44, 17}, "Fill", "Graphic Fill"},
        {"Maxrecord", {432, 168, 49, 21}, "100", nullptr},
        {"BtSave", {490, 169, 28, 21}, nullptr, "Save"},
        {"BtFirst", {520, 169, 25, 21}, nullptr, "First"},
        {"BTPrevious", {544, 169, 25, 21}, nullptr, "Previous"},
        {"Bt10", {568, 169, 25, 21}, "1", "Page No."},
        {"BtNext", {592, 169, 25, 21}, nullptr, "Next"},
        {"BTlast", {616, 169, 25, 21}, nullptr, "last"},
        {"TbFd", {653, 169, 25, 25}, nullptr, "Graphic Enlarge"},
        {"T1HI", {452, 46, 81, 22}, "22000", "Can't for empty"},
        {"T1VALUE", {452, 84, 129, 32}, "0", nullptr},
        {"T1LO", {452, 130, 81, 22}, "-22000", "Can't for empty"},
        {"Shape1", {585, 38, 113, 121}, nullptr, nullptr},
        {"CONokN", {682, 35, 25, 24}, nullptr, nullptr},
    };
    for (const auto& p : places) {
        SCOPED_TRACE(p.name);
        QWidget* c = child(p.name);
        ASSERT_NE(c, nullptr);
        EXPECT_TRUE(c->isVisible());
        EXPECT_EQ(inClient(p.name), p.rect);
        if (p.hint) {
            EXPECT_EQ(c->toolTip(), QString::fromUtf8(p.hint));
        }
        if (p.text) {
            QString text;
            if (auto* b = qobject_cast<QAbstractButton*>(c))
                text = b->text();
            else if (auto* e = qobject_cast<QLineEdit*>(c))
                text = e->text();
            else if (auto* l = qobject_cast<QLabel*>(c))
                text = l->text();
            EXPECT_EQ(text, QString::fromUtf8(p.text));
        }
    }
    for (const char* hidden : {"BtCOM2", "BtCOM3", "BtCOM4", "TbSx", "CONok", "judge"})
        EXPECT_FALSE(child(hidden)->isVisible()) << hidden;
    EXPECT_TRUE(qobject_cast<QCheckBox*>(child("BtFill"))->isChecked());
    EXPECT_TRUE(qobject_cast<QCheckBox*>(child("RepeatSet"))->isChecked());
    EXPECT_FALSE(qobject_cast<QCheckBox*>(child("RecordSI"))->isChecked());
    for (const char* label : {"T1_HI", "T1_Value", "T1_LO"})
        EXPECT_TRUE(child(label)->isVisible()) << label;
}

TEST_F(MainWindow, ControlsOutsideTheClientAreaCannotBeSeenOrReached) {
    const char* outside[] = {"BTCon",      "BtDiscon", "BtExit",  "BtNew",      "IFDX22K",        "IFRQ350",
                             "USBtxt",     "Memo1",    "Memo2",   "DevListBox", "HistoryListBox", "ReadBtn",
                             "SetFeature", "ClearBtn", "Setmax",  "SetMin",     "SetMaxB",        "SetMinB",
                             "multirange", "Panel3",   "MaxText", "IFOtherT"};
    for (const char* name : outside) {
        QWidget* c = child(name);
        ASSERT_NE(c, nullptr) << name;
        EXPECT_FALSE(c->isVisible()) << name;
    }
    // Their stored state is there all the same.
    EXPECT_TRUE(qobject_cast<QCheckBox*>(child("IFDX22K"))->isChecked());
    EXPECT_FALSE(qobject_cast<QCheckBox*>(child("IFRQ350"))->isChecked());
    EXPECT_TRUE(qobject_cast<QCheckBox*>(child("multirange"))->isChecked());
    EXPECT_FALSE(qobject_cast<QCheckBox*>(child("SetMaxB"))->isChecked());
    EXPECT_EQ(qobject_cast<QLineEdit*>(child("Setmax"))->text(), "22000");
    EXPECT_EQ(qobject_cast<QLineEdit*>(child("SetMin"))->text(), "-22000");
    EXPECT_TRUE(child("BTCon")->isVisibleTo(child("BTCon")->parentWidget()));
    EXPECT_TRUE(child("BtDiscon")->isHidden());
    EXPECT_EQ(child("BtExit")->x(), w->frameGeometry().width() - 80);
    EXPECT_EQ(child("BTCon")->y(), 511);

    // Every visible widget of the client area lies inside it.
    const QRect client(QPoint(0, 0), w->centralWidget()->size());
    for (QWidget* c : w->centralWidget()->findChildren<QWidget*>()) {
        if (!c->isVisible() || c->objectName() == "Panel6")
            continue;
        const QRect r(c->mapTo(w->centralWidget(), QPoint(0, 0)), c->size());
        EXPECT_TRUE(client.contains(r.center())) << c->objectName().toStdString();
    }
}

TEST_F(MainWindow, MenuTreeAndStartStates) {
    struct Item {
        const char* text;
        bool checked;
        bool enabled;
    };
    auto items = [&](int index) {
        QList<QAction*> acts = w->menuBar()->actions()[index]->menu()->actions();
        std::vector<std::pair<std::string, std::pair<bool, bool>>> out;
        for (QAction* a : acts)
            out.push_back(
                {a->isSeparator() ? "-" : a->text().toStdString(), {a->isChecked(), a->isEnabled()}});
        return out;
    };
    QStringList titles;
    for (QAction* a : w->menuBar()->actions())
        titles << a->text();
    EXPECT_EQ(titles, (QStringList{"ComSetup", "Connect", "Graphic", "Record"}));
    using V = std::vector<std::pair<std::string, std::pair<bool, bool>>>;
    // Below the ports, the USB cables (none plugged in here).
    EXPECT_EQ(items(0), (V{{"COM1", {true, true}},
                           {"COM2", {false, true}},
                           {"COM3", {false, true}},
                           {"COM4", {false, true}},
                           {"-", {false, true}},
                           {"Any USB cable", {true, true}}}));
    EXPECT_EQ(items(1), (V{{"START", {false, true}}, {"STOP", {false, false}}}));
    EXPECT_EQ(items(2), (V{{"First", {false, true}},
                           {"Previous", {false, true}},
                           {"Next", {false, true}},
                           {"Last", {false, true}},
                           {"-", {false, true}},
                           {"New", {false, true}},
                           {"Save", {false, true}},
                           {"-", {false, true}},
                           {"Fill", {true, true}}}));
    EXPECT_EQ(items(3), (V{{"New", {false, true}},
                           {"Save", {false, true}},
                           {"-", {false, true}},
                           {"1000", {false, true}},
                           {"5000", {false, true}},
                           {"10000", {true, true}},
                           {"50000", {false, true}},
                           {"100000", {false, true}},
                           {"limitless", {false, true}}}));
}

TEST_F(MainWindow, StartsWithTheProfileApplied) {
    auto* lcd = w->findChild<LcdPanel*>("Panel1");
    ASSERT_NE(lcd, nullptr);
    EXPECT_EQ(w->pipeline().fullScaleCount(), 22000);
    EXPECT_EQ(w->pipeline().settings().alarmHigh, 22002.0f);
    EXPECT_EQ(w->pipeline().settings().alarmLow, -22002.0f);
    EXPECT_EQ(lcd->barMaximum(), 22);
    EXPECT_EQ(lcd->barPosition(), 20);
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(lcd->digitText(i), QString("22000").mid(i, 1));
    EXPECT_FALSE(lcd->isLit(E::LcdV));
    EXPECT_FALSE(lcd->isLit(E::LCDsend));
    EXPECT_EQ(w->pipeline().evaluator().LastUnitText, "113");
}
