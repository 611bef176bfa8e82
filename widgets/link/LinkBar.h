#pragma once

#include "core/link/LinkState.h"
#include "core/link/serial/SerialPortWait.h"
#include "core/link/serial/TComPortDriver.h"
#include "widgets/link/UsbCableLink.h"

#include <QFrame>

#include <functional>

class QAction;
class QMenu;
class QPushButton;

namespace voltaro {

class ClickPanel;

// The top bar of the window: the port choice, "COM Connect" and "USB
// Connect", with the serial driver they open and the link state they show.
// Its hidden panels and the USB diagnostics live in the window's container
// of controls nobody sees.
class LinkBar : public QFrame, private LinkState::Links {
    Q_OBJECT
public:
    // The menu items the link changes; the window builds them.
    struct MenuItems {
        QMenu* ComSetup1 = nullptr;
        QAction* COM11 = nullptr;
        QAction* COM21 = nullptr;
        QAction* COM31 = nullptr;
        QAction* COM41 = nullptr;
        QAction* START1 = nullptr;
        QAction* STOP1 = nullptr;
    };

    // What the USB side works with: the HID platform (the system's when
    // empty), the frame assembler's count of reports without data, and the
    // trace its report lines go to.
    struct UsbSetup {
        std::shared_ptr<HidPlatform> platform;
        std::int32_t* idleReports = nullptr;
        TraceLog* history = nullptr;
    };

    LinkBar(QWidget* parent, QWidget* outside, const MenuItems& menu, const UsbSetup& usb);
    ~LinkBar() override;

    TComPortDriver& driver() { return COMM2; }
    const TComPortDriver& driver() const { return COMM2; }
    // What waits for the port's device when it went away while open.
    const SerialPortWait& portWait() const { return portWait_; }
    UsbCableLink& usb() { return *usb_; }
    const LinkState& state() const { return link_; }

    // Every decoded frame: the cable check starts counting again.
    void frameArrived() { usb_->frameArrived(); }
    int linkIdleCount() const { return usb_->linkIdleCount(); }
    void setLinkIdleCount(int n) { usb_->setLinkIdleCount(n); }

    // The hidden connect panels follow the window's outer width, out of sight below it.
    void placeHiddenPanels(int outerWidth);
    // Names in each port panel's hint the device file its port opens.
    void refreshPortHints();

public slots:
    void COM11Click();
    void COM21Click();
    void COM31Click();
    void COM41Click();
    void BTCon1Click();
    void BtDiscon1Click();
    void COMConClick();
    void USBConClick();

signals:
    // The cable link started reading (true) or ended (false): the LCD shows
    // its link picture while it runs.
    void usbReading(bool on);
    // The link changed (opened, lost, back, closed), or the cable's reports
    // come from another device or node: the bytes that come next belong to
    // another stream than any frame in progress.
    void streamBroken();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool openSerial() override;
    void closeSerial() override;
    bool startUsb() override;
    void stopUsb() override;

    void reportFailure();
    void selectPort(int number);
    void render();
    void onSerialPortFailed(const QString& reason);
    // "COMn (device)" for the chosen port.
    QString portLabel(const QString& device) const;

    // The serial driver: COM1, 19200 baud, 7 data bits, odd parity.
    TComPortDriver COMM2;
    SerialPortWait portWait_{[this](const QString& path) { return COMM2.ConnectTo(path); }};
    LinkState link_{*this};
    MenuItems menu_;
    // What to tell the user once a failed connect has left its state.
    std::function<void(QWidget* parent)> failure_;
    // "USB Connect" is captioned "USB Connection" once the cable link was used.
    bool usbUsed_ = false;
    bool shownReading_ = false;
    LinkState::State renderedState_ = LinkState::State::Idle;

    ClickPanel* BtCOM1;
    ClickPanel* BtCOM2;
    ClickPanel* BtCOM3;
    ClickPanel* BtCOM4;
    QPushButton* COMCon;
    QPushButton* USBCon;
    ClickPanel* BTCon;
    ClickPanel* BtDiscon;
    UsbCableLink* usb_;
};

} // namespace voltaro
