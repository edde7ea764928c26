#include <gtest/gtest.h>

#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

#include "TQProtocolFixture.h"
#include "link/support/SendOutcomes.h"

namespace link_test {
namespace {

using Reason = TQSendOutcome::DropReason;

// Long after the last timer any scenario can leave running.
constexpr double kHorizon = 60.0;

// A packet the phone handed over, as "<seconds> <what>": "DATA <sequence>", "ACK <mask>" or
// "RESET".
std::string describe(const ScriptedTransport::Accepted& accepted) {
    const Bytes& packet = accepted.packet;
    char text[40];
    if ((packet[0] & 0x80) == 0) {
        std::snprintf(text, sizeof text, "%.3f DATA %d", accepted.time, sequenceOf(packet));
    } else if (packet[0] == 0x80) {
        std::snprintf(text, sizeof text, "%.3f ACK %04X", accepted.time,
                      static_cast<unsigned>(packet[1] << 8 | packet[2]));
    } else if (packet[0] == 0xB0) {
        std::snprintf(text, sizeof text, "%.3f RESET", accepted.time);
    } else {
        std::snprintf(text, sizeof text, "%.3f CONTROL %02X", accepted.time, packet[0]);
    }
    return text;
}

struct Arrival {
    double time;
    Bytes packet;
};

struct Scenario {
    const char* name;
    // Messages of three packets each (one window), the first at 0 s, each next one handed down
    // from the completion of the one before.
    int messages;
    std::vector<Arrival> arrivals;
    std::vector<std::string> timeline;
    std::vector<TQSendOutcome> outcomes;
};

// What the phone sends when, with the watch's packets arriving as scripted: acknowledgements
// and masks of the receive window, retransmissions of the send window and the reset.
TEST(TQProtocolTimelineTest, TimersDriveAcknowledgementsRetransmissionsAndTheReset) {
    // The watch's message fills a whole window with first and middle packets (it goes on in
    // the next window), so slot 7 neither ends the message nor completes a gapped window.
    const auto incoming = messagePackets(randomBytes(1500, 31));
    ASSERT_GT(incoming.size(), TQProtocol::kWindowSize);
    const auto slots = [&](double time, std::initializer_list<int> indexes) {
        std::vector<Arrival> arrivals;
        for (const int index : indexes) {
            arrivals.push_back({time, incoming[static_cast<std::size_t>(index)]});
        }
        return arrivals;
    };
    const auto withSlot3At = [&](double time) {
        auto arrivals = slots(0, {0, 1, 2, 4, 5, 6, 7});
        arrivals.push_back({time, incoming[3]});
        return arrivals;
    };
    // A four-packet message whose last packet never comes.
    const auto shortMessage = messagePackets(randomBytes(500, 32));
    ASSERT_EQ(shortMessage.size(), 4U);
    const std::vector<Arrival> shortWithoutLast = {
        {0, shortMessage[0]}, {0, shortMessage[1]}, {0, shortMessage[2]}};

    const auto window = [](const char* time, int firstSequence = 0) {
        std::vector<std::string> packets;
        for (int sequence = firstSequence; sequence < firstSequence + 3; ++sequence) {
            packets.push_back(std::string(time) + " DATA " + std::to_string(sequence));
        }
        return packets;
    };
    const auto join = [](std::initializer_list<std::vector<std::string>> parts) {
        std::vector<std::string> joined;
        for (const auto& part : parts) {
            joined.insert(joined.end(), part.begin(), part.end());
        }
        return joined;
    };
    const Bytes windowAcknowledged = ackPacket(0xE000);

    const Scenario scenarios[] = {
        // Slot 7 restarts T_ACK and is acknowledged; T_ACK's restart takes effect when the step
        // ends, so the step also starts T_RECV, whose expiry acknowledges again at 0.9 s. The
        // resent slot completes the window: acknowledged, T_ACK stopped.
        {"slot 3 lost, then resent",
         0,
         withSlot3At(1.0),
         {"0.000 ACK EF00", "0.900 ACK EF00", "1.000 ACK FF00"},
         {}},
        // T_RECV's expiry acknowledges and restarts T_ACK; each T_ACK expiry acknowledges
        // again and restarts it; the third resets.
        {"slot 3 lost for good",
         0,
         slots(0, {0, 1, 2, 4, 5, 6, 7}),
         {"0.000 ACK EF00", "0.900 ACK EF00", "4.000 ACK EF00", "7.100 ACK EF00", "10.200 RESET"},
         {}},
        // Nothing acknowledges slot 6 at once: T_RECV does, 0.9 s later, and starts T_ACK.
        {"the window's slot 7 lost",
         0,
         slots(0, {0, 1, 2, 3, 4, 5, 6}),
         {"0.900 ACK FE00", "4.000 ACK FE00", "7.100 ACK FE00", "10.200 RESET"},
         {}},
        {"a message's last packet lost",
         0,
         shortWithoutLast,
         {"0.900 ACK E000", "4.000 ACK E000", "7.100 ACK E000", "10.200 RESET"},
         {}},
        // T_SEND runs from the confirmation of the window's last packet; each expiry resends
        // the whole window, the third resets.
        {"the acknowledgement lost once",
         1,
         {{2.2, windowAcknowledged}},
         join({window("0.000"), window("2.100")}),
         {TQSendOutcome::acknowledged()}},
        {"the acknowledgement lost twice",
         1,
         {{4.3, windowAcknowledged}},
         join({window("0.000"), window("2.100"), window("4.200")}),
         {TQSendOutcome::acknowledged()}},
        {"the acknowledgement lost three times",
         1,
         {},
         join({window("0.000"), window("2.100"), window("4.200"), {"6.300 RESET"}}),
         {TQSendOutcome::dropped(Reason::reset)}},
        // The next window goes out in set 1 from inside the completion; its T_SEND runs all the
        // same.
        {"the acknowledgement of a window handed down from a completion lost once",
         2,
         {{0.5, windowAcknowledged}, {2.7, ackPacket(0x00E0)}},
         join({window("0.000"), window("0.500", 8), window("2.600", 8)}),
         {TQSendOutcome::acknowledged(), TQSendOutcome::acknowledged()}},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        ProtocolHarness h;
        int handedDown = 0;
        const auto handDown = [&] {
            if (handedDown < scenario.messages) {
                h.protocol.packetsFromDataModel({randomBytes(300, 33 + handedDown++), 1});
            }
        };
        h.delegate.whenSendCompleted = handDown;
        handDown();
        for (const Arrival& arrival : scenario.arrivals) {
            h.advance(arrival.time - h.loop.now());
            h.receive(arrival.packet);
        }
        h.advance(kHorizon - h.loop.now());
        std::vector<std::string> observed;
        for (const auto& accepted : h.transport.history) {
            observed.push_back(describe(accepted));
        }
        EXPECT_EQ(observed, scenario.timeline);
        EXPECT_EQ(h.delegate.outcomes, scenario.outcomes);
    }
}

}  // namespace
}  // namespace link_test
