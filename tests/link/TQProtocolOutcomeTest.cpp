#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "TQProtocolFixture.h"
#include "link/support/SendOutcomes.h"

namespace link_test {
namespace {

using Mode = ScriptedTransport::Mode;
using Reason = TQSendOutcome::DropReason;

const TQSendOutcome kAcknowledged = TQSendOutcome::acknowledged();
const TQSendOutcome kSent = TQSendOutcome::sentUnacknowledged();
TQSendOutcome dropped(Reason reason) {
    return TQSendOutcome::dropped(reason);
}

TEST(TQProtocolOutcomeTest, EachCompletionSaysHowItsMessageEnded) {
    struct Case {
        const char* name;
        std::function<void(ProtocolHarness&)> run;
        std::vector<TQSendOutcome> outcomes;
    };
    const Case cases[] = {
        {"the watch acknowledged the window",
         [](ProtocolHarness& h) {
             h.send(randomBytes(300, 1));
             h.receiveAck(0xE000);
         },
         {kAcknowledged}},
        {"every packet of an unacknowledged message went to the transport",
         [](ProtocolHarness& h) { h.send(randomBytes(400, 2), false); },
         {kSent}},
        {"an unacknowledged message goes out while an older window waits for its acknowledgement",
         [](ProtocolHarness& h) {
             h.send(randomBytes(300, 3));
             h.send({0x01}, false);
             h.receiveAck(0xE000);
         },
         {kSent, kAcknowledged}},
        {"no watch connected when it was handed down",
         [](ProtocolHarness& h) {
             h.transport.setConnected(false);
             h.send({0x01});
         },
         {dropped(Reason::notConnected)}},
        {"the window in flight and the message behind it when the link goes down",
         [](ProtocolHarness& h) {
             h.transport.setMode(Mode::swallow);
             h.send(randomBytes(300, 4));
             h.send(randomBytes(300, 5));
             h.protocol.resetRetransmission(Reason::disconnected);
             h.protocol.abortSending(Reason::disconnected);
             h.loop.runUntilIdle();
         },
         {dropped(Reason::disconnected), dropped(Reason::disconnected)}},
        {"the watch resets the transfer",
         [](ProtocolHarness& h) {
             h.send(randomBytes(300, 6));
             h.send(randomBytes(300, 7));
             h.receive(TQProtocol::packetsFromControlModel({TQProtocol::reset, 0}).front());
         },
         {dropped(Reason::peerReset), dropped(Reason::peerReset)}},
        {"this side gives up after the third T_SEND expiry",
         [](ProtocolHarness& h) {
             h.send(randomBytes(300, 8));
             h.advance(4 * TQProtocol::kSendTimeout);
         },
         {dropped(Reason::reset)}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ProtocolHarness h;
        c.run(h);
        h.advance(30);
        EXPECT_EQ(h.delegate.outcomes, c.outcomes);
    }
}

}  // namespace
}  // namespace link_test
