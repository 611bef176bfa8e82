// The advice for a cable the user may not open names the rule where the
// program finds it: installed beside it, or in the source tree.
#include "core/link/CableAccess.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace voltaro;

TEST(CableAccess, TheAdviceNamesTheInstalledRuleOrElseTheSourceTreesOne) {
    QTemporaryDir prefix;
    ASSERT_TRUE(prefix.isValid());
    const QString bin = prefix.filePath(QStringLiteral("bin"));
    ASSERT_TRUE(QDir().mkpath(bin));

    // A build: no rule beside the program.
    const QString built = cablePermissionAdvice(QStringLiteral("/dev/hidraw3"), bin);
    EXPECT_TRUE(
        built.startsWith(QStringLiteral("the USB cable is /dev/hidraw3, which this user may not open")))
        << built.toStdString();
    const QString sourceRule = QStringLiteral(VOLTARO_SOURCE_DIR "/packaging/70-voltaro-usb-cable.rules");
    ASSERT_TRUE(QFile::exists(sourceRule));
    EXPECT_TRUE(built.contains(QStringLiteral("sudo install -m 644 ") + sourceRule)) << built.toStdString();

    // Installed: the rule under the prefix, the seat, and its group for a remote login.
    const QString rules = prefix.filePath(QStringLiteral("lib/udev/rules.d"));
    ASSERT_TRUE(QDir().mkpath(rules));
    QFile rule(rules + QStringLiteral("/70-voltaro-usb-cable.rules"));
    ASSERT_TRUE(rule.open(QIODevice::WriteOnly));
    rule.close();
    const QString installed = cablePermissionAdvice(QStringLiteral("/dev/hidraw3"), bin);
    EXPECT_TRUE(installed.contains(QStringLiteral("installed udev rule ") + QDir::cleanPath(rule.fileName())))
        << installed.toStdString();
    EXPECT_TRUE(installed.contains(QStringLiteral("own seat"))) << installed.toStdString();
    EXPECT_TRUE(installed.contains(QStringLiteral("usermod -aG plugdev"))) << installed.toStdString();
    EXPECT_FALSE(installed.contains(QStringLiteral(VOLTARO_SOURCE_DIR))) << installed.toStdString();
    EXPECT_FALSE(installed.contains(QLatin1Char('\n')));
}
