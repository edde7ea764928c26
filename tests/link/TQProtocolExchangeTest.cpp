#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "TQProtocolFixture.h"
#include "link/support/LinkWorld.h"

namespace link_test {
namespace {

constexpr std::size_t kSizes[] = {1,    2,    100,  148,   149,    1000,
                                  1184, 1185, 5000, 30000, 200000, std::size_t{1} << 20};

// Phone and stand-in peer on one faulty or clean link, both sending at once.
class Exchange {
public:
    Exchange(std::uint64_t seed, const LinkConditions& conditions) : world_(seed, conditions) {
        const auto watch = [this](std::span<const std::uint8_t> packet) {
            if (!packet.empty() && packet[0] == 0xB0) {
                resets_.push_back(world_.loop().now());
            }
        };
        world_.link().phone().setSendObserver(watch);
        world_.link().peer().setSendObserver(watch);
    }

    MemoryLink& link() { return world_.link(); }

    // Queues every size each way; every `unacknowledgedEvery`-th message goes without ARQ.
    void queueMessages(std::size_t unacknowledgedEvery) {
        std::uint64_t seed = 1;
        for (LinkPeer* side : {&world_.phone(), &world_.peer()}) {
            std::size_t count = 0;
            for (const std::size_t size : kSizes) {
                const bool arq = unacknowledgedEvery == 0 || ++count % unacknowledgedEvery != 0;
                side->send(randomBytes(size, seed++), arq);
            }
        }
    }

    // Runs until both sides have completed everything, then a little longer so that no timer
    // is left that could still change the outcome.
    void run() {
        ASSERT_TRUE(world_.runUntil(
            [this] { return world_.phone().idle() && world_.peer().idle(); }, 3600));
        world_.loop().advance(30);
    }

    void check(bool lossesAllowed) {
        checkDirection(world_.phone(), world_.peer(), lossesAllowed);
        checkDirection(world_.peer(), world_.phone(), lossesAllowed);
        if (!lossesAllowed) {
            EXPECT_TRUE(resets_.empty());
        }
    }

private:
    // What one direction must show: every message completes once; what arrives is byte for byte
    // what was sent, in order, each at most once; and a message that never arrives was in the
    // protocol when a reset came, or was the first handed down after one (a reset whose
    // packet is lost leaves the receiver one window set out of step).
    void checkDirection(const LinkPeer& sender, const LinkPeer& receiver, bool lossesAllowed) {
        SCOPED_TRACE(&sender == &world_.phone() ? "phone to peer" : "peer to phone");
        const auto& sent = sender.outgoing();
        std::vector<bool> arrived(sent.size(), false);
        std::size_t next = 0;
        for (const auto& message : receiver.received()) {
            std::size_t index = next;
            while (index < sent.size() && sent[index].data != message.data) {
                ++index;
            }
            ASSERT_LT(index, sent.size()) << "a delivered message of " << message.data.size()
                                          << " bytes matches no later sent one";
            arrived[index] = true;
            next = index + 1;
        }
        EXPECT_EQ(sender.unexpectedCompletions(), 0);
        auto resets = resets_;
        for (const LinkPeer* side : {&world_.phone(), &world_.peer()}) {
            resets.insert(resets.end(), side->resetsReceived().begin(),
                          side->resetsReceived().end());
        }
        std::size_t lost = 0;
        for (std::size_t i = 0; i < sent.size(); ++i) {
            EXPECT_GE(sent[i].completed, sent[i].handedDown) << "message " << i;
            if (arrived[i]) {
                continue;
            }
            ++lost;
            EXPECT_TRUE(lossesAllowed)
                << "message " << i << " of " << sent[i].data.size() << " bytes lost";
            const double from =
                i == 0 ? -std::numeric_limits<double>::infinity() : sent[i - 1].handedDown;
            const bool excused = std::any_of(resets.begin(), resets.end(), [&](double time) {
                return time > from && time <= sent[i].completed;
            });
            EXPECT_TRUE(excused) << "message " << i << " of " << sent[i].data.size()
                                 << " bytes lost without a reset";
        }
        // Resets are rare enough that most messages get through.
        EXPECT_LE(lost * 4, sent.size());
    }

    LinkWorld world_;
    std::vector<double> resets_;
};

LinkConditions air() {
    LinkConditions conditions;
    conditions.airTime = 0.001;
    conditions.latency = 0.005;
    conditions.bufferPackets = 4;
    return conditions;
}

TEST(TQProtocolExchangeTest, EveryMessageArrivesOnceOnACleanLink) {
    Exchange exchange(1, air());
    exchange.queueMessages(3);
    exchange.run();
    exchange.check(false);
    EXPECT_GT(exchange.link().phone().stats().refused, 0U);  // flow control was exercised
}

TEST(TQProtocolExchangeTest, MessagesSurviveLossCorruptionAndDuplicates) {
    LinkConditions faulty = air();
    faulty.dropRate = 0.10;
    faulty.corruptRate = 0.01;
    faulty.duplicateRate = 0.02;
    faulty.delayRate = 0.02;
    faulty.maxDelay = 0.05;
    faulty.refuseRate = 0.01;
    faulty.readyDelay = 0.02;
    Exchange exchange(7, faulty);
    exchange.queueMessages(0);
    exchange.run();
    exchange.check(true);
    const auto& stats = exchange.link().phone().stats();
    EXPECT_GT(stats.dropped, 0U);
    EXPECT_GT(stats.corrupted, 0U);
    EXPECT_GT(stats.duplicated, 0U);
    EXPECT_GT(stats.delayed, 0U);
}

}  // namespace
}  // namespace link_test
