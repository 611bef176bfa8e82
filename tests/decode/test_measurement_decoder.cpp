#include "core/decode/MeasurementDecoder.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace voltaro;
using E = LcdElement;

namespace {

constexpr E kPoints[] = {E::LcdP0, E::LcdP1, E::LcdP2, E::LcdP3};

struct F {
    int function = 11;
    int range = 1;
    std::string digits = "12345";
    int status = 0, opt1 = 0, opt2 = 0, opt3 = 0, opt4 = 0;

    std::string text() const {
        static const char hex[] = "0123456789ABCDEF";
        return std::string("A") + hex[range] + digits + hex[function] + hex[status] + hex[opt1] + hex[opt2] +
               hex[opt3] + hex[opt4] + "D";
    }
};

DecodedFrame decodeOk(const std::string& text, const MeasurementDecoder::Context& ctx = {}) {
    DecodedFrame out;
    EXPECT_TRUE(MeasurementDecoder::decode(text, ctx, out)) << text;
    return out;
}

std::string names(const std::vector<E>& lit) {
    LcdSet s;
    for (E e : lit)
        s.light(e);
    return s.names();
}

// The digit labels and the link indicator every frame without blanking lights, plus `extra`.
std::string panel(std::vector<E> extra) {
    extra.insert(extra.end(), {E::LcdD0, E::LcdDa, E::LcdDb, E::LcdDc, E::LcdDd, E::LCDsend});
    return names(extra);
}

// The value scaled by decimal point `point` (-1: none) and the matching chart range.
void expectScale(const DecodedFrame& d, int point, double count, double fullScale = 22000) {
    static const double divisor[] = {10000, 1000, 100, 10};
    static const double chart[] = {22, 22, 220, 2200};
    EXPECT_EQ(d.Count, count);
    EXPECT_EQ(d.ScaledValue, point < 0 ? count : count / divisor[point]);
    EXPECT_EQ(d.chartYMax, point < 0 ? fullScale : chart[point]);
    EXPECT_EQ(d.chartYMin, point < 0 ? -fullScale : -chart[point]);
}

std::string withPoint(std::string digits, int point) {
    return point < 0 ? digits : digits.insert(point + 1, ".");
}

// '1' for each lit digit label, d1 first.
std::string litDigits(const DecodedFrame& d) {
    std::string s;
    for (E e : {E::LcdD0, E::LcdDa, E::LcdDb, E::LcdDc, E::LcdDd})
        s += d.display.lit.isLit(e) ? '1' : '0';
    return s;
}

} // namespace

TEST(MeasurementDecoder, DcVoltageFrameWithAutoRange) {
    const DecodedFrame d = decodeOk("A101234B000A0D");
    EXPECT_EQ(d.display.lit.names(), names({E::LcdDa, E::LcdDb, E::LcdDc, E::LcdDd, E::LCDsend, E::LcdV,
                                            E::LcdP1, E::LcdDc1, E::LcdAuto}));
    EXPECT_EQ(d.UnitText, "V");
    EXPECT_EQ(d.FuncText, "DC");
    EXPECT_EQ(d.RangeText, "AUTO");
    EXPECT_EQ(d.ValueText, "01.234");
    EXPECT_EQ(d.PointIndex, 1);
    expectScale(d, 1, 1234);
    EXPECT_EQ(d.display.digitTexts(), "0,1,2,3,4");
    EXPECT_FALSE(d.overloadFlag);

    const DecodedFrame neg = decodeOk("A101234B400A0D");
    EXPECT_EQ(neg.ValueText, "-01.234");
    EXPECT_EQ(neg.Count, -1234);
    EXPECT_TRUE(neg.display.lit.isLit(E::LcdFH));
}

struct FunctionCase {
    int function, range;
    const char *func, *unit;
    int point; // lit decimal point, -1 for none
    std::vector<E> lit;
};

// Decodes digits 12345 in the row's function and range, manual range, with `status`.
void expectFunctionRow(const FunctionCase& c, int status) {
    const std::string text = F{c.function, c.range, "12345", status}.text();
    SCOPED_TRACE(text);
    const DecodedFrame d = decodeOk(text);
    std::vector<E> lit = c.lit;
    lit.push_back(E::LcdManu);
    if (c.point >= 0)
        lit.push_back(kPoints[c.point]);
    EXPECT_EQ(d.display.lit.names(), panel(lit));
    EXPECT_EQ(d.FuncText, c.func);
    EXPECT_EQ(d.UnitText, c.unit);
    EXPECT_EQ(d.RangeText, "MANU");
    EXPECT_EQ(d.ValueText, withPoint("12345", c.point));
    EXPECT_EQ(d.PointIndex, c.point >= 0 ? c.point : (c.function == 4 ? 3 : 0));
    expectScale(d, c.point, 12345);
}

TEST(MeasurementDecoder, FunctionAndRangeTable) {
    // clang-format off
    const FunctionCase cases[] = {
        {0, 0, "", "A", 1, {E::LCDA}}, {0, 1, "", "", -1, {E::LCDA}},
        {1, 3, "Diode", "V)", 0, {E::LCDDI, E::LcdV}},
        {2, 0, "Frequency", "Hz", 2, {E::LCDHz}}, {2, 1, "Frequency", "Hz", 3, {E::LCDHz}},
        {2, 2, "", "", -1, {E::LCDHz}},
        {2, 3, "Frequency", "kHz", 1, {E::LCDHz, E::LCDk}},
        {2, 4, "Frequency", "kHz", 2, {E::LCDHz, E::LCDk}},
        {2, 5, "Frequency", "MHz", 0, {E::LCDHz, E::LCDM1}},
        {2, 6, "Frequency", "MHz", 1, {E::LCDHz, E::LCDM1}},
        {2, 7, "Frequency", "MHz", 2, {E::LCDHz, E::LCDM1}},
        {3, 0, "Ohm", "*", 2, {E::LCDohm}}, {3, 7, "Ohm", "", -1, {E::LCDohm}},
        {3, 1, "Ohm", "K*", 0, {E::LCDohm, E::LCDk}}, {3, 2, "Ohm", "K*", 1, {E::LCDohm, E::LCDk}},
        {3, 3, "Ohm", "K*", 2, {E::LCDohm, E::LCDk}}, {3, 4, "Ohm", "M*", 0, {E::LCDohm, E::LCDM1}},
        {3, 5, "Ohm", "M*", 1, {E::LCDohm, E::LCDM1}}, {3, 6, "Ohm", "M*", 2, {E::LCDohm, E::LCDM1}},
        {4, 2, "Temperature", "?", -1, {E::LCDFS}},
        {5, 6, "Cont", "&  *", 2, {E::LCDFm, E::LCDohm}},
        {6, 0, "Cap", "nF", 1, {E::LCDF, E::LCDn}}, {6, 1, "Cap", "nF", 2, {E::LCDF, E::LCDn}},
        {6, 2, "Cap", "uF", 0, {E::LCDF, E::LCDu}}, {6, 3, "Cap", "uF", 1, {E::LCDF, E::LCDu}},
        {6, 4, "Cap", "uF", 2, {E::LCDF, E::LCDu}}, {6, 5, "Cap", "mF", 0, {E::LCDF, E::Lcdm}},
        {6, 6, "Cap", "mF", 1, {E::LCDF, E::Lcdm}}, {6, 7, "Cap", "mF", 2, {E::LCDF, E::Lcdm}},
        {7, 1, "", "", -1, {}}, {8, 1, "", "", -1, {}}, {10, 1, "", "", -1, {}},
        {12, 1, "", "", -1, {}}, {14, 1, "", "", -1, {}},
        {9, 0, "", "A", 2, {E::LCDA}}, {9, 1, "", "A", 1, {E::LCDA}}, {9, 2, "", "A", 2, {E::LCDA}},
        {9, 3, "", "A", 3, {E::LCDA}}, {9, 4, "", "", -1, {E::LCDA}},
        {11, 0, "", "V", 0, {E::LcdV}}, {11, 1, "", "V", 1, {E::LcdV}}, {11, 2, "", "V", 2, {E::LcdV}},
        {11, 3, "", "V", 3, {E::LcdV}}, {11, 4, "", "mV", 2, {E::LcdV, E::Lcdm}},
        {11, 5, "", "", -1, {E::LcdV}},
        {13, 0, "", "uA", 2, {E::LCDA, E::LCDu}}, {13, 1, "", "uA", 3, {E::LCDA, E::LCDu}},
        {13, 2, "", "", -1, {E::LCDA}},
        {15, 0, "", "mA", 1, {E::LCDA, E::Lcdm}}, {15, 1, "", "mA", 2, {E::LCDA, E::Lcdm}},
        {15, 2, "", "", -1, {E::LCDA}}};
    // clang-format on
    for (const auto& c : cases)
        expectFunctionRow(c, 0);
}

TEST(MeasurementDecoder, DutyVariants) {
    // clang-format off
    const FunctionCase cases[] = {
        {0, 0, "duty", "%", 3, {E::LCDBF}}, {2, 3, "Duty", "%", 3, {E::LCDBF}},
        {2, 6, "Duty", "%", 3, {E::LCDBF}},
        {11, 1, "Duty", "%", 3, {E::LCDBF}}, {11, 4, "Duty", "%", 3, {E::LCDBF, E::Lcdm}},
        {13, 0, "duty", "%", 3, {E::LCDBF}}, {15, 0, "duty", "%", -1, {E::LCDBF}},
        {3, 1, "Ohm", "K*", 0, {E::LCDohm, E::LCDk}}}; // no duty sub-mode
    // clang-format on
    for (const auto& c : cases)
        expectFunctionRow(c, 8);
}

TEST(MeasurementDecoder, DutyOverloadFlagShowsZeroLInPercent) {
    struct Case {
        int function, range, status, opt3;
        std::vector<E> lit;
    } const cases[] = {
        // clang-format off
        {11, 1, 0, 0, {E::LcdManu}}, {11, 4, 8, 0, {E::LcdManu, E::Lcdm}},
        {0, 0, 0, 0, {E::LcdManu, E::LCDA}},
        {0, 0, 8, 0, {E::LcdManu}}, {2, 3, 0, 0, {E::LcdManu, E::LCDk}}, {15, 1, 8, 0, {E::LcdManu}},
        {13, 0, 0, 0, {E::LcdManu, E::LCDA, E::LCDu}}, {3, 1, 0, 0, {E::LcdManu, E::LCDohm, E::LCDk}},
        {11, 1, 4, 0, {E::LcdManu, E::LcdFH}}, {11, 1, 0, 2, {E::LcdAuto}},
        {11, 1, 0, 10, {E::LcdAuto, E::LcdDc1}},
        // clang-format on
    };
    for (const auto& c : cases) {
        const std::string text = F{c.function, c.range, "12345", c.status, 0, 8, c.opt3}.text();
        SCOPED_TRACE(text);
        const DecodedFrame d = decodeOk(text);
        std::vector<E> lit = c.lit;
        lit.insert(lit.end(), {E::LCDBF, E::LcdP3});
        EXPECT_EQ(d.display.lit.names(), panel(lit));
        const bool minus = (c.status & 4) != 0;
        EXPECT_EQ(d.FuncText, "Duty");
        EXPECT_EQ(d.UnitText, "%");
        EXPECT_EQ(d.RangeText, (c.opt3 & 2) ? "AUTO" : "MANU");
        EXPECT_EQ(d.display.digitTexts(), ",0,@,,");
        EXPECT_EQ(d.ValueText, minus ? "-0L." : "0L.");
        EXPECT_EQ(d.Count, minus ? -22000 : 22000);
        EXPECT_EQ(d.ScaledValue, d.Count);
        EXPECT_EQ(d.chartYMax, 2200);
        EXPECT_EQ(d.PointIndex, 3);
        EXPECT_EQ(d.display.barPosition, 22);
        EXPECT_FALSE(d.overloadFlag);
    }
}

TEST(MeasurementDecoder, OptionThreeTable) {
    struct Case {
        int function, range, opt3;
        const char *func, *unit;
        std::vector<E> lit;
        const char* value;
        int point;
    } const cases[] = {
        {11, 1, 1, "", "V", {E::LcdV, E::LcdP1, E::LcdManu}, "12.345", 1},
        {11, 1, 3, "", "V", {E::LcdV, E::LcdP1, E::LcdAuto}, "12.345", 1},
        {11, 1, 5, "", "V", {E::LcdV, E::LcdP1, E::LcdAC, E::LcdManu}, "12.345", 1},
        {11, 1, 14, "", "V", {E::LcdV, E::LcdP1, E::LcdDc1, E::LcdAC, E::LcdAuto}, "12.345", 1},
        {11, 1, 2, "", "V", {E::LcdV, E::LcdP1, E::LcdAuto}, "12.345", 1},
        {11, 1, 4, "AC", "V", {E::LcdV, E::LcdP1, E::LcdAC, E::LcdManu}, "12.345", 1},
        {11, 1, 6, "AC", "V", {E::LcdV, E::LcdP1, E::LcdAC, E::LcdAuto}, "12.345", 1},
        {11, 1, 7, "Frequency", "Hz", {E::LCDHz, E::LcdP2, E::LcdAC, E::LcdAuto}, "123.45", 2},
        {15, 0, 7, "Frequency", "Hz", {E::LCDHz, E::LcdP2, E::LcdAC, E::LcdAuto}, "123.45", 2},
        {13, 0, 7, "Frequency", "Hz", {E::LCDHz, E::LcdP2, E::LcdAC, E::LcdAuto}, "123.45", 2},
        // LcdP3 stays lit, so both separators show and the later point scales.
        {11, 3, 7, "Frequency", "Hz", {E::LCDHz, E::LcdP2, E::LcdP3, E::LcdAC, E::LcdAuto}, "123.4.5", 3},
        {11, 1, 8, "DC", "V", {E::LcdV, E::LcdP1, E::LcdDc1, E::LcdManu}, "12.345", 1},
        {11, 1, 9, "duty", "%", {E::LcdDc1, E::LCDBF, E::LcdManu}, "12345", -1},
        {11, 3, 9, "duty", "%", {E::LcdDc1, E::LCDBF, E::LcdP3, E::LcdManu}, "1234.5", 3},
        {13, 0, 9, "duty", "%", {E::LcdDc1, E::LCDBF, E::LcdManu}, "12345", -1},
        {11, 1, 10, "DC", "V", {E::LcdV, E::LcdP1, E::LcdDc1, E::LcdAuto}, "12.345", 1},
        {11, 1, 11, "Frequency", "Hz", {E::LcdDc1, E::LcdAuto, E::LCDHz, E::LcdP3}, "1234.5", 3},
        {11, 3, 11, "Frequency", "kHz", {E::LcdDc1, E::LcdAuto, E::LCDHz, E::LCDk, E::LcdP1}, "12.345", 1},
        {15, 0, 11, "Frequency", "Hz", {E::LcdDc1, E::LcdAuto, E::LCDHz, E::LcdP2}, "123.45", 2},
        // Frequency range 2 keeps the texts the function set and lights no point.
        {11, 2, 11, "", "V", {E::LcdDc1, E::LcdAuto, E::LCDHz}, "12345", -1}};
    for (const auto& c : cases) {
        const std::string text = F{c.function, c.range, "12345", 0, 0, 0, c.opt3}.text();
        SCOPED_TRACE(text);
        const DecodedFrame d = decodeOk(text);
        EXPECT_EQ(d.display.lit.names(), panel(c.lit));
        EXPECT_EQ(d.FuncText, c.func);
        EXPECT_EQ(d.UnitText, c.unit);
        EXPECT_EQ(d.RangeText, (c.opt3 & 2) ? "AUTO" : "MANU");
        EXPECT_EQ(d.ValueText, c.value);
        EXPECT_EQ(d.PointIndex, c.point >= 0 ? c.point : 0);
        expectScale(d, c.point, 12345);
    }
}

TEST(MeasurementDecoder, StatusAndOptionFlagsLightTheirAnnunciators) {
    struct Case {
        int status, opt1, opt2, opt4;
        E element;
        bool lit;
    } const cases[] = {
        {4, 0, 0, 0, E::LcdFH, true},    {0, 0, 0, 0, E::LcdFH, false},    {2, 0, 0, 0, E::LCDBATT, true},
        {0, 0, 0, 0, E::LCDBATT, false}, {0, 2, 0, 0, E::LCDREL, true},    {0, 13, 0, 0, E::LCDREL, false},
        {0, 0, 0, 2, E::LCDHold, true},  {0, 0, 0, 13, E::LCDHold, false}, {0, 0, 7, 0, E::LCDBF, false}};
    for (const auto& c : cases) {
        const std::string text = F{11, 1, "01234", c.status, c.opt1, c.opt2, 0, c.opt4}.text();
        SCOPED_TRACE(text);
        const DecodedFrame d = decodeOk(text);
        EXPECT_EQ(d.display.lit.isLit(c.element), c.lit);
        EXPECT_EQ(d.ValueText, c.status == 4 ? "-01.234" : "01.234");
        EXPECT_EQ(d.FuncText, "");
        EXPECT_EQ(d.UnitText, "V");
    }
}

TEST(MeasurementDecoder, OverloadReadsZeroLAtEveryPoint) {
    struct Case {
        int range, status;
        const char* value;
        int point;
    } const cases[] = {{0, 1, ".0L", 0}, {1, 1, "0.L", 1},  {2, 1, "0L", 2},   {3, 1, "0L.", 3},
                       {5, 1, "0L", -1}, {1, 5, "-0.L", 1}, {3, 5, "-0L.", 3}, {5, 5, "-0L", -1}};
    for (const auto& c : cases) {
        const std::string text = F{11, c.range, "12345", c.status}.text();
        SCOPED_TRACE(text);
        const DecodedFrame d = decodeOk(text);
        const bool minus = (c.status & 4) != 0;
        std::vector<E> lit = {E::LcdV, E::LcdManu};
        if (c.point >= 0)
            lit.push_back(kPoints[c.point]);
        if (minus)
            lit.push_back(E::LcdFH);
        EXPECT_EQ(d.display.lit.names(), panel(lit));
        EXPECT_EQ(d.display.digitTexts(), ",0,@,,");
        EXPECT_EQ(d.ValueText, c.value);
        EXPECT_EQ(d.Count, minus ? -22000 : 22000);
        EXPECT_EQ(d.ScaledValue, d.Count);
        EXPECT_EQ(d.PointIndex, c.point >= 0 ? c.point : 0);
        static const double chart[] = {22000, 22, 22, 220, 2200};
        EXPECT_EQ(d.chartYMax, chart[c.point + 1]);
        EXPECT_EQ(d.chartYMin, -chart[c.point + 1]);
        EXPECT_EQ(d.display.barPosition, 22);
        EXPECT_TRUE(d.overloadFlag);
    }
}

TEST(MeasurementDecoder, ContextSetsSeparatorFullScaleAndOverloadBar) {
    const MeasurementDecoder::Context ctx{",", 40000, 40};
    EXPECT_EQ(decodeOk("A101234B000A0D", ctx).ValueText, "01,234");
    EXPECT_EQ(decodeOk("A101234B000A0D", ctx).ScaledValue, 1.234);
    EXPECT_EQ(decodeOk("A312345B000A0D", ctx).ValueText, "1234,5");

    const DecodedFrame over = decodeOk("A112345B500A0D", ctx);
    EXPECT_EQ(over.ValueText, "-0,L");
    EXPECT_EQ(over.Count, -40000);
    EXPECT_EQ(over.display.barPosition, 40);
    EXPECT_EQ(decodeOk("A312345B100A0D", ctx).ValueText, "0L,");

    const DecodedFrame noPoint = decodeOk(F{4, 0, "00123"}.text(), ctx);
    expectScale(noPoint, -1, 123, 40000);
    EXPECT_EQ(noPoint.PointIndex, 3);
}

// The value text is built in a fixed buffer; a separator too long for it
// takes another road that must write the same text, over whatever the
// decoded frame held before.
TEST(MeasurementDecoder, LongSeparatorAndReusedFrameWriteTheWholeText) {
    const std::string sep(40, ';');
    DecodedFrame out;
    out.ValueText = std::string(100, 'x');
    ASSERT_TRUE(MeasurementDecoder::decode("A101234B400A0D", {sep}, out));
    EXPECT_EQ(out.ValueText, "-01" + sep + "234");
    ASSERT_TRUE(MeasurementDecoder::decode("A101234B000A0D", {"."}, out));
    EXPECT_EQ(out.ValueText, "01.234");
}

TEST(MeasurementDecoder, LeadingZeroBlankingStopsBeforeThePointDigit) {
    struct Case {
        int function, range, status;
        const char *digits, *litMask, *value;
    } const cases[] = {{11, 1, 0, "01234", "01111", "01.234"},  {11, 3, 0, "00012", "00011", "0001.2"},
                       {11, 2, 0, "00000", "00111", "000.00"},  {11, 0, 0, "00012", "11111", "0.0012"},
                       {4, 0, 0, "00012", "11111", "00012"},    {11, 5, 0, "00012", "11111", "00012"},
                       {11, 3, 0, "00102", "00111", "0010.2"},  {11, 3, 0, "01002", "01111", "0100.2"},
                       {11, 3, 0, "00000", "00011", "0000.0"},  {11, 2, 0, "01000", "01111", "010.00"},
                       {11, 1, 4, "00012", "01111", "-00.012"}, {11, 1, 0, "10000", "11111", "10.000"},
                       {15, 0, 8, "00012", "11111", "00012"}};
    for (const auto& c : cases) {
        const std::string text = F{c.function, c.range, c.digits, c.status}.text();
        SCOPED_TRACE(text);
        const DecodedFrame d = decodeOk(text);
        EXPECT_EQ(litDigits(d), c.litMask);
        EXPECT_EQ(d.ValueText, c.value);
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(d.display.digits[i], c.digits[i]) << "digit " << i + 1; // blanking only hides labels
    }
}

TEST(MeasurementDecoder, BarGraphFollowsTheTwoLeadingDigits) {
    struct Case {
        int range, status;
        const char* digits;
        int bar;
    } const cases[] = {{1, 0, "21999", 21}, {1, 0, "01999", 1},  {1, 4, "22000", 22}, {3, 0, "00000", 1},
                       {0, 0, "02000", 2},  {0, 0, "21999", 21}, {5, 0, "10000", 10}, {2, 1, "12345", 22}};
    for (const auto& c : cases) {
        const std::string text = F{11, c.range, c.digits, c.status}.text();
        EXPECT_EQ(decodeOk(text).display.barPosition, c.bar) << text;
    }
}

TEST(MeasurementDecoder, RejectsMalformedFramesAndNonDecimalDigits) {
    const struct {
        const char* text;
        bool ok;
    } cases[] = {
        {"", false},
        {"A101234B000A0", false},
        {"A101234B000A0DD", false},
        {"A101234G000A0D", false},
        {"A101234B 00A0D", false},
        {"A1F1234B000A0D", false},
        {"A10123AB000A0D", false},
        {"A1012C4B400A0D", false},
        {"A1F1234B100A0D", true}, // overload replaces the digits
        {"A1F1234B008A0D", true}, // so does the duty overload
        {"AF01234B000A0D", true}, // a range without table entry
    };
    for (const auto& c : cases) {
        DecodedFrame out;
        EXPECT_EQ(MeasurementDecoder::decode(c.text, {}, out), c.ok) << c.text;
    }
    EXPECT_EQ(decodeOk("A1F1234B100A0D").Count, 22000);
}

TEST(MeasurementDecoder, NothingCarriesOverFromThePreviousFrame) {
    const std::string later[] = {F{2, 2, "00123"}.text(), F{11, 5, "00123", 4}.text(), "A101234B000A0D"};
    for (const auto& text : later) {
        SCOPED_TRACE(text);
        DecodedFrame reused;
        ASSERT_TRUE(MeasurementDecoder::decode("A312345B008E2D", {}, reused));
        EXPECT_FALSE(MeasurementDecoder::decode("A1F1234B000A0D", {}, reused));
        ASSERT_TRUE(MeasurementDecoder::decode(text, {}, reused));
        const DecodedFrame fresh = decodeOk(text);
        EXPECT_EQ(reused.ValueText, fresh.ValueText);
        EXPECT_EQ(reused.FuncText, fresh.FuncText);
        EXPECT_EQ(reused.UnitText, fresh.UnitText);
        EXPECT_EQ(reused.RangeText, fresh.RangeText);
        EXPECT_EQ(reused.Count, fresh.Count);
        EXPECT_EQ(reused.ScaledValue, fresh.ScaledValue);
        EXPECT_EQ(reused.PointIndex, fresh.PointIndex);
        EXPECT_EQ(reused.chartYMax, fresh.chartYMax);
        EXPECT_EQ(reused.chartYMin, fresh.chartYMin);
        EXPECT_EQ(reused.display.lit, fresh.display.lit);
        EXPECT_EQ(reused.display.digits, fresh.display.digits);
        EXPECT_EQ(reused.display.barPosition, fresh.display.barPosition);
    }
}
