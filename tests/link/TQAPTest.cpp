#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <latch>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/TQAP.h"
#include "link/TQAPFixture.h"
#include "link/support/SendOutcomes.h"

namespace link_test {
namespace {

TEST(TQAPHeaderTest, HeaderByteCarriesPriorityAndApplicationIdentifier) {
    struct Case {
        std::uint32_t priority;
        std::uint32_t appId;
        std::uint8_t header;
    };
    const Case cases[] = {
        {0, 1, 0x01}, {1, 9, 0x49}, {2, 7, 0x87}, {1, 60, 0x7C}, {3, 3, 0xC3}, {0, 63, 0x3F},
    };
    const std::uint8_t body[] = {0xAA, 0x00, 0x55};
    for (const Case& c : cases) {
        EXPECT_EQ(TQAP::addPriority(c.priority, c.appId, body), (Bytes{c.header, 0xAA, 0x00, 0x55}))
            << "priority " << c.priority << " identifier " << c.appId;
    }
    EXPECT_EQ(TQAP::addPriority(1, 1, {}), Bytes{0x41});
}

TEST_F(FacadeTest, ConstructionMakesTheFacadeTheManagersDelegateAndDestructionUndoesIt) {
    EXPECT_EQ(manager_.responseDelegate(), &ap_);
    EXPECT_EQ(manager_.packetDelegate(), &ap_.protocol());
    {
        TQAP other(manager_, loop_, defaults_);
        EXPECT_EQ(manager_.responseDelegate(), &other);
    }
    EXPECT_EQ(manager_.responseDelegate(), nullptr);
    EXPECT_EQ(manager_.packetDelegate(), nullptr);
}

TEST_F(FacadeTest, MessagesReachTheWatchBehindTheirHeaderByte) {
    subscribe();
    ap_.sendData(Bytes{'h', 'i'}, 0, 1, true);
    settle();
    ap_.sendData(Bytes{'m', 'u'}, 1, 9, false);
    settle();
    ap_.sendData(Bytes{'n'}, 2, 7, true);
    settle();

    EXPECT_EQ(watchReceived(),
              (std::vector<Bytes>{{0x01, 'h', 'i'}, {0x49, 'm', 'u'}, {0x87, 'n'}}));
}

TEST_F(FacadeTest, DisconnectAsksTheWatchWithItsOwnMessage) {
    subscribe();
    ap_.disconnect();
    settle();

    EXPECT_EQ(watchReceived(), (std::vector<Bytes>{{0x7C, 0x3C}}));
    EXPECT_EQ(delegate_->disconnects, 0) << "the watch drops the link, not the phone";
}

TEST_F(FacadeTest, NothingIsSentWhileNotConnectedNorLaterForIt) {
    ap_.sendData(Bytes{'x'}, 1, 1, true);
    ap_.disconnect();
    settle();
    subscribe();
    settle();

    EXPECT_TRUE(watchReceived().empty());
}

TEST_F(FacadeTest, PriorityThreeBelongsToFileSegmentsOnly) {
    subscribe();
    ap_.sendData(Bytes{'x'}, 3, 3, true);
    settle();
    EXPECT_TRUE(watchReceived().empty());

    ap_.onSendDataRequest(Bytes{0x08}, 3, 3, true);
    settle();
    EXPECT_EQ(watchReceived(), (std::vector<Bytes>{{0xC3, 0x08}}));
}

TEST_F(FacadeTest, SendingFromAnyThreadGoesOutOnTheLoop) {
    subscribe();
    std::thread sender([this] { ap_.sendData(Bytes{'t'}, 1, 4, true); });
    sender.join();
    EXPECT_TRUE(watchReceived().empty()) << "nothing leaves before the loop runs";
    settle();

    EXPECT_EQ(watchReceived(), (std::vector<Bytes>{{0x44, 't'}}));
}

TEST_F(FacadeTest, SendersOnOtherThreadsKeepTheirOrderAndHearOutcomesOnTheLoop) {
    constexpr int kThreads = 4;
    constexpr int kEach = 20;
    subscribe();
    std::atomic<int> acknowledgedOnLoop{0};
    std::atomic<int> otherwise{0};
    std::latch ready(kThreads);
    std::vector<std::thread> senders;
    for (int t = 0; t < kThreads; ++t) {
        senders.emplace_back([&, t] {
            ready.arrive_and_wait();
            for (int i = 0; i < kEach; ++i) {
                const Bytes body = {static_cast<std::uint8_t>(t), static_cast<std::uint8_t>(i)};
                ap_.sendData(body, 1, 2, true, [&](const TQSendOutcome& outcome) {
                    const bool expected =
                        loop_.isCurrent() && outcome == TQSendOutcome::acknowledged();
                    ++(expected ? acknowledgedOnLoop : otherwise);
                });
            }
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }
    EXPECT_TRUE(watchReceived().empty()) << "nothing is queued before the loop runs";
    settle();

    const auto received = watchReceived();
    ASSERT_EQ(received.size(), static_cast<std::size_t>(kThreads * kEach));
    std::vector<int> next(kThreads, 0);
    for (const Bytes& message : received) {
        ASSERT_EQ(message.size(), 3U);
        EXPECT_EQ(message[2], next.at(message[1])++) << "from thread " << int{message[1]};
    }
    EXPECT_EQ(acknowledgedOnLoop, kThreads * kEach);
    EXPECT_EQ(otherwise, 0);
}

TEST_F(FacadeTest, EveryMessageHearsItsOutcomeOnceLaterOnTheLoop) {
    using Reason = TQSendOutcome::DropReason;
    using Send = std::function<void(TQAP&, TQSendCompletion)>;
    struct Case {
        const char* name;
        bool connected;
        Send send;
        TQSendOutcome outcome;
    };
    const Case cases[] = {
        {"not connected", false,
         [](TQAP& ap, TQSendCompletion done) { ap.sendData(Bytes{'a'}, 1, 1, true, done); },
         TQSendOutcome::dropped(Reason::notConnected)},
        {"a file segment while not connected", false,
         [](TQAP& ap, TQSendCompletion done) { ap.onSendDataRequest(Bytes{8}, 3, 3, true, done); },
         TQSendOutcome::dropped(Reason::notConnected)},
        {"acknowledged", true,
         [](TQAP& ap, TQSendCompletion done) { ap.sendData(Bytes{'b'}, 1, 1, true, done); },
         TQSendOutcome::acknowledged()},
        {"unacknowledged", true,
         [](TQAP& ap, TQSendCompletion done) { ap.sendData(Bytes{'c'}, 2, 1, false, done); },
         TQSendOutcome::sentUnacknowledged()},
        {"priority 3 through sendData", true,
         [](TQAP& ap, TQSendCompletion done) { ap.sendData(Bytes{'d'}, 3, 3, true, done); },
         TQSendOutcome::dropped(Reason::reservedPriority)},
        {"a file segment", true,
         [](TQAP& ap, TQSendCompletion done) { ap.onSendDataRequest(Bytes{8}, 3, 3, true, done); },
         TQSendOutcome::acknowledged()},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (c.connected && !ap_.isConnected()) {
            subscribe();
        }
        std::vector<TQSendOutcome> heard;
        bool offLoop = false;
        c.send(ap_, [&](const TQSendOutcome& outcome) {
            offLoop = offLoop || !loop_.isCurrent();
            heard.push_back(outcome);
        });
        EXPECT_TRUE(heard.empty()) << "never from inside the call";
        settle();
        loop_.advance(10);
        EXPECT_EQ(heard, std::vector<TQSendOutcome>{c.outcome});
        EXPECT_FALSE(offLoop);
    }
}

TEST_F(FacadeTest, AFacadeGoneBeforeAnOutcomeIsDueCallsNoCompletion) {
    int heard = 0;
    {
        TQAP other(manager_, loop_, defaults_);
        other.sendData(Bytes{'x'}, 1, 1, true, [&](const TQSendOutcome&) { ++heard; });
    }
    settle();
    EXPECT_EQ(heard, 0);
}

// Holds each acknowledged message in the protocol for a while, so others queue behind it.
class SlowLinkFacadeTest : public FacadeTest {
protected:
    SlowLinkFacadeTest() : FacadeTest(LinkConditions{.latency = 0.1}) {}

    std::vector<std::uint8_t> headersReceived() const {
        std::vector<std::uint8_t> headers;
        for (const auto& message : watchReceived()) {
            headers.push_back(message.at(0));
        }
        return headers;
    }
};

TEST_F(SlowLinkFacadeTest, WaitingMessagesGoOutByPriorityButNeverOvertakeTheOneInFlight) {
    subscribe();
    ap_.sendData(Bytes{'f'}, 2, 1, true);
    settle();
    ap_.sendData(Bytes{'2'}, 2, 1, true);
    ap_.sendData(Bytes{'1'}, 1, 1, true);
    ap_.sendData(Bytes{'0'}, 0, 1, true);
    ap_.onSendDataRequest(Bytes{'s'}, 3, 5, false);
    ap_.sendData(Bytes{'b'}, 1, 1, true);
    settle();
    loop_.advance(10);

    EXPECT_EQ(watchReceived(),
              (std::vector<Bytes>{
                  {0x81, 'f'}, {0x01, '0'}, {0x41, '1'}, {0x41, 'b'}, {0x81, '2'}, {0xC5, 's'}}));
}

TEST_F(SlowLinkFacadeTest, AHandshakeMessageInTheProtocolDoesNotLetASecondQueuedMessageIn) {
    subscribe();
    ap_.sendData(Bytes{'A'}, 1, 1, true);
    settle();
    // The record goes to the protocol behind A; B and C wait in the queue.
    ap_.sendBAPData(bapRecord(TQAP::kBAPResponse));
    ap_.sendData(Bytes{'B'}, 2, 1, true);
    ap_.sendData(Bytes{'C'}, 2, 1, true);
    // A completes at 0.2 and B starts; the record completes at 0.4, while B is still in flight.
    loop_.advance(0.5);
    ap_.sendData(Bytes{'D'}, 0, 1, true);
    loop_.advance(10);

    EXPECT_EQ(headersReceived(),
              (std::vector<std::uint8_t>{0x41, TQAP::kBAPResponse, 0x81, 0x01, 0x81}));
    EXPECT_EQ(watchReceived().at(3), (Bytes{0x01, 'D'})) << "D overtakes C, which still waits";
}

TEST_F(SlowLinkFacadeTest, AnUnacknowledgedMessagePassingAHandshakeRecordHearsItsOwnOutcome) {
    subscribe();
    ap_.sendBAPData(bapRecord(TQAP::kBAPResponse));
    std::vector<TQSendOutcome> heard;
    ap_.sendData(Bytes{'u'}, 1, 1, false,
                 [&heard](const TQSendOutcome& outcome) { heard.push_back(outcome); });
    settle();
    const std::vector<TQSendOutcome> sent = {TQSendOutcome::sentUnacknowledged()};
    EXPECT_EQ(heard, sent) << "gone out while the record waits for its acknowledgement";

    loop_.advance(10);
    EXPECT_EQ(heard, sent);
    ap_.sendData(Bytes{'n'}, 1, 1, true);
    loop_.advance(10);
    EXPECT_EQ(headersReceived(), (std::vector<std::uint8_t>{TQAP::kBAPResponse, 0x41, 0x41}))
        << "the queue goes on";
}

TEST_F(SlowLinkFacadeTest, LinkLossDropsWaitingMessagesAndTheNextConnectionSendsNormally) {
    subscribe();
    ap_.sendData(Bytes{'f'}, 1, 1, true);
    settle();
    ap_.sendData(Bytes{'w', '1'}, 1, 1, true);
    ap_.sendData(Bytes{'w', '2'}, 0, 1, true);
    settle();

    unsubscribe();
    EXPECT_EQ(delegate_->disconnects, 1);
    loop_.advance(10);

    subscribe();
    ap_.sendData(Bytes{'n'}, 1, 1, true);
    loop_.advance(10);

    EXPECT_EQ(watchReceived(), (std::vector<Bytes>{{0x41, 'n'}}))
        << "the message in flight went with the link; the waiting ones were dropped";
}

TEST_F(SlowLinkFacadeTest, LinkLossDropsTheMessageInFlightAndTheWaitingOnesInTheirOrder) {
    subscribe();
    std::vector<std::pair<char, TQSendOutcome>> heard;
    const auto record = [&heard](char tag) {
        return [&heard, tag](const TQSendOutcome& outcome) { heard.emplace_back(tag, outcome); };
    };
    ap_.sendData(Bytes{'f'}, 1, 1, true, record('f'));
    settle();
    ap_.sendData(Bytes{'u'}, 1, 1, false, record('u'));
    ap_.onSendDataRequest(Bytes{'s'}, 3, 5, true, record('s'));
    ap_.sendData(Bytes{'w'}, 0, 1, true, record('w'));
    settle();

    unsubscribe();
    loop_.advance(10);
    const auto disconnected = TQSendOutcome::dropped(TQSendOutcome::DropReason::disconnected);
    EXPECT_EQ(
        heard,
        (std::vector<std::pair<char, TQSendOutcome>>{
            {'f', disconnected}, {'w', disconnected}, {'u', disconnected}, {'s', disconnected}}));
}

TEST_F(FacadeTest, LinkLossPausesTheFileTransferBeforeTellingTheDelegate) {
    RecordingFileHandler& files = installFileHandler();
    subscribe();
    unsubscribe();

    EXPECT_EQ(files.calls, std::vector<std::string>{"pauseFileSend"});
    EXPECT_EQ(delegate_->disconnects, 1);
}

TEST_F(FacadeTest, RoutedMessagesAreRoutedByHeaderByte) {
    struct Case {
        Bytes message;
        std::vector<RoutedMessage> toFileHandler;
        std::vector<RoutedMessage> toDelegate;
        std::vector<std::uint8_t> watchRepliesWith;  // header bytes of the phone's answers
    };
    const Case cases[] = {
        {{0xC3, 0x00, 0x01}, {{3, {0x00, 0x01}}}, {}, {}},
        {{0x41, '{', '}'}, {}, {{1, {'{', '}'}}}, {}},
        {{0x49}, {}, {{9, {}}}, {}},
        {{0x8A, 'x'}, {}, {{10, {'x'}}}, {}},
        // Identifier 0 is the handshake's, whatever the priority bits: a reject from the
        // watch, then a request, each answered by the phone.
        {{0xC0}, {}, {}, {0x7C}},
        {bapRecord(0x00, "Kavo R5 (1A2B)"), {}, {}, {TQAP::kBAPResponse}},
    };
    subscribe();
    for (const Case& c : cases) {
        RecordingFileHandler& files = installFileHandler();
        auto delegate = std::make_shared<RecordingAPDelegate>();
        ap_.setDelegate(delegate);
        const std::size_t before = watchReceived().size();
        watch_.send(c.message);
        settle();

        std::vector<std::uint8_t> replies;
        for (std::size_t i = before; i < watchReceived().size(); ++i) {
            replies.push_back(watchReceived()[i].at(0));
        }
        const auto header = static_cast<int>(c.message.at(0));
        EXPECT_EQ(files.segments, c.toFileHandler) << "header " << header;
        EXPECT_EQ(delegate->messages, c.toDelegate) << "header " << header;
        EXPECT_EQ(replies, c.watchRepliesWith) << "header " << header;
    }
}

TEST_F(FacadeTest, AnEmptyMessageOrAFileSegmentWithoutFileHandlerIsDropped) {
    subscribe();
    ap_.onDataReceiveCompleted({});
    watch_.send({0xC3, 0x01});
    settle();

    EXPECT_TRUE(delegate_->messages.empty());
    EXPECT_TRUE(watchReceived().empty());
}

TEST_F(FacadeTest, ManagerEventsReachTheDelegateWhileOneIsSet) {
    manager_.responseDelegate()->onBleManagerStateChange(true);
    manager_.responseDelegate()->onError(TQError(4, "four"));
    manager_.responseDelegate()->autoConnectionInProgress();
    manager_.responseDelegate()->onPeripheralDiscovered({});
    manager_.responseDelegate()->onConnect();
    EXPECT_EQ(delegate_->states, std::vector<bool>{true});
    EXPECT_EQ(delegate_->errors, std::vector<std::int64_t>{4});
    EXPECT_EQ(delegate_->autoConnections, 1);
    EXPECT_EQ(delegate_->discovered.size(), 1U);
    EXPECT_EQ(delegate_->connects, 1) << "a restored link connects without a handshake";

    ap_.setDelegate(nullptr);
    manager_.responseDelegate()->onConnect();
    manager_.responseDelegate()->onDisconnect();
    EXPECT_EQ(delegate_->connects, 1);
    EXPECT_EQ(delegate_->disconnects, 0);
}

TEST_F(FacadeTest, ConnectingIsLeftAloneWhileAWatchIsConnected) {
    KnownWatch watch(loop_);
    ap_.connectDevice(watch.peripheral());
    EXPECT_EQ(manager_.connectRequests.size(), 1U);

    subscribe();
    ap_.connectDevice(watch.peripheral());
    EXPECT_EQ(manager_.connectRequests.size(), 1U);
}

TEST_F(FacadeTest, EchoIsAPingStraightToTheManager) {
    subscribe();
    ap_.sendEcho();

    ASSERT_EQ(manager_.rawPackets.size(), 1U);
    EXPECT_EQ(manager_.rawPackets[0].size(), TQProtocol::kControlPacketSize);
    EXPECT_EQ(manager_.rawPackets[0][0], 0x91);
}

TEST_F(FacadeTest, AFileWhileDisconnectedFailsWithErrorNine) {
    RecordingFileHandler& files = installFileHandler();
    bool eventCalled = false;
    ap_.sendFile(Bytes{1, 2, 3}, "a.bin", 1,
                 [&](int, const platform::Value&) { eventCalled = true; });
    settle();

    EXPECT_EQ(fileDelegate_->errors,
              (std::vector<std::pair<std::int64_t, std::string>>{{9, "Bluetooth not connected"}}));
    EXPECT_FALSE(eventCalled);
    EXPECT_TRUE(files.files.empty());
}

TEST_F(FacadeTest, FileCallsGoToTheFileHandlerWhenThereIsOne) {
    subscribe();
    // None yet: nothing happens, and nothing fails.
    ap_.sendFile(Bytes{1}, "early.bin", 1, nullptr);
    ap_.acceptFile();

    RecordingFileHandler& files = installFileHandler();
    ap_.sendFile(Bytes{1, 2}, "a.bin", 3, [](int, const platform::Value&) {});
    ap_.acceptFile();
    ap_.rejectFile();
    ap_.cancelFile();
    ap_.resumeFileRequest();
    ap_.resumeFileAccept();
    ap_.resumeFileReject();
    ap_.resetFileHandler();

    ASSERT_EQ(files.files.size(), 1U);
    EXPECT_EQ(files.files[0].data, (Bytes{1, 2}));
    EXPECT_EQ(files.files[0].name, "a.bin");
    EXPECT_EQ(files.files[0].appId, 3U);
    EXPECT_TRUE(files.files[0].hasEvent);
    EXPECT_EQ(files.calls,
              (std::vector<std::string>{"acceptFile", "rejectFile", "cancelFile", "resumeRequest",
                                        "resumeAccept", "resumeReject", "resetFileHandler"}));
    EXPECT_TRUE(fileDelegate_->errors.empty());
}

}  // namespace
}  // namespace link_test
