#include "core/decode/FrameAssembler.h"
#include "tools/MeterSimulator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using voltaro::AssemblyTrace;
using voltaro::FrameAssembler;
using voltaro::FrameSink;
using voltaro::sim::MeterFrame;

namespace {

struct Ended {
    std::string text;
    bool holds;
    bool operator==(const Ended&) const = default;
};

class RecordingSink : public FrameSink {
public:
    void frameEnded(std::string_view frameText, bool framingHolds) override {
        ended.push_back({std::string(frameText), framingHolds});
    }
    std::vector<std::string> decoded() const {
        std::vector<std::string> out;
        for (const auto& e : ended)
            if (e.holds)
                out.push_back(e.text);
        return out;
    }
    std::vector<Ended> ended;
};

using Bytes = std::vector<std::uint8_t>;

Bytes wire(const MeterFrame& f) {
    const auto b = f.wireBytes();
    return {b.begin(), b.end()};
}

MeterFrame sampleFrame(int count = 1234) {
    MeterFrame f;
    f.range = 1;
    f.function = 11;
    f.option3 = 10;
    f.withCount(count);
    return f;
}

// A line feed (the end of the frame before) and then `frames` whole frames.
Bytes stream(int frames) {
    Bytes s = {0x0A};
    for (int i = 0; i < frames; ++i) {
        const auto b = wire(sampleFrame(1000 + i));
        s.insert(s.end(), b.begin(), b.end());
    }
    return s;
}

void feed(FrameAssembler& a, const Bytes& b) {
    a.DX22KDATA(b.data(), static_cast<int>(b.size()));
}

} // namespace

TEST(SerialFramer, OneCallYieldsTheFrameWithItsLowDigits) {
    RecordingSink sink;
    FrameAssembler a(sink);
    Bytes b = {0x0A, 0x31, 0x30, 0x31, 0x32, 0x33, 0x34, 0x3B, 0x30, 0x30, 0x30, 0x3A, 0x30, 0x0D};
    feed(a, b);
    ASSERT_EQ(sink.ended.size(), 1u);
    EXPECT_EQ(sink.ended[0], (Ended{"A101234B000A0D", true}));
    EXPECT_EQ(a.FrameText(), "A101234B000A0D");
    EXPECT_EQ(a.LowNibbles(), ""); // emptied at the frame end
}

TEST(SerialFramer, AnySplitOfTheStreamGivesTheSameFrames) {
    const Bytes s = stream(5);
    RecordingSink whole;
    FrameAssembler wa(whole);
    feed(wa, s);
    ASSERT_EQ(whole.decoded().size(), 5u);

    for (std::size_t chunk : {1u, 2u, 3u, 7u, 13u, 14u, 15u, 29u, 64u}) {
        RecordingSink split;
        FrameAssembler a(split);
        for (std::size_t i = 0; i < s.size(); i += chunk) {
            const std::size_t n = std::min(chunk, s.size() - i);
            a.DX22KDATA(s.data() + i, static_cast<int>(n));
        }
        EXPECT_EQ(split.ended, whole.ended) << "chunk " << chunk;
    }
}

TEST(SerialFramer, ZeroLengthReadsChangeNothing) {
    RecordingSink sink;
    FrameAssembler a(sink);
    const Bytes s = stream(1);
    a.DX22KDATA(s.data(), 0);
    a.DX22KDATA(s.data(), 4);
    a.DX22KDATA(nullptr, 0);
    a.DX22KDATA(s.data() + 4, static_cast<int>(s.size() - 4));
    EXPECT_EQ(sink.decoded(), std::vector<std::string>{sampleFrame(1000).frameText()});
}

TEST(SerialFramer, StartingMidFrameDropsOnlyThatFrame) {
    RecordingSink sink;
    FrameAssembler a(sink);
    Bytes s = stream(3);
    s.erase(s.begin(), s.begin() + 6); // the link opened in the middle of the first frame
    feed(a, s);
    ASSERT_EQ(sink.ended.size(), 3u);
    EXPECT_FALSE(sink.ended[0].holds);
    EXPECT_EQ(sink.decoded(),
              (std::vector<std::string>{sampleFrame(1001).frameText(), sampleFrame(1002).frameText()}));
}

TEST(SerialFramer, LostExtraAndGarbledBytesSpoilOneFrameEach) {
    struct Case {
        const char* what;
        void (*damage)(Bytes&);
    };
    const Case cases[] = {
        {"lost data byte", [](Bytes& f) { f.erase(f.begin() + 4); }},
        {"extra byte", [](Bytes& f) { f.insert(f.begin() + 4, 0x35); }},
        {"lost line feed", [](Bytes& f) { f.pop_back(); }},
    };
    for (const auto& c : cases) {
        RecordingSink sink;
        FrameAssembler a(sink);
        Bytes s = {0x0A};
        for (int i = 0; i < 3; ++i) {
            Bytes f = wire(sampleFrame(2000 + i));
            if (i == 1)
                c.damage(f);
            s.insert(s.end(), f.begin(), f.end());
        }
        feed(a, s);
        EXPECT_EQ(sink.ended.size(), 3u) << c.what;
        // The damaged frame fails; the lost line feed spoils the frame after it instead.
        EXPECT_EQ(sink.decoded().size(), 2u) << c.what;
    }
}

TEST(SerialFramer, LostCarriageReturnRunsTwoFramesTogetherAndBothFail) {
    RecordingSink sink;
    FrameAssembler a(sink);
    Bytes s = {0x0A};
    Bytes f1 = wire(sampleFrame(1));
    f1.erase(f1.begin() + 12); // CR gone, LF stays
    const Bytes f2 = wire(sampleFrame(2));
    const Bytes f3 = wire(sampleFrame(3));
    s.insert(s.end(), f1.begin(), f1.end());
    s.insert(s.end(), f2.begin(), f2.end());
    s.insert(s.end(), f3.begin(), f3.end());
    feed(a, s);
    ASSERT_EQ(sink.ended.size(), 2u);
    EXPECT_FALSE(sink.ended[0].holds);
    EXPECT_EQ(sink.ended[0].text.size(), 14u); // only the first 14 digits are examined
    EXPECT_EQ(sink.decoded(), std::vector<std::string>{sampleFrame(3).frameText()});
}

TEST(SerialFramer, DataByteWithLowDigitDDoesNotEndTheFrame) {
    RecordingSink sink;
    FrameAssembler a(sink);
    MeterFrame f = sampleFrame();
    f.function = 13; // sent as 3D
    Bytes s = {0x0A};
    const Bytes w = wire(f);
    s.insert(s.end(), w.begin(), w.end());
    feed(a, s);
    ASSERT_EQ(sink.ended.size(), 1u);
    EXPECT_EQ(sink.ended[0].text, f.frameText());
    EXPECT_EQ(sink.ended[0].text[7], 'D');
    EXPECT_TRUE(sink.ended[0].holds);
}

TEST(SerialFramer, HighDigitsAreKeptApartAndNeverReachTheFrame) {
    RecordingSink sink;
    FrameAssembler a(sink);
    const Bytes part = {0x0A, 0x3F, 0x3A, 0x35};
    feed(a, part);
    EXPECT_EQ(a.LowNibbles(), "AFA5");
    EXPECT_EQ(a.HighNibbles(), "0333");
}

TEST(SerialFramer, EndlessStreamWithoutFrameEndStaysBoundedAndRecovers) {
    RecordingSink sink;
    FrameAssembler a(sink);
    const Bytes noise(100000, 0x55);
    feed(a, noise);
    EXPECT_LE(a.LowNibbles().size(), static_cast<std::size_t>(FrameAssembler::kHeldDigits));
    EXPECT_TRUE(sink.ended.empty());
    // The next carriage return ends the noise as one failed frame; reception goes on.
    feed(a, stream(2));
    ASSERT_EQ(sink.ended.size(), 2u);
    EXPECT_EQ(sink.ended[0].text, "55555555555555");
    EXPECT_FALSE(sink.ended[0].holds);
    EXPECT_EQ(sink.decoded(), std::vector<std::string>{sampleFrame(1001).frameText()});
}

namespace {

// The cable's reports: a count digit in the first byte, then meter bytes.
void report(FrameAssembler& a, Bytes bytes, std::uint8_t id = 0) {
    a.HidDataDX22K(id, bytes.data(), static_cast<std::uint16_t>(bytes.size()));
}

void burst(FrameAssembler& a, const MeterFrame& f) {
    const Bytes w = wire(f);
    Bytes r1 = {0xF7};
    r1.insert(r1.end(), w.begin(), w.begin() + 7);
    Bytes r2 = {0xF7};
    r2.insert(r2.end(), w.begin() + 7, w.end());
    report(a, r1);
    report(a, r2);
}

const Bytes kEmpty = {0xF0, 0, 0, 0, 0, 0, 0, 0};

} // namespace

TEST(UsbFramer, BurstIsDecodedAtTheFirstEmptyReport) {
    RecordingSink sink;
    FrameAssembler a(sink);
    AssemblyTrace trace;
    a.setTrace(&trace);
    const MeterFrame f = sampleFrame(4321);
    burst(a, f);
    EXPECT_TRUE(sink.ended.empty());
    EXPECT_TRUE(a.UsbBurstPending());
    EXPECT_EQ(trace.HistoryListBox.lines().size(), 2u);
    EXPECT_EQ(trace.HistoryListBox.lines()[0].substr(0, 10), "R 00  F7 3");
    report(a, kEmpty);
    ASSERT_EQ(sink.ended.size(), 1u);
    EXPECT_EQ(sink.ended[0], (Ended{f.frameText(), true}));
    EXPECT_FALSE(a.UsbBurstPending());
    EXPECT_EQ(a.FrameText(), ""); // empty between USB frames
    EXPECT_EQ(a.UsbHexBuffer(), "");
    ASSERT_EQ(trace.Memo1.lines().size(), 1u);
    ASSERT_EQ(trace.Memo2.lines().size(), 1u);
    EXPECT_EQ(trace.Memo2.lines()[0].size(), 28u);
    EXPECT_EQ(trace.Memo1.lines()[0], f.frameText().substr(1, 13) + "A"); // before the rotation
}

TEST(UsbFramer, EmptyReportWithoutBytesEndsAPendingBurst) {
    RecordingSink sink;
    FrameAssembler a(sink);
    burst(a, sampleFrame());
    report(a, {});
    ASSERT_EQ(sink.decoded().size(), 1u);
}

TEST(UsbFramer, ShortLongAndOverstatedBursts) {
    RecordingSink sink;
    FrameAssembler a(sink);
    // 13 bytes: fails.
    report(a, {0xF7, 0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37});
    report(a, {0xF6, 0x31, 0x32, 0x33, 0x34, 0x0D, 0x0A});
    report(a, kEmpty);
    ASSERT_EQ(sink.ended.size(), 1u);
    EXPECT_FALSE(sink.ended[0].holds);
    // A count larger than the bytes present takes only those present.
    report(a, {0xF9, 0x31, 0x32});
    EXPECT_EQ(a.UsbHexBuffer(), "3132");
    report(a, kEmpty);
    // Bytes after the first 14 of a burst are dropped with it: the frame still decodes.
    const MeterFrame f = sampleFrame(777);
    burst(a, f);
    report(a, {0xF3, 0x31, 0x32, 0x33});
    report(a, kEmpty);
    EXPECT_EQ(sink.decoded(), std::vector<std::string>{f.frameText()});
}

TEST(UsbFramer, BoundedBufferOnAnEndlessBurst) {
    RecordingSink sink;
    FrameAssembler a(sink);
    for (int i = 0; i < 10000; ++i)
        report(a, {0xF7, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31, 0x31});
    EXPECT_LE(a.UsbHexBuffer().size(), 2u * FrameAssembler::kHeldUsbBytes);
    report(a, kEmpty);
    EXPECT_EQ(sink.ended.size(), 1u);
    EXPECT_FALSE(sink.ended[0].holds);
    burst(a, sampleFrame());
    report(a, kEmpty);
    EXPECT_EQ(sink.decoded().size(), 1u);
}

TEST(UsbFramer, SerialLeftoversDoNotDisturbTheFirstUsbFrame) {
    RecordingSink sink;
    FrameAssembler a(sink);
    Bytes half = stream(1);
    half.resize(8);
    feed(a, half); // a serial frame left half-assembled
    burst(a, sampleFrame(55));
    report(a, kEmpty);
    EXPECT_EQ(sink.decoded(), std::vector<std::string>{sampleFrame(55).frameText()});
}

TEST(TraceLog, KeepsOnlyTheNewestLines) {
    voltaro::TraceLog log(3);
    for (int i = 0; i < 10; ++i)
        log.add(std::to_string(i));
    ASSERT_EQ(log.lines().size(), 3u);
    EXPECT_EQ(log.lines().front(), "7");
    EXPECT_EQ(log.lines().back(), "9");
}
