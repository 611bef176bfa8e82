#pragma once

#include <QString>

#include <string_view>

namespace voltaro {

// A unit text as stored (in the LCD font's characters: "*" for ohm, "u" for
// micro, "?" for the temperature sign, ...) turned into readable symbols for
// the grid, the report and the min/max display. Stored texts keep their
// characters; only what is shown changes.
QString unitSymbols(const QString& stored);

// The factor of a stored unit text's prefix (milli, micro, nano, kilo, mega)
// that turns a value in that unit into SI units; 1 without a prefix.
double unitPrefixScale(std::string_view stored);

// The readable symbol of the SI unit a value in `stored` turns into: the
// symbol without its prefix ("mV" gives "V", "K*" gives "Ω").
QString siUnitSymbols(std::string_view stored);

} // namespace voltaro
