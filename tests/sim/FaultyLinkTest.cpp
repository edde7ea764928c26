#include <gtest/gtest.h>

#include <bit>

#include "sim/FaultyLink.h"

namespace {

using namespace kavowatch;
using platform::Bytes;
using platform::RunLoop;

class FaultyLinkTest : public ::testing::Test, protected PacketLink {
protected:
    FaultyLinkTest() {
        link.setInner(this);
        link.setUpcalls([this] { ++sentUpcalls; },
                        [this](std::span<const std::uint8_t> packet) {
                            arrived.emplace_back(packet.begin(), packet.end());
                        });
    }

    Outcome transmit(std::span<const std::uint8_t> packet) override {
        written.emplace_back(packet.begin(), packet.end());
        return innerOutcome;
    }

    RunLoop loop{RunLoop::Clock::virtualTime};
    FaultPlan plan{3};
    FaultyLink link{loop, plan};
    Outcome innerOutcome = Outcome::pending;
    std::vector<Bytes> written;
    std::vector<Bytes> arrived;
    int sentUpcalls = 0;
};

TEST_F(FaultyLinkTest, NothingOvertakesADelayedPacket) {
    plan.inject(FaultDirection::incoming, {FaultKind::delay, 1, 1.0});
    link.arrived(Bytes{1});
    link.arrived(Bytes{2});
    loop.advance(0.5);
    link.arrived(Bytes{3});
    EXPECT_TRUE(arrived.empty());
    loop.advance(0.5);
    EXPECT_EQ(arrived, (std::vector<Bytes>{{1}, {2}, {3}}));
    link.arrived(Bytes{4});  // the hold is over
    EXPECT_EQ(arrived.back(), Bytes{4});
    EXPECT_EQ(plan.counts(FaultDirection::incoming).delayed, 1);
}

TEST_F(FaultyLinkTest, AClearedLinkForgetsWhatItHeld) {
    plan.inject(FaultDirection::incoming, {FaultKind::delay, 1, 1.0});
    link.arrived(Bytes{1});
    link.clear();
    loop.advance(2);
    EXPECT_TRUE(arrived.empty());
    link.arrived(Bytes{2});
    EXPECT_EQ(arrived, std::vector<Bytes>{{2}});
}

TEST_F(FaultyLinkTest, OutgoingFaultsAsTheSenderSeesThem) {
    plan.inject(FaultDirection::outgoing, {FaultKind::drop, 1});
    plan.inject(FaultDirection::outgoing, {FaultKind::duplicate, 1});
    plan.inject(FaultDirection::outgoing, {FaultKind::corrupt, 1});

    // Dropped: gone as far as the sender can tell.
    EXPECT_EQ(link.transmit(Bytes{1, 1}), Outcome::sent);
    EXPECT_TRUE(written.empty());

    // Duplicated: written twice, one after the other; the sender hears once.
    EXPECT_EQ(link.transmit(Bytes{2, 2}), Outcome::pending);
    EXPECT_EQ(written, (std::vector<Bytes>{{2, 2}}));
    link.innerSent();
    EXPECT_EQ(written, (std::vector<Bytes>{{2, 2}, {2, 2}}));
    EXPECT_EQ(sentUpcalls, 0);
    link.innerSent();
    EXPECT_EQ(sentUpcalls, 1);

    // Corrupted: one bit differs.
    innerOutcome = Outcome::sent;
    EXPECT_EQ(link.transmit(Bytes({0, 0, 0, 0})), Outcome::sent);
    int bits = 0;
    for (std::uint8_t byte : written.back()) {
        bits += std::popcount(byte);
    }
    EXPECT_EQ(bits, 1);

    // A full link below is waited out here; the sender only hears that it went.
    innerOutcome = Outcome::busy;
    EXPECT_EQ(link.transmit(Bytes{4}), Outcome::pending);
    innerOutcome = Outcome::sent;
    link.innerReady();
    EXPECT_EQ(written.back(), Bytes{4});
    EXPECT_EQ(sentUpcalls, 2);
}

}  // namespace
