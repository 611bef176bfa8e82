#include "tools/VoltaroLog.h"

#include "core/link/CableLink.h"
#include "core/link/SerialLink.h"
#include "core/link/hid/LinuxHidPlatform.h"
#include "core/link/serial/PortMap.h"
#include "tools/ConfigFile.h"
#include "tools/LogSession.h"
#include "tools/MeterGroupLog.h"
#include "tools/MqttLog.h"

#include <QEventLoop>
#include <QSocketNotifier>

namespace voltaro {

namespace {

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

static_assert(VoltaroLog::kMqttSettings == MqttLog::kSettings &&
              VoltaroLog::kMqttRefused == MqttLog::kRefused && VoltaroLog::kMqttTls == MqttLog::kTls);

} // namespace

const char* VoltaroLog::usage() {
    return logUsage();
}

int VoltaroLog::fail(int status, const std::string& message) {
    std::fprintf(err_, "voltaro-log: %s\n", message.c_str());
    return status;
}

template <class Session>
int VoltaroLog::openMqtt(Session& session, const LogOptions& o, const std::string& meter) {
    std::string error;
    const int status = session.openMqtt(meter, &error);
    if (status == kOk)
        return kOk;
    if (!o.recording())
        return fail(status, error);
    session.say(error + ": nothing is published; the recording goes on");
    return kOk;
}

int VoltaroLog::run(const std::vector<std::string>& args) {
    std::string error;
    std::string config;
    const auto expanded = expandConfig(args, error, &config);
    if (!expanded)
        return fail(kUsage, error);
    const auto o = parseLogArgs(*expanded, error);
    if (!o)
        return fail(kUsage, error + (config.empty() ? "" : " (options from " + config + ")") +
                                " (see voltaro-log --help)");
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
    case LogOptions::Mode::Meters: return meters(*o);
    case LogOptions::Mode::None: break;
    }
    return fail(kUsage, "nothing to do (see voltaro-log --help)");
}

int VoltaroLog::list() {
    for (int n = 1; n <= PortMap::kChoices; ++n)
        std::fprintf(out_, "COM%d\t%s\n", n, PortMap::devicePath(n).toLocal8Bit().constData());
    CableLink cable;
    if (!cable.hidAvailable()) {
        std::fprintf(out_, "HID devices: none, HID support is not available (%s could not be loaded)\n",
                     LinuxHidPlatform::kLibrary);
        return kOk;
    }
    if (cable.deviceCount() == 0) {
        std::fputs("HID devices: none found\n", out_);
        return kOk;
    }
    std::fprintf(out_, "HID devices: %d\n", cable.deviceCount());
    for (int i = 0; i < cable.deviceCount(); ++i) {
        THidDevice& d = cable.deviceAt(i);
        const QString port = d.PnPInfo().PortPath.isEmpty() ? QStringLiteral("-") : d.PnPInfo().PortPath;
        std::fprintf(
            out_, "HID\t%s\t%s\t%s:%s\t%s\t%s%s\n", d.PnPInfo().DevicePath.toLocal8Bit().constData(),
            port.toLocal8Bit().constData(), hex4(d.Attributes().VendorID).c_str(),
            hex4(d.Attributes().ProductID).c_str(), d.HasReadWriteAccess() ? "read-write" : "query only",
            cable.deviceTexts()[i].toUtf8().constData(), i == cable.selected() ? "\t<- the USB cable" : "");
    }
    return kOk;
}

int VoltaroLog::usb(const LogOptions& o) {
    QEventLoop loop;
    LogSession session(o, out_, err_, [&loop] { loop.quit(); });
    CableLink& cable = session.meter().cable();
    if (!cable.hidAvailable())
        return fail(kNoCable, std::string("no USB cable: HID support is not available (") +
                                  LinuxHidPlatform::kLibrary + " could not be loaded)");
    cable.setChoice(CableChoice::parse(QString::fromLocal8Bit(o.cable.c_str())));
    if (const int status = startCable(cable); status != kOk)
        return status;
    // Made once the link is up, so a link that fails leaves any file of that name alone.
    if (const int status = openOutputs(session); status != kOk)
        return status;
    if (const int status = openMqtt(session, o,
                                    !o.name.empty()   ? o.name
                                    : o.cable.empty() ? "usb"
                                                      : o.cable);
        status != kOk)
        return status;

    // A cable that goes away is waited for, as the window waits: a cable
    // named by the user in the same socket, else the same product and serial
    // number in any, whatever node it has when it is back.
    bool lost = false;
    QObject::connect(&cable, &CableLink::lost, &loop, [&] {
        if (!o.wait) {
            lost = true;
            loop.quit();
            return;
        }
        const QString socket = cable.followedPort();
        session.setWaiting(socket.isEmpty() ? "the USB cable" : "the USB cable at " + local(socket));
        session.say(
            "the USB cable " + local(cable.node()) +
            (socket.isEmpty()
                 ? std::string(" is gone: waiting for it to be plugged in again (the same "
                               "product and serial number)")
                 : " is gone: waiting for a cable to be plugged into the same USB socket, " + local(socket)));
    });
    QObject::connect(&cable, &CableLink::back, &loop, [&] {
        session.setWaiting({});
        session.say("the USB cable is back as " + local(cable.node()) + ": reading goes on");
    });
    QObject::connect(&cable, &CableLink::notConfigured, &loop, [&] {
        session.say("the USB cable " + local(cable.node()) +
                    " did not take its configuration report; reading it all the same");
    });

    StopSignal stop(stopFd_, loop);
    session.start("the USB cable " + local(cable.node()));
    ServiceNotifier service(manager_);
    service.ready([&session] { return session.serviceStatus(); });
    loop.exec();
    service.stopping("stopping: " + session.serviceStatus());
    cable.stop();
    if (lost)
        session.say("the USB cable " + local(cable.node()) + " was removed");
    const int status = session.finish();
    return status != kOk ? status : lost ? kLinkLost : kOk;
}

int VoltaroLog::startCable(CableLink& cable) {
    const CableChoice& choice = cable.choice();
    switch (cable.start()) {
    case CableLink::Start::Started: return kOk;
    case CableLink::Start::NotListed:
        if (cable.deviceCount() == 0)
            return fail(kNoCable, "no USB cable: no HID devices are listed");
        return fail(kNoCable,
                    "no USB cable" +
                        (choice.isDefault() ? std::string(" (\"USB to Serial\")") : local(choice.where())) +
                        " is listed among the " + std::to_string(cable.deviceCount()) +
                        " HID devices; see voltaro-log --list");
    case CableLink::Start::NoAccess: return fail(kCablePermission, local(cable.permissionAdvice()));
    case CableLink::Start::NotConfigured:
        return fail(kCableRefused, "the USB cable " + local(cable.selectedDevice()->PnPInfo().DevicePath) +
                                       " did not take its configuration report");
    case CableLink::Start::Held: break;
    }
    const THidPnPInfo& info = cable.selectedDevice()->PnPInfo();
    return fail(kPortBusy, "the USB cable " + local(info.DevicePath) +
                               (info.PortPath.isEmpty() ? std::string() : " at " + local(info.PortPath)) +
                               " is read by " + local(cable.holder().describe()) + ": it is not shared");
}

int VoltaroLog::port(const LogOptions& o) {
    QEventLoop loop;
    LogSession session(o, out_, err_, [&loop] { loop.quit(); });
    SerialLink& link = session.meter().serial();
    link.choosePort(QString::fromLocal8Bit(o.port.c_str()));
    link.setWaitWhenLost(o.wait);
    const std::string path = local(link.driver().devicePath());
    const std::string source = link.namedDevice() ? path : o.port + " (" + path + ")";
    if (!link.open()) {
        const std::string what =
            "cannot open " + (link.namedDevice() ? o.port : source) + ": " + local(link.lastError());
        switch (link.failure()) {
        case SerialLink::Failure::Missing: return fail(kPortMissing, what);
        case SerialLink::Failure::Permission: return fail(kPortPermission, what);
        case SerialLink::Failure::Busy:
        case SerialLink::Failure::None: break;
        }
        return fail(kPortBusy, what);
    }
    // Made once the port is open, so a port that fails leaves any file of that name alone.
    if (const int status = openOutputs(session); status != kOk)
        return status;
    if (const int status = openMqtt(session, o, o.name.empty() ? o.port : o.name); status != kOk)
        return status;

    // A port that fails is waited for, as the window waits: the same device,
    // under whatever device file it has when it is back.
    std::string lostReason;
    QObject::connect(&link, &SerialLink::lost, &loop, [&](const QString& device, const QString& reason) {
        if (!o.wait) {
            lostReason = local(reason);
            loop.quit();
            return;
        }
        session.setWaiting(local(device));
        session.say("the port " + local(device) + " failed (" + local(reason) +
                    "): waiting for the same adapter to come back");
    });
    QObject::connect(&link, &SerialLink::back, &loop, [&](const QString& device) {
        session.setWaiting({});
        session.say("the port is back as " + local(device) + ": reading goes on");
    });

    StopSignal stop(stopFd_, loop);
    session.start(source);
    ServiceNotifier service(manager_);
    service.ready([&session] { return session.serviceStatus(); });
    loop.exec();
    service.stopping("stopping: " + session.serviceStatus());
    link.close();
    if (!lostReason.empty())
        session.say("the port " + path + " failed: " + lostReason);
    const int status = session.finish();
    return status != kOk ? status : !lostReason.empty() ? kLinkLost : kOk;
}

int VoltaroLog::openOutputs(LogSession& session) {
    // The server first: one that cannot listen leaves any file of the output's name alone too.
    std::string error;
    if (!session.openScpi("Voltaro,voltaro-log,0," VOLTARO_VERSION, &error))
        return fail(kScpiFailed, error);
    if (!session.openOutput(&error))
        return fail(kOutputFailed, error);
    return kOk;
}

int VoltaroLog::meters(const LogOptions& o) {
    QEventLoop loop;
    MeterGroupLog group(o, out_, err_, [&loop] { loop.quit(); });
    std::string error;
    if (const int status = group.openLinks(&error); status != kOk)
        return fail(status, error);
    // Made once every link is up, so a link that fails leaves any file of that name alone.
    if (!group.openOutput(&error))
        return fail(kOutputFailed, error);
    if (const int status = openMqtt(group, o, {}); status != kOk)
        return status;
    StopSignal stop(stopFd_, loop);
    group.start();
    ServiceNotifier service(manager_);
    service.ready([&group] { return group.serviceStatus(); });
    loop.exec();
    service.stopping("stopping: " + group.serviceStatus());
    return group.finish();
}

} // namespace voltaro
