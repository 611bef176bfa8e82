// The SCPI server's command interpreter, without sockets: the forms a header
// may take, the error queue, the waits of READ?, and the numbers it answers.
#include "tools/LogOptions.h"
#include "tools/ScpiCommands.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

using voltaro::ScpiInterpreter;
using voltaro::ScpiReading;

namespace {

// The answers to one line.
std::string ask(ScpiInterpreter& s, const std::string& line, const ScpiReading* newest = nullptr) {
    std::string out;
    s.takeLine(line);
    s.run(newest, out);
    return out;
}

std::string nextError(ScpiInterpreter& s) {
    return ask(s, "SYST:ERR?");
}

voltaro::Reading reading(const char* value, const char* unit, const char* function, double scaled,
                         int point) {
    voltaro::Reading r;
    r.ValueText = value;
    r.UnitText = unit;
    r.FuncText = function;
    r.ScaledValue = scaled;
    r.PointIndex = point;
    return r;
}

} // namespace

TEST(ScpiInterpreter, HeadersInEveryFormAndTheirMistakes) {
    ScpiInterpreter s("Voltaro,voltaro-log,0,9.9");
    const ScpiReading r{0.01234, false, "VOLT:DC", 0.22};
    for (const char* form : {"FETCh?", "FETC?", "fetch?", ":Fetc?", "  FETCH?\r"})
        EXPECT_EQ(ask(s, form, &r), "+1.234000E-02\n") << form;
    EXPECT_EQ(ask(s, "*idn?"), "Voltaro,voltaro-log,0,9.9\n");
    EXPECT_EQ(ask(s, "*IDN?;conf?;:SYSTem:VERSion?", &r),
              "Voltaro,voltaro-log,0,9.9;\"VOLT:DC +2.200000E-01\";1999.0\n");
    // After SYST:ERR? a header without ':' goes on from SYST:.
    EXPECT_EQ(ask(s, "SYST:ERR:NEXT?;SYST:ERR?;VERS?"), "0,\"No error\";0,\"No error\";1999.0\n");
    EXPECT_EQ(ask(s, "*RST;*CLS;*WAI"), "");
    EXPECT_EQ(s.pending(), 0u);

    const struct {
        const char* line;
        const char* error;
    } wrong[] = {
        {"FET?", "-113,\"Undefined header\""},       {"FETCHX?", "-113,\"Undefined header\""},
        {"FETC", "-113,\"Undefined header\""},       {"*RST?", "-113,\"Undefined header\""},
        {"SYST::ERR?", "-113,\"Undefined header\""}, {"FETC? 1", "-108,\"Parameter not allowed\""},
        {"FE\x01TC?", "-101,\"Invalid character\""}, {"\xff\xfe", "-101,\"Invalid character\""},
    };
    for (const auto& w : wrong) {
        EXPECT_EQ(ask(s, w.line, &r), "") << w.line;
        EXPECT_EQ(nextError(s), std::string(w.error) + "\n") << w.line;
    }
    // The commands of a line after a wrong one still run; ';' inside quotes splits nothing.
    EXPECT_EQ(ask(s, "BOGUS;FETC? 'a;b';*OPC?"), "1\n");
    EXPECT_EQ(ask(s, "SYST:ERR?;SYST:ERR?;SYST:ERR?"),
              "-113,\"Undefined header\";-108,\"Parameter not allowed\";0,\"No error\"\n");
}

TEST(ScpiInterpreter, TheErrorQueueIsBoundedAndEndsInAnOverflow) {
    ScpiInterpreter s("id");
    for (int i = 0; i < 40; ++i)
        ask(s, "NOPE?");
    ASSERT_EQ(s.errors().size(), ScpiInterpreter::kErrorQueueSize);
    for (std::size_t i = 0; i + 1 < ScpiInterpreter::kErrorQueueSize; ++i)
        ASSERT_EQ(nextError(s), "-113,\"Undefined header\"\n") << i;
    EXPECT_EQ(nextError(s), "-350,\"Queue overflow\"\n");
    EXPECT_EQ(nextError(s), "0,\"No error\"\n");
    ask(s, "NOPE?;NOPE?;*CLS");
    EXPECT_TRUE(s.errors().empty());
}

TEST(ScpiInterpreter, ReadWaitsForTheNextReadingFetchAnswersTheNewest) {
    ScpiInterpreter s("id");
    // No reading yet: not a number, and the data are stale.
    EXPECT_EQ(ask(s, "FETC?;CONF?"), "+9.910000E+37;\"\"\n");
    EXPECT_EQ(ask(s, "SYST:ERR?;SYST:ERR?"),
              "-230,\"Data corrupt or stale\";-230,\"Data corrupt or stale\"\n");

    const ScpiReading old{1.5, false, "VOLT:DC", 2.2};
    const ScpiReading next{-2.25, false, "VOLT:DC", 2.2};
    const ScpiReading overload{0, true, "RES", 2.2e6};
    // READ? in the middle of a line holds back what follows it.
    EXPECT_EQ(ask(s, "FETC?;READ?;*OPC?", &old), "");
    ASSERT_TRUE(s.waiting());
    EXPECT_EQ(s.pending(), 2u);
    std::string out;
    s.nextReading(&next, out);
    s.run(&next, out);
    EXPECT_EQ(out, "+1.500000E+00;-2.250000E+00;1\n");
    EXPECT_FALSE(s.waiting());

    // A wait that times out; the overload's own value.
    EXPECT_EQ(ask(s, "MEAS?", &old), "");
    out.clear();
    s.nextReading(nullptr, out);
    EXPECT_EQ(out, "+9.910000E+37\n");
    EXPECT_EQ(nextError(s), "-230,\"Data corrupt or stale\"\n");
    EXPECT_EQ(ask(s, "FETC?;CONF?", &overload), "+9.900000E+37;\"RES +2.200000E+06\"\n");
}

TEST(ScpiReading, TheMetersFunctionsAndRangesInSiUnits) {
    const struct {
        voltaro::Reading r;
        const char* function;
        double value, range;
        bool overload;
    } cases[] = {
        {reading("12.34", "mV", "DC", 12.34, 2), "VOLT:DC", 0.01234, 0.22, false},
        {reading("1.0000", "V", "AC", 1.0, 0), "VOLT:AC", 1.0, 2.2, false},
        {reading("-19.50", "mA", "DC", -19.5, 1), "CURR:DC", -0.0195, 0.022, false},
        {reading("2.100", "K*", "Ohm", 2.1, 1), "RES", 2100, 22000, false},
        {reading("0.L", "M*", "Ohm", 22000, 1), "RES", 0, 22e6, true},
        {reading("1.234", "kHz", "Frequency", 1.234, 1), "FREQ", 1234, 22000, false},
        {reading("47.00", "uF", "Cap", 47.0, 2), "CAP", 47e-6, 220e-6, false},
        {reading("0.540", "V)", "Diode", 0.54, 0), "DIOD", 0.54, 2.2, false},
        {reading("72.5", "?", "Temperature", 72.5, 3), "TEMP", 72.5, 2200, false},
    };
    for (const auto& c : cases) {
        const ScpiReading s = voltaro::scpiReading(c.r, 22000);
        EXPECT_EQ(s.function, c.function) << c.r.ValueText;
        EXPECT_EQ(s.overload, c.overload) << c.r.ValueText;
        if (!c.overload) {
            EXPECT_EQ(voltaro::scpiNumber(s.value), voltaro::scpiNumber(c.value)) << c.r.ValueText;
        }
        EXPECT_EQ(voltaro::scpiNumber(s.range), voltaro::scpiNumber(c.range)) << c.r.ValueText;
    }
}

// The numbers keep their point where the locale writes a comma.
TEST(ScpiNumber, APointUnderAGermanLocale) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const std::string locales = dir.path().toStdString();
    const std::string make = "localedef -i de_DE -f UTF-8 " + locales + "/de_DE.UTF-8 >/dev/null 2>&1";
    // Warnings make its status non-zero: what counts is whether the locale was made.
    [[maybe_unused]] const int made = std::system(make.c_str());
    const std::string before = std::setlocale(LC_ALL, nullptr);
    ::setenv("LOCPATH", locales.c_str(), 1);
    const bool german = std::setlocale(LC_ALL, "de_DE.UTF-8") != nullptr;
    char printed[16] = "";
    std::snprintf(printed, sizeof printed, "%.2f", 1.25);
    ScpiInterpreter s("id");
    const ScpiReading r{-0.01234, false, "VOLT:DC", 0.22};
    const std::string answers = ask(s, "FETC?;CONF?", &r);
    const std::string small = voltaro::scpiNumber(1.5e-9);
    std::setlocale(LC_ALL, before.c_str());
    ::unsetenv("LOCPATH");

    ASSERT_TRUE(german) << "the German locale could not be made (Debian's package \"locales\")";
    ASSERT_STREQ(printed, "1,25"); // the locale is in force
    EXPECT_EQ(answers, "-1.234000E-02;\"VOLT:DC +2.200000E-01\"\n");
    EXPECT_EQ(small, "+1.500000E-09");
}

TEST(ScpiOptions, WhereTheServerListensAndWhenItIsRefused) {
    std::string error;
    const auto local = voltaro::parseLogArgs({"--port", "/dev/ttyUSB0", "--scpi", "5025"}, error);
    ASSERT_TRUE(local) << error;
    EXPECT_EQ(local->scpiAddress, "127.0.0.1");
    EXPECT_EQ(local->scpiPort, 5025);
    const auto v6 = voltaro::parseLogArgs({"--usb", "--scpi", "[::1]:0"}, error);
    ASSERT_TRUE(v6) << error;
    EXPECT_EQ(v6->scpiAddress, "::1");
    EXPECT_EQ(v6->scpiPort, 0);
    for (const char* wrong : {"65536", "-1", "host:5025", "1.2.3:5025", ":", "5025x"}) {
        EXPECT_FALSE(voltaro::parseLogArgs({"--port", "COM1", "--scpi", wrong}, error)) << wrong;
        EXPECT_NE(error.find("--scpi needs a port"), std::string::npos) << error;
    }
    EXPECT_FALSE(voltaro::parseLogArgs({"--port", "V=/dev/ttyUSB0", "--scpi", "5025"}, error));
    EXPECT_NE(error.find("one meter"), std::string::npos) << error;
    EXPECT_FALSE(voltaro::parseLogArgs({"--list", "--scpi", "5025"}, error));
}
