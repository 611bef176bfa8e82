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
                   "machine's own seat (its screen and keyboard) and to the group plugdev: log in at the "
                   "seat and plug the cable in again, or, for a remote login (ssh) or another user, "
                   "sudo usermod -aG plugdev $USER, then log in again")
                   .arg(rule);
    const QString rule =
        QDir::cleanPath(QStringLiteral(VOLTARO_SOURCE_DIR "/packaging/") + QLatin1String(kCableRuleName));
    return start +
           QStringLiteral(": install the udev rule %1 (sudo install -m 644 %1 /etc/udev/rules.d/, then "
                          "sudo udevadm control --reload) and plug the cable in again")
               .arg(rule);
}

} // namespace voltaro
