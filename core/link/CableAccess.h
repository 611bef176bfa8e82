#pragma once

#include <QString>

namespace voltaro {

// The file name of the udev rule that opens the cable's node to its user.
inline constexpr char kCableRuleName[] = "70-voltaro-usb-cable.rules";

// What to tell a user whose account may not open the cable's node `node`, and
// how to change that, fitted to where the program runs: the rule installed
// beside the program in `programDir` (the package's, in
// <prefix>/lib/udev/rules.d) when it is there, otherwise the rule in the source
// tree the program was built from. One paragraph without a line break,
// starting "the USB cable is NODE, which this user may not open".
QString cablePermissionAdvice(const QString& node, const QString& programDir);

} // namespace voltaro
