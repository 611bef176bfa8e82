#pragma once

#include "core/link/LinkState.h"
#include "core/link/SerialLink.h"
#include "widgets/link/CableMenu.h"
#include "widgets/link/UsbCableLink.h"

#include <QFrame>

#include <functional>

class QAction;
class QMenu;
class QPushButton;

namespace voltaro {

class ClickPanel;
class MeterSession;

// The top bar of the window: the port choice, "COM Connect" and "USB
// Connect", which open the session's serial and cable links, and the link
// state they show.
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

    // `history`: the trace the USB diagnostics show.
    LinkBar(QWidget* parent, QWidget* outside, const MenuItems& menu, MeterSession& session,
            TraceLog& history);
    ~LinkBar() override;

    TComPortDriver& driver() { return serial_.driver(); }
    const TComPortDriver& driver() const { return serial_.driver(); }
    // What waits for the port's device when it went away while open.
    const SerialPortWait& portWait() const { return serial_.portWait(); }
    UsbCableLink& usb() { return *usb_; }
    CableMenu& cableMenu() { return *cableMenu_; }
    const LinkState& state() const { return link_; }

    // The cable check's ticks without a decoded frame.
    int linkIdleCount() const { return usb_->cable().idleTicks(); }
    void setLinkIdleCount(int n) { usb_->cable().setIdleTicks(n); }

    // The hidden connect panels follow the window's outer width, out of sight below it.
    void placeHiddenPanels(int outerWidth);
    // Names in each port panel's hint the device file its port opens.
    void refreshPortHints();
    // The link open or waited for, as the window's title names it ("USB
    // 1-1.2", "/dev/ttyUSB0"); empty while none is.
    QString linkName() const;

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
    // linkName() changed.
    void linkNameChanged(const QString& name);

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
    void onSerialLost(const QString& reason);

    // The session's serial link: COM1 at first, on the meter's line.
    SerialLink& serial_;
    LinkState link_{*this};
    MenuItems menu_;
    // What to tell the user once a failed connect has left its state.
    std::function<void(QWidget* parent)> failure_;
    // "USB Connect" is captioned "USB Connection" once the cable link was used.
    bool usbUsed_ = false;
    bool shownReading_ = false;
    LinkState::State renderedState_ = LinkState::State::Idle;
    QString renderedName_;

    ClickPanel* BtCOM1;
    ClickPanel* BtCOM2;
    ClickPanel* BtCOM3;
    ClickPanel* BtCOM4;
    QPushButton* COMCon;
    QPushButton* USBCon;
    ClickPanel* BTCon;
    ClickPanel* BtDiscon;
    UsbCableLink* usb_;
    CableMenu* cableMenu_;
};

} // namespace voltaro
