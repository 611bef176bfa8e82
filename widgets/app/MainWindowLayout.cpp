// The window's regions at their stored places, and the controls of the
// window's own: the quit button, the hidden Exit panel, the model switches
// and the frame diagnostics.
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/ChartRegion.h"
#include "widgets/lcd/LcdPanel.h"
#include "widgets/recording/LimitsPanel.h"
#include "widgets/ui/ClickPanel.h"
#include "widgets/ui/Layout.h"
#include "widgets/ui/Pictures.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>

namespace voltaro {

using ui::place;

void TFCOMM::buildWindow() {
    setFont(ui::uiFont(11));
    setWindowIcon(pictures::windowIcon());
    auto* client = new QWidget(this);
    client->setObjectName(QStringLiteral("client"));
    client->setFixedSize(kClientWidth, kClientHeight);
    setCentralWidget(client);
    // Controls the user can neither see nor reach: they live in a container
    // that is never shown, at their stored places beyond the client area.
    outside = place(new QWidget(client), "outside", 0, 0, 1200, 700);
    outside->hide();

    buildMenu();
    session_.pipeline().assembler().setTrace(&trace_);
    linkBar_ = new LinkBar(client, outside, menus_.link, session_, trace_.HistoryListBox);
    BitBtn1 =
        place(new QPushButton(pictures::quit(), QStringLiteral("QUIT"), linkBar_), "BitBtn1", 605, 5, 89, 25);
    connect(BitBtn1, &QPushButton::clicked, this, &TFCOMM::BitBtn1Click);
    Panel1 = new LcdPanel(client);
    Panel1->move(3, 28);
    limits_ = new LimitsPanel(client, outside, session_.pipeline());
    chart_ = new ChartRegion(client, outside, menus_.fill, session_.pipeline());
    recording_ = new RecordingRegion(client, outside, menus_.limits, session_);
    buildOutsideControls();
    connectMenu();

    // The enlarged chart covers the LCD and the top bar's place.
    connect(chart_, &ChartRegion::enlargedChanged, this, [this](bool enlarged) {
        Panel1->setVisible(!enlarged);
        linkBar_->setVisible(!enlarged);
    });
    connect(linkBar_, &LinkBar::usbReading, this,
            [this](bool on) { Panel1->setElementLit(LcdElement::LCDsend, on); });
    // A frame half read when the port or cable went away is not finished
    // with the bytes of the stream that follows.
    connect(linkBar_, &LinkBar::streamBroken, this, [this] { session_.breakStream(); });
    // The table is loaded or saved on a thread of its own: the link's input
    // waits meanwhile, and goes on after the file and the journal are done.
    connect(recording_, &RecordingRegion::fileWorkStarts, this, &TFCOMM::holdInput);
    connect(recording_, &RecordingRegion::fileWorkEnded, this, &TFCOMM::releaseInput);
    connect(recording_, &RecordingRegion::dataClosed, chart_, &ChartRegion::clearRecords);
    connect(chart_, &ChartRegion::restarted, this, [this] { session_.recording().chartRestarted(); });
    connect(recording_, &RecordingRegion::optionClicked, chart_, &ChartRegion::btFillClick);
    linkBar_->raise();
}

void TFCOMM::buildOutsideControls() {
    BtExit = place(new ClickPanel(QStringLiteral("Exit"), outside), "BtExit", 0, 511, 75, 25);
    connect(BtExit, &ClickPanel::clicked, this, &TFCOMM::BtExit1Click);

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
}

} // namespace voltaro
