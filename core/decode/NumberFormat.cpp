#include "core/decode/NumberFormat.h"

#include <charconv>
#include <cstdint>
#include <cstring>
#include <memory>

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

bool startsWithSep(std::string_view s, std::string_view decimalSep) {
    if (decimalSep.size() == 1)
        return !s.empty() && s[0] == decimalSep[0];
    return !decimalSep.empty() && s.substr(0, decimalSep.size()) == decimalSep;
}

// Reads any number the format allows; parseNumberDigits comes here for all
// but the plain decimals it reads itself.
std::optional<ParsedNumber> parseAnyNumber(std::string_view s, std::string_view decimalSep) {
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

} // namespace

std::optional<double> parseNumber(std::string_view text, std::string_view decimalSep) {
    const auto n = parseNumberDigits(text, decimalSep);
    return n ? std::optional<double>(n->value) : std::nullopt;
}

std::optional<ParsedNumber> parseNumberDigits(std::string_view text, std::string_view decimalSep) {
    const std::string_view s = trimmed(text);
    // The common text is a plain decimal: sign, digits and one separator. It
    // is read here in one pass; anything else goes the general way.
    const char* p = s.data();
    const char* const end = p + s.size();
    const bool negative = p != end && *p == '-';
    if (p != end && (*p == '+' || *p == '-'))
        ++p;
    std::uint64_t mantissa = 0;
    int mantissaDigits = 0;
    int wholeDigits = -1; // digits before the separator, once there was one
    while (p != end) {
        const unsigned digit = static_cast<unsigned char>(*p) - unsigned{'0'};
        if (digit < 10) {
            mantissa = mantissa * 10 + digit; // wraps harmlessly past 15 digits, which go the general way
            ++mantissaDigits;
            ++p;
        } else if (wholeDigits < 0 && startsWithSep(std::string_view(p, end - p), decimalSep)) {
            wholeDigits = mantissaDigits;
            p += decimalSep.size();
        } else {
            return parseAnyNumber(s, decimalSep);
        }
    }
    if (mantissaDigits > 15)
        return parseAnyNumber(s, decimalSep);
    if (mantissaDigits == 0)
        return std::nullopt;
    const int fractionDigits = wholeDigits < 0 ? 0 : mantissaDigits - wholeDigits;
    const double value = static_cast<double>(mantissa) / kExactPowersOfTen[fractionDigits];
    return ParsedNumber{negative ? -value : value, true, mantissa, fractionDigits};
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
    std::string out;
    formatGeneral(number, decimalSep, out);
    return out;
}

void formatGeneral(const ParsedNumber& number, std::string_view decimalSep, std::string& out) {
    if (!number.plain || number.value == 0) {
        out = formatGeneral(number.value, decimalSep);
        return;
    }
    // At most 15 significant digits survive the double unchanged, so the
    // general format's 15 digits are the text's own, written as it writes
    // them: fixed-point for a decimal exponent from -4 to 14, else d.ddde±XX.
    // The digits end in the middle of their buffer and the text's buffer has
    // 16 bytes to spare, so a run of digits (15 at most) is copied as one
    // block of 16 bytes whose surplus is overwritten or cut off.
    constexpr std::size_t kBlock = 16;
    char digitBuffer[24 + kBlock] = {};
    char* const digitsEnd = digitBuffer + 24;
    char* digits = digitsEnd;
    // Two digits a step; the mantissa is not 0 (zero went the other way).
    std::uint64_t m = number.mantissa;
    for (; m >= 10; m /= 100) {
        const auto pair = static_cast<unsigned>(m % 100);
        *--digits = static_cast<char>('0' + pair % 10);
        *--digits = static_cast<char>('0' + pair / 10);
    }
    if (m != 0)
        *--digits = static_cast<char>('0' + m);
    const int length = static_cast<int>(digitsEnd - digits);
    int significant = length;
    while (significant > 1 && digits[significant - 1] == '0')
        --significant;
    const int exponent = length - 1 - number.fractionDigits;
    // Room for the longest text: sign, 15 digits, the separator, "e-" and an
    // int's digits. The text is copied into `out` in one piece at the end.
    const std::size_t room = 32 + decimalSep.size() + kBlock;
    char local[80];
    std::unique_ptr<char[]> spill(room <= sizeof local ? nullptr : new char[room]);
    char* const begin = spill ? spill.get() : local;
    char* p = begin;
    auto copyDigits = [&p, digits](int from, int to) {
        std::memcpy(p, digits + from, kBlock);
        p += to - from;
    };
    auto putSep = [&p, decimalSep] {
        if (decimalSep.size() == 1) {
            *p++ = decimalSep[0];
        } else {
            std::memcpy(p, decimalSep.data(), decimalSep.size());
            p += decimalSep.size();
        }
    };
    if (number.value < 0)
        *p++ = '-';
    if (exponent < -4 || exponent >= 15) {
        *p++ = digits[0];
        if (significant > 1) {
            putSep();
            copyDigits(1, significant);
        }
        const int magnitude = exponent < 0 ? -exponent : exponent;
        *p++ = 'e';
        *p++ = exponent < 0 ? '-' : '+';
        if (magnitude < 10)
            *p++ = '0';
        p = std::to_chars(p, begin + room, magnitude).ptr;
    } else if (exponent >= 0) {
        const int whole = exponent + 1;
        copyDigits(0, whole);
        if (significant > whole) {
            putSep();
            copyDigits(whole, significant);
        }
    } else {
        *p++ = '0';
        putSep();
        std::memset(p, '0', 4); // -exponent - 1 is 3 at most here
        p += -exponent - 1;
        copyDigits(0, significant);
    }
    out.assign(begin, static_cast<std::size_t>(p - begin));
}

std::string formatShortest(double value) {
    char buf[400];
    auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    if (ec != std::errc())
        return {};
    return {buf, end};
}

} // namespace voltaro
