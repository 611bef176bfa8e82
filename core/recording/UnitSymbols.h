#pragma once

#include <QString>

namespace voltaro {

// A unit text as stored (in the LCD font's characters: "*" for ohm, "u" for
// micro, "?" for the temperature sign, ...) turned into readable symbols for
// the grid, the report and the min/max display. Stored texts keep their
// characters; only what is shown changes.
QString unitSymbols(const QString& stored);

} // namespace voltaro
