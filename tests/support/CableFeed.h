#pragma once

// What the cable carries of a simulated meter's frames, as hidraw hands the
// reports over (the cable numbers no reports, so no report ID), and the
// values the program records of them when they arrive as one stream.

#include "core/decode/MeterPipeline.h"
#include "tools/MeterSimulator.h"

#include <cstdint>
#include <string>
#include <vector>

namespace voltaro::testing {

struct CableFeed {
    std::vector<std::vector<std::uint8_t>> reports;
    std::vector<std::string> values;

    // The reports of frames `from` to `to` (not included); each frame is three.
    std::vector<std::vector<std::uint8_t>> frameReports(std::size_t from, std::size_t to) const {
        return {reports.begin() + static_cast<std::ptrdiff_t>(from * 3),
                reports.begin() + static_cast<std::ptrdiff_t>(to * 3)};
    }
    std::vector<std::string> frameValues(std::size_t from, std::size_t to) const {
        return {values.begin() + static_cast<std::ptrdiff_t>(from),
                values.begin() + static_cast<std::ptrdiff_t>(to)};
    }
};

inline std::vector<std::string> recordedValues(const std::vector<std::vector<std::uint8_t>>& reports) {
    struct Values : PipelineHooks {
        std::vector<std::string> out;
        void recordReading(const Reading& r, std::string_view) override { out.push_back(r.ValueText); }
    } values;
    MeterPipeline pipeline(&values);
    for (const auto& r : reports)
        pipeline.HidDataDX22K(0, r.data(), static_cast<std::uint16_t>(r.size()));
    return values.out;
}

// `frames` frames of `meter`.
inline CableFeed cableFeed(sim::MeterSimulator& meter, int frames) {
    CableFeed feed;
    for (int i = 0; i < frames; ++i)
        for (auto& r : meter.nextHidReports())
            feed.reports.emplace_back(r.begin() + 1, r.end());
    feed.values = recordedValues(feed.reports);
    return feed;
}

// `frames` frames, DC volts and AC volts in turn, so that a reading made of
// the halves of two frames shows as a value that was never sent.
inline CableFeed alternatingFeed(int frames, std::uint32_t seed) {
    sim::MeterSimulator dc("dcv", seed);
    sim::MeterSimulator ac("acv", seed + 1);
    CableFeed feed;
    for (int i = 0; i < frames; ++i)
        for (auto& r : (i % 2 == 0 ? dc : ac).nextHidReports())
            feed.reports.emplace_back(r.begin() + 1, r.end());
    feed.values = recordedValues(feed.reports);
    return feed;
}

} // namespace voltaro::testing
