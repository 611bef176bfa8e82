// The serial side of the main window: the port choice, "COM Connect", the
// Connect menu and the hidden connect panels, over the serial driver COMM2.
#include "app/ClickPanel.h"
#include "app/TFCOMM.h"
#include "link/serial/TComPortDriver.h"

#include <QEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

namespace voltaro {

void TFCOMM::COM11Click() {
    selectPort(1);
}
void TFCOMM::COM21Click() {
    selectPort(2);
}
void TFCOMM::COM31Click() {
    selectPort(3);
}
void TFCOMM::COM41Click() {
    selectPort(4);
}

void TFCOMM::selectPort(int number) {
    QAction* items[] = {COM11, COM21, COM31, COM41};
    ClickPanel* panels[] = {BtCOM1, BtCOM2, BtCOM3, BtCOM4};
    for (int i = 0; i < 4; ++i) {
        items[i]->setChecked(i + 1 == number);
        panels[i]->setVisible(i + 1 == number);
    }
    COMM2->setComPort(static_cast<TComPortNumber>(number - 1));
    refreshPortHints();
}

QString TFCOMM::portLabel() const {
    return QStringLiteral("COM%1 (%2)").arg(static_cast<int>(COMM2->ComPort()) + 1).arg(COMM2->devicePath());
}

void TFCOMM::refreshPortHints() {
    // Each panel names the device file its own port opens; the visible one
    // is the port "COM Connect" opens.
    ClickPanel* panels[] = {BtCOM1, BtCOM2, BtCOM3, BtCOM4};
    const int chosen = static_cast<int>(COMM2->ComPort());
    for (int i = 0; i < 4; ++i) {
        const QString device =
            i == chosen ? COMM2->devicePath() : COMM2->devicePathOf(static_cast<TComPortNumber>(i));
        panels[i]->setToolTip(QStringLiteral("COM%1 opens %2")
                                  .arg(i + 1)
                                  .arg(device.isEmpty() ? QStringLiteral("no device") : device));
    }
}

bool TFCOMM::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress && filterKey(watched, static_cast<QKeyEvent*>(event)))
        return true;
    // Adapters come and go: name the device as it is when the hint is shown.
    if (event->type() == QEvent::ToolTip &&
        (watched == BtCOM1 || watched == BtCOM2 || watched == BtCOM3 || watched == BtCOM4))
        refreshPortHints();
    return QMainWindow::eventFilter(watched, event);
}

void TFCOMM::setPortPanelsEnabled(bool enabled) {
    for (ClickPanel* p : {BtCOM1, BtCOM2, BtCOM3, BtCOM4})
        p->setEnabled(enabled);
}

bool TFCOMM::serialConnectSteps() {
    ComSetup1->menuAction()->setEnabled(false);
    START1->setChecked(true);
    START1->setEnabled(false);
    STOP1->setEnabled(true);
    STOP1->setChecked(false);
    const bool opened = COMM2->Connect();
    BTCon->hide();
    BtDiscon->show();
    setPortPanelsEnabled(false);
    if (opened)
        return true;
    // A port that did not open is not shown as connected: say which and why,
    // then go back to the idle state.
    const QString text = QStringLiteral("Cannot open %1.\n\n%2").arg(portLabel(), COMM2->lastError());
    returnToIdle();
    QMessageBox::critical(this, QStringLiteral("Serial port"), text, QMessageBox::Ok);
    return false;
}

void TFCOMM::serialDisconnectSteps() {
    ComSetup1->menuAction()->setEnabled(true);
    START1->setChecked(false);
    START1->setEnabled(true);
    STOP1->setEnabled(false);
    STOP1->setChecked(true);
    COMM2->Disconnect();
    BTCon->show();
    BtDiscon->hide();
    setPortPanelsEnabled(true);
}

void TFCOMM::returnToIdle() {
    serialDisconnectSteps();
    COMCon->setChecked(false);
    USBCon->show();
}

void TFCOMM::BTCon1Click() {
    if (serialConnectSteps())
        COMCon->setChecked(true);
}

void TFCOMM::BtDiscon1Click() {
    serialDisconnectSteps();
    COMCon->setChecked(false);
}

void TFCOMM::COMConClick() {
    if (COMCon->isChecked()) {
        if (USBCon->isChecked())
            USBCon->setChecked(false);
        if (serialConnectSteps())
            USBCon->hide();
    } else {
        serialDisconnectSteps();
        USBCon->show();
    }
}

void TFCOMM::USBConClick() {
    // The two connect buttons form one group: at most one is down.
    if (USBCon->isChecked() && COMCon->isChecked())
        COMCon->setChecked(false);
}

void TFCOMM::onSerialPortFailed(const QString& reason) {
    const QString port = portLabel();
    returnToIdle();
    QMessageBox::warning(
        this, QStringLiteral("Serial port"),
        QStringLiteral("The connection on %1 was lost and the port has been closed.\n\n%2\n\n"
                       "Readings recorded so far are kept.")
            .arg(port, reason),
        QMessageBox::Ok);
}

} // namespace voltaro
