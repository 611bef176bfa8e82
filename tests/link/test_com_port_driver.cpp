#include "core/link/serial/TComPortDriver.h"
#include "support/LinkTestSupport.h"
#include "support/TerminalProbe.h"
#include "tools/MeterSimulator.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstring>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <termios.h>
#include <tuple>
#include <vector>

using namespace voltaro;
namespace support = voltaro::testing;
using support::Pty;

namespace {

// Everything the data handler was called with, one entry per call.
struct Received {
    std::string bytes;
    std::vector<int> sizes;
    std::vector<const TComPortDriver*> senders;
    std::vector<QThread*> threads;

    TComPortReceiveDataEvent handler() {
        return [this](TComPortDriver* sender, const void* data, std::int32_t size) {
            bytes.append(static_cast<const char*>(data), static_cast<std::size_t>(size));
            sizes.push_back(size);
            senders.push_back(sender);
            threads.push_back(QThread::currentThread());
        };
    }
};

class ComPortDriverTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty.ok()) << pty.error().toStdString();
        driver.setPortResolver([this](int number) { return number == 1 ? pty.path() : QString(); });
        driver.setComPort(TComPortNumber::pnCOM1);
        driver.setOnReceiveData(rx.handler());
        pollTimer = driver.findChild<QTimer*>();
        ASSERT_NE(pollTimer, nullptr);
        // Connected after the driver's own slot, so a counted tick has polled.
        QObject::connect(pollTimer, &QTimer::timeout, pollTimer, [this] { ++ticks; });
    }

    // The line the meter uses: 19200 baud, 7 data bits, odd parity, 1 stop bit.
    void setMeterLine() {
        driver.setComPortSpeed(TComPortBaudRate::br19200);
        driver.setComPortDataBits(TComPortDataBits::db7BITS);
        driver.setComPortParity(TComPortParity::ptODD);
        driver.setComPortStopBits(TComPortStopBits::sb1BITS);
    }

    termios lineNow() const {
        termios t{};
        EXPECT_EQ(::tcgetattr(driver.handle(), &t), 0);
        return t;
    }

    tcflag_t requestedFlags() const {
        const auto flags = support::requestedControlFlags(driver.handle());
        EXPECT_TRUE(flags.has_value());
        return flags.value_or(0);
    }

    // Sends bytes into the open port and waits until they wait there to be read.
    void queue(std::string_view bytes) {
        const int before = support::pendingBytes(driver.handle());
        ASSERT_TRUE(pty.send(bytes));
        ASSERT_TRUE(support::waitForQueued(driver.handle(), before + static_cast<int>(bytes.size())));
    }

    bool waitTicks(int n) {
        const int target = ticks + n;
        return support::waitUntil([&] { return ticks >= target; });
    }

    bool waitReceived(std::size_t n) {
        return support::waitUntil([&] { return rx.bytes.size() >= n; });
    }

    Pty pty;
    Received rx;
    TComPortDriver driver;
    QTimer* pollTimer = nullptr;
    int ticks = 0;
};

TEST_F(ComPortDriverTest, OpensRawWithTheMetersLineSettings) {
    // Start from a cooked terminal, as a port left behind by a login shell would be.
    termios cooked{};
    ASSERT_EQ(::tcgetattr(pty.slave(), &cooked), 0);
    cooked.c_lflag |= ICANON | ECHO | ISIG | IEXTEN;
    cooked.c_iflag |= ICRNL | IXON;
    cooked.c_oflag |= OPOST;
    cooked.c_cflag &= ~(CREAD | CLOCAL);
    cooked.c_cc[VMIN] = 0;
    cooked.c_cc[VTIME] = 5;
    ASSERT_EQ(::tcsetattr(pty.slave(), TCSANOW, &cooked), 0);
    setMeterLine();
    ASSERT_TRUE(driver.Connect()) << driver.lastError().toStdString();
    EXPECT_TRUE(driver.Connected());
    EXPECT_EQ(driver.devicePath(), pty.path());
    EXPECT_TRUE(driver.lastError().isEmpty());
    EXPECT_EQ(driver.lineSettingsApplied(), 1);
    EXPECT_TRUE(driver.isPolling());
    EXPECT_EQ(driver.pollingInterval(), 50);
    // A poll must never wait for bytes.
    EXPECT_NE(::fcntl(driver.handle(), F_GETFL) & O_NONBLOCK, 0);

    const termios t = lineNow();
    EXPECT_EQ(::cfgetispeed(&t), speed_t{B19200});
    EXPECT_EQ(::cfgetospeed(&t), speed_t{B19200});
    EXPECT_EQ(t.c_cflag & (PARODD | CMSPAR | CSTOPB | CRTSCTS), tcflag_t{PARODD});
    EXPECT_EQ(t.c_cflag & (CREAD | CLOCAL), tcflag_t{CREAD | CLOCAL});
    EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN), 0u);
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF | ICRNL | INLCR | IGNCR | ISTRIP | INPCK | PARMRK), 0u);
    EXPECT_EQ(t.c_oflag & OPOST, 0u);
    EXPECT_EQ(t.c_cc[VMIN], 1);
    EXPECT_EQ(t.c_cc[VTIME], 0);
    // The terminal reports 8 data bits and no parity whatever it is asked.
    const tcflag_t asked = requestedFlags();
    EXPECT_EQ(asked & CSIZE, tcflag_t{CS7});
    EXPECT_EQ(asked & (PARENB | PARODD | CMSPAR | CSTOPB), tcflag_t{PARENB | PARODD});
    EXPECT_EQ(asked & (CREAD | CLOCAL), tcflag_t{CREAD | CLOCAL});
}

TEST_F(ComPortDriverTest, ALineSettingChangedWhileOpenIsAppliedAndDiscardsQueuedBytes) {
    struct Change {
        const char* what;
        std::function<void(TComPortDriver&)> apply;
        tcflag_t keptMask, kept;   // in what the terminal reports
        tcflag_t askedMask, asked; // in the request, for what a pseudo-terminal drops
    };
    using P = TComPortParity;
    using S = TComPortStopBits;
    const std::vector<Change> changes = {
        {"9600 baud", [](auto& d) { d.setComPortSpeed(TComPortBaudRate::br9600); }, CBAUD, B9600, 0, 0},
        {"even parity", [](auto& d) { d.setComPortParity(P::ptEVEN); }, PARODD | CMSPAR, 0,
         PARENB | PARODD | CMSPAR, PARENB},
        {"8 data bits", [](auto& d) { d.setComPortDataBits(TComPortDataBits::db8BITS); }, 0, 0, CSIZE, CS8},
        {"5 data bits", [](auto& d) { d.setComPortDataBits(TComPortDataBits::db5BITS); }, 0, 0, CSIZE, CS5},
        {"mark parity", [](auto& d) { d.setComPortParity(P::ptMARK); }, PARODD | CMSPAR, PARODD | CMSPAR,
         PARENB, PARENB},
        {"space parity", [](auto& d) { d.setComPortParity(P::ptSPACE); }, PARODD | CMSPAR, CMSPAR, PARENB,
         PARENB},
        {"no parity", [](auto& d) { d.setComPortParity(P::ptNONE); }, PARODD | CMSPAR, 0, PARENB, 0},
        // A terminal has no 1.5 stop bits; 2 is the nearest.
        {"1.5 stop bits", [](auto& d) { d.setComPortStopBits(S::sb1HALFBITS); }, CSTOPB, CSTOPB, 0, 0},
        {"1 stop bit", [](auto& d) { d.setComPortStopBits(S::sb1BITS); }, CSTOPB, 0, 0, 0},
        {"2 stop bits", [](auto& d) { d.setComPortStopBits(S::sb2BITS); }, CSTOPB, CSTOPB, 0, 0},
        {"RTS/CTS", [](auto& d) { d.setComPortHwHandshaking(TComPortHwHandshaking::hhRTSCTS); }, CRTSCTS,
         CRTSCTS, 0, 0},
        {"XON/XOFF", [](auto& d) { d.setComPortSwHandshaking(TComPortSwHandshaking::shXONXOFF); }, 0, 0, 0,
         0},
    };

    setMeterLine();
    ASSERT_TRUE(driver.Connect());
    std::string expected;
    for (std::size_t i = 0; i < changes.size(); ++i) {
        const Change& c = changes[i];
        SCOPED_TRACE(c.what);
        queue("stale-" + std::to_string(i) + ";");
        const int applied = driver.lineSettingsApplied();
        c.apply(driver);
        EXPECT_TRUE(driver.Connected());
        EXPECT_EQ(driver.lineSettingsApplied(), applied + 1);
        EXPECT_EQ(support::pendingBytes(driver.handle()), 0);
        EXPECT_EQ(lineNow().c_cflag & c.keptMask, c.kept);
        EXPECT_EQ(requestedFlags() & c.askedMask, c.asked);
        const std::string fresh = "fresh-" + std::to_string(i) + ";";
        expected += fresh;
        ASSERT_TRUE(pty.send(fresh));
        ASSERT_TRUE(waitReceived(expected.size()));
    }
    EXPECT_EQ(rx.bytes, expected);
    // The last change turned on XON/XOFF in both directions.
    const termios t = lineNow();
    EXPECT_EQ(t.c_iflag & (IXON | IXOFF), tcflag_t{IXON | IXOFF});
    EXPECT_EQ(t.c_cc[VSTART], 0x11);
    EXPECT_EQ(t.c_cc[VSTOP], 0x13);
}

TEST_F(ComPortDriverTest, EverySpeedReachesTheTerminal) {
    bool plainNumbersKept = false;
    {
        Pty probe;
        ASSERT_TRUE(probe.ok());
        plainNumbersKept = support::acceptsArbitrarySpeed(probe.slave(), 14400);
    }
    using B = TComPortBaudRate;
    // In the order of the choices, so that standard speeds also follow plain numbers;
    // a code of 0: no standard code, the speed goes to the terminal as a number.
    const std::vector<std::tuple<B, speed_t, unsigned>> speeds = {
        {B::br110, B110, 110},          {B::br300, B300, 300},    {B::br600, B600, 600},
        {B::br1200, B1200, 1200},       {B::br2400, B2400, 2400}, {B::br4800, B4800, 4800},
        {B::br9600, B9600, 9600},       {B::br14400, 0, 14400},   {B::br19200, B19200, 19200},
        {B::br38400, B38400, 38400},    {B::br56000, 0, 56000},   {B::br57600, B57600, 57600},
        {B::br115200, B115200, 115200},
    };
    driver.setComPortSpeed(B::br14400);
    ASSERT_TRUE(driver.Connect());
    if (plainNumbersKept) {
        const auto opened = support::arbitrarySpeed(driver.handle());
        ASSERT_TRUE(opened);
        EXPECT_EQ(opened->input, 14400u);
        EXPECT_EQ(opened->output, 14400u);
    }
    for (const auto& [rate, code, number] : speeds) {
        SCOPED_TRACE(number);
        driver.setComPortSpeed(rate);
        const auto plain = support::arbitrarySpeed(driver.handle());
        if (code) {
            const termios t = lineNow();
            EXPECT_EQ(::cfgetispeed(&t), code);
            EXPECT_EQ(::cfgetospeed(&t), code);
            EXPECT_FALSE(plain);
        } else if (plainNumbersKept) {
            ASSERT_TRUE(plain);
            EXPECT_EQ(plain->input, number);
            EXPECT_EQ(plain->output, number);
        }
    }
    if (!plainNumbersKept)
        GTEST_SKIP() << "standard speeds checked; this kernel's pseudo-terminals keep no arbitrary speed";
}

TEST_F(ComPortDriverTest, DeliversWhatArrivesInOrderOnTheDriversThread) {
    ASSERT_TRUE(driver.Connect());
    ASSERT_TRUE(waitTicks(3));
    EXPECT_TRUE(rx.sizes.empty()) << "ticks with nothing to read call nothing";

    queue("123");
    ASSERT_TRUE(waitReceived(3));
    EXPECT_EQ(rx.sizes, std::vector<int>{3});
    EXPECT_EQ(rx.bytes, "123");

    // A burst bigger than the receive buffer: one or more calls, nothing lost or reordered.
    sim::MeterSimulator meter("tour", 7);
    std::string frames;
    for (int i = 0; i < 200; ++i) {
        const auto bytes = meter.nextSerialBytes();
        frames.append(bytes.begin(), bytes.end());
    }
    ASSERT_TRUE(pty.send(frames));
    ASSERT_TRUE(waitReceived(3 + frames.size()));
    EXPECT_EQ(rx.bytes, "123" + frames);
    EXPECT_GE(rx.sizes.size(), 3u);
    for (const int size : rx.sizes) {
        EXPECT_GT(size, 0);
        EXPECT_LE(size, driver.ComPortInBufSize());
    }
    for (const TComPortDriver* sender : rx.senders)
        EXPECT_EQ(sender, &driver);
    for (QThread* thread : rx.threads)
        EXPECT_EQ(thread, driver.thread());
}

TEST_F(ComPortDriverTest, OneReadTakesAtMostTheReceiveBufferSize) {
    driver.setComPortInBufSize(16);
    ASSERT_TRUE(driver.Connect());
    const std::string first = "0123456789abcdefghijklmnopqrstuvwxyzABCD";
    queue(first);
    ASSERT_TRUE(waitReceived(40));
    EXPECT_EQ(rx.sizes, (std::vector<int>{16, 16, 8}));
    EXPECT_EQ(rx.bytes, first);

    // Ignored while open.
    driver.setComPortInBufSize(4);
    EXPECT_EQ(driver.ComPortInBufSize(), 16);
    const std::string second(40, 'x');
    queue(second);
    ASSERT_TRUE(waitReceived(80));
    EXPECT_EQ(rx.sizes, (std::vector<int>{16, 16, 8, 16, 16, 8}));
}

TEST_F(ComPortDriverTest, HandlerMayBeSwappedOrRemovedAndMayDisconnect) {
    driver.setOnReceiveData(nullptr);
    ASSERT_TRUE(driver.Connect());
    queue("dropped");
    // A poll reads them and, with nobody to hand them to, drops them.
    ASSERT_TRUE(support::waitUntil([&] { return support::pendingBytes(driver.handle()) == 0; }));

    driver.setOnReceiveData(rx.handler());
    ASSERT_TRUE(pty.send("kept"));
    ASSERT_TRUE(waitReceived(4));
    EXPECT_EQ(rx.bytes, "kept");

    int calls = 0;
    driver.setOnReceiveData([&](TComPortDriver* sender, const void*, std::int32_t) {
        ++calls;
        sender->Disconnect();
    });
    ASSERT_TRUE(pty.send("bye"));
    ASSERT_TRUE(support::waitUntil([&] { return calls > 0; }));
    const auto polls = driver.pollCount();
    ASSERT_TRUE(pty.send("more"));
    ASSERT_TRUE(support::runTicks(driver.pollingInterval(), 4));
    EXPECT_EQ(driver.pollCount(), polls);
    EXPECT_EQ(calls, 1);
    EXPECT_FALSE(driver.Connected());
    EXPECT_FALSE(driver.isPolling());
}

TEST_F(ComPortDriverTest, ThePortChoiceChangesOnlyWhileClosed) {
    Pty other;
    ASSERT_TRUE(other.ok());
    driver.setPortResolver([&](int n) { return n == 1 ? pty.path() : n == 2 ? other.path() : QString(); });
    driver.setComPort(TComPortNumber::pnCOM2);
    EXPECT_EQ(driver.devicePath(), other.path());
    driver.setComPort(TComPortNumber::pnCOM1);
    ASSERT_TRUE(driver.Connect());

    driver.setComPort(TComPortNumber::pnCOM2);
    EXPECT_EQ(driver.ComPort(), TComPortNumber::pnCOM1);
    EXPECT_EQ(driver.devicePath(), pty.path());
    ASSERT_TRUE(pty.send("one"));
    ASSERT_TRUE(waitReceived(3));

    // The choice made while open was dropped, not kept for later.
    driver.Disconnect();
    ASSERT_TRUE(driver.Connect());
    EXPECT_EQ(driver.devicePath(), pty.path());
    driver.Disconnect();

    driver.setComPort(TComPortNumber::pnCOM2);
    ASSERT_TRUE(driver.Connect());
    EXPECT_EQ(driver.devicePath(), other.path());
    ASSERT_TRUE(other.send("two"));
    ASSERT_TRUE(waitReceived(6));
    EXPECT_EQ(rx.bytes, "onetwo");
    driver.Disconnect();
}

TEST_F(ComPortDriverTest, ANewPollingDelayTakesEffectAtOnceAndTheSameOneChangesNothing) {
    driver.setComPortPollingDelay(30);
    EXPECT_FALSE(driver.isPolling());
    ASSERT_TRUE(driver.Connect());
    EXPECT_EQ(driver.pollingInterval(), 30);

    driver.setComPortPollingDelay(60000);
    EXPECT_EQ(driver.pollingInterval(), 60000);
    ASSERT_TRUE(support::waitUntil([&] { return pollTimer->remainingTime() < 59950; }));
    const int remaining = pollTimer->remainingTime();
    driver.setComPortPollingDelay(60000);
    EXPECT_TRUE(driver.isPolling());
    EXPECT_LE(pollTimer->remainingTime(), remaining) << "the same delay restarted the period";

    // Without the new period these would wait a minute.
    ASSERT_TRUE(pty.send("now"));
    driver.setComPortPollingDelay(20);
    EXPECT_EQ(driver.pollingInterval(), 20);
    EXPECT_TRUE(waitReceived(3));
    EXPECT_EQ(rx.bytes, "now");
}

// A pseudo-terminal has no modem lines, so DTR itself cannot be seen here.
TEST_F(ComPortDriverTest, OutputQueueSizeAndDtrWaitForTheNextApplication) {
    driver.setComPortOutBufSize(512);
    driver.setEnableDTROnOpen(false);
    EXPECT_EQ(driver.ComPortOutBufSize(), 512);
    EXPECT_FALSE(driver.EnableDTROnOpen());
    ASSERT_TRUE(driver.Connect());

    queue("still here");
    driver.setComPortOutBufSize(1024);
    driver.setEnableDTROnOpen(true);
    EXPECT_EQ(driver.ComPortOutBufSize(), 1024);
    EXPECT_TRUE(driver.EnableDTROnOpen());
    // Applying the line settings now would have discarded the queued bytes.
    EXPECT_EQ(driver.lineSettingsApplied(), 1);
    ASSERT_TRUE(waitReceived(10));
    EXPECT_EQ(rx.bytes, "still here");
}

TEST_F(ComPortDriverTest, ConnectWhileOpenChangesNothingAndDisconnectStopsPolling) {
    ASSERT_TRUE(driver.Connect());
    const int fd = driver.handle();
    queue("queued");
    EXPECT_TRUE(driver.Connect());
    EXPECT_EQ(driver.handle(), fd);
    EXPECT_EQ(driver.lineSettingsApplied(), 1);
    ASSERT_TRUE(waitReceived(6));
    EXPECT_EQ(rx.bytes, "queued");

    driver.Disconnect();
    EXPECT_FALSE(driver.Connected());
    EXPECT_EQ(driver.handle(), -1);
    EXPECT_FALSE(driver.isPolling());
    ASSERT_TRUE(pty.send("later"));
    ASSERT_TRUE(support::waitForQueued(pty.slave(), 5));
    const int ticksBefore = ticks;
    ASSERT_TRUE(support::runTicks(driver.pollingInterval(), 4));
    EXPECT_EQ(ticks, ticksBefore);
    EXPECT_EQ(support::pendingBytes(pty.slave()), 5);
    EXPECT_EQ(rx.bytes, "queued");

    driver.Disconnect();
    EXPECT_FALSE(driver.Connected());
    EXPECT_FALSE(driver.isPolling());
}

TEST_F(ComPortDriverTest, AMissingDeviceFailsUntilItAppears) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("ttyUSB0"));
    driver.setPortResolver([path](int) { return path; });

    EXPECT_FALSE(driver.Connect());
    EXPECT_FALSE(driver.Connected());
    EXPECT_EQ(driver.handle(), -1);
    EXPECT_FALSE(driver.isPolling());
    EXPECT_TRUE(driver.lastError().contains(QString::fromLocal8Bit(std::strerror(ENOENT))))
        << driver.lastError().toStdString();
    EXPECT_FALSE(driver.lastErrorIsPermission());

    // The adapter is plugged in: the next Connect opens it.
    ASSERT_TRUE(QFile::link(pty.path(), path));
    ASSERT_TRUE(driver.Connect()) << driver.lastError().toStdString();
    EXPECT_TRUE(driver.lastError().isEmpty());
    ASSERT_TRUE(pty.send("hi"));
    ASSERT_TRUE(waitReceived(2));
    EXPECT_EQ(rx.bytes, "hi");
    driver.Disconnect();
}

TEST_F(ComPortDriverTest, AMissingPermissionSaysSo) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any device file";
    ASSERT_EQ(::chmod(pty.path().toLocal8Bit().constData(), 0), 0);
    EXPECT_FALSE(driver.Connect());
    EXPECT_TRUE(driver.lastErrorIsPermission());
    EXPECT_TRUE(driver.lastError().contains(pty.path())) << driver.lastError().toStdString();
}

TEST_F(ComPortDriverTest, APortOpenInOneDriverIsBusyForAnother) {
    TComPortDriver second;
    second.setPortResolver([&](int) { return pty.path(); });
    ASSERT_TRUE(driver.Connect());
    EXPECT_FALSE(second.Connect());
    EXPECT_FALSE(second.Connected());
    EXPECT_TRUE(second.lastError().contains(QStringLiteral("in use"))) << second.lastError().toStdString();
    EXPECT_FALSE(second.lastErrorIsPermission());
    EXPECT_TRUE(driver.Connected());

    driver.Disconnect();
    EXPECT_TRUE(second.Connect()) << second.lastError().toStdString();
    EXPECT_FALSE(driver.Connect());
    second.Disconnect();
}

// A claims folder that others may write to is not used; the port opens, and
// its own exclusive lock still keeps a second reader out.
TEST_F(ComPortDriverTest, AClaimsFolderOthersMayWriteToIsNotUsed) {
    QTemporaryDir runtime;
    const QString folder = runtime.filePath(QStringLiteral("voltaro-interface"));
    ASSERT_EQ(::mkdir(QFile::encodeName(folder).constData(), 0700), 0);
    ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
    const QByteArray old = qgetenv("XDG_RUNTIME_DIR");
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime.path()));
    TComPortDriver second;
    second.setPortResolver([&](int) { return pty.path(); });
    EXPECT_TRUE(driver.Connect()) << driver.lastError().toStdString();
    EXPECT_FALSE(second.Connect());
    EXPECT_TRUE(second.lastError().contains(QStringLiteral("in use"))) << second.lastError().toStdString();
    EXPECT_TRUE(QDir(folder).isEmpty());
    qputenv("XDG_RUNTIME_DIR", old);
}

TEST_F(ComPortDriverTest, APortThatGoesAwayIsClosedAndReportedOnce) {
    int failures = 0;
    QString reason;
    bool closedWhenReported = false;
    QObject::connect(&driver, &TComPortDriver::portFailed, &driver, [&](const QString& r) {
        ++failures;
        reason = r;
        closedWhenReported = !driver.Connected() && !driver.isPolling();
    });
    ASSERT_TRUE(driver.Connect());
    ASSERT_TRUE(waitTicks(2));

    pty.close();
    ASSERT_TRUE(support::waitUntil([&] { return failures > 0; }));
    const auto polls = driver.pollCount();
    ASSERT_TRUE(support::runTicks(driver.pollingInterval(), 4));
    EXPECT_EQ(driver.pollCount(), polls);
    EXPECT_EQ(failures, 1);
    EXPECT_TRUE(closedWhenReported);
    EXPECT_FALSE(reason.isEmpty());
    EXPECT_EQ(driver.lastError(), reason);
    EXPECT_FALSE(driver.Connected());
    EXPECT_EQ(driver.handle(), -1);
    EXPECT_FALSE(driver.isPolling());
    EXPECT_TRUE(rx.sizes.empty());
}

} // namespace
