#include "core/link/CableAccess.h"

#include <QDir>
#include <QFileInfo>

namespace voltaro {

namespace {

// The rule a program in `programDir` was installed with, or empty.
QString installedRule(const QString& programDir) {
    const QString rulesDir = QStringLiteral(VOLTARO_UDEV_RULES_DIR);
    const QString dir =
        QDir::isAbsolutePath(rulesDir) ? rulesDir : programDir + QStringLiteral("/../") + rulesDir;
    const QString rule = QDir::cleanPath(dir + QLatin1Char('/') + QLatin1String(kCableRuleName));
    return QFileInfo::exists(rule) ? rule : QString();
}

} // namespace

QString cablePermissionAdvice(const QString& node, const QString& programDir) {
    const QString start = QStringLiteral("the USB cable is %1, which this user may not open").arg(node);
    if (const QString rule = installedRule(programDir); !rule.isEmpty())
        return start +
               QStringLiteral(
                   ". The installed udev rule %1 gives the cable to the user logged in at this "
                   "machine's own seat (its screen and keyboard): log in there and plug the cable in "
                   "again. A remote login (ssh) or another user needs a group rule instead: echo "
                   "'SUBSYSTEM==\"hidraw\", SUBSYSTEMS==\"usb\", ATTRS{product}==\"USB to Serial\", "
                   "GROUP=\"plugdev\", MODE=\"0660\"' | sudo tee "
                   "/etc/udev/rules.d/71-voltaro-usb-cable-group.rules, then sudo udevadm control "
                   "--reload, sudo usermod -aG plugdev $USER, log in again and plug the cable in again")
                   .arg(rule);
    const QString rule =
        QDir::cleanPath(QStringLiteral(VOLTARO_SOURCE_DIR "/packaging/") + QLatin1String(kCableRuleName));
    return start +
           QStringLiteral(": install the udev rule %1 (sudo install -m 644 %1 /etc/udev/rules.d/, then "
                          "sudo udevadm control --reload) and plug the cable in again")
               .arg(rule);
}

} // namespace voltaro
