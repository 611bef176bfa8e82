// The main menu and the handler each item runs.
#include "app/TFCOMM.h"

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

    ComSetup1 = bar->addMenu(QStringLiteral("ComSetup"));
    ComSetup1->setObjectName(QStringLiteral("ComSetup1"));
    COM11 = checkItem(ComSetup1, "COM11", QStringLiteral("COM1"), true);
    COM21 = checkItem(ComSetup1, "COM21", QStringLiteral("COM2"), false);
    COM31 = checkItem(ComSetup1, "COM31", QStringLiteral("COM3"), false);
    COM41 = checkItem(ComSetup1, "COM41", QStringLiteral("COM4"), false);
    connect(COM11, &QAction::triggered, this, &TFCOMM::COM11Click);
    connect(COM21, &QAction::triggered, this, &TFCOMM::COM21Click);
    connect(COM31, &QAction::triggered, this, &TFCOMM::COM31Click);
    connect(COM41, &QAction::triggered, this, &TFCOMM::COM41Click);

    QMenu* connectMenu = bar->addMenu(QStringLiteral("Connect"));
    connectMenu->setObjectName(QStringLiteral("Connect1"));
    START1 = checkItem(connectMenu, "START1", QStringLiteral("START"), false);
    STOP1 = checkItem(connectMenu, "STOP1", QStringLiteral("STOP"), false);
    STOP1->setEnabled(false);
    connect(START1, &QAction::triggered, this, &TFCOMM::BTCon1Click);
    connect(STOP1, &QAction::triggered, this, &TFCOMM::BtDiscon1Click);

    QMenu* graphic = bar->addMenu(QStringLiteral("Graphic"));
    graphic->setObjectName(QStringLiteral("Graphic1"));
    connect(item(graphic, "First1", QStringLiteral("First")), &QAction::triggered, this,
            &TFCOMM::BtFirstClick);
    connect(item(graphic, "Previous1", QStringLiteral("Previous")), &QAction::triggered, this,
            &TFCOMM::BTPreviousClick);
    connect(item(graphic, "Next1", QStringLiteral("Next")), &QAction::triggered, this, &TFCOMM::BtNextClick);
    connect(item(graphic, "Last1", QStringLiteral("Last")), &QAction::triggered, this, &TFCOMM::BTlastClick);
    graphic->addSeparator();
    connect(item(graphic, "New1", QStringLiteral("New")), &QAction::triggered, this, &TFCOMM::BtNewClick);
    connect(item(graphic, "Save1", QStringLiteral("Save")), &QAction::triggered, this, &TFCOMM::BtSaveClick);
    graphic->addSeparator();
    FillItem = checkItem(graphic, "Fill", QStringLiteral("Fill"), true);
    connect(FillItem, &QAction::triggered, this, &TFCOMM::FillClick);

    QMenu* record = bar->addMenu(QStringLiteral("Record"));
    record->setObjectName(QStringLiteral("Record1"));
    connect(item(record, "New2", QStringLiteral("New")), &QAction::triggered, this, &TFCOMM::RecordNewClick);
    connect(item(record, "Save2", QStringLiteral("Save")), &QAction::triggered, this, &TFCOMM::saveasClick);
    record->addSeparator();
    N10001 = checkItem(record, "N10001", QStringLiteral("1000"), false);
    N50001 = checkItem(record, "N50001", QStringLiteral("5000"), false);
    N100001 = checkItem(record, "N100001", QStringLiteral("10000"), true);
    N500001 = checkItem(record, "N500001", QStringLiteral("50000"), false);
    N1000001 = checkItem(record, "N1000001", QStringLiteral("100000"), false);
    limitess = checkItem(record, "limitess", QStringLiteral("limitless"), false);
    connect(N10001, &QAction::triggered, this, &TFCOMM::N10001Click);
    connect(N50001, &QAction::triggered, this, &TFCOMM::N50001Click);
    connect(N100001, &QAction::triggered, this, &TFCOMM::N100001Click);
    connect(N500001, &QAction::triggered, this, &TFCOMM::N500001Click);
    connect(N1000001, &QAction::triggered, this, &TFCOMM::N1000001Click);
    connect(limitess, &QAction::triggered, this, &TFCOMM::limitessClick);
}

} // namespace voltaro
