#include "core/decode/BarGraph.h"

#include <algorithm>
#include <array>
#include <cmath>

namespace voltaro {

namespace {

constexpr double kMinTickDistance = 4;

} // namespace

BarGraph::BarGraph(int maximum) : maximum_(std::max(maximum, 1)) {
    perStep_ = static_cast<int>(std::lround(kUsableWidth / (maximum_ * kPreferredPitch)));
    segments_ = perStep_ >= 1 ? maximum_ * perStep_ : static_cast<int>(kUsableWidth / kPreferredPitch);
}

int BarGraph::clampPosition(int position) const {
    return std::clamp(position, 0, maximum_);
}

double BarGraph::segmentLeft(int i) const {
    return kMargin + i * pitch() + pitch() * 0.2;
}

int BarGraph::litSegments(int position) const {
    return static_cast<int>(static_cast<long long>(clampPosition(position)) * segments_ / maximum_);
}

int BarGraph::litWidth(int position) const {
    const int lit = litSegments(position);
    if (lit <= 0)
        return 0;
    return static_cast<int>(std::ceil(kMargin + (lit - 1) * pitch() + pitch() * 0.8));
}

BarGraph::Ticks BarGraph::ticks() const {
    static constexpr std::array<Ticks, 6> kScales{
        {{1, 5}, {5, 10}, {10, 50}, {50, 100}, {100, 500}, {500, 1000}}};
    const double step = kUsableWidth / maximum_;
    return *std::find_if(kScales.begin(), kScales.end() - 1,
                         [step](Ticks t) { return step * t.every >= kMinTickDistance; });
}

double BarGraph::tickX(int step) const {
    return kMargin + step * (kUsableWidth / maximum_);
}

} // namespace voltaro
