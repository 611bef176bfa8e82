#pragma once

#include "core/link/CableChoice.h"
#include "core/link/CableHub.h"
#include "core/link/hid/THidDevice.h"
#include "core/link/hid/THidDeviceController.h"
#include "core/sys/LinkClaim.h"

#include <QObject>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace voltaro {

class HidPlatform;

// The link to the meter through its USB cable, for the window and
// voltaro-log alike: the HID devices listed (the cable preselected), the
// cable's configuration report, its reading, and the rule that follows it.
// A running cable that goes away is waited for and taken up again when it
// comes back: a cable chosen by name (CableChoice) when a cable is plugged
// into the same USB socket, else when the same cable (product and serial
// strings) comes back anywhere; any other device coming or going leaves the
// running cable's reading as it is. A cable that another running instance
// of the program reads (LinkClaim) is not read. It also keeps
// the cable check's counts, which stop a cable that sends only empty reports.
// Several links read several cables through one CableHub: each lists only
// the cables its choice names (or, with the default choice, the cables of
// the cable's product), and the cable it follows.
// Runs on the thread of its event loop; reports arrive there too.
class CableLink : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,
        Open,    // the cable is configured and read
        Waiting, // the followed cable went away: taken up again when it is back
        Stopped, // the cable check stopped it
    };
    enum class Start {
        Started,
        NotListed,     // no device is selected: no cable is listed, or none chosen
        NoAccess,      // the selected device's node may not be opened by this user
        NotConfigured, // the cable did not take its configuration report
        Held,          // another process reads it: holder() says which
    };
    using ReportHandler =
        std::function<void(std::uint8_t reportId, const std::uint8_t* data, std::uint16_t size)>;

    // The check's third tick without a decoded frame stops a cable that sent
    // at least this many reports without meter bytes since the last with some.
    static constexpr int kIdleReportsToStop = 1900;

    // `platform`: the system's HID stack when empty. The link has a hub of
    // its own and lists every device. The devices are listed at once.
    explicit CableLink(std::shared_ptr<HidPlatform> platform = nullptr, QObject* parent = nullptr);
    // A link that shares `hub` with other links: it lists only the devices
    // it may read (see above). The devices are listed at once.
    explicit CableLink(std::shared_ptr<CableHub> hub, QObject* parent = nullptr);
    ~CableLink() override;

    // False without the system's HID services: nothing is ever listed.
    bool hidAvailable() const { return hub_->hidAvailable(); }
    THidDeviceController& controller() { return hub_->controller(); }
    CableHub& hub() { return *hub_; }

    // The listed devices as the list shows them, and the one chosen (-1 for none).
    const QStringList& deviceTexts() const { return texts_; }
    int deviceCount() const { return static_cast<int>(devices_.size()); }
    THidDevice& deviceAt(int index) const { return *devices_[static_cast<std::size_t>(index)]; }
    int selected() const { return selected_; }
    void select(int index);
    THidDevice* selectedDevice() const;

    // The cable to read from now on: the list selects it (none while it is
    // not plugged in) whenever it is rebuilt. A running link goes on with
    // the cable it reads until it is started again.
    void setChoice(const CableChoice& choice);
    const CableChoice& choice() const { return choice_; }
    // The USB socket a running cable chosen by name is followed by (empty
    // when the cable is followed by its product and serial strings).
    const QString& followedPort() const { return followedPort_; }
    // Who reads the cable when start() gave Held, or the claim's trouble.
    const LinkClaim::Holder& holder() const { return holder_; }
    const QString& claimError() const { return claimError_; }

    // What a running cable's reports go to; empty, they are dropped (a
    // program being taken down needs that), and no device is read.
    void setReportHandler(ReportHandler handler);

    // Configures the selected device and reads it, following it from now on.
    Start start();
    // Reading ends and the cable is no longer followed or waited for.
    void stop();
    State state() const { return state_; }
    // The device read (or last read), or none.
    THidDevice* activeDevice() const { return active_; }
    // The followed cable's node, for messages.
    QString node() const { return node_; }
    // What to tell the user when the selected device's node is closed to them.
    QString permissionAdvice() const;

    // The selected device stops delivering reports to this program.
    void stopReadingSelected();
    // Sends the configuration report to the selected device; false when none
    // is selected or it was not taken.
    bool configureSelected();

    // The cable check: every decoded frame counts afresh; each tick of its
    // timer counts one, and the third without a frame stops a cable that
    // sent only empty reports (true then).
    void frameArrived() { idleTicks_ = 0; }
    bool checkTick();
    int idleTicks() const { return idleTicks_; }
    void setIdleTicks(int n) { idleTicks_ = n; }
    int idleReports() const { return idleReports_; }

signals:
    // The device list was rebuilt.
    void listChanged();
    // The followed cable went away (the link waits), or came back and reads again.
    void lost();
    void back();
    // A cable plugged in again did not take its configuration; it is read all the same.
    void notConfigured();
    // The cable check stopped the reading.
    void checkStopped();
    // Sent before the first report of another device, node or configuration
    // than the last report's: a frame in progress ends unfinished.
    void newStream();
    // A line for the diagnostic history: devices arriving and leaving, read
    // errors, the configuration report sent.
    void note(const QString& line);

private:
    friend class CableHub;
    CableLink(std::shared_ptr<CableHub> hub, bool alone, QObject* parent);
    // A device change, in the hub's three rounds: the devices go back (but
    // the running cable), the devices this link keeps are listed, the cable is followed.
    void handBack();
    bool listed(THidDevice* device, std::int32_t index);
    void listDone();
    void follow();
    bool keeps(THidDevice& device) const;
    bool holds(const THidDevice* device) const;
    bool takeUp(THidDevice* stayed);
    bool follows(THidDevice& device) const;
    int chosenIndex() const;
    bool claim(THidDevice& device);
    bool configure(THidDevice& device);
    void attach(THidDevice* device);
    void enter(State s);

    ReportHandler handler_;
    // Readings taken up so far, and the one whose report was delivered last.
    std::uint64_t streams_ = 0;
    std::uint64_t deliveredStream_ = 0;

    State state_ = State::Idle;
    // The cable followed, known by its product and serial strings; its
    // instance tells a cable that stayed from one plugged in again.
    QString product_;
    QString serial_;
    std::uint32_t instance_ = 0;
    QString node_;
    CableChoice choice_;
    QString followedPort_;
    // Held from start to stop, so no other instance reads the cable meanwhile.
    std::unique_ptr<LinkClaim> claim_;
    LinkClaim::Holder holder_;
    QString claimError_;

    int idleTicks_ = 0;
    int idleReports_ = 0;
    THidDevice* active_ = nullptr;

    // Declared before the devices: they go back to its controller when destroyed.
    std::shared_ptr<CableHub> hub_;
    // Alone on its hub, the link lists every device.
    bool alone_ = true;
    // The checked-out device of each item, in list order.
    std::vector<std::unique_ptr<THidDevice>> devices_;
    QStringList texts_;
    int selected_ = -1;
    // The running cable, held while the list is rebuilt around it.
    std::unique_ptr<THidDevice> staying_;
    THidDevice* stayed_ = nullptr;
};

} // namespace voltaro
