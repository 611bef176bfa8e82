#include "core/decode/MeasurementDecoder.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <memory>

namespace voltaro {

namespace {

using E = LcdElement;

// The value of each upper-case hexadecimal digit; -1 for any other character.
constexpr std::array<std::int8_t, 256> kHexValue = [] {
    std::array<std::int8_t, 256> t{};
    t.fill(-1);
    for (int c = '0'; c <= '9'; ++c)
        t[c] = static_cast<std::int8_t>(c - '0');
    for (int c = 'A'; c <= 'F'; ++c)
        t[c] = static_cast<std::int8_t>(c - 'A' + 10);
    return t;
}();

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

constexpr E kPoints[4] = {E::LcdP0, E::LcdP1, E::LcdP2, E::LcdP3};

// Scale and chart range of each decimal point, as divisors so that the scaled
// value is the double nearest to the decimal the panel shows.
constexpr double kPointDivisor[4] = {10000.0, 1000.0, 100.0, 10.0};
constexpr double kPointChartMax[4] = {22.0, 22.0, 220.0, 2200.0};

// One decode's working state: the lit set and the texts it builds, with the
// steps that several tables share.
struct Work {
    LcdSet lit;
    std::string_view func;
    std::string_view unit;
    std::string_view range;
    char d[5] = {};
    int pointIndex = 0;

    void on(E e) { lit.light(e); }
    void off(E e) { lit.putOut(e); }
    template <typename... Es> void on(E e, Es... es) {
        on(e);
        on(es...);
    }
    template <typename... Es> void off(E e, Es... es) {
        off(e);
        off(es...);
    }
    bool lit_(E e) const { return lit.isLit(e); }

    void overloadPattern() {
        d[0] = '\0';
        d[1] = '0';
        d[2] = '@';
        d[3] = '\0';
        d[4] = '\0';
    }

    // Range code -> point, prefix, unit for the frequency function and option-3 value 11.
    void frequencyRange(int code) {
        switch (code) {
        case 0: on(E::LcdP2), unit = "Hz"; break;
        case 1: on(E::LcdP3), unit = "Hz"; break;
        case 3: on(E::LcdP1, E::LCDk), unit = "kHz"; break;
        case 4: on(E::LcdP2, E::LCDk), unit = "kHz"; break;
        case 5: on(E::LcdP0, E::LCDM1), unit = "MHz"; break;
        case 6: on(E::LcdP1, E::LCDM1), unit = "MHz"; break;
        case 7: on(E::LcdP2, E::LCDM1), unit = "MHz"; break;
        default: return; // code 2 and codes past the table change nothing
        }
        func = "Frequency";
    }

    // Range code -> point, prefix, unit for resistance.
    void ohmRange(int rangeCode) {
        switch (rangeCode) {
        case 0: on(E::LcdP2), unit = "*"; break;
        case 1: on(E::LcdP0, E::LCDk), unit = "K*"; break;
        case 2: on(E::LcdP1, E::LCDk), unit = "K*"; break;
        case 3: on(E::LcdP2, E::LCDk), unit = "K*"; break;
        case 4: on(E::LcdP0, E::LCDM1), unit = "M*"; break;
        case 5: on(E::LcdP1, E::LCDM1), unit = "M*"; break;
        case 6: on(E::LcdP2, E::LCDM1), unit = "M*"; break;
        default: break;
        }
    }

    // Range code -> point, prefix, unit for capacitance.
    void capacitanceRange(int rangeCode) {
        switch (rangeCode) {
        case 0: on(E::LcdP1, E::LCDn), unit = "nF"; break;
        case 1: on(E::LcdP2, E::LCDn), unit = "nF"; break;
        case 2: on(E::LcdP0, E::LCDu), unit = "uF"; break;
        case 3: on(E::LcdP1, E::LCDu), unit = "uF"; break;
        case 4: on(E::LcdP2, E::LCDu), unit = "uF"; break;
        case 5: on(E::LcdP0, E::Lcdm), unit = "mF"; break;
        case 6: on(E::LcdP1, E::Lcdm), unit = "mF"; break;
        case 7: on(E::LcdP2, E::Lcdm), unit = "mF"; break;
        default: break;
        }
    }

    // Range code -> point, prefix, unit for voltage.
    void voltRange(int rangeCode) {
        switch (rangeCode) {
        case 0: on(E::LcdP0), unit = "V"; break;
        case 1: on(E::LcdP1), unit = "V"; break;
        case 2: on(E::LcdP2), unit = "V"; break;
        case 3: on(E::LcdP3), unit = "V"; break;
        case 4: on(E::LcdP2, E::Lcdm), unit = "mV"; break;
        default: break;
        }
    }

    // Range code -> point for the ampere function.
    void ampRange(int rangeCode) {
        switch (rangeCode) {
        case 0: on(E::LcdP2), unit = "A"; break;
        case 1: on(E::LcdP1), unit = "A"; break;
        case 2: on(E::LcdP2), unit = "A"; break;
        case 3: on(E::LcdP3), unit = "A"; break;
        default: break;
        }
    }

    enum class Duty { A, F, V, Micro, Milli };

    // Duty-cycle display of a function with a duty sub-mode.
    void dutyVariant(Duty v, bool dutyFlag, bool dutyOverloadFlag) {
        if (dutyFlag) {
            on(E::LCDBF);
            unit = "%";
            off(E::LcdV, E::LCDHz, E::LcdP0, E::LcdP1, E::LcdP2);
            switch (v) {
            case Duty::A: func = "duty", off(E::LCDA, E::Lcdm), on(E::LcdP3); break;
            case Duty::F: func = "Duty", off(E::LCDk, E::LCDM1), on(E::LcdP3); break;
            case Duty::V: func = "Duty", on(E::LcdP3); break;
            case Duty::Micro: func = "duty", off(E::LCDA, E::LCDu), on(E::LcdP3); break;
            case Duty::Milli: func = "duty", off(E::LCDA, E::Lcdm, E::LcdP3); break;
            }
        }
        if (dutyOverloadFlag) {
            d[1] = '0';
            d[2] = '@';
        }
    }

    // function() and coupling() stay calls of their own: inlined into decode,
    // the compiler works out every case's element masks up front on each frame.
    [[gnu::noinline]] void function(int code, int rangeCode, bool dutyFlag, bool dutyOverloadFlag) {
        switch (code) {
        case 0:
            on(E::LCDA);
            if (rangeCode == 0)
                on(E::LcdP1), unit = "A";
            dutyVariant(Duty::A, dutyFlag, dutyOverloadFlag);
            break;
        case 1:
            on(E::LCDDI, E::LcdV, E::LcdP0);
            unit = "V)";
            func = "Diode";
            pointIndex = 0;
            break;
        case 2:
            on(E::LCDHz);
            frequencyRange(rangeCode);
            dutyVariant(Duty::F, dutyFlag, dutyOverloadFlag);
            break;
        case 3:
            on(E::LCDohm);
            func = "Ohm";
            ohmRange(rangeCode);
            break;
        case 4:
            on(E::LCDFS);
            unit = "?";
            func = "Temperature";
            pointIndex = 3;
            break;
        case 5:
            on(E::LCDFm, E::LCDohm, E::LcdP2);
            unit = "&  *";
            func = "Cont";
            break;
        case 6:
            on(E::LCDF);
            func = "Cap";
            capacitanceRange(rangeCode);
            break;
        case 9:
            on(E::LCDA);
            ampRange(rangeCode);
            break;
        case 11:
            on(E::LcdV);
            voltRange(rangeCode);
            dutyVariant(Duty::V, dutyFlag, dutyOverloadFlag);
            break;
        case 13:
            on(E::LCDA);
            switch (rangeCode) {
            case 0: on(E::LcdP2, E::LCDu), unit = "uA"; break;
            case 1: on(E::LcdP3, E::LCDu), unit = "uA"; break;
            default: break;
            }
            dutyVariant(Duty::Micro, dutyFlag, dutyOverloadFlag);
            break;
        case 15:
            on(E::LCDA);
            switch (rangeCode) {
            case 0: on(E::LcdP1, E::Lcdm), unit = "mA"; break;
            case 1: on(E::LcdP2, E::Lcdm), unit = "mA"; break;
            default: break;
            }
            dutyVariant(Duty::Milli, dutyFlag, dutyOverloadFlag);
            break;
        default: break; // 7, 8, 10, 12, 14: nothing
        }
    }

    [[gnu::noinline]] void coupling(int option3, int rangeCode) {
        switch (option3) {
        case 2: on(E::LcdAuto); break;
        case 4: func = "AC"; break;
        case 6:
            on(E::LcdAuto, E::LcdAC);
            func = "AC";
            break;
        case 7:
            off(E::LcdV, E::LCDA, E::LCDu, E::Lcdm, E::LcdP0, E::LcdP1);
            on(E::LCDHz, E::LcdP2);
            func = "Frequency";
            unit = "Hz";
            break;
        case 8:
            on(E::LcdDc1);
            func = "DC";
            break;
        case 9:
            on(E::LcdDc1, E::LCDBF);
            off(E::LcdP0, E::LcdP1, E::LcdP2, E::LcdV, E::LCDA, E::LCDu, E::Lcdm);
            unit = "%";
            func = "duty";
            break;
        case 10:
            on(E::LcdAuto, E::LcdDc1);
            func = "DC";
            break;
        case 11:
            on(E::LcdDc1, E::LcdAuto, E::LCDHz);
            off(E::LcdV, E::LcdP0, E::LcdP1, E::LcdP2, E::LcdP3, E::Lcdm, E::LCDA, E::LCDu);
            frequencyRange(rangeCode);
            break;
        default: break;
        }
    }

    // Hides leading zeros up to the digit before the lit point; only the panel
    // is affected, the value keeps its zeros.
    void blankLeadingZeros() {
        int blankable = 0;
        if (lit_(E::LcdP1))
            blankable = 1;
        else if (lit_(E::LcdP2))
            blankable = 2;
        else if (lit_(E::LcdP3))
            blankable = 3;
        constexpr E digitLabels[3] = {E::LcdD0, E::LcdDa, E::LcdDb};
        for (int i = 0; i < blankable && d[i] == '0'; ++i)
            off(digitLabels[i]);
    }
};

} // namespace

std::string DisplayState::digitTexts() const {
    std::string s;
    for (int i = 0; i < 5; ++i) {
        if (i)
            s += ',';
        if (digits[i])
            s += digits[i];
    }
    return s;
}

namespace {

// The status flags of a frame that the decoding reads.
struct Flags {
    bool duty, minus, lowBattery, overload, relative, dutyOverload, dc, ac, autoRange, hold;
};

Flags readFlags(const int (&v)[15]) {
    // Flag p of the 48-bit string sits in character 2 + (p-1)/4, bit 8,4,2,1 by (p-1)%4.
    auto flag = [&](int p) { return (v[2 + (p - 1) / 4] & (8 >> ((p - 1) % 4))) != 0; };
    return {flag(29), flag(30), flag(31), flag(32), flag(35),
            flag(37), flag(41), flag(42), flag(43), flag(47)};
}

// The panel's annunciators, digits and texts of the function, coupling and flags.
void lightPanel(Work& w, const int (&v)[15], const Flags& f) {
    if (f.dutyOverload) {
        w.overloadPattern();
        w.on(E::LcdP2);
    }
    w.on(E::LCDsend);

    w.function(v[8], v[2], f.duty, f.dutyOverload);
    w.coupling(v[12], v[2]);

    w.lit.setLit(E::LcdFH, f.minus);
    w.lit.setLit(E::LCDBATT, f.lowBattery);

    w.on(E::LcdD0, E::LcdDa, E::LcdDb, E::LcdDc, E::LcdDd);
    if (f.overload) {
        w.overloadPattern();
        w.on(E::LcdDa, E::LcdDb);
    } else {
        w.blankLeadingZeros();
    }
    w.lit.setLit(E::LCDREL, f.relative);
    if (f.dutyOverload) {
        w.off(E::LcdAuto);
        w.on(E::LcdManu);
        w.range = "MANU";
        w.unit = "%";
        w.func = "Duty";
        w.on(E::LCDBF);
        w.off(E::LcdV, E::LCDHz, E::LcdP0, E::LcdP1, E::LcdP2);
        w.on(E::LcdP3);
    }
    w.lit.setLit(E::LcdDc1, f.dc);
    w.lit.setLit(E::LcdAC, f.ac);
    w.lit.setLit(E::LcdAuto, f.autoRange);
    if (f.hold)
        w.on(E::LCDHold);
    if (w.lit_(E::LcdAuto)) {
        w.range = "AUTO";
        w.off(E::LcdManu);
    } else {
        w.range = "MANU";
        w.on(E::LcdManu);
    }
}

// The count: the overload pattern stands for the full scale; otherwise the
// five digits must be decimal, or the frame cannot be decoded.
bool readCount(const Work& w, bool minus, int fullScaleCount, double* count) {
    if (w.d[1] == '0' && w.d[2] == '@') {
        *count = minus ? -fullScaleCount : fullScaleCount;
        return true;
    }
    int n = 0;
    for (char c : w.d) {
        if (!isDigit(c))
            return false;
        n = n * 10 + (c - '0');
    }
    *count = minus ? -n : n;
    return true;
}

// Scales by the last lit point; with no point the count is the value and
// the chart spans the full scale. Returns the point's index, or -1.
int scale(const Work& w, int fullScaleCount, DecodedFrame& out) {
    int lastPoint = -1;
    for (int k = 0; k < 4; ++k) {
        if (w.lit_(kPoints[k]))
            lastPoint = k;
    }
    if (lastPoint >= 0) {
        out.ScaledValue = out.Count / kPointDivisor[lastPoint];
        out.chartYMax = kPointChartMax[lastPoint];
    } else {
        out.ScaledValue = out.Count;
        out.chartYMax = fullScaleCount;
    }
    out.chartYMin = -out.chartYMax;
    if (w.d[2] == '@')
        out.ScaledValue = out.Count;
    return lastPoint;
}

// The value as the panel shows it, with the separator at every lit point.
void writeValueText(const Work& w, bool minus, std::string_view decimalSep, std::string& vt) {
    // Written into room for a sign, five digits and four separators, then
    // copied into `vt` in one piece: the text keeps its storage.
    const std::size_t room = 6 + 4 * decimalSep.size();
    char local[64];
    std::unique_ptr<char[]> spill(room <= sizeof local ? nullptr : new char[room]);
    char* const begin = spill ? spill.get() : local;
    char* p = begin;
    auto sep = [&](int k) {
        if (!w.lit_(kPoints[k]))
            return;
        if (decimalSep.size() == 1) {
            *p++ = decimalSep[0];
        } else {
            std::memcpy(p, decimalSep.data(), decimalSep.size());
            p += decimalSep.size();
        }
    };
    auto digit = [&](int i) {
        if (w.d[i])
            *p++ = w.d[i];
    };
    if (minus)
        *p++ = '-';
    digit(0), sep(0), digit(1), sep(1);
    if (w.d[2] == '@') {
        *p++ = 'L', sep(3), digit(4);
    } else {
        digit(2), sep(2), digit(3), sep(3), digit(4);
    }
    vt.assign(begin, static_cast<std::size_t>(p - begin));
}

} // namespace

bool MeasurementDecoder::decode(std::string_view ft, const Context& ctx, DecodedFrame& out) {
    if (ft.size() != 14)
        return false;
    // v[1..14]: the nibble of each frame character (1-based like the frame's positions).
    int v[15] = {};
    int bad = 0;
    for (int pos = 2; pos <= 13; ++pos) {
        v[pos] = kHexValue[static_cast<unsigned char>(ft[pos - 1])];
        bad |= v[pos];
    }
    if (bad < 0)
        return false;
    const Flags flags = readFlags(v);

    Work w;
    for (int i = 0; i < 5; ++i)
        w.d[i] = ft[2 + i];
    lightPanel(w, v, flags);
    if (!readCount(w, flags.minus, ctx.fullScaleCount, &out.Count))
        return false;
    const int lastPoint = scale(w, ctx.fullScaleCount, out);
    writeValueText(w, flags.minus, ctx.decimalSep, out.ValueText);
    if (lastPoint >= 0)
        w.pointIndex = lastPoint;

    out.FuncText = w.func;
    out.UnitText = w.unit;
    out.RangeText = w.range;
    out.PointIndex = w.pointIndex;
    out.overloadFlag = flags.overload;
    out.display.lit = w.lit;
    for (int i = 0; i < 5; ++i)
        out.display.digits[i] = w.d[i];
    if (w.d[1] == '0' && w.d[2] == '@') {
        out.display.barPosition = ctx.barOverloadPos;
    } else {
        const int n = (w.d[0] - '0') * 10 + (w.d[1] - '0');
        out.display.barPosition = n >= 2 ? n : 1;
    }
    return true;
}

} // namespace voltaro
