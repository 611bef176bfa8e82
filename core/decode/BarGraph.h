#pragma once

namespace voltaro {

// The LCD bar graph's arithmetic along its length, in pixels from the bar's
// left edge: how many segments a scale of `maximum` steps gets, how many of
// them a position lights, and where the segments and the scale ticks lie.
class BarGraph {
public:
    static constexpr int kWidth = 334;
    // Room left unlit at either end.
    static constexpr int kMargin = 6;
    // The segment distance aimed for: each step gets the whole number of
    // segments nearest to it, and steps too narrow for one get segments about
    // that far apart instead.
    static constexpr double kPreferredPitch = 5;
    static constexpr double kUsableWidth = kWidth - 2 * kMargin;

    // A maximum below 1 is taken as 1.
    explicit BarGraph(int maximum);

    int maximum() const { return maximum_; }
    // A position kept within 0..maximum.
    int clampPosition(int position) const;

    // Segments per step of the scale when a step is wide enough for at least
    // one, so that every position ends on a scale tick; 0 otherwise.
    int segmentsPerStep() const { return perStep_; }
    int segmentCount() const { return segments_; }
    // Distance between the left edges of two neighbouring segments.
    double pitch() const { return kUsableWidth / segments_; }
    // A segment takes the middle 60 % of its pitch.
    double segmentLeft(int i) const;
    double segmentWidth() const { return pitch() * 0.6; }

    // Segments lit at `position` (clamped first): the position's share of the
    // segments, rounded down.
    int litSegments(int position) const;
    // Pixels from the bar's left edge up to the right edge of the last lit
    // segment, rounded up; 0 when none is lit.
    int litWidth(int position) const;

    // Scale ticks every `every` steps, a longer one every `majorEvery`.
    struct Ticks {
        int every;
        int majorEvery;
    };
    // Ticks as dense as can still be told apart (4 px or more between two).
    // Beyond the widest scale they are allowed closer.
    Ticks ticks() const;
    // Where the tick of step `step` (0..maximum) stands.
    double tickX(int step) const;

private:
    int maximum_;
    int perStep_;
    int segments_;
};

} // namespace voltaro
