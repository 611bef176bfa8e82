#pragma once

// A HID platform made of scripted devices, behind the same seam as the
// real Linux one. A node is one end of a SOCK_SEQPACKET socket pair: one
// report is one read, a short read truncates, poll is real, and closing the
// device's end hangs the node up, as an unplugged device does.

#include "core/link/hid/HidPlatform.h"
#include "core/sys/UniqueFd.h"

#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace voltaro::testing {

class SimulatedHidDevice {
public:
    struct Script {
        HIDD_ATTRIBUTES attributes;
        QString product;
        QString serial;
        std::vector<std::uint8_t> descriptor;
        bool readWrite = true;
        HidPlatform::Description description = HidPlatform::Description::Ok;
        bool featureFails = false;
    };

    static std::shared_ptr<SimulatedHidDevice> cable(const QString& serial = {});
    static std::shared_ptr<SimulatedHidDevice> mouse();
    static std::shared_ptr<SimulatedHidDevice> queryOnlyCable();
    static std::shared_ptr<SimulatedHidDevice> undescribable();

    explicit SimulatedHidDevice(Script script);
    ~SimulatedHidDevice();
    SimulatedHidDevice(const SimulatedHidDevice&) = delete;
    SimulatedHidDevice& operator=(const SimulatedHidDevice&) = delete;

    // Sends one report, as hidraw hands it over, to every open node; false
    // when no node took it.
    bool send(const std::vector<std::uint8_t>& report);
    // Sends one report and counts it offered when a node took it.
    bool offer(const std::vector<std::uint8_t>& report);
    // Offers `next(i)` for i = 0, 1, ... at `perSecond` until stopped; an
    // empty report skips its turn, and a full node drops the report.
    void startStreaming(double perSecond, std::function<std::vector<std::uint8_t>(std::uint64_t)> next);
    void stopStreaming();
    std::uint64_t offered() const { return offered_.load(); }
    // Reports the program has read from the device's nodes; a sender that
    // must not overrun a node keeps `offered() - reportsRead()` small.
    std::uint64_t reportsRead() const { return read_.load(); }

    // From now on reads fail with `error` (0: they work again); each open
    // node is woken so a waiting reader sees it.
    void failReads(int error);
    // Hangs up every open node (the device is gone).
    void hangUp();
    // While held, a reader's poll never finds a node readable, so what is
    // sent stays queued on it until somebody reads without waiting.
    void holdReads(bool held) { held_ = held; }
    // Opens fail with `error` (0: they work).
    void failOpens(int error) { openError_ = error; }

    std::vector<std::vector<std::uint8_t>> features() const;
    int opens() const { return opens_.load(); }
    int openNodes();

    // Set by the platform while plugged in.
    std::uint32_t instance = 0;
    QString path;
    // The USB socket it is plugged into; the test sets it before plugging.
    QString portPath;
    Script script;

private:
    friend class SimulatedHidPlatform;
    friend class SimulatedNode;

    mutable std::mutex mutex_;
    std::vector<UniqueFd> peers_;
    std::vector<std::vector<std::uint8_t>> features_;
    std::atomic<int> readError_{0};
    std::atomic<bool> held_{false};
    UniqueFd neverReady_;
    std::atomic<int> openError_{0};
    std::atomic<int> opens_{0};
    std::atomic<bool> streaming_{false};
    std::atomic<std::uint64_t> offered_{0};
    std::atomic<std::uint64_t> read_{0};
    std::thread streamer_;
};

class SimulatedHidPlatform : public HidPlatform {
public:
    SimulatedHidPlatform();
    ~SimulatedHidPlatform() override;

    // Plugs a device in or pulls it out; each is one device-change event.
    void plug(const std::shared_ptr<SimulatedHidDevice>& device);
    void unplug(const std::shared_ptr<SimulatedHidDevice>& device);

    bool canBind = true;
    int lists() const { return lists_; }
    int describes() const { return describes_; }

    bool bind() override;
    void unbind() override { bound_ = false; }
    bool bound() const override { return bound_; }
    std::vector<THidPnPInfo> listInterfaces() override;
    Description attributes(const THidPnPInfo& info, HIDD_ATTRIBUTES& out) override;
    QString productString(const THidPnPInfo& info) override;
    QString serialString(const THidPnPInfo& info) override;
    std::vector<std::uint8_t> reportDescriptor(const THidPnPInfo& info) override;
    bool mayReadWrite(const THidPnPInfo& info) override;
    std::unique_ptr<HidNode> open(const THidPnPInfo& info, Access access, int& error) override;
    int startWatching() override;
    int takeChanges() override;
    void stopWatching() override { watching_ = false; }

private:
    std::shared_ptr<SimulatedHidDevice> find(const THidPnPInfo& info) const;
    void signalChange();

    std::mutex mutex_; // open() runs on read threads
    std::vector<std::shared_ptr<SimulatedHidDevice>> present_;
    std::uint32_t nextInstance_ = 1;
    bool bound_ = false;
    bool watching_ = false;
    UniqueFd changes_;
    int lists_ = 0;
    int describes_ = 0;
};

} // namespace voltaro::testing
