#include "tools/FrameReplay.h"
#include "tools/MeterSimulator.h"
#include "tools/SimRunner.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Run {
    int status = -1;
    std::string out, err;
};

std::string readAll(std::FILE* f) {
    std::rewind(f);
    std::string s;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0)
        s.append(buf, n);
    return s;
}

Run replay(const std::vector<std::string>& args, const std::string& input) {
    std::FILE* in = std::tmpfile();
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    std::fwrite(input.data(), 1, input.size(), in);
    std::rewind(in);
    Run r;
    r.status = voltaro::runFrameReplay(args, in, out, err);
    r.out = readAll(out);
    r.err = readAll(err);
    std::fclose(in);
    std::fclose(out);
    std::fclose(err);
    return r;
}

std::vector<std::string> split(const std::string& s, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    std::istringstream is(s);
    while (std::getline(is, cur, sep))
        parts.push_back(cur);
    if (!s.empty() && s.back() == sep)
        parts.emplace_back();
    return parts;
}

std::string serial(const std::vector<voltaro::sim::MeterFrame>& frames) {
    std::string s = "\n";
    for (const auto& f : frames) {
        const auto b = f.wireBytes();
        s.append(b.begin(), b.end());
    }
    return s;
}

voltaro::sim::MeterFrame frame(std::uint8_t fn, std::uint8_t range, const char* digits, std::uint8_t status,
                               std::uint8_t option3) {
    voltaro::sim::MeterFrame f;
    f.function = fn;
    f.range = range;
    f.status = status;
    f.option3 = option3;
    f.withDigits(digits);
    return f;
}

} // namespace

TEST(FrameReplay, PrintsEveryColumnOfADecodedFrame) {
    const auto r = replay({}, serial({frame(11, 1, "01234", 0, 10)}));
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "A101234B000A0D\t1.234\tDC\tV\tAUTO\t1234\t1.234\t1\tPass\t1\t"
                     "LCDsend,LcdAuto,LcdDa,LcdDb,LcdDc,LcdDc1,LcdDd,LcdP1,LcdV\t0,1,2,3,4\n");
    EXPECT_EQ(r.err, "frames: 1 decoded: 1 dropped: 0\n");
}

TEST(FrameReplay, OverloadSeparatorAndLimits) {
    const auto input = serial({frame(11, 1, "01234", 1, 10), frame(11, 1, "01500", 0, 10)});
    const auto r = replay({"--decimal-sep", ",", "--hi", "1.4", "--lo", "1"}, input);
    const auto lines = split(r.out, '\n');
    ASSERT_EQ(lines.size(), 3u);
    const auto overload = split(lines[0], '\t');
    ASSERT_EQ(overload.size(), 12u);
    EXPECT_EQ(overload[1], "0,L");
    EXPECT_EQ(overload[5], "22000");
    EXPECT_EQ(overload[8], "Fail");
    EXPECT_EQ(overload[9], "22");
    EXPECT_EQ(overload[11], ",0,@,,");
    const auto value = split(lines[1], '\t');
    EXPECT_EQ(value[1], "1,5");
    EXPECT_EQ(value[6], "1.5");  // the scaled value always uses "."
    EXPECT_EQ(value[8], "Fail"); // above the limit 1.4, re-localised to 1,4
}

TEST(FrameReplay, QuietPrintsOnlyTheSummary) {
    voltaro::sim::MeterSimulator sim("glitch", 1);
    std::string input = "\n";
    for (int i = 0; i < 20; ++i) {
        const auto b = sim.nextSerialBytes();
        input.append(b.begin(), b.end());
    }
    const auto r = replay({"--quiet"}, input);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "frames: 18 decoded: 10 dropped: 8\n");
}

TEST(FrameReplay, HidLinesGiveTheSameLinesAsTheSerialStream) {
    voltaro::sim::MeterSimulator a("tour", 1), b("tour", 1);
    std::string serialInput = "\n", hidInput;
    for (int i = 0; i < 70; ++i) {
        const auto bytes = a.nextSerialBytes();
        serialInput.append(bytes.begin(), bytes.end());
        for (const auto& report : b.nextHidReports())
            hidInput += voltaro::sim::hidReportLine(report);
    }
    const auto s = replay({}, serialInput);
    const auto h = replay({"--hid"}, hidInput);
    EXPECT_EQ(h.status, 0);
    EXPECT_EQ(s.out, h.out);
    EXPECT_EQ(h.err, "frames: 70 decoded: 70 dropped: 0\n");
}

TEST(FrameReplay, MalformedHidLinesAreReportedAndSkipped) {
    const std::string input = "00 F7 31 30 31 32 33 34 3B\n"
                              "zz top\n"
                              "00 F7 30 30 30 3A 30 0D 0A\n"
                              "\n"
                              "00 F0 00 00 00 00 00 00 00"; // no newline at the end
    const auto r = replay({"--hid"}, input);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.err.find("line 2"), std::string::npos);
    EXPECT_EQ(split(r.out, '\t')[0], "A101234B000A0D");
    EXPECT_NE(r.err.find("frames: 1 decoded: 1 dropped: 0"), std::string::npos);
}

TEST(FrameReplay, BadCommandLineOrMissingFileExitsWithTwo) {
    auto r = replay({"/no/such/capture.bin"}, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("/no/such/capture.bin"), std::string::npos);
    EXPECT_NE(r.err.find("No such file"), std::string::npos);
    r = replay({"--hi"}, "");
    EXPECT_EQ(r.status, 2);
    r = replay({"--frobnicate"}, "");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage"), std::string::npos);
}
