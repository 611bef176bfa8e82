// The main menu, and the handler of a region each item runs.
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/ChartRegion.h"

#include <QMenuBar>

namespace voltaro {

namespace {

QAction* item(QMenu* menu, const char* name, const QString& text) {
    QAction* a = menu->addAction(text);
    a->setObjectName(QString::fromLatin1(name));
    return a;
}

QAction* checkItem(QMenu* menu, const char* name, const QString& text, bool checked) {
    QAction* a = item(menu, name, text);
    a->setCheckable(true);
    a->setChecked(checked);
    return a;
}

} // namespace

void TFCOMM::buildMenu() {
    QMenuBar* bar = menuBar();
    bar->setObjectName(QStringLiteral("MainMenu1"));

    auto& link = menus_.link;
    link.ComSetup1 = bar->addMenu(QStringLiteral("ComSetup"));
    link.ComSetup1->setObjectName(QStringLiteral("ComSetup1"));
    link.COM11 = checkItem(link.ComSetup1, "COM11", QStringLiteral("COM1"), true);
    link.COM21 = checkItem(link.ComSetup1, "COM21", QStringLiteral("COM2"), false);
    link.COM31 = checkItem(link.ComSetup1, "COM31", QStringLiteral("COM3"), false);
    link.COM41 = checkItem(link.ComSetup1, "COM41", QStringLiteral("COM4"), false);

    QMenu* connectMenu = bar->addMenu(QStringLiteral("Connect"));
    connectMenu->setObjectName(QStringLiteral("Connect1"));
    link.START1 = checkItem(connectMenu, "START1", QStringLiteral("START"), false);
    link.STOP1 = checkItem(connectMenu, "STOP1", QStringLiteral("STOP"), false);
    link.STOP1->setEnabled(false);

    QMenu* graphic = bar->addMenu(QStringLiteral("Graphic"));
    graphic->setObjectName(QStringLiteral("Graphic1"));
    menus_.first = item(graphic, "First1", QStringLiteral("First"));
    menus_.previous = item(graphic, "Previous1", QStringLiteral("Previous"));
    menus_.next = item(graphic, "Next1", QStringLiteral("Next"));
    menus_.last = item(graphic, "Last1", QStringLiteral("Last"));
    graphic->addSeparator();
    menus_.chartNew = item(graphic, "New1", QStringLiteral("New"));
    menus_.chartSave = item(graphic, "Save1", QStringLiteral("Save"));
    graphic->addSeparator();
    menus_.fill = checkItem(graphic, "Fill", QStringLiteral("Fill"), true);

    QMenu* record = bar->addMenu(QStringLiteral("Record"));
    record->setObjectName(QStringLiteral("Record1"));
    menus_.recordNew = item(record, "New2", QStringLiteral("New"));
    menus_.recordSave = item(record, "Save2", QStringLiteral("Save"));
    record->addSeparator();
    auto& limits = menus_.limits;
    limits.N10001 = checkItem(record, "N10001", QStringLiteral("1000"), false);
    limits.N50001 = checkItem(record, "N50001", QStringLiteral("5000"), false);
    limits.N100001 = checkItem(record, "N100001", QStringLiteral("10000"), true);
    limits.N500001 = checkItem(record, "N500001", QStringLiteral("50000"), false);
    limits.N1000001 = checkItem(record, "N1000001", QStringLiteral("100000"), false);
    limits.limitess = checkItem(record, "limitess", QStringLiteral("limitless"), false);
}

void TFCOMM::connectMenu() {
    const auto& link = menus_.link;
    connect(link.COM11, &QAction::triggered, linkBar_, &LinkBar::COM11Click);
    connect(link.COM21, &QAction::triggered, linkBar_, &LinkBar::COM21Click);
    connect(link.COM31, &QAction::triggered, linkBar_, &LinkBar::COM31Click);
    connect(link.COM41, &QAction::triggered, linkBar_, &LinkBar::COM41Click);
    connect(link.START1, &QAction::triggered, linkBar_, &LinkBar::BTCon1Click);
    connect(link.STOP1, &QAction::triggered, linkBar_, &LinkBar::BtDiscon1Click);

    connect(menus_.first, &QAction::triggered, chart_, &ChartRegion::BtFirstClick);
    connect(menus_.previous, &QAction::triggered, chart_, &ChartRegion::BTPreviousClick);
    connect(menus_.next, &QAction::triggered, chart_, &ChartRegion::BtNextClick);
    connect(menus_.last, &QAction::triggered, chart_, &ChartRegion::BTlastClick);
    connect(menus_.chartNew, &QAction::triggered, chart_, &ChartRegion::BtNewClick);
    connect(menus_.chartSave, &QAction::triggered, chart_, &ChartRegion::BtSaveClick);
    connect(menus_.fill, &QAction::triggered, chart_, &ChartRegion::FillClick);

    connect(menus_.recordNew, &QAction::triggered, recording_, &RecordingRegion::RecordNewClick);
    connect(menus_.recordSave, &QAction::triggered, recording_, &RecordingRegion::saveasClick);
    const auto& limits = menus_.limits;
    connect(limits.N10001, &QAction::triggered, recording_, &RecordingRegion::N10001Click);
    connect(limits.N50001, &QAction::triggered, recording_, &RecordingRegion::N50001Click);
    connect(limits.N100001, &QAction::triggered, recording_, &RecordingRegion::N100001Click);
    connect(limits.N500001, &QAction::triggered, recording_, &RecordingRegion::N500001Click);
    connect(limits.N1000001, &QAction::triggered, recording_, &RecordingRegion::N1000001Click);
    connect(limits.limitess, &QAction::triggered, recording_, &RecordingRegion::limitessClick);
}

} // namespace voltaro
