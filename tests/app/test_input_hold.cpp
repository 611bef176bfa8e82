// The link's input held while a data file is loaded or saved: serial bytes,
// the cable's reports and the breaks between streams come out in the order
// they went in, once the last of nested holds ends, and not before.
#include "core/session/InputHold.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using voltaro::InputHold;

namespace {

struct Recorded {
    std::vector<std::string> events;
    InputHold::Sink sink() {
        return {[this](const std::uint8_t* d, int n) {
                    events.push_back("serial " + std::string(reinterpret_cast<const char*>(d), n));
                },
                [this](std::uint8_t id, const std::uint8_t* d, std::uint16_t n) {
                    events.push_back("report " + std::to_string(id) + " " +
                                     std::string(reinterpret_cast<const char*>(d), n));
                },
                [this] { events.push_back("break"); }};
    }
};

const std::uint8_t* bytes(const char* s) {
    return reinterpret_cast<const std::uint8_t*>(s);
}

} // namespace

TEST(InputHold, WhatWasHeldComesOutInOrderWhenTheLastHoldEnds) {
    InputHold hold;
    Recorded out;
    EXPECT_FALSE(hold.holding());
    hold.start();
    hold.start();
    EXPECT_TRUE(hold.holding());
    hold.serialBytes(bytes("ab"), 2);
    hold.streamBroken();
    hold.report(3, bytes("r\0s"), 3);
    hold.report(0, bytes(""), 0);
    hold.serialBytes(bytes("c"), 1);
    hold.end(out.sink());
    EXPECT_TRUE(hold.holding());
    EXPECT_TRUE(out.events.empty());
    hold.end(out.sink());
    EXPECT_FALSE(hold.holding());
    EXPECT_EQ(out.events, (std::vector<std::string>{"serial ab", "break", std::string("report 3 r\0s", 12),
                                                    "report 0 ", "serial c"}));
    EXPECT_EQ(hold.heldBytes(), 0);
    // The next hold starts empty; an end without a hold hands nothing over.
    hold.end(out.sink());
    hold.start();
    hold.end(out.sink());
    EXPECT_EQ(out.events.size(), 5u);
}
