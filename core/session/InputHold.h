#pragma once

#include <QByteArray>

#include <cstdint>
#include <functional>

namespace voltaro {

// What the link brings while the reading table is being loaded or saved,
// held back in the order it came: the serial line's bytes, the cable's
// reports and the breaks between streams. The link keeps being read
// meanwhile (the terminal's buffer holds about two seconds of the meter, the
// cable's read thread half a minute), and what was read goes through the
// frame road once the table is free again. A minute of the line's or the
// cable's full rate is well under a mebibyte.
class InputHold {
public:
    // Where held input goes when the hold ends.
    struct Sink {
        std::function<void(const std::uint8_t* data, int size)> serialBytes;
        std::function<void(std::uint8_t id, const std::uint8_t* data, std::uint16_t size)> report;
        std::function<void()> streamBroken;
    };

    bool holding() const { return depth_ > 0; }
    // Holds from now on; holds nest, and the last end() releases.
    void start() { ++depth_; }
    void serialBytes(const std::uint8_t* data, int size);
    void report(std::uint8_t id, const std::uint8_t* data, std::uint16_t size);
    void streamBroken();
    // Ends one hold; the last hands everything held to `sink`, in the order
    // it came, and holds nothing more.
    void end(const Sink& sink);

    // Bytes held, for tests.
    qsizetype heldBytes() const { return held_.size(); }

private:
    enum Kind : char { Serial, Report, Break };
    void add(Kind kind, std::uint8_t id, const std::uint8_t* data, int size);

    // One record after the other: the kind, the report ID, the size (four
    // bytes, native order) and the bytes.
    QByteArray held_;
    int depth_ = 0;
};

} // namespace voltaro
