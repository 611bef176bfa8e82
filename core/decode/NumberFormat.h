#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace voltaro {

// Converts a text typed or shown in the user's number format: blanks around
// it, an optional sign, digits with at most one decimal separator, and an
// optional exponent. Group separators and any other character make it fail.
std::optional<double> parseNumber(std::string_view text, std::string_view decimalSep);

// The general number format: up to 15 significant digits, fixed-point for
// every value a reading can take, no trailing zeros after the separator and no
// separator when nothing follows it. Zero is written "0" whatever its sign.
std::string formatGeneral(double value, std::string_view decimalSep);

// The shortest fixed-point text with "." that reads back to the same double.
std::string formatShortest(double value);

} // namespace voltaro
