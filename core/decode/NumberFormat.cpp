#include "core/decode/NumberFormat.h"

#include <charconv>
#include <cstdint>

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

// Powers of ten a double holds exactly.
constexpr double kExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                        1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                                        1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

} // namespace

std::optional<double> parseNumber(std::string_view text, std::string_view decimalSep) {
    const auto n = parseNumberDigits(text, decimalSep);
    return n ? std::optional<double>(n->value) : std::nullopt;
}

std::optional<ParsedNumber> parseNumberDigits(std::string_view text, std::string_view decimalSep) {
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
    int fractionDigits = 0;
    std::uint64_t mantissa = 0;
    bool seenSep = false;
    while (i < s.size()) {
        if (isDigit(s[i])) {
            put(s[i]);
            if (++mantissaDigits <= 15)
                mantissa = mantissa * 10 + static_cast<std::uint64_t>(s[i] - '0');
            fractionDigits += seenSep;
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
    // A plain decimal of at most 15 digits: the mantissa and the power of ten
    // are exact doubles, so their quotient is the correctly rounded value,
    // the one from_chars gives.
    if (i == s.size() && mantissaDigits <= 15 && fractionDigits <= 22) {
        const double value = static_cast<double>(mantissa) / kExactPowersOfTen[fractionDigits];
        return ParsedNumber{negative ? -value : value, true, mantissa, fractionDigits};
    }
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
    return ParsedNumber{negative ? -value : value};
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

std::string formatGeneral(const ParsedNumber& number, std::string_view decimalSep) {
    if (!number.plain || number.value == 0)
        return formatGeneral(number.value, decimalSep);
    // At most 15 significant digits survive the double unchanged, so the
    // general format's 15 digits are the text's own, written as it writes
    // them: fixed-point for a decimal exponent from -4 to 14, else d.ddde±XX.
    char digits[24];
    const auto [end, ec] = std::to_chars(digits, digits + sizeof digits, number.mantissa);
    (void)ec; // 15 digits always fit
    const int length = static_cast<int>(end - digits);
    int significant = length;
    while (significant > 1 && digits[significant - 1] == '0')
        --significant;
    const int exponent = length - 1 - number.fractionDigits;
    std::string out;
    out.reserve(24 + decimalSep.size());
    if (number.value < 0)
        out += '-';
    if (exponent < -4 || exponent >= 15) {
        out += digits[0];
        if (significant > 1) {
            out += decimalSep;
            out.append(digits + 1, static_cast<std::size_t>(significant - 1));
        }
        const int magnitude = exponent < 0 ? -exponent : exponent;
        out += exponent < 0 ? "e-" : "e+";
        if (magnitude < 10)
            out += '0';
        out += std::to_string(magnitude);
    } else if (exponent >= 0) {
        const int whole = exponent + 1;
        out.append(digits, static_cast<std::size_t>(whole));
        if (significant > whole) {
            out += decimalSep;
            out.append(digits + whole, static_cast<std::size_t>(significant - whole));
        }
    } else {
        out += '0';
        out += decimalSep;
        out.append(static_cast<std::size_t>(-exponent - 1), '0');
        out.append(digits, static_cast<std::size_t>(significant));
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
