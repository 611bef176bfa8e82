// A serial adapter that went away is waited for by what udev knows of its
// tty, against adapters emulated by umockdev: found again under another
// number, and never another adapter in its place.
#include "core/link/serial/SerialPortWait.h"
#include "support/UmockdevHid.h"
#include "support/Wait.h"

#include <QStringList>

#include <gtest/gtest.h>

namespace voltaro {
namespace {

using testing::UmockdevHid;
using testing::waitUntil;
using Properties = std::vector<std::pair<std::string, std::string>>;

class TtyUmockdev : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        bed = UmockdevHid::make(whyNot);
        if (!bed)
            GTEST_SKIP() << "umockdev cannot run: " << whyNot;
    }
    std::unique_ptr<UmockdevHid> bed;
};

const Properties kAdapterA = {{"ID_SERIAL", "Maker_Adapter_A"},
                              {"ID_SERIAL_SHORT", "A"},
                              {"ID_USB_INTERFACE_NUM", "00"},
                              {"ID_PATH", "pci-0000:00:14.0-usb-0:1:1.0"}};
const Properties kAdapterB = {{"ID_SERIAL", "Maker_Adapter_B"},
                              {"ID_SERIAL_SHORT", "B"},
                              {"ID_USB_INTERFACE_NUM", "00"},
                              {"ID_PATH", "pci-0000:00:14.0-usb-0:2:1.0"}};

TEST_F(TtyUmockdev, TheSameAdapterIsTakenUpUnderAnotherNumberAndNoOtherIs) {
    const int a = bed->addTty("ttyUSB0", kAdapterA);
    bed->addTty("ttyUSB1", kAdapterB);
    ASSERT_TRUE(bed->ok()) << bed->error();
    QStringList opened;
    SerialPortWait wait([&](const QString& path) {
        opened << path;
        return true;
    });
    wait.remember(QStringLiteral("/dev/ttyUSB0"));
    ASSERT_TRUE(wait.identity().startsWith("serial:")) << wait.identity().toStdString();

    bed->unplug(a);
    wait.start();
    ASSERT_TRUE(waitUntil([&] { return wait.pollCount() >= 2 || !opened.isEmpty(); }));
    ASSERT_TRUE(opened.isEmpty()) << opened.join(' ').toStdString();
    EXPECT_TRUE(wait.waiting());

    // Back in another USB port, as the next number.
    Properties elsewhere = kAdapterA;
    elsewhere.back().second = "pci-0000:00:14.0-usb-0:3:1.0";
    bed->addTty("ttyUSB2", elsewhere);
    ASSERT_TRUE(waitUntil([&] { return !wait.waiting(); }));
    EXPECT_EQ(opened, QStringList{"/dev/ttyUSB2"});
    EXPECT_EQ(wait.device(), "/dev/ttyUSB2");
}

TEST_F(TtyUmockdev,
       IdenticalAdaptersWithoutSerialNumbersAreToldApartByTheirPortsAndPortsOfOneAdapterByInterface) {
    const Properties model = {{"ID_SERIAL", "Maker_Model"}, {"ID_PATH", "pci-0000:00:14.0-usb-0:1:1.0"}};
    Properties other = model;
    other.back().second = "pci-0000:00:14.0-usb-0:2:1.0";
    Properties secondPort = kAdapterA;
    secondPort[2].second = "01";
    bed->addTty("ttyUSB0", model);
    bed->addTty("ttyUSB1", other);
    bed->addTty("ttyUSB2", kAdapterA);
    bed->addTty("ttyUSB3", secondPort);
    ASSERT_TRUE(bed->ok()) << bed->error();
    TtyIdentity tty;
    QStringList ids;
    for (const char* node : {"/dev/ttyUSB0", "/dev/ttyUSB1", "/dev/ttyUSB2", "/dev/ttyUSB3"}) {
        ids << tty.of(QString::fromLatin1(node));
        EXPECT_EQ(tty.find(ids.back()), node);
    }
    ids.removeDuplicates();
    EXPECT_EQ(ids.size(), 4) << ids.join(' ').toStdString();
}

} // namespace
} // namespace voltaro
