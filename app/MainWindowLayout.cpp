// The window's controls at their stored positions, region by region.
#include "app/ClickPanel.h"
#include "app/JudgeLamp.h"
#include "app/Pictures.h"
#include "app/TFCOMM.h"
#include "chart/PlotSurface.h"
#include "decode/LcdPanel.h"

#include <QCheckBox>
#include <QFrame>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QToolButton>

#include <qcustomplot.h>

namespace voltaro {

namespace {

// The stored layout's fonts are Windows fonts; these are the closest Debian
// ones at the same pixel size.
QFont uiFont(int pixels, bool bold = true) {
    QFont f(QStringLiteral("Liberation Sans"));
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

template <typename W> W* place(W* w, const char* name, int x, int y, int width, int height) {
    w->setObjectName(QString::fromLatin1(name));
    w->setGeometry(x, y, width, height);
    return w;
}

QToolButton* speedButton(QWidget* parent, const char* name, const QString& hint, const QIcon& icon, int x,
                         int y, int w, int h) {
    auto* b = place(new QToolButton(parent), name, x, y, w, h);
    b->setToolTip(hint);
    b->setIcon(icon);
    b->setAutoRaise(true);
    b->setFocusPolicy(Qt::NoFocus);
    return b;
}

QLabel* label(QWidget* parent, const char* name, const QString& text, int x, int y, const QFont& font) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    l->setFont(font);
    l->move(x, y);
    l->adjustSize();
    return l;
}

QLineEdit* limitEdit(QWidget* parent, const char* name, const QString& text, int x, int y) {
    auto* e = place(new QLineEdit(text, parent), name, x, y, 81, 22);
    e->setFont(uiFont(11));
    e->setToolTip(QStringLiteral("Can't for empty"));
    return e;
}

} // namespace

void TFCOMM::buildWindow() {
    setFont(uiFont(11));
    setWindowIcon(pictures::windowIcon());
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);

    buildMenu();
    buildTopBar(client);
    Panel1 = new LcdPanel(client);
    Panel1->move(3, 28);
    buildLimitsPanel(client);
    buildChart(client);
    buildChartBar(client);
    buildRecordBar(client);
    buildGrid(client);
    buildOutsideControls(client);
    buildTimers();
    Panel6->raise();
}

void TFCOMM::buildTopBar(QWidget* client) {
    Panel6 = place(new QFrame(client), "Panel6", 5, -4, 707, 34);
    BtCOM1 = place(new ClickPanel(QStringLiteral("COM 1"), Panel6), "BtCOM1", 5, 6, 61, 24);
    BtCOM2 = place(new ClickPanel(QStringLiteral("COM 2"), Panel6), "BtCOM2", 3, 6, 61, 24);
    BtCOM3 = place(new ClickPanel(QStringLiteral("COM 3"), Panel6), "BtCOM3", 5, 6, 61, 24);
    BtCOM4 = place(new ClickPanel(QStringLiteral("COM 4"), Panel6), "BtCOM4", 3, 6, 61, 24);
    for (auto* b : {BtCOM2, BtCOM3, BtCOM4})
        b->hide();
    for (auto* b : {BtCOM1, BtCOM2, BtCOM3, BtCOM4})
        b->installEventFilter(this);
    // Each panel steps on to the next port; the fourth returns to the first.
    connect(BtCOM1, &ClickPanel::clicked, this, &TFCOMM::COM21Click);
    connect(BtCOM2, &ClickPanel::clicked, this, &TFCOMM::COM31Click);
    connect(BtCOM3, &ClickPanel::clicked, this, &TFCOMM::COM41Click);
    connect(BtCOM4, &ClickPanel::clicked, this, &TFCOMM::COM11Click);

    COMCon = place(new QPushButton(QStringLiteral("COM Connect"), Panel6), "COMCon", 66, 5, 152, 25);
    USBCon = place(new QPushButton(QStringLiteral("USB Connect"), Panel6), "USBCon", 221, 6, 119, 25);
    USBCon->setToolTip(QStringLiteral("USB Connect"));
    for (auto* b : {COMCon, USBCon}) {
        b->setCheckable(true);
        b->setFocusPolicy(Qt::TabFocus);
    }
    connect(COMCon, &QPushButton::clicked, this, &TFCOMM::COMConClick);
    connect(USBCon, &QPushButton::clicked, this, &TFCOMM::USBConClick);

    BitBtn1 =
        place(new QPushButton(pictures::quit(), QStringLiteral("QUIT"), Panel6), "BitBtn1", 605, 5, 89, 25);
    connect(BitBtn1, &QPushButton::clicked, this, &TFCOMM::BitBtn1Click);
}

void TFCOMM::buildLimitsPanel(QWidget* client) {
    Panel4 = place(new QFrame(client), "Panel4", 340, 30, 371, 132);
    Panel4->setFrameStyle(QFrame::Panel | QFrame::Raised);
    const QFont small = uiFont(11);
    label(Panel4, "T1_HI", QStringLiteral("Set Hi Limit:"), 16, 20, small);
    T1HI = limitEdit(Panel4, "T1HI", QStringLiteral("22000"), 112, 16);
    label(Panel4, "T1_Value", QStringLiteral("Measure Value:"), 16, 64, small);
    T1VALUE = place(new QLineEdit(QStringLiteral("0"), Panel4), "T1VALUE", 112, 54, 129, 32);
    T1VALUE->setFont(uiFont(21));
    T1VALUE->setReadOnly(true);
    T1VALUE->setFocusPolicy(Qt::NoFocus);
    QPalette tip = T1VALUE->palette();
    tip.setColor(QPalette::Base, tip.color(QPalette::ToolTipBase));
    T1VALUE->setPalette(tip);
    label(Panel4, "T1_LO", QStringLiteral("Set Low Limit:"), 16, 100, small);
    T1LO = limitEdit(Panel4, "T1LO", QStringLiteral("-22000"), 112, 100);
    connect(T1HI, &QLineEdit::textChanged, this, &TFCOMM::T1HIChange);
    T1HI->installEventFilter(this);
    T1LO->installEventFilter(this);
    connect(T1LO, &QLineEdit::textChanged, this, &TFCOMM::T1HIChange);

    Shape1 = place(new JudgeLamp(Panel4), "Shape1", 245, 8, 113, 121);
    judge = new QLabel(Panel4);
    judge->setObjectName(QStringLiteral("judge"));
    judge->setFont(uiFont(32));
    judge->setAutoFillBackground(true);
    judge->setAlignment(Qt::AlignCenter);
    judge->setGeometry(275, 52, 0, 0);
    QPalette jp = judge->palette();
    jp.setColor(QPalette::Window, jp.color(QPalette::ToolTipBase));
    judge->setPalette(jp);
    judge->hide(); // empty until the first judgement

    CONok = place(new QLabel(Panel4), "CONok", 342, 5, 25, 24);
    CONok->setPixmap(pictures::linkOn());
    CONok->hide();
    CONokN = place(new QLabel(Panel4), "CONokN", 342, 5, 25, 24);
    CONokN->setPixmap(pictures::linkOff());
}

void TFCOMM::buildChartBar(QWidget* client) {
    Panel5 = place(new QFrame(client), "Panel5", 341, 166, 372, 38);
    Panel5->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel5->setAutoFillBackground(true);
    BtFill = place(new QCheckBox(QStringLiteral("Fill"), Panel5), "BtFill", 24, 4, 44, 17);
    BtFill->setToolTip(QStringLiteral("Graphic Fill"));
    BtFill->setChecked(true);
    connect(BtFill, &QCheckBox::clicked, this, &TFCOMM::btFillClick);
    Maxrecord = place(new QLineEdit(QStringLiteral("100"), Panel5), "Maxrecord", 91, 2, 49, 21);
    Maxrecord->installEventFilter(this);
    connect(Maxrecord, &QLineEdit::textChanged, this, &TFCOMM::MaxrecordChange);

    BtSave = speedButton(Panel5, "BtSave", QStringLiteral("Save"), pictures::saveChart(), 149, 3, 28, 21);
    BtFirst = speedButton(Panel5, "BtFirst", QStringLiteral("First"), pictures::first(), 179, 3, 25, 21);
    BTPrevious =
        speedButton(Panel5, "BTPrevious", QStringLiteral("Previous"), pictures::previous(), 203, 3, 25, 21);
    Bt10 = speedButton(Panel5, "Bt10", QStringLiteral("Page No."), QIcon(), 227, 3, 25, 21);
    Bt10->setText(QStringLiteral("1"));
    QPalette blue = Bt10->palette();
    blue.setColor(QPalette::ButtonText, Qt::blue);
    Bt10->setPalette(blue);
    BtNext = speedButton(Panel5, "BtNext", QStringLiteral("Next"), pictures::next(), 251, 3, 25, 21);
    BTlast = speedButton(Panel5, "BTlast", QStringLiteral("last"), pictures::last(), 275, 3, 25, 21);
    connect(BtSave, &QToolButton::clicked, this, &TFCOMM::BtSaveClick);
    connect(BtFirst, &QToolButton::clicked, this, &TFCOMM::BtFirstClick);
    connect(BTPrevious, &QToolButton::clicked, this, &TFCOMM::BTPreviousClick);
    connect(BtNext, &QToolButton::clicked, this, &TFCOMM::BtNextClick);
    connect(BTlast, &QToolButton::clicked, this, &TFCOMM::BTlastClick);

    TbFd = place(new ClickImage(Panel5), "TbFd", 312, 3, 25, 25);
    TbFd->setPixmap(pictures::enlarge());
    TbFd->setToolTip(QStringLiteral("Graphic Enlarge"));
    TbSx = place(new ClickImage(Panel5), "TbSx", 334, 6, 25, 25);
    TbSx->setPixmap(pictures::restore());
    TbSx->setToolTip(QStringLiteral("Graphic Restore"));
    TbSx->hide();
    connect(TbFd, &ClickImage::clicked, this, &TFCOMM::TbFdClick);
    connect(TbSx, &ClickImage::clicked, this, &TFCOMM::TbFdClick);
}

void TFCOMM::buildChart(QWidget* client) {
    auto* plot = place(new QCustomPlot(client), "Chtshow", 336, 204, 376, 269);
    plot->setNoAntialiasingOnDrag(true);
    QLinearGradient silverToWhite(0, 0, 0, 1);
    silverToWhite.setCoordinateMode(QGradient::ObjectMode);
    silverToWhite.setColorAt(0, QColor(192, 192, 192));
    silverToWhite.setColorAt(1, Qt::white);
    plot->setBackground(QBrush(silverToWhite));
    plot->axisRect()->setBackground(Qt::white);
    plot->xAxis->setLabel(QStringLiteral("Record Number"));
    plot->yAxis->setLabel(QStringLiteral("Value"));
    const QFont axisFont = uiFont(11, false);
    for (QCPAxis* axis : {plot->xAxis, plot->yAxis}) {
        axis->setLabelFont(uiFont(11));
        axis->setTickLabelFont(axisFont);
        axis->setTickLength(0, 3);
        axis->setSubTickLength(0, 3);
    }
    plot->yAxis->setBasePen(QPen(QColor(0, 64, 128), 1, Qt::DashLine));
    plot->xAxis->setRange(0, 100);
    plot->yAxis->setRange(-22000, 22000);
    plot->axisRect()->setMinimumMargins(QMargins(1, 0, 1, 1));
    // The left wall: a yellow strip along the value axis.
    auto* wall = new QCPItemRect(plot);
    wall->setClipToAxisRect(false);
    wall->topLeft->setType(QCPItemPosition::ptAxisRectRatio);
    wall->topLeft->setCoords(0, 0);
    wall->bottomRight->setTypeX(QCPItemPosition::ptAbsolute);
    wall->bottomRight->setTypeY(QCPItemPosition::ptAxisRectRatio);
    wall->bottomRight->setParentAnchorX(wall->topLeft);
    wall->bottomRight->setCoords(8, 1);
    wall->setPen(Qt::NoPen);
    wall->setBrush(QColor(255, 255, 0));
    wall->setLayer(QStringLiteral("background"));
    Chtshow = plot;
    ChartPlot = new PlotSurface(plot);
}

void TFCOMM::buildRecordBar(QWidget* client) {
    RepeatSet = place(new QCheckBox(QStringLiteral("Repeat"), client), "RepeatSet", 1, 210, 54, 20);
    RepeatSet->setToolTip(QStringLiteral("Repeage Record"));
    RepeatSet->setChecked(true);
    RecordSI = place(new QCheckBox(QStringLiteral("Sampling Interval           'S"), client), "RecordSI", 55,
                     210, 143, 20);
    // The stored captions fit their boxes only with a tighter indicator and a
    // 10-pixel face; the edit covers the gap in the sampling caption.
    for (QCheckBox* box : {RepeatSet, RecordSI}) {
        box->setFont(uiFont(10));
        box->setStyleSheet(QStringLiteral("QCheckBox { spacing: 3px; }"));
    }
    RecordSITime = place(new QLineEdit(QStringLiteral("10"), client), "RecordSITime", 157, 210, 27, 21);
    connect(RepeatSet, &QCheckBox::clicked, this, &TFCOMM::btFillClick);
    connect(RecordSITime, &QLineEdit::textChanged, this, &TFCOMM::RecordSITimeChange);
    RecordSITime->installEventFilter(this);

    RecordNew = speedButton(client, "RecordNew", QStringLiteral("Close Data"), pictures::closeData(), 246,
                            210, 23, 21);
    OpenDataFiles = speedButton(client, "OpenDataFiles", QStringLiteral("Open old data files"),
                                pictures::openFile(), 268, 210, 23, 21);
    saveas = speedButton(client, "saveas", QStringLiteral("Save data files"), pictures::saveFile(), 290, 210,
                         23, 21);
    BtPrint = speedButton(client, "BtPrint", QStringLiteral("Print"), pictures::print(), 312, 210, 22, 21);
    connect(RecordNew, &QToolButton::clicked, this, &TFCOMM::RecordNewClick);
    connect(OpenDataFiles, &QToolButton::clicked, this, &TFCOMM::SpeedButton2Click);
    connect(saveas, &QToolButton::clicked, this, &TFCOMM::saveasClick);
    connect(BtPrint, &QToolButton::clicked, this, &TFCOMM::BtPrintClick);
}

void TFCOMM::buildOutsideControls(QWidget* client) {
    // Controls the user can neither see nor reach: they live in a container
    // that is never shown, at their stored places beyond the client area.
    outside = place(new QWidget(client), "outside", 0, 0, 1200, 700);
    outside->hide();

    BTCon = place(new ClickPanel(QStringLiteral("Connect"), outside), "BTCon", 0, 511, 105, 25);
    BtDiscon = place(new ClickPanel(QStringLiteral("Disconnect"), outside), "BtDiscon", 0, 511, 105, 25);
    BtDiscon->hide();
    BtExit = place(new ClickPanel(QStringLiteral("Exit"), outside), "BtExit", 0, 511, 75, 25);
    connect(BTCon, &ClickPanel::clicked, this, &TFCOMM::BTCon1Click);
    connect(BtDiscon, &ClickPanel::clicked, this, &TFCOMM::BtDiscon1Click);
    connect(BtExit, &ClickPanel::clicked, this, &TFCOMM::BtExit1Click);

    BtNew = speedButton(outside, "BtNew", QStringLiteral("New"), QIcon(), 730, 180, 23, 22);
    connect(BtNew, &QToolButton::clicked, this, &TFCOMM::BtNewClick);

    struct Switch {
        const char* name;
        const char* caption;
        bool ticked;
    };
    const Switch switches[] = {
        {"IFDX22K", "IFDX22K", true},    {"IFRQ350", "RQ350/370", false}, {"IFDX46K", "DX46K", false},
        {"IFDX88M", "DX88M", false},     {"IFDX46NT", "DX46N", false},    {"IFDX46P", "DX46P", false},
        {"IFLAB450T", "LAB-450", false}, {"IF3824T", "38-24", false},     {"IF4470", "Norvik 4470", false},
        {"IFOtherT", "IFOtherT", false},
    };
    int y = 20;
    for (const auto& s : switches) {
        auto* box = place(new QCheckBox(QString::fromLatin1(s.caption), outside), s.name, 1100, y, 97, 17);
        box->setChecked(s.ticked);
        y += 18;
        if (QLatin1String(s.name) == QLatin1String("IFDX22K"))
            IFDX22K = box;
        else if (QLatin1String(s.name) == QLatin1String("IFRQ350"))
            IFRQ350 = box;
    }

    USBtxt = place(new QLabel(outside), "USBtxt", 730, 20, 200, 13);
    USBtxt->hide();
    auto* usbTxt1 = place(new QLabel(outside), "USBtxt1", 730, 36, 200, 13);
    usbTxt1->hide();
    Memo1 = place(new QPlainTextEdit(outside), "Memo1", 730, 60, 180, 90);
    Memo2 = place(new QPlainTextEdit(outside), "Memo2", 915, 60, 180, 90);
    for (auto* m : {Memo1, Memo2}) {
        m->setReadOnly(true);
        m->setMaximumBlockCount(300);
    }
    DevListBox = place(new QListWidget(outside), "DevListBox", 730, 230, 360, 60);
    HistoryListBox = place(new QListWidget(outside), "HistoryListBox", 730, 295, 360, 60);
    place(new QPushButton(QStringLiteral("Read"), outside), "ReadBtn", 730, 360, 75, 25);
    place(new QPushButton(QStringLiteral("SetFeature"), outside), "SetFeature", 810, 360, 75, 25);
    place(new QPushButton(QStringLiteral("Clear"), outside), "ClearBtn", 890, 360, 75, 25);

    SetMaxB = place(new QCheckBox(QStringLiteral("SetMax:"), outside), "SetMaxB", 730, 400, 70, 17);
    Setmax = place(new QLineEdit(QStringLiteral("22000"), outside), "Setmax", 800, 398, 60, 21);
    SetMinB = place(new QCheckBox(QStringLiteral("SetMin: "), outside), "SetMinB", 730, 424, 70, 17);
    SetMin = place(new QLineEdit(QStringLiteral("-22000"), outside), "SetMin", 800, 422, 60, 21);
    connect(Setmax, &QLineEdit::textChanged, this, &TFCOMM::SetmaxExit);
    connect(SetMaxB, &QCheckBox::clicked, this, &TFCOMM::SetmaxExit);
    connect(SetMin, &QLineEdit::textChanged, this, &TFCOMM::SetMinExit);
    connect(SetMinB, &QCheckBox::clicked, this, &TFCOMM::SetMinExit);
    Setmax->installEventFilter(this);
    SetMin->installEventFilter(this);

    multirange =
        place(new QCheckBox(QStringLiteral("Continue Record"), outside), "multirange", 730, 450, 120, 17);
    multirange->setChecked(true);
    multirange->setToolTip(QStringLiteral(
        "If the choice consecution  record data, shift gear then can't clearance data.When the function file "
        "replace, would the data of the clearance record.Thanks!"));
    connect(multirange, &QCheckBox::clicked, this, &TFCOMM::btFillClick);

    Panel3 = place(new QFrame(outside), "Panel3", 870, 400, 220, 60);
    Panel3->hide();
    MaxText = place(new QLabel(Panel3), "MaxText", 4, 4, 120, 24);
    MinText = place(new QLabel(Panel3), "MinText", 4, 32, 120, 24);
    MaxTextU = place(new QLabel(Panel3), "MaxTextU", 130, 4, 80, 24);
    MinTextU = place(new QLabel(Panel3), "MinTextU", 130, 32, 80, 24);
}

void TFCOMM::buildTimers() {
    ConTimer = new QTimer(this);
    ConTimer->setObjectName(QStringLiteral("ConTimer"));
    ConTimer->setInterval(300);
    connect(ConTimer, &QTimer::timeout, this, &TFCOMM::ConTimerTimer);

    Trecord = new QTimer(this);
    Trecord->setObjectName(QStringLiteral("Trecord"));
    Trecord->setInterval(1000);
    connect(Trecord, &QTimer::timeout, this, &TFCOMM::TrecordTimer);
    Trecord->start();

    Timer2 = new QTimer(this);
    Timer2->setObjectName(QStringLiteral("Timer2"));
    Timer2->setInterval(2000);
    Timer2->setSingleShot(true);
    connect(Timer2, &QTimer::timeout, this, &TFCOMM::Timer2Timer);
}

} // namespace voltaro
