#include "tools/VoltaroLog.h"

#include "core/decode/MeterPipeline.h"
#include "core/link/CableAccess.h"
#include "core/link/hid/LinuxHidPlatform.h"
#include "core/link/hid/THidDevice.h"
#include "core/link/hid/THidDeviceController.h"
#include "core/link/hid/UsbCable.h"
#include "core/link/serial/PortMap.h"
#include "core/link/serial/SerialPortWait.h"
#include "core/link/serial/TComPortDriver.h"
#include "tools/LogSession.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>

#include <memory>
#include <utility>

namespace voltaro {

namespace {

// The listed HID devices, each checked out, with the texts the window shows.
struct DeviceList {
    std::vector<std::unique_ptr<THidDevice>> devices;
    QStringList texts;

    DeviceList() = default;
    explicit DeviceList(THidDeviceController& controller) { fill(controller); }

    // Lists the present devices afresh; the devices held before go back
    // first, except `keep`, which takes its place in the list again as it
    // is. False when `keep` was not listed again (it is gone, and handed back).
    bool fill(THidDeviceController& controller, std::unique_ptr<THidDevice> keep = {}) {
        devices.clear();
        texts.clear();
        controller.setOnEnumerate([&](THidDevice* device, std::int32_t idx) {
            const QString text = usbcable::DescribeDevice(*device);
            std::unique_ptr<THidDevice> lent;
            if (!controller.CheckOutByIndex(lent, idx) && keep.get() == device)
                lent = std::move(keep);
            if (lent) {
                texts << text;
                devices.push_back(std::move(lent));
            }
            return true;
        });
        controller.Enumerate();
        controller.setOnEnumerate({});
        return !keep;
    }

    // Takes `device` out of the list, to be kept through a fill.
    std::unique_ptr<THidDevice> take(THidDevice* device) {
        for (auto& d : devices)
            if (d.get() == device)
                return std::move(d);
        return nullptr;
    }
};

std::string hex4(std::uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v);
    return text;
}

std::string local(const QString& s) {
    return s.toLocal8Bit().toStdString();
}

// The link ends with the session: how to stop, once, when a signal arrives.
struct StopSignal {
    QSocketNotifier notifier;
    StopSignal(int fd, QEventLoop& loop) : notifier(fd, QSocketNotifier::Read) {
        notifier.setEnabled(fd >= 0);
        QObject::connect(&notifier, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    }
};

} // namespace

const char* VoltaroLog::usage() {
    return logUsage();
}

int VoltaroLog::fail(int status, const std::string& message) {
    std::fprintf(err_, "voltaro-log: %s\n", message.c_str());
    return status;
}

int VoltaroLog::run(const std::vector<std::string>& args) {
    std::string error;
    const auto o = parseLogArgs(args, error);
    if (!o)
        return fail(kUsage, error + " (see voltaro-log --help)");
    if (o->help) {
        std::fputs(usage(), out_);
        return kOk;
    }
    if (o->version) {
        std::fputs("voltaro-log " VOLTARO_VERSION "\n", out_);
        return kOk;
    }
    switch (o->mode) {
    case LogOptions::Mode::List: return list();
    case LogOptions::Mode::Usb: return usb(*o);
    case LogOptions::Mode::Port: return port(*o);
    case LogOptions::Mode::None: break;
    }
    return fail(kUsage, "nothing to do (see voltaro-log --help)");
}

int VoltaroLog::list() {
    for (int n = 1; n <= PortMap::kChoices; ++n)
        std::fprintf(out_, "COM%d\t%s\n", n, PortMap::devicePath(n).toLocal8Bit().constData());
    THidDeviceController controller;
    if (!controller.HidServicesBound()) {
        std::fprintf(out_, "HID devices: none, HID support is not available (%s could not be loaded)\n",
                     LinuxHidPlatform::kLibrary);
        return kOk;
    }
    DeviceList list(controller);
    if (list.devices.empty()) {
        std::fputs("HID devices: none found\n", out_);
        return kOk;
    }
    const int cable = usbcable::preselect(list.texts);
    std::fprintf(out_, "HID devices: %d\n", static_cast<int>(list.devices.size()));
    for (std::size_t i = 0; i < list.devices.size(); ++i) {
        THidDevice& d = *list.devices[i];
        std::fprintf(out_, "HID\t%s\t%s:%s\t%s\t%s%s\n", d.PnPInfo().DevicePath.toLocal8Bit().constData(),
                     hex4(d.Attributes().VendorID).c_str(), hex4(d.Attributes().ProductID).c_str(),
                     d.HasReadWriteAccess() ? "read-write" : "query only",
                     list.texts[int(i)].toUtf8().constData(), int(i) == cable ? "\t<- the USB cable" : "");
    }
    return kOk;
}

int VoltaroLog::usb(const LogOptions& o) {
    THidDeviceController controller;
    if (!controller.HidServicesBound())
        return fail(kNoCable, std::string("no USB cable: HID support is not available (") +
                                  LinuxHidPlatform::kLibrary + " could not be loaded)");
    QEventLoop loop;
    LogSession session(o, out_, err_, [&loop] { loop.quit(); });

    // Each reading taken up is a stream of its own (a fresh device, a node
    // opened afresh, a cable configured again): a frame begun on another
    // stream is not finished with its bytes. Declared before the devices,
    // whose reports may still arrive while they go.
    std::uint64_t streams = 0;
    std::uint64_t deliveredStream = 0;
    // The cable the link follows, known by its product and serial strings as
    // the window knows it; its instance tells a cable that stayed from one
    // plugged in again, which has forgotten its configuration.
    DeviceList list;
    bool following = false;
    bool waiting = false;
    bool lost = false;
    QString product;
    QString serial;
    std::uint32_t instance = 0;
    std::string node;
    THidDevice* active = nullptr;
    const auto configure = [](THidDevice& cable) {
        const auto report = usbcable::kConfigurationReport;
        return cable.SetFeature(report.data(), static_cast<std::uint16_t>(report.size()));
    };
    const auto attach = [&](THidDevice* cable) {
        active = cable;
        node = local(cable->PnPInfo().DevicePath);
        cable->setOnData([&session, &deliveredStream, stream = ++streams](
                             THidDevice*, std::uint8_t id, const void* data, std::uint16_t size) {
            if (std::exchange(deliveredStream, stream) != stream)
                session.pipeline().assembler().discardPartialFrame();
            session.pipeline().HidDataDX22K(id, static_cast<const std::uint8_t*>(data), size);
            session.dataDone();
        });
    };
    // The cable that stayed plugged in, else the last one like it, as the
    // window takes it up; `stayed`, the cable's device kept through the
    // change, reads on as it is.
    const auto takeUp = [&](THidDevice* stayed) {
        int found = -1;
        for (std::size_t i = 0; i < list.devices.size(); ++i) {
            THidDevice& d = *list.devices[i];
            if (!d.HasReadWriteAccess() || d.ProductName() != product || d.SerialNumber() != serial)
                continue;
            found = static_cast<int>(i);
            if (!waiting && d.PnPInfo().DeviceInstance == instance)
                break;
        }
        if (found < 0)
            return false;
        THidDevice* cable = list.devices[static_cast<std::size_t>(found)].get();
        if (cable == stayed) {
            active = cable;
            return true;
        }
        if ((waiting || cable->PnPInfo().DeviceInstance != instance) && !configure(*cable))
            session.say("the USB cable " + local(cable->PnPInfo().DevicePath) +
                        " did not take its configuration report; reading it all the same");
        instance = cable->PnPInfo().DeviceInstance;
        attach(cable);
        return true;
    };
    // Any device coming or going lists them all again. A change that is not
    // the cable's leaves the running cable as it is (its device, node and
    // read thread), so no report is lost; otherwise the link goes on with its
    // cable's fresh device, or waits for the cable to come back.
    controller.setOnDeviceChange([&](QObject*) {
        std::unique_ptr<THidDevice> keep;
        if (following && !waiting && active && active->IsPluggedIn())
            keep = list.take(active);
        THidDevice* stayed = keep.get();
        active = nullptr;
        if (!list.fill(controller, std::move(keep)))
            stayed = nullptr; // not listed again: gone after all
        if (!following)
            return;
        if (takeUp(stayed)) {
            if (std::exchange(waiting, false)) {
                session.setWaiting({});
                session.say("the USB cable is back as " + node + ": reading goes on");
            }
            return;
        }
        if (waiting)
            return;
        waiting = true;
        if (!o.wait) {
            lost = true;
            loop.quit();
            return;
        }
        session.setWaiting("the USB cable");
        session.say("the USB cable " + node +
                    " is gone: waiting for it to be plugged in again (the same product and serial number)");
    });

    const int selected = usbcable::preselect(list.texts);
    if (selected < 0)
        return fail(kNoCable, list.devices.empty() ? std::string("no USB cable: no HID devices are listed")
                                                   : "no USB cable (\"USB to Serial\") is listed among the " +
                                                         std::to_string(list.devices.size()) +
                                                         " HID devices; see voltaro-log --list");
    THidDevice& cable = *list.devices[selected];
    node = local(cable.PnPInfo().DevicePath);
    const std::string permission =
        local(cablePermissionAdvice(cable.PnPInfo().DevicePath, QCoreApplication::applicationDirPath()));
    if (!cable.HasReadWriteAccess())
        return fail(kCablePermission, permission);
    if (!configure(cable))
        return cable.HasReadWriteAccess()
                   ? fail(kCableRefused, "the USB cable " + node + " did not take its configuration report")
                   : fail(kCablePermission, permission);
    // Made once the link is up, so a link that fails leaves any file of that name alone.
    std::string error;
    if (!session.openOutput(&error))
        return fail(kOutputFailed, error);
    following = true;
    product = cable.ProductName();
    serial = cable.SerialNumber();
    instance = cable.PnPInfo().DeviceInstance;
    attach(&cable);

    StopSignal stop(stopFd_, loop);
    session.start("the USB cable " + node);
    loop.exec();
    following = false;
    if (active)
        active->setOnData({});
    if (lost)
        session.say("the USB cable " + node + " was removed");
    const int status = session.finish();
    return status != kOk ? status : lost ? kLinkLost : kOk;
}

int VoltaroLog::port(const LogOptions& o) {
    TComPortDriver driver;
    configureMeterLine(driver);
    const QString name = QString::fromLocal8Bit(o.port.c_str());
    static const QString kChoices[] = {"COM1", "COM2", "COM3", "COM4"};
    int choice = -1;
    for (int i = 0; i < PortMap::kChoices; ++i)
        if (name.compare(kChoices[i], Qt::CaseInsensitive) == 0)
            choice = i;
    if (choice >= 0)
        driver.setComPort(static_cast<TComPortNumber>(choice));
    else
        driver.setPortResolver([name](int) { return name; });

    QEventLoop loop;
    LogSession session(o, out_, err_, [&loop] { loop.quit(); });
    const std::string path = local(driver.devicePath());
    if (!driver.Connect()) {
        const std::string what = "cannot open " + o.port + (choice >= 0 ? " (" + path + ")" : "") + ": " +
                                 local(driver.lastError());
        if (path.empty() || !QFileInfo::exists(QString::fromLocal8Bit(path.c_str())))
            return fail(kPortMissing, what);
        return fail(driver.lastErrorIsPermission() ? kPortPermission : kPortBusy, what);
    }
    // Made once the port is open, so a port that fails leaves any file of that name alone.
    std::string error;
    if (!session.openOutput(&error))
        return fail(kOutputFailed, error);

    // A port that fails is waited for, as the window waits: the same device,
    // under whatever device file it has when it is back.
    SerialPortWait wait([&driver](const QString& p) { return driver.ConnectTo(p); });
    wait.remember(driver.devicePath());
    std::string lostReason;
    QObject::connect(&driver, &TComPortDriver::portFailed, &loop, [&](const QString& reason) {
        const std::string device = local(wait.device());
        if (!o.wait) {
            lostReason = local(reason);
            loop.quit();
            return;
        }
        session.setWaiting(device);
        session.say("the port " + device + " failed (" + local(reason) +
                    "): waiting for the same adapter to come back");
        wait.start();
    });
    QObject::connect(&wait, &SerialPortWait::back, &loop, [&] {
        // A frame half read from the port that failed ends with it.
        session.pipeline().assembler().discardPartialFrame();
        session.setWaiting({});
        session.say("the port is back as " + local(wait.device()) + ": reading goes on");
    });
    driver.setOnReceiveData([&](TComPortDriver*, const void* data, std::int32_t size) {
        session.pipeline().DX22KDATA(static_cast<const std::uint8_t*>(data), size);
        session.dataDone();
    });

    StopSignal stop(stopFd_, loop);
    session.start(choice >= 0 ? o.port + " (" + path + ")" : path);
    loop.exec();
    wait.stop();
    driver.setOnReceiveData({});
    driver.Disconnect();
    if (!lostReason.empty())
        session.say("the port " + path + " failed: " + lostReason);
    const int status = session.finish();
    return status != kOk ? status : !lostReason.empty() ? kLinkLost : kOk;
}

} // namespace voltaro
