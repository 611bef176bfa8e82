#include "tools/VoltaroLog.h"

#include "decode/MeterPipeline.h"
#include "link/hid/LinuxHidPlatform.h"
#include "link/hid/THidDevice.h"
#include "link/hid/THidDeviceController.h"
#include "link/hid/UsbCable.h"
#include "link/serial/PortMap.h"
#include "link/serial/TComPortDriver.h"
#include "tools/FrameLinePrinter.h"

#include <QEventLoop>
#include <QFileInfo>
#include <QSocketNotifier>

#include <cstdlib>
#include <memory>

namespace voltaro {

struct VoltaroLog::Options {
    enum class Mode { None, List, Usb, Port } mode = Mode::None;
    std::string port;
    std::uint64_t count = 0;
    std::string decimalSep = ".";
    std::string hi = "22000";
    std::string lo = "-22000";
    bool help = false;
};

namespace {

// The listed HID devices, each checked out, with the texts the window shows.
struct DeviceList {
    std::vector<std::unique_ptr<THidDevice>> devices;
    QStringList texts;

    explicit DeviceList(THidDeviceController& controller) {
        controller.setOnEnumerate([&](THidDevice* device, std::int32_t idx) {
            const QString text = usbcable::DescribeDevice(*device);
            std::unique_ptr<THidDevice> lent;
            if (controller.CheckOutByIndex(lent, idx)) {
                texts << text;
                devices.push_back(std::move(lent));
            }
            return true;
        });
        controller.Enumerate();
        controller.setOnEnumerate({});
    }
};

// Prints each decoded frame at once and ends the loop after `count` frames.
class LiveHooks : public PipelineHooks {
public:
    LiveHooks(std::FILE* out, std::uint64_t count, QEventLoop& loop)
        : printer_(out, false), out_(out), count_(count), loop_(loop) {}

    void frameDone(std::string_view frameText, const Reading& r, const DisplayState& d) override {
        // One read may carry several frames: those past the count are not printed.
        if (count_ && printer_.linesDone() >= count_)
            return;
        printer_.frameDone(frameText, r, d);
        printer_.flush();
        std::fflush(out_);
        if (count_ && printer_.linesDone() >= count_)
            loop_.quit();
    }

private:
    FrameLinePrinter printer_;
    std::FILE* out_;
    std::uint64_t count_;
    QEventLoop& loop_;
};

std::string hex4(std::uint16_t v) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", v);
    return text;
}

bool parseCount(const std::string& text, std::uint64_t& count) {
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    count = std::strtoull(text.c_str(), nullptr, 10);
    return count > 0;
}

void configureMeterLine(TComPortDriver& driver) {
    driver.setComPortSpeed(TComPortBaudRate::br19200);
    driver.setComPortDataBits(TComPortDataBits::db7BITS);
    driver.setComPortParity(TComPortParity::ptODD);
    driver.setComPortStopBits(TComPortStopBits::sb1BITS);
    driver.setComPortHwHandshaking(TComPortHwHandshaking::hhNONE);
    driver.setComPortSwHandshaking(TComPortSwHandshaking::shNONE);
}

} // namespace

const char* VoltaroLog::usage() {
    return "usage: voltaro-log --list\n"
           "       voltaro-log --usb [--count N] [--decimal-sep C] [--hi TEXT] [--lo TEXT]\n"
           "       voltaro-log --port COM1..COM4|DEVICE [--count N] [--decimal-sep C] [--hi TEXT] [--lo "
           "TEXT]\n"
           "--list shows the four port choices with the device files they open and every HID device.\n"
           "--usb reads the meter through its USB cable, --port through a serial port, and prints one\n"
           "tab-separated line per decoded frame until interrupted or N frames were printed.\n";
}

int VoltaroLog::fail(int status, const std::string& message) {
    std::fprintf(err_, "voltaro-log: %s\n", message.c_str());
    return status;
}

int VoltaroLog::run(const std::vector<std::string>& args) {
    Options o;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& target) {
            if (i + 1 >= args.size())
                return false;
            target = args[++i];
            return true;
        };
        std::string text;
        if (a == "--help" || a == "-h") {
            o.help = true;
        } else if (a == "--list" || a == "--usb" || a == "--port") {
            if (o.mode != Options::Mode::None)
                return fail(kUsage, std::string("choose one of --list, --usb and --port\n") + usage());
            o.mode = a == "--list"  ? Options::Mode::List
                     : a == "--usb" ? Options::Mode::Usb
                                    : Options::Mode::Port;
            if (o.mode == Options::Mode::Port && !value(o.port))
                return fail(kUsage, std::string("--port needs COM1..COM4 or a device file\n") + usage());
        } else if (a == "--count") {
            if (!value(text) || !parseCount(text, o.count))
                return fail(kUsage, std::string("--count needs a whole number above 0\n") + usage());
        } else if (a == "--decimal-sep" || a == "--hi" || a == "--lo") {
            std::string& target = a == "--decimal-sep" ? o.decimalSep : a == "--hi" ? o.hi : o.lo;
            if (!value(target))
                return fail(kUsage, a + " needs a value\n" + usage());
        } else {
            return fail(kUsage, "unknown argument " + a + "\n" + usage());
        }
    }
    if (o.help) {
        std::fputs(usage(), out_);
        return kOk;
    }
    switch (o.mode) {
    case Options::Mode::List: return list();
    case Options::Mode::Usb: return usb(o);
    case Options::Mode::Port: return port(o);
    case Options::Mode::None: break;
    }
    return fail(kUsage, std::string("nothing to do\n") + usage());
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

int VoltaroLog::usb(const Options& o) {
    THidDeviceController controller;
    if (!controller.HidServicesBound())
        return fail(kNoCable, std::string("no USB cable: HID support is not available (") +
                                  LinuxHidPlatform::kLibrary + " could not be loaded)");
    DeviceList list(controller);
    const int selected = usbcable::preselect(list.texts);
    if (selected < 0)
        return fail(kNoCable, list.devices.empty() ? std::string("no USB cable: no HID devices are listed")
                                                   : "no USB cable (\"USB to Serial\") is listed among the " +
                                                         std::to_string(list.devices.size()) +
                                                         " HID devices; see voltaro-log --list");
    THidDevice& cable = *list.devices[selected];
    const std::string node = cable.PnPInfo().DevicePath.toStdString();
    const std::string permission =
        "the USB cable is " + node +
        ", which this user may not open: install the udev rule packaging/70-voltaro-usb-cable.rules "
        "(sudo install -m 644 packaging/70-voltaro-usb-cable.rules /etc/udev/rules.d/, then sudo udevadm "
        "control --reload) and plug the cable in again";
    if (!cable.HasReadWriteAccess())
        return fail(kCablePermission, permission);
    const auto report = usbcable::kConfigurationReport;
    if (!cable.SetFeature(report.data(), static_cast<std::uint16_t>(report.size())))
        return cable.HasReadWriteAccess()
                   ? fail(kCableRefused, "the USB cable " + node + " did not take its configuration report")
                   : fail(kCablePermission, permission);

    QEventLoop loop;
    LiveHooks hooks(out_, o.count, loop);
    MeterPipeline pipeline(&hooks);
    pipeline.DecimalSep = o.decimalSep;
    pipeline.settings.hiText = o.hi;
    pipeline.settings.loText = o.lo;
    bool lost = false;
    controller.setOnRemoval([&](THidDevice* device) {
        if (device == &cable) {
            lost = true;
            loop.quit();
        }
    });
    QSocketNotifier stop(stopFd_, QSocketNotifier::Read);
    stop.setEnabled(stopFd_ >= 0);
    QObject::connect(&stop, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    cable.setOnData([&](THidDevice*, std::uint8_t id, const void* data, std::uint16_t size) {
        pipeline.HidDataDX22K(id, static_cast<const std::uint8_t*>(data), size);
    });
    loop.exec();
    cable.setOnData({});
    const auto& s = pipeline.stats();
    std::fprintf(err_, "frames: %llu decoded: %llu dropped: %llu\n",
                 static_cast<unsigned long long>(s.frameEnds), static_cast<unsigned long long>(s.decoded),
                 static_cast<unsigned long long>(s.dropped));
    return lost ? fail(kLinkLost, "the USB cable " + node + " was removed") : kOk;
}

int VoltaroLog::port(const Options& o) {
    TComPortDriver driver;
    configureMeterLine(driver);
    const QString name = QString::fromStdString(o.port);
    static const QString kChoices[] = {"COM1", "COM2", "COM3", "COM4"};
    int choice = -1;
    for (int i = 0; i < PortMap::kChoices; ++i)
        if (name.compare(kChoices[i], Qt::CaseInsensitive) == 0)
            choice = i;
    if (choice >= 0)
        driver.setComPort(static_cast<TComPortNumber>(choice));
    else
        driver.setPortResolver([name](int) { return name; });
    const std::string path = driver.devicePath().toStdString();
    if (!driver.Connect()) {
        const std::string what = "cannot open " + o.port + (choice >= 0 ? " (" + path + ")" : "") + ": " +
                                 driver.lastError().toStdString();
        if (path.empty() || !QFileInfo::exists(QString::fromStdString(path)))
            return fail(kPortMissing, what);
        return fail(driver.lastErrorIsPermission() ? kPortPermission : kPortBusy, what);
    }

    QEventLoop loop;
    LiveHooks hooks(out_, o.count, loop);
    MeterPipeline pipeline(&hooks);
    pipeline.DecimalSep = o.decimalSep;
    pipeline.settings.hiText = o.hi;
    pipeline.settings.loText = o.lo;
    std::string lostReason;
    QObject::connect(&driver, &TComPortDriver::portFailed, &loop, [&](const QString& reason) {
        lostReason = reason.toStdString();
        loop.quit();
    });
    QSocketNotifier stop(stopFd_, QSocketNotifier::Read);
    stop.setEnabled(stopFd_ >= 0);
    QObject::connect(&stop, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    driver.setOnReceiveData([&](TComPortDriver*, const void* data, std::int32_t size) {
        pipeline.DX22KDATA(static_cast<const std::uint8_t*>(data), size);
    });
    loop.exec();
    driver.Disconnect();
    const auto& s = pipeline.stats();
    std::fprintf(err_, "frames: %llu decoded: %llu dropped: %llu\n",
                 static_cast<unsigned long long>(s.frameEnds), static_cast<unsigned long long>(s.decoded),
                 static_cast<unsigned long long>(s.dropped));
    return lostReason.empty() ? kOk : fail(kLinkLost, "the port " + path + " failed: " + lostReason);
}

} // namespace voltaro
