// Several meters on one time base: the derived columns' expressions (what is
// refused, what leaves a value empty) and the rules that decide what a row
// holds of each meter.
#include "core/recording/DerivedColumn.h"
#include "core/recording/TimeBaseTable.h"

#include <QList>
#include <QString>

#include <gtest/gtest.h>

namespace voltaro {
namespace {

const std::vector<std::string> kMeters{"V", "I"};

TEST(DerivedColumn, AMistakeIsRefusedWithOneLineSayingWhat) {
    const struct {
        const char* definition;
        const char* says;
    } cases[] = {
        {"P=V*", "Unexpected end of expression"},
        {"P=(V*I", "parenthesis"},
        {"P=V*X", "X is not the name of a meter (the meters are V, I)"},
        {"P=v*I", "v is not the name of a meter"},
        {"=V*I", "NAME=EXPRESSION"},
        {"P=", "NAME=EXPRESSION"},
        {"V*I", "NAME=EXPRESSION"},
        {"P=V=3", "assigns"},
        {"P\t1=V*I", "control character"},
        {"P=sqrt(V,I)", "sqrt"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_EQ(DerivedColumn::make(c.definition, kMeters, &error), nullptr) << c.definition;
        EXPECT_NE(error.find(c.says), std::string::npos) << c.definition << ": " << error;
        EXPECT_EQ(error.find('\n'), std::string::npos) << error;
    }
    std::string error;
    const auto compared = DerivedColumn::make("Over=V>=12 && I!=0", kMeters, &error);
    ASSERT_NE(compared, nullptr) << error;
    EXPECT_EQ(compared->evaluate({12.0, 1.0}), 1.0);
}

TEST(DerivedColumn, NoNumberWhereAnInputOrTheResultIsNoNumber) {
    std::string error;
    const auto power = DerivedColumn::make("P[W]=V*I", kMeters, &error);
    const auto ratio = DerivedColumn::make("R=V/I", kMeters, &error);
    const auto root = DerivedColumn::make("S=sqrt(V)", kMeters, &error);
    const auto twice = DerivedColumn::make("D=2*V", kMeters, &error);
    ASSERT_TRUE(power && ratio && root && twice) << error;
    EXPECT_EQ(power->name(), "P[W]");
    EXPECT_EQ(power->evaluate({12.5, 0.25}), 12.5 * 0.25);
    EXPECT_EQ(power->evaluate({12.5, std::nullopt}), std::nullopt);
    EXPECT_EQ(ratio->evaluate({12.5, 0.0}), std::nullopt);
    EXPECT_EQ(ratio->evaluate({0.0, 0.0}), std::nullopt);
    EXPECT_EQ(root->evaluate({-4.0, 1.0}), std::nullopt);
    EXPECT_EQ(root->evaluate({1e308, 1e308}), std::sqrt(1e308));
    EXPECT_EQ(power->evaluate({1e308, 1e308}), std::nullopt); // infinite
    // A column that does not use a meter does not need it.
    EXPECT_EQ(twice->evaluate({3.0, std::nullopt}), 6.0);
    // A value that went missing after one that did not is not remembered.
    EXPECT_EQ(power->evaluate({2.0, 3.0}), 6.0);
    EXPECT_EQ(power->evaluate({std::nullopt, 3.0}), std::nullopt);
}

TEST(DerivedColumn, AMeterNameIsALetterThenLettersDigitsOrUnderscoresAndNoFunction) {
    for (const char* good : {"V", "I2", "v_in", "Vout"})
        EXPECT_TRUE(DerivedColumn::validMeterName(good)) << good;
    for (const char* bad : {"", "2V", "_V", "V.in", "V-in", "sqrt", "min", "exp"})
        EXPECT_FALSE(DerivedColumn::validMeterName(bad)) << bad;
}

Reading reading(const char* value, double scaled, const char* unit) {
    Reading r;
    r.ValueText = value;
    r.ScaledValue = scaled;
    r.UnitText = unit;
    r.FuncText = "DC";
    r.JudgeText = "Pass";
    return r;
}

TEST(TimeBaseTable, ValuesInSIUnitsAndNoneForAnOverload) {
    const struct {
        Reading r;
        std::optional<double> si;
    } cases[] = {
        {reading("123.45", 123.45, "mA"), 0.12345},   {reading("12.345", 12.345, "uA"), 12.345e-6},
        {reading("1.2345", 1.2345, "K*"), 1234.5},    {reading("2.2000", 2.2, "M*"), 2.2e6},
        {reading("10.000", 10.0, "nF"), 10e-9},       {reading("1.5000", 1.5, "MHz"), 1.5e6},
        {reading("-5.000", -5.0, "V"), -5.0},         {reading("36.5", 36.5, "#"), 36.5},
        {reading("0.0400", 0.04, "&  *"), 0.04},      {reading("0.L", 22000, "V"), std::nullopt},
        {reading("-0L", -22000, "mV"), std::nullopt},
    };
    for (const auto& c : cases) {
        const auto si = TimeBaseTable::siValue(c.r);
        ASSERT_EQ(si.has_value(), c.si.has_value()) << c.r.ValueText << ' ' << c.r.UnitText;
        if (si) {
            EXPECT_DOUBLE_EQ(*si, *c.si) << c.r.ValueText << ' ' << c.r.UnitText;
        }
    }
}

QStringList cells(const QByteArray& line) {
    EXPECT_TRUE(line.endsWith("\r\n"));
    return QString::fromUtf8(line.chopped(2)).split('\t');
}

TEST(TimeBaseTable, ARowHoldsFreshReadingsAndLeavesTheRestEmpty) {
    std::string error;
    std::vector<std::unique_ptr<DerivedColumn>> derived;
    derived.push_back(DerivedColumn::make("P[W]=V*I", kMeters, &error));
    TimeBaseTable table(kMeters, std::move(derived), 1000, ",");
    EXPECT_EQ(cells(table.header()),
              QString("Time V.value V.unit V.function V.judgement V.age I.value I.unit I.function "
                      "I.judgement I.age P[W]")
                  .split(' '));
    // Nothing read yet.
    EXPECT_EQ(cells(table.row("t0", 0)), QString("t0\t\t\t\t\t\t\t\t\t\t\t").split('\t'));

    table.reading(0, reading("12,5", 12.5, "V"), 100);
    table.reading(1, reading("250,0", 250.0, "mA"), 900);
    EXPECT_EQ(cells(table.row("t1", 1000)),
              QString("t1|12,5|V|DC|Pass|0,9|250,0|mA|DC|Pass|0,1|3,125").split('|'));

    // I is overloaded: its reading is shown, the power is not.
    table.reading(1, reading("0.L", 22000, "mA"), 1500);
    EXPECT_EQ(cells(table.row("t2", 2000)).mid(6), QString("0.L|mA|DC|Pass|0,5|").split('|'));

    // Two intervals without a reading are allowed; beyond them V is stale.
    table.reading(1, reading("250,0", 250.0, "mA"), 2000);
    EXPECT_EQ(cells(table.row("t3", 2100)).last(), "3,125");
    EXPECT_EQ(cells(table.row("t4", 3000)).mid(1, 5), QString("|||stale|2,9").split('|'));
    EXPECT_EQ(cells(table.row("t4", 3000)).last(), "");
    table.reading(0, reading("12,5", 12.5, "V"), 3000);

    // V's link goes: only its judgement says so, until it reads again.
    table.setWaiting(0, true);
    QStringList waiting = cells(table.row("t5", 3100));
    EXPECT_EQ(waiting.mid(1, 5), QString("|||waiting|").split('|'));
    EXPECT_EQ(waiting.mid(6, 2), QString("250,0|mA").split('|'));
    EXPECT_EQ(waiting.last(), "");
    table.setWaiting(0, false);
    EXPECT_EQ(cells(table.row("t6", 3200)).mid(1, 5), QString("||||").split('|'));
    table.reading(0, reading("12,0", 12.0, "V"), 3300);
    EXPECT_EQ(cells(table.row("t7", 3400)).last(), "3");
}

} // namespace
} // namespace voltaro
