#include "core/decode/NumberFormat.h"

#include <charconv>

namespace voltaro {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t'))
        s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t'))
        s.remove_suffix(1);
    return s;
}

} // namespace

std::optional<double> parseNumber(std::string_view text, std::string_view decimalSep) {
    std::string_view s = trimmed(text);
    // Rebuild the number in the form from_chars reads, checking the shape on the way.
    char buf[64];
    std::size_t n = 0;
    auto put = [&](char c) {
        if (n < sizeof buf)
            buf[n++] = c;
    };
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    int mantissaDigits = 0;
    bool seenSep = false;
    while (i < s.size()) {
        if (isDigit(s[i])) {
            put(s[i]);
            ++mantissaDigits;
            ++i;
        } else if (!seenSep && !decimalSep.empty() && s.substr(i, decimalSep.size()) == decimalSep) {
            put('.');
            seenSep = true;
            i += decimalSep.size();
        } else {
            break;
        }
    }
    if (mantissaDigits == 0)
        return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        put('e');
        ++i;
        if (i < s.size() && (s[i] == '+' || s[i] == '-'))
            put(s[i++]);
        int expDigits = 0;
        while (i < s.size() && isDigit(s[i])) {
            put(s[i++]);
            ++expDigits;
        }
        if (expDigits == 0)
            return std::nullopt;
    }
    if (i != s.size() || n >= sizeof buf)
        return std::nullopt;
    double value = 0;
    auto [end, ec] = std::from_chars(buf, buf + n, value);
    if (ec != std::errc() || end != buf + n)
        return std::nullopt;
    return negative ? -value : value;
}

std::string formatGeneral(double value, std::string_view decimalSep) {
    if (value == 0)
        return "0";
    char buf[40];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
    if (ec != std::errc())
        return {};
    const auto len = end - buf;
    std::string out;
    out.reserve(static_cast<std::size_t>(len) + decimalSep.size());
    for (std::ptrdiff_t i = 0; i < len; ++i) {
        if (buf[i] == '.')
            out += decimalSep;
        else
            out += buf[i];
    }
    return out;
}

std::string formatShortest(double value) {
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (ec != std::errc())
        return {};
    return {buf, end};
}

} // namespace voltaro
