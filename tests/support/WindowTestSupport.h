#pragma once

// Helpers for tests that drive the real main window: its controls by name,
// and meter frames fed through its serial data handler.

#include "support/DialogAnswer.h"
#include "support/Wait.h"
#include "tools/MeterSimulator.h"
#include "widgets/app/TFCOMM.h"
#include "widgets/chart/ChartRegion.h"

#include <QCoreApplication>

#include <stdexcept>
#include <string>
#include <vector>

namespace voltaro::testing {

// The window's control named `name`; a missing one fails the test.
template <typename T> T* control(const QObject& root, const char* name) {
    if (auto* c = root.findChild<T*>(QString::fromLatin1(name)))
        return c;
    throw std::runtime_error(std::string("no control named ") + name);
}

// The serial bytes of `frames`, after the line feed of the frame before them.
inline std::vector<std::uint8_t> serialBytes(const std::vector<sim::MeterFrame>& frames) {
    std::vector<std::uint8_t> bytes = {0x0A};
    for (const auto& f : frames) {
        const auto w = f.wireBytes();
        bytes.insert(bytes.end(), w.begin(), w.end());
    }
    return bytes;
}

inline sim::MeterFrame meterFrame(std::uint8_t function, std::uint8_t range, const char* digits,
                                  std::uint8_t status = 0, std::uint8_t option3 = 10) {
    sim::MeterFrame f;
    f.function = function;
    f.range = range;
    f.status = status;
    f.option3 = option3;
    f.withDigits(digits);
    return f;
}

// The value texts the window records of `frames` sent in one stream,
// decoded on their own with the window's decimal separator.
inline QStringList valuesOf(TFCOMM& w, const std::vector<sim::MeterFrame>& frames) {
    struct Values : PipelineHooks {
        QStringList out;
        void recordReading(const Reading& r, std::string_view) override {
            out << QString::fromStdString(r.ValueText);
        }
    } values;
    MeterPipeline p(&values);
    p.setDecimalSep(w.pipeline().decimalSep());
    const auto bytes = serialBytes(frames);
    p.DX22KDATA(bytes.data(), static_cast<int>(bytes.size()));
    return values.out;
}

// Sends frames through the window's serial data handler as one stream: the
// line feed before the first frame comes once, then each frame brings its own.
class SerialFeeder {
public:
    explicit SerialFeeder(TFCOMM& w) : w_(w) {}
    void operator()(const std::vector<sim::MeterFrame>& frames) {
        auto bytes = serialBytes(frames);
        if (started_)
            bytes.erase(bytes.begin());
        started_ = true;
        w_.DX22KDATA(bytes.data(), static_cast<int>(bytes.size()));
        // What the event loop does once a chunk has been handled.
        QCoreApplication::sendPostedEvents();
    }
    void operator()(const sim::MeterFrame& f, int times = 1) {
        (*this)(std::vector<sim::MeterFrame>(static_cast<std::size_t>(times), f));
    }

private:
    TFCOMM& w_;
    bool started_ = false;
};

} // namespace voltaro::testing
