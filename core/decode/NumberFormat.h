#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace voltaro {

// Converts a text typed or shown in the user's number format: blanks around
// it, an optional sign, digits with at most one decimal separator, and an
// optional exponent. Group separators and any other character make it fail.
std::optional<double> parseNumber(std::string_view text, std::string_view decimalSep);

// A number read by parseNumberDigits: its value and, when the text was a
// plain decimal of at most 15 digits without an exponent, those digits as an
// integer and how many of them follow the separator.
struct ParsedNumber {
    double value = 0;
    bool plain = false;
    std::uint64_t mantissa = 0;
    int fractionDigits = 0;
};
std::optional<ParsedNumber> parseNumberDigits(std::string_view text, std::string_view decimalSep);

// The general number format: up to 15 significant digits, fixed-point for
// every value a reading can take, no trailing zeros after the separator and no
// separator when nothing follows it. Zero is written "0" whatever its sign.
std::string formatGeneral(double value, std::string_view decimalSep);
// The same text, written from the digits when the number was a plain decimal.
std::string formatGeneral(const ParsedNumber& number, std::string_view decimalSep);
// The same written into `out`, which keeps its storage when it has room.
void formatGeneral(const ParsedNumber& number, std::string_view decimalSep, std::string& out);

// The shortest fixed-point text with "." that reads back to the same double.
std::string formatShortest(double value);

} // namespace voltaro
