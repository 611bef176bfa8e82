#include "widgets/link/LinkBar.h"

#include "core/session/MeterSession.h"

#include "widgets/ui/ClickPanel.h"
#include "widgets/ui/Layout.h"
#include "widgets/ui/Pictures.h"

#include <QEvent>
#include <QFontMetrics>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <utility>

namespace voltaro {

using ui::place;

LinkBar::LinkBar(QWidget* parent, QWidget* outside, const MenuItems& menu, MeterSession& session,
                 TraceLog& history)
    : QFrame(parent), serial_(session.serial()), menu_(menu) {
    place(this, "Panel6", 5, -4, 707, 34);
    connect(&serial_, &SerialLink::lost, this,
            [this](const QString&, const QString& reason) { onSerialLost(reason); });
    connect(&serial_, &SerialLink::back, this, [this] { link_.serialBack(); });
    link_.onChanged = [this] { render(); };

    BtCOM1 = place(new ClickPanel(QStringLiteral("COM 1"), this), "BtCOM1", 5, 6, 61, 24);
    BtCOM2 = place(new ClickPanel(QStringLiteral("COM 2"), this), "BtCOM2", 3, 6, 61, 24);
    BtCOM3 = place(new ClickPanel(QStringLiteral("COM 3"), this), "BtCOM3", 5, 6, 61, 24);
    BtCOM4 = place(new ClickPanel(QStringLiteral("COM 4"), this), "BtCOM4", 3, 6, 61, 24);
    for (auto* b : {BtCOM1, BtCOM2, BtCOM3, BtCOM4})
        b->installEventFilter(this);
    // Each panel steps on to the next port; the fourth returns to the first.
    connect(BtCOM1, &ClickPanel::clicked, this, &LinkBar::COM21Click);
    connect(BtCOM2, &ClickPanel::clicked, this, &LinkBar::COM31Click);
    connect(BtCOM3, &ClickPanel::clicked, this, &LinkBar::COM41Click);
    connect(BtCOM4, &ClickPanel::clicked, this, &LinkBar::COM11Click);

    COMCon = place(new QPushButton(QStringLiteral("COM Connect"), this), "COMCon", 66, 5, 152, 25);
    USBCon = place(new QPushButton(QStringLiteral("USB Connect"), this), "USBCon", 221, 6, 119, 25);
    USBCon->setToolTip(QStringLiteral("USB Connect"));
    for (auto* b : {COMCon, USBCon}) {
        b->setCheckable(true);
        b->setFocusPolicy(Qt::TabFocus);
    }
    connect(COMCon, &QPushButton::clicked, this, &LinkBar::COMConClick);
    connect(USBCon, &QPushButton::clicked, this, &LinkBar::USBConClick);

    BTCon = place(new ClickPanel(QStringLiteral("Connect"), outside), "BTCon", 0, 511, 105, 25);
    BtDiscon = place(new ClickPanel(QStringLiteral("Disconnect"), outside), "BtDiscon", 0, 511, 105, 25);
    connect(BTCon, &ClickPanel::clicked, this, &LinkBar::BTCon1Click);
    connect(BtDiscon, &ClickPanel::clicked, this, &LinkBar::BtDiscon1Click);

    CableLink& cable = session.cable();
    usb_ = new UsbCableLink(this, outside, cable, history);
    cableMenu_ = new CableMenu(menu_.ComSetup1, cable);
    connect(&cable, &CableLink::lost, this, [this] {
        link_.cableLost();
        // Told once the device list is rebuilt, not from inside the rebuild.
        QTimer::singleShot(0, this, [this] { reportFailure(); });
    });
    connect(&cable, &CableLink::back, this, [this] { link_.cableBack(); });
    connect(&cable, &CableLink::checkStopped, this, [this] { link_.cableCheckFired(); });

    render();
}

LinkBar::~LinkBar() {
    ui::deleteChildren(this);
}

// --- Port choice ----------------------------------------------------------

void LinkBar::COM11Click() {
    selectPort(1);
}
void LinkBar::COM21Click() {
    selectPort(2);
}
void LinkBar::COM31Click() {
    selectPort(3);
}
void LinkBar::COM41Click() {
    selectPort(4);
}

void LinkBar::selectPort(int number) {
    // The driver keeps its port while open; the panels and menu then cannot be reached.
    serial_.choosePort(static_cast<TComPortNumber>(number - 1));
    render();
    refreshPortHints();
}

void LinkBar::refreshPortHints() {
    // Each panel names the device file its own port opens; the visible one
    // is the port "COM Connect" opens.
    ClickPanel* panels[] = {BtCOM1, BtCOM2, BtCOM3, BtCOM4};
    const TComPortDriver& driver = serial_.driver();
    const int chosen = static_cast<int>(driver.ComPort());
    for (int i = 0; i < 4; ++i) {
        const QString device =
            i == chosen ? driver.devicePath() : driver.devicePathOf(static_cast<TComPortNumber>(i));
        panels[i]->setToolTip(QStringLiteral("COM%1 opens %2")
                                  .arg(i + 1)
                                  .arg(device.isEmpty() ? QStringLiteral("no device") : device));
    }
}

bool LinkBar::eventFilter(QObject* watched, QEvent* event) {
    // Adapters come and go: name the device as it is when the hint is shown.
    if (event->type() == QEvent::ToolTip)
        refreshPortHints();
    return QFrame::eventFilter(watched, event);
}

void LinkBar::placeHiddenPanels(int outerWidth) {
    BTCon->move(outerWidth - 190, 511);
    BtDiscon->move(outerWidth - 190, 511);
}

// --- Connecting -------------------------------------------------------------

bool LinkBar::openSerial() {
    menu_.STOP1->setChecked(false);
    if (serial_.open())
        return true;
    // Back to idle as a disconnect leaves it, STOP's mark included.
    menu_.STOP1->setChecked(true);
    // A port that did not open is not shown as connected: say which and why,
    // once the bar is back in the idle state.
    failure_ = [text = QStringLiteral("Cannot open %1.\n\n%2").arg(serial_.label(), serial_.lastError())](
                   QWidget* parent) {
        QMessageBox::critical(parent, QStringLiteral("Serial port"), text, QMessageBox::Ok);
    };
    return false;
}

void LinkBar::closeSerial() {
    serial_.close();
    menu_.STOP1->setChecked(true);
}

bool LinkBar::startUsb() {
    usbUsed_ = true;
    return usb_->start();
}

void LinkBar::stopUsb() {
    usbUsed_ = true;
    usb_->stop();
}

void LinkBar::reportFailure() {
    // Told after the bar shows the state the failure left, never in between.
    if (const auto tell = std::exchange(failure_, {}))
        tell(window());
    usb_->reportPending(window());
}

void LinkBar::BTCon1Click() {
    link_.connectSerial(true);
    reportFailure();
}

void LinkBar::BtDiscon1Click() {
    link_.disconnectSerial();
}

void LinkBar::COMConClick() {
    if (COMCon->isChecked())
        link_.connectSerial(false);
    else
        link_.disconnectSerial();
    reportFailure();
}

void LinkBar::USBConClick() {
    if (USBCon->isChecked())
        link_.connectUsb();
    else
        link_.disconnectUsb();
    reportFailure();
}

void LinkBar::onSerialLost(const QString& reason) {
    if (!link_.serialOpen())
        return;
    // The link has closed the port and waits for its device: name the device it had open.
    const QString port = serial_.label();
    link_.serialLost();
    failure_ = [text = QStringLiteral("The connection on %1 was lost.\n\n%2\n\n"
                                      "Readings recorded so far are kept, and reading goes on by itself "
                                      "when the same adapter is plugged in again. Release \"COM Connect\" "
                                      "to stop waiting.")
                           .arg(port, reason)](QWidget* parent) {
        QMessageBox::warning(parent, QStringLiteral("Serial port"), text, QMessageBox::Ok);
    };
    // Told once the bar shows the waiting, outside the driver's poll.
    QTimer::singleShot(0, this, [this] { reportFailure(); });
}

QString LinkBar::linkName() const {
    if (link_.serialActive())
        return serial_.device();
    if (!link_.usbActive())
        return QString();
    const CableLink& cable = usb_->cable();
    if (!cable.followedPort().isEmpty())
        return QStringLiteral("USB ") + cable.followedPort();
    const THidDevice* d = cable.activeDevice();
    const QString port = d ? d->PnPInfo().PortPath : QString();
    return QStringLiteral("USB ") + (port.isEmpty() ? cable.node() : port);
}

void LinkBar::render() {
    using S = LinkState::State;
    const S s = link_.state();
    // A port waiting for its device shows as open: STOP or "COM Connect" stops the waiting.
    const bool serial = link_.serialActive();
    // A cable the check has stopped shows as idle: the serial controls are back.
    const bool usb = link_.usbActive();

    menu_.ComSetup1->menuAction()->setEnabled(!serial);
    cableMenu_->setChoosable(!usb);
    menu_.START1->setChecked(serial);
    menu_.START1->setEnabled(!serial);
    menu_.STOP1->setEnabled(serial);
    BTCon->setVisible(!serial);
    BtDiscon->setVisible(serial);

    const int chosen = static_cast<int>(serial_.driver().ComPort());
    QAction* items[] = {menu_.COM11, menu_.COM21, menu_.COM31, menu_.COM41};
    ClickPanel* panels[] = {BtCOM1, BtCOM2, BtCOM3, BtCOM4};
    for (int i = 0; i < 4; ++i) {
        items[i]->setChecked(i == chosen);
        panels[i]->setVisible(i == chosen && !usb);
        panels[i]->setEnabled(!serial);
    }

    COMCon->setChecked(serial);
    COMCon->setVisible(!usb);
    if (s == S::SerialWaiting) {
        const QString device = serial_.portWait().device();
        const QString prefix = QStringLiteral("Waiting for ");
        // The whole path when it fits on the button, else its file name
        // (shortened in the middle if need be); the hint has the whole path.
        const QFontMetrics fm = COMCon->fontMetrics();
        const int room = COMCon->contentsRect().width() - 12 - fm.horizontalAdvance(prefix);
        const QString name = fm.horizontalAdvance(device) <= room
                                 ? device
                                 : fm.elidedText(device.section(u'/', -1), Qt::ElideMiddle, room);
        COMCon->setText(prefix + name);
        COMCon->setToolTip(QStringLiteral("%1 went away: reading goes on when the same adapter is back. "
                                          "Release to stop waiting.")
                               .arg(device));
    } else {
        COMCon->setText(QStringLiteral("COM Connect"));
        COMCon->setToolTip(QString());
    }
    USBCon->setChecked(usb);
    USBCon->setVisible(!(serial && !link_.serialFromMenu()));
    if (s == S::UsbWaiting) {
        // A cable chosen by its socket is waited for there only.
        const QString socket = usb_->cable().followedPort();
        USBCon->setText(socket.isEmpty() ? QStringLiteral("Waiting for cable")
                                         : QStringLiteral("Waiting at ") + socket);
        USBCon->setToolTip(
            socket.isEmpty()
                ? QStringLiteral("The USB cable is unplugged: reading goes on when it is back. "
                                 "Release to stop waiting.")
                : QStringLiteral("The USB cable is unplugged: reading goes on when a cable is "
                                 "plugged into the same USB socket, %1. Release to stop waiting.")
                      .arg(socket));
    } else {
        USBCon->setText(usb        ? QStringLiteral("USB Disconnect")
                        : usbUsed_ ? QStringLiteral("USB Connection")
                                   : QStringLiteral("USB Connect"));
        USBCon->setToolTip(QStringLiteral("USB Connect"));
    }
    const bool changed = s != renderedState_;
    renderedState_ = s;
    const bool reading = s == S::UsbRunning;
    if (changed)
        emit streamBroken();
    if (reading != shownReading_) {
        shownReading_ = reading;
        emit usbReading(reading);
    }
    if (const QString name = linkName(); name != renderedName_) {
        renderedName_ = name;
        emit linkNameChanged(name);
    }
}

} // namespace voltaro
