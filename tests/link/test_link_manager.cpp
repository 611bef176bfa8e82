// The serial side of the window, driven through its real controls, with a
// simulated meter on a pseudo-terminal.
#include "app/ClickPanel.h"
#include "app/TFCOMM.h"
#include "decode/LcdPanel.h"
#include "link/serial/TComPortDriver.h"
#include "support/WindowTestSupport.h"
#include "tools/SimRunner.h"

#include <QMenu>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>

#include <gtest/gtest.h>

#include <memory>
#include <unistd.h>

using namespace voltaro;
using voltaro::testing::answerMessageBox;
using voltaro::testing::processUntil;

namespace {

void clickWidget(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    const QPointF global = w->mapToGlobal(at);
    QMouseEvent press(QEvent::MouseButtonPress, at, global, Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QMouseEvent release(QEvent::MouseButtonRelease, at, global, Qt::LeftButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QApplication::sendEvent(w, &release);
}

// Points a port choice at a device for one test and restores it after.
class PortOverride {
public:
    PortOverride(int number, const QString& device)
        : name_(QByteArray("VOLTARO_COM") + QByteArray::number(number)) {
        old_ = qgetenv(name_.constData());
        had_ = qEnvironmentVariableIsSet(name_.constData());
        qputenv(name_.constData(), device.toLocal8Bit());
    }
    ~PortOverride() {
        if (had_)
            qputenv(name_.constData(), old_);
        else
            qunsetenv(name_.constData());
    }

private:
    QByteArray name_, old_;
    bool had_ = false;
};

// A pseudo-terminal the test writes meter bytes into.
struct Pty {
    Pty() {
        std::string error;
        master = sim::openMeterPty(path, slave, error);
    }
    ~Pty() { closeAll(); }
    void closeAll() {
        if (master >= 0)
            ::close(master);
        if (slave >= 0)
            ::close(slave);
        master = slave = -1;
    }
    int master = -1, slave = -1;
    std::string path;
};

class LinkManager : public ::testing::Test {
protected:
    void SetUp() override {
        w = std::make_unique<TFCOMM>();
        w->show();
    }
    bool idle() const {
        return !w->COMCon->isChecked() && !w->USBCon->isHidden() && w->ComSetup1->menuAction()->isEnabled() &&
               w->START1->isEnabled() && !w->START1->isChecked() && !w->STOP1->isEnabled() &&
               w->BtCOM1->isEnabled() && !w->BTCon->isHidden() && w->BtDiscon->isHidden() &&
               !w->COMM2->Connected();
    }
    std::unique_ptr<TFCOMM> w;
};

} // namespace

TEST_F(LinkManager, PortPanelCyclesThroughTheFourChoices) {
    QAction* items[] = {w->COM11, w->COM21, w->COM31, w->COM41};
    ClickPanel* panels[] = {w->BtCOM1, w->BtCOM2, w->BtCOM3, w->BtCOM4};
    for (int step = 1; step <= 4; ++step) {
        const int before = (step - 1) % 4;
        clickWidget(panels[before]);
        const int now = step % 4;
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(items[i]->isChecked(), i == now) << "step " << step << " item " << i;
            EXPECT_EQ(panels[i]->isVisible(), i == now) << "step " << step << " panel " << i;
        }
        EXPECT_EQ(static_cast<int>(w->COMM2->ComPort()), now);
    }
    w->COM31->trigger();
    EXPECT_TRUE(w->BtCOM3->isVisible());
    EXPECT_TRUE(w->COM31->isChecked());
    EXPECT_FALSE(w->COM11->isChecked());
}

TEST_F(LinkManager, HintsNameTheDeviceEachChoiceOpens) {
    PortOverride com2(2, "/dev/pts/test-hint");
    w->COM21->trigger();
    EXPECT_TRUE(w->BtCOM2->toolTip().contains("/dev/pts/test-hint")) << w->BtCOM2->toolTip().toStdString();
    EXPECT_EQ(w->COMM2->devicePath(), "/dev/pts/test-hint");
}

TEST_F(LinkManager, ConnectAndDisconnectThroughButtonAndMenu) {
    Pty pty;
    ASSERT_GE(pty.master, 0);
    PortOverride com1(1, QString::fromStdString(pty.path));

    w->COMCon->click();
    EXPECT_TRUE(w->COMM2->Connected());
    EXPECT_TRUE(w->COMCon->isChecked());
    EXPECT_TRUE(w->USBCon->isHidden());
    EXPECT_FALSE(w->BtCOM1->isEnabled());
    EXPECT_FALSE(w->ComSetup1->menuAction()->isEnabled());
    EXPECT_FALSE(w->START1->isEnabled());
    EXPECT_TRUE(w->STOP1->isEnabled());
    EXPECT_TRUE(w->BTCon->isHidden());
    EXPECT_FALSE(w->BtDiscon->isHidden());
    // The port panel does not react while the link is open.
    clickWidget(w->BtCOM1);
    EXPECT_TRUE(w->COM11->isChecked());

    w->COMCon->click();
    EXPECT_TRUE(idle());

    // START from the menu puts the button down but leaves USB Connect visible.
    w->START1->trigger();
    EXPECT_TRUE(w->COMM2->Connected());
    EXPECT_TRUE(w->COMCon->isChecked());
    EXPECT_FALSE(w->USBCon->isHidden());
    w->STOP1->trigger();
    EXPECT_TRUE(idle());
    EXPECT_TRUE(w->STOP1->isChecked());

    // The hidden panels do the same as the menu.
    clickWidget(w->BTCon);
    EXPECT_TRUE(w->COMM2->Connected());
    clickWidget(w->BtDiscon);
    EXPECT_TRUE(idle());
}

TEST_F(LinkManager, PortThatCannotOpenIsReportedAndNotShownConnected) {
    PortOverride com1(1, "/dev/voltaro-no-such-port");
    QString text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    answerMessageBox(QMessageBox::Ok, &text, &icon);
    w->COMCon->click();
    EXPECT_TRUE(text.contains("COM1")) << text.toStdString();
    EXPECT_TRUE(text.contains("/dev/voltaro-no-such-port"));
    EXPECT_TRUE(text.contains("No such file")) << text.toStdString();
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_TRUE(idle());
}

TEST_F(LinkManager, PortThatFailsWhileOpenIsClosedAndReported) {
    Pty pty;
    PortOverride com1(1, QString::fromStdString(pty.path));
    w->COMCon->click();
    ASSERT_TRUE(w->COMM2->Connected());
    QString text;
    answerMessageBox(QMessageBox::Ok, &text);
    pty.closeAll(); // the adapter is pulled out
    EXPECT_TRUE(processUntil([&] { return !text.isEmpty(); }));
    EXPECT_TRUE(text.contains("COM1")) << text.toStdString();
    EXPECT_TRUE(text.contains("lost"));
    EXPECT_TRUE(idle());
    EXPECT_FALSE(w->COMM2->isPolling());
}

TEST(LinkEndToEnd, SimulatedMeterDrivesThePanelUntilReleased) {
    QProcess simProcess;
    simProcess.start(QStringLiteral(METER_SIM_PATH), {"--pty", "--rate", "50", "--scenario", "dcv"});
    ASSERT_TRUE(simProcess.waitForStarted(3000));
    ASSERT_TRUE(simProcess.waitForReadyRead(3000));
    const QString device = QString::fromLocal8Bit(simProcess.readLine()).trimmed();
    ASSERT_TRUE(device.startsWith("/dev/")) << device.toStdString();
    PortOverride com1(1, device);

    TFCOMM w;
    w.show();
    auto* lcd = w.findChild<LcdPanel*>("Panel1");
    w.COMCon->click();
    ASSERT_TRUE(w.COMM2->Connected());
    // The simulator walks DC volts around 1.2345 V on the 2.2 V range.
    EXPECT_TRUE(processUntil([&] { return w.pipeline().stats().decoded >= 5; }, 5000));
    EXPECT_TRUE(lcd->isLit(LcdElement::LcdV));
    EXPECT_TRUE(lcd->isLit(LcdElement::LcdP1));
    EXPECT_TRUE(lcd->isLit(LcdElement::LcdDc1));
    EXPECT_EQ(w.pipeline().reading.UnitText, "V");

    w.COMCon->click();
    EXPECT_FALSE(w.COMM2->Connected());
    EXPECT_FALSE(w.COMM2->isPolling());
    const auto decoded = w.pipeline().stats().decoded;
    processUntil([] { return false; }, 300);
    EXPECT_EQ(w.pipeline().stats().decoded, decoded);
    simProcess.kill();
    simProcess.waitForFinished(3000);
}
