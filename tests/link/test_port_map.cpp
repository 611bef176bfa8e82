#include "core/link/serial/PortMap.h"
#include "core/link/serial/TComPortDriver.h"
#include "support/LinkTestSupport.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <array>
#include <initializer_list>
#include <optional>

using voltaro::PortMap;

namespace {

// Clears the port overrides for one test and puts back whatever was there.
class Overrides {
public:
    Overrides() {
        for (int n = 1; n <= PortMap::kChoices; ++n) {
            if (qEnvironmentVariableIsSet(name(n)))
                saved_[n - 1] = qgetenv(name(n));
            qunsetenv(name(n));
        }
    }
    ~Overrides() {
        for (int n = 1; n <= PortMap::kChoices; ++n) {
            if (saved_[n - 1])
                qputenv(name(n), *saved_[n - 1]);
            else
                qunsetenv(name(n));
        }
    }
    Overrides(const Overrides&) = delete;
    Overrides& operator=(const Overrides&) = delete;

    void set(int n, const QString& device) { qputenv(name(n), device.toLocal8Bit()); }

private:
    static QByteArray name(int n) { return "VOLTARO_COM" + QByteArray::number(n); }
    std::array<std::optional<QByteArray>, PortMap::kChoices> saved_;
};

// A folder standing in for /dev, holding empty files with the given names.
class FakeDev {
public:
    explicit FakeDev(std::initializer_list<const char*> names) {
        for (const char* n : names) {
            QFile f(dir_.filePath(QString::fromLatin1(n)));
            EXPECT_TRUE(f.open(QIODevice::WriteOnly)) << n;
        }
    }
    QString path() const { return dir_.path(); }
    QString file(const char* name) const { return dir_.filePath(QString::fromLatin1(name)); }
    QStringList files(std::initializer_list<const char*> names) const {
        QStringList list;
        for (const char* n : names)
            list << file(n);
        return list;
    }

private:
    QTemporaryDir dir_;
};

std::string joined(const QStringList& list) {
    return list.join(QLatin1Char('\n')).toStdString();
}

TEST(PortMap, AdaptersComeFirstInNumberOrderThenTheFirstFourBuiltInPorts) {
    const FakeDev dev({"ttyUSB10", "ttyUSB2", "ttyACM1", "ttyUSB0", "ttyACM0", "ttyS1", "ttyS0", "ttyS7",
                       "ttyUSBx", "ttyUSB1a", "ttyUSB", "ttyACM-1", "xttyUSB3", "tty0", "ttyAMA0"});
    const QStringList expected = dev.files(
        {"ttyUSB0", "ttyUSB2", "ttyUSB10", "ttyACM0", "ttyACM1", "ttyS0", "ttyS1", "ttyS2", "ttyS3"});
    EXPECT_EQ(joined(PortMap::candidates(dev.path())), joined(expected));

    const FakeDev empty({});
    EXPECT_EQ(joined(PortMap::candidates(empty.path())),
              joined(empty.files({"ttyS0", "ttyS1", "ttyS2", "ttyS3"})));
}

TEST(PortMap, WithOneAdapterPluggedInComOneIsTheAdapter) {
    const Overrides env;
    const FakeDev dev({"ttyS0", "ttyS1", "ttyS2", "ttyS3", "ttyUSB0"});
    const QStringList candidates = PortMap::candidates(dev.path());
    EXPECT_EQ(PortMap::resolve(1, candidates), dev.file("ttyUSB0"));
    EXPECT_EQ(PortMap::resolve(2, candidates), dev.file("ttyS0"));
    EXPECT_EQ(PortMap::resolve(4, candidates), dev.file("ttyS2"));
}

TEST(PortMap, ChoicesTakeTheCandidatesInOrder) {
    const Overrides env;
    const QStringList candidates = {"/dev/a", "/dev/b", "/dev/c"};
    EXPECT_EQ(PortMap::resolve(1, candidates), "/dev/a");
    EXPECT_EQ(PortMap::resolve(2, candidates), "/dev/b");
    EXPECT_EQ(PortMap::resolve(3, candidates), "/dev/c");
    // Too few devices, or a choice that does not exist: no device.
    EXPECT_TRUE(PortMap::resolve(4, candidates).isEmpty());
    EXPECT_TRUE(PortMap::resolve(0, candidates).isEmpty());
    EXPECT_TRUE(PortMap::resolve(5, candidates).isEmpty());
}

TEST(PortMap, AnOverriddenChoiceOpensItsDeviceAndTakesNoCandidate) {
    Overrides env;
    const QStringList candidates = {"/dev/a", "/dev/b", "/dev/c", "/dev/d"};
    env.set(2, "/dev/pts/9");
    EXPECT_EQ(PortMap::resolve(1, candidates), "/dev/a");
    EXPECT_EQ(PortMap::resolve(2, candidates), "/dev/pts/9");
    EXPECT_EQ(PortMap::resolve(3, candidates), "/dev/b");
    EXPECT_EQ(PortMap::resolve(4, candidates), "/dev/c");

    env.set(1, "/dev/one");
    env.set(4, "/dev/four");
    EXPECT_EQ(PortMap::resolve(1, candidates), "/dev/one");
    EXPECT_EQ(PortMap::resolve(3, candidates), "/dev/a");
    EXPECT_EQ(PortMap::resolve(4, candidates), "/dev/four");

    // An empty value overrides nothing.
    env.set(2, QString());
    EXPECT_EQ(PortMap::resolve(2, candidates), "/dev/a");
    EXPECT_EQ(PortMap::resolve(3, candidates), "/dev/b");
}

TEST(PortMap, TheDriverOpensWhatTheMapNames) {
    Overrides env;
    const voltaro::testing::Pty pty;
    ASSERT_TRUE(pty.ok()) << pty.error().toStdString();
    env.set(3, pty.path());
    EXPECT_EQ(PortMap::devicePath(3), pty.path());

    voltaro::TComPortDriver driver;
    EXPECT_EQ(driver.devicePathOf(voltaro::TComPortNumber::pnCOM3), pty.path());
    driver.setComPort(voltaro::TComPortNumber::pnCOM3);
    ASSERT_TRUE(driver.Connect()) << driver.lastError().toStdString();
    EXPECT_EQ(driver.devicePath(), pty.path());
    driver.Disconnect();
}

} // namespace

TEST(PortMapOverrides, ADeviceNamedByOneChoiceIsNotHandedToAnother) {
    const QByteArray old = qgetenv("VOLTARO_COM2");
    const bool had = qEnvironmentVariableIsSet("VOLTARO_COM2");
    qputenv("VOLTARO_COM2", "/dev/ttyUSB0");
    const QStringList candidates{"/dev/ttyUSB0", "/dev/ttyS0", "/dev/ttyS1"};
    EXPECT_EQ(voltaro::PortMap::resolve(1, candidates), "/dev/ttyS0");
    EXPECT_EQ(voltaro::PortMap::resolve(2, candidates), "/dev/ttyUSB0");
    EXPECT_EQ(voltaro::PortMap::resolve(3, candidates), "/dev/ttyS1");
    if (had)
        qputenv("VOLTARO_COM2", old);
    else
        qunsetenv("VOLTARO_COM2");
}
