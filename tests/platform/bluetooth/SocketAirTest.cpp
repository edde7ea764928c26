#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <filesystem>
#include <iterator>
#include <thread>

#include "BluetoothTestSupport.h"
#include "platform/bluetooth/sim/ScriptedCentral.h"
#include "platform/bluetooth/socket/SocketAir.h"
#include "platform/foundation/RunLoop.h"
#include "support/RawAirPeer.h"
#include "support/RecordingLogSink.h"
#include "support/TempDir.h"

namespace {

using namespace bluetooth_test;
using platform::RunLoop;
using platform::ScopedMainRunLoop;

const Uuid kPhone = *Uuid::parse("11111111-2222-4333-8444-555555555555");
const Uuid kWatch = *Uuid::parse("AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE");
const Uuid kStranger = *Uuid::parse("0F0F0F0F-1111-4222-8333-444444444444");

using testing_support::RawPeer;

Bytes greeting(const Uuid& self) {
    return testing_support::airGreeting(self);
}

// Entries of a folder of /proc: the process's open descriptors or its threads.
std::size_t countEntries(const char* folder) {
    const std::filesystem::directory_iterator entries(folder);
    return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

class SocketAirTest : public ::testing::Test {
protected:
    explicit SocketAirTest(double greetingTimeout = 5.0)
        : air(dir.path(), SocketAirOptions{.retryInterval = 0.02,
                                           .scanInterval = 0.02,
                                           .greetingTimeout = greetingTimeout}) {
        loop.runUntilIdle();
        peripheral->addService(linkService());
        waitFor([&] { return !server.added.empty(); });
    }

    std::unique_ptr<Radio> radio(const Uuid& identifier) {
        auto attached = air.attach(identifier);
        EXPECT_TRUE(attached) << (attached ? "" : attached.error().message);
        return std::move(attached).value();
    }
    std::filesystem::path socketOf(const Uuid& device) const {
        return dir.path() / (device.toLongString() + ".sock");
    }
    void waitFor(const std::function<bool()>& done) { loop.runUntil(done); }
    // As waitFor, but gives up after a generous while; tells whether done() holds.
    bool waitAtMost(double seconds, const std::function<bool()>& done) {
        bool expired = false;
        const auto timer = loop.scheduleTimer(seconds, false, [&] { expired = true; });
        loop.runUntil([&] { return expired || done(); });
        timer->invalidate();
        return done();
    }

    // Runs a hand-written peer on a thread of its own while the loop serves it.
    void runPeer(const std::function<void()>& script) {
        std::atomic<bool> finished{false};
        std::thread peer([&] {
            script();
            finished.store(true);
            loop.post([] {});  // wakes the loop to notice
        });
        waitFor([&] { return finished.load(); });
        peer.join();
    }

    void connectAndSubscribeWatch() {
        watch.connect(kPhone);
        waitFor([&] { return watch.isDiscovered(); });
        ASSERT_TRUE(watch.subscribe(kNotify));
        waitFor([&] { return !server.subscribed.empty(); });
    }

    testing_support::TempDir dir;
    std::shared_ptr<testing_support::RecordingLogSink> log =
        std::make_shared<testing_support::RecordingLogSink>();
    testing_support::ScopedLogSink installLog{log};
    RunLoop loop{RunLoop::Clock::real};
    ScopedMainRunLoop scoped{loop};
    SocketAir air;
    ScriptedCentral phone{radio(kPhone), loop};
    ScriptedCentral watch{radio(kWatch), loop};
    PeripheralRecorder server;
    std::unique_ptr<PeripheralManager> peripheral =
        std::make_unique<PeripheralManager>(phone.adapter(), &server);
};

TEST_F(SocketAirTest, AdvertiseScanConnectDiscoverSubscribeWriteNotifyRead) {
    PeripheralRecorder watchSide;
    PeripheralManager advertiser(watch.adapter(), &watchSide);
    AdvertisementData data = watchAdvertisement();
    data.solicitedServiceUuids = {Uuid::fromShort(0x1812)};
    advertiser.startAdvertising(data);
    EXPECT_TRUE(std::filesystem::exists(dir.path() / (kWatch.toLongString() + ".adv")));
    phone.scan();
    waitFor([&] { return phone.discoveries().contains(kWatch); });
    EXPECT_EQ(phone.discoveries().at(kWatch).data, data);
    EXPECT_EQ(phone.discoveries().at(kWatch).rssi, -50);

    connectAndSubscribeWatch();
    EXPECT_EQ(server.subscribed[0].first.identifier, kWatch);
    EXPECT_EQ(server.subscribed[0].second, kNotify);
    const Central central = server.subscribed[0].first;
    EXPECT_EQ(central.maximumUpdateValueLength, 514u);

    for (std::uint8_t n = 1; n <= 3; ++n) {
        ASSERT_EQ(peripheral->updateValue(Bytes(152, n), kNotify, central), UpdateResult::accepted);
    }
    waitFor([&] { return watch.notifications().size() == 3; });
    EXPECT_EQ(watch.notifications()[2], Bytes(152, 3));

    for (std::uint8_t n = 1; n <= 3; ++n) {
        ASSERT_TRUE(watch.write(kWrite, Bytes{n}, WriteType::withoutResponse));
    }
    ASSERT_TRUE(watch.write(kWrite, Bytes{4}, WriteType::withResponse));
    waitFor([&] { return watch.writeResults().size() == 1; });
    EXPECT_EQ(server.writtenValues(), (std::vector<Bytes>{{1}, {2}, {3}, {4}}));
    EXPECT_FALSE(watch.writeResults()[0]);

    server.readValue = Bytes{'1', 'A', '2', 'B'};
    ASSERT_TRUE(watch.read(kAddress));
    waitFor([&] { return !watch.reads().empty(); });
    EXPECT_EQ(watch.reads()[0].value(), server.readValue);

    ASSERT_TRUE(watch.subscribe(kNotify, false));
    waitFor([&] { return !server.unsubscribed.empty(); });
    watch.disconnect();
    waitFor([&] { return !server.disconnected.empty(); });
    EXPECT_EQ(server.disconnected[0].identifier, kWatch);
}

TEST_F(SocketAirTest, PowerOffEndsLinksAndTheEndpointUntilPowerOn) {
    connectAndSubscribeWatch();
    peripheral->startAdvertising({.serviceUuids = {kService}});
    air.powerOff(kPhone);
    waitFor([&] { return !watch.disconnections().empty() && server.states.size() == 2; });
    ASSERT_TRUE(watch.disconnections()[0]);
    EXPECT_EQ(watch.disconnections()[0]->code,
              static_cast<long>(ErrorCode::peripheralDisconnected));
    EXPECT_EQ(server.states.back(), ManagerState::poweredOff);
    EXPECT_FALSE(std::filesystem::exists(socketOf(kPhone)));
    EXPECT_FALSE(std::filesystem::exists(dir.path() / (kPhone.toLongString() + ".adv")));

    // Connecting has no time-out: the attempt made while the phone is off completes later.
    watch.connect(kPhone);
    air.powerOn(kPhone);
    waitFor([&] { return server.states.size() == 3 && watch.isConnected(); });
    EXPECT_EQ(server.states.back(), ManagerState::poweredOn);
    EXPECT_TRUE(watch.connectFailures().empty());
}

TEST_F(SocketAirTest, ThePeerGoingAwayIsADisconnectionWithItsReason) {
    std::optional<ScriptedCentral> stranger;
    stranger.emplace(radio(kStranger), loop);
    phone.connect(kStranger);
    waitFor([&] { return phone.isConnected(); });
    stranger.reset();  // the other process ends
    waitFor([&] { return !phone.disconnections().empty(); });
    ASSERT_TRUE(phone.disconnections()[0]);
    EXPECT_EQ(phone.disconnections()[0]->code,
              static_cast<long>(ErrorCode::peripheralDisconnected));
}

TEST_F(SocketAirTest, NotificationsMeetBackPressureThenReady) {
    std::optional<RawPeer> peer;
    runPeer([&] {
        peer.emplace(socketOf(kPhone));
        ASSERT_TRUE(peer->greet(kStranger));
        peer->sendFrame({0x02, 0x05, 0x02});  // MTU 517
        EXPECT_EQ(peer->readFrame(), (Bytes{0x03, 0x05, 0x02}));
        peer->sendFrame({0x12, 0x04, 0x00, 0x01, 0x00});  // subscribe: handle 4 is the CCCD
        EXPECT_EQ(peer->readFrame(), Bytes{0x13});
    });
    waitFor([&] { return !server.subscribed.empty(); });
    const Central central = server.subscribed[0].first;
    EXPECT_EQ(central.identifier, kStranger);

    // The peer reads nothing, so the socket and then the transmit queue fill up.
    int accepted = 0;
    while (peripheral->updateValue(Bytes(514, 0x5A), kNotify, central) == UpdateResult::accepted) {
        ++accepted;
        ASSERT_LT(accepted, 100000);
    }
    EXPECT_EQ(server.ready, 0);
    std::atomic<int> received{0};
    std::thread reader([&] {
        for (int i = 0; i < accepted; ++i) {
            const auto pdu = peer->readFrame();
            ASSERT_TRUE(pdu);
            ASSERT_EQ(pdu->size(), 517u);
            ASSERT_EQ((*pdu)[0], 0x1B);
            received.fetch_add(1);
        }
    });
    waitFor([&] { return server.ready == 1; });
    reader.join();
    EXPECT_EQ(received.load(), accepted);
    EXPECT_EQ(peripheral->updateValue(Bytes(514, 0x5A), kNotify, central), UpdateResult::accepted);
}

TEST_F(SocketAirTest, MalformedPeersAreDroppedAndTheListenerKeepsServing) {
    struct Case {
        const char* what;
        std::function<void(RawPeer&)> send;
        const char* logged;
    };
    const Case cases[] = {
        {"garbage instead of a greeting",
         [](RawPeer& peer) {
             peer.send({'G', 'E', 'T', ' ', '/', '\r', '\n', 0, 0, 0});
         },
         "a first frame that is no greeting"},
        {"a greeting of the wrong kind",
         [](RawPeer& peer) {
             Bytes bad = greeting(kStranger);
             bad[0] = 'X';
             peer.sendFrame(bad);
         },
         "a bad greeting"},
        {"a frame longer than any MTU",
         [](RawPeer& peer) {
             ASSERT_TRUE(peer.greet(kStranger));
             peer.send({0xFF, 0xFF, 0x0A});
         },
         "frame length out of bounds"},
        {"an empty frame",
         [](RawPeer& peer) {
             ASSERT_TRUE(peer.greet(kStranger));
             peer.send({0x00, 0x00});
         },
         "frame length out of bounds"},
        {"a PDU longer than the MTU in use",
         [](RawPeer& peer) {
             ASSERT_TRUE(peer.greet(kStranger));
             Bytes write{0x52, 0x06, 0x00};
             write.resize(30, 0x11);
             peer.sendFrame(write);
         },
         "exceeds the MTU of 23"},
        {"a truncated PDU",
         [](RawPeer& peer) {
             ASSERT_TRUE(peer.greet(kStranger));
             peer.sendFrame({0x0A, 0x03});
         },
         "malformed PDU 0x0A"},
        {"a response from the client",
         [](RawPeer& peer) {
             ASSERT_TRUE(peer.greet(kStranger));
             peer.sendFrame({0x13});
         },
         "unexpected PDU 0x13"},
    };
    for (const Case& c : cases) {
        runPeer([&] {
            RawPeer peer(socketOf(kPhone));
            ASSERT_TRUE(peer.connected());
            c.send(peer);
            EXPECT_TRUE(peer.closedByPeer()) << c.what;
        });
        EXPECT_TRUE(log->contains(c.logged)) << c.what;
    }

    // A frame cut short by the end of the connection is reported as such.
    runPeer([&] {
        RawPeer peer(socketOf(kPhone));
        ASSERT_TRUE(peer.greet(kStranger));
        peer.send({0x10, 0x00, 0x0A});
        peer.shutdownWrites();
        EXPECT_TRUE(peer.closedByPeer());
    });
    EXPECT_TRUE(log->contains("truncated frame"));

    // None of it did harm: a proper central is served as before.
    connectAndSubscribeWatch();
    EXPECT_EQ(server.subscribed[0].first.identifier, kWatch);
}

TEST_F(SocketAirTest, AConnectionToAPeerThatGreetsWronglyFails) {
    const Uuid impostor = *Uuid::parse("12345678-1234-4234-8234-123456789ABC");
    const int listener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string path = socketOf(impostor).string();
    std::copy(path.begin(), path.end(), address.sun_path);
    ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ASSERT_EQ(::listen(listener, 1), 0);
    std::thread impostorThread([&] {
        RawPeer peer(::accept(listener, nullptr, nullptr));
        EXPECT_TRUE(peer.readFrame());
        peer.sendFrame(greeting(kStranger));  // greets as somebody else
        EXPECT_TRUE(peer.closedByPeer());
    });
    phone.connect(impostor);
    waitFor([&] { return !phone.connectFailures().empty(); });
    impostorThread.join();
    ::close(listener);
    EXPECT_EQ(phone.connectFailures()[0].code, static_cast<long>(ErrorCode::connectionFailed));
    EXPECT_TRUE(log->contains("a greeting from another device"));
}

TEST_F(SocketAirTest, FramesThatArriveInOneReadAreDeliveredOneByOne) {
    std::optional<RawPeer> peer;
    runPeer([&] {
        peer.emplace(socketOf(kPhone));
        ASSERT_TRUE(peer->greet(kStranger));
        // Two write commands and a write request to the write characteristic (handle 6), in
        // one write(): the kernel hands them over in one piece.
        Bytes three = testing_support::airFrame({0x52, 0x06, 0x00, 0x40, 0x01});
        for (const Bytes& pdu :
             {Bytes{0x52, 0x06, 0x00, 0x40, 0x02}, Bytes{0x12, 0x06, 0x00, 0x03}}) {
            const Bytes framed = testing_support::airFrame(pdu);
            three.insert(three.end(), framed.begin(), framed.end());
        }
        peer->send(three);
        EXPECT_EQ(peer->readFrame(), Bytes{0x13});
    });
    ASSERT_EQ(server.batches.size(), 3u);
    for (const auto& batch : server.batches) {
        EXPECT_EQ(batch.size(), 1u);
    }
    EXPECT_EQ(server.writtenValues(), (std::vector<Bytes>{{0x40, 0x01}, {0x40, 0x02}, {0x03}}));
}

// Accepted peers get a short while to greet, so a test can watch one run out.
class SocketAirGreetingTest : public SocketAirTest {
protected:
    SocketAirGreetingTest() : SocketAirTest(0.2) {}
};

TEST_F(SocketAirGreetingTest, ASilentPeerIsDroppedAfterTheDeadlineAndBlocksNobody) {
    RawPeer silent(socketOf(kPhone));
    ASSERT_TRUE(silent.connected());
    silent.giveUpAfter(30);
    connectAndSubscribeWatch();
    EXPECT_EQ(server.subscribed[0].first.identifier, kWatch);
    runPeer([&] { EXPECT_TRUE(silent.closedByPeer()); });
    EXPECT_TRUE(log->contains("no greeting in time"));
    // The watch that greeted has no deadline.
    EXPECT_TRUE(watch.isConnected());
    EXPECT_TRUE(server.disconnected.empty());
}

TEST_F(SocketAirTest, AFloodOfConnectionsLeavesTheAirServingWithinBounds) {
    const std::size_t descriptorsBefore = countEntries("/proc/self/fd");
    const std::size_t threadsBefore = countEntries("/proc/self/task");
    std::vector<std::unique_ptr<RawPeer>> silent;
    std::size_t mostThreads = 0;
    runPeer([&] {
        for (int n = 0; n < 1000; ++n) {
            auto peer = std::make_unique<RawPeer>(socketOf(kPhone));
            ASSERT_TRUE(peer->connected());
            if (n % 2 == 0) {
                silent.push_back(std::move(peer));  // the others close at once
            }
            mostThreads = std::max(mostThreads, countEntries("/proc/self/task"));
        }
    });
    EXPECT_TRUE(log->contains("refusing connections: 16 peers have not greeted yet"));
    // At most 16 peers wait for a thread's attention, plus this test's peer thread and a few
    // link threads on their way out; each holds its socket and a wake-up descriptor.
    EXPECT_LE(mostThreads, threadsBefore + 2 * 16);
    EXPECT_LE(countEntries("/proc/self/fd"), descriptorsBefore + silent.size() + 4 * 16);

    silent.clear();
    EXPECT_TRUE(waitAtMost(30, [&] {
        return countEntries("/proc/self/fd") <= descriptorsBefore &&
               countEntries("/proc/self/task") <= threadsBefore;
    }));
    EXPECT_EQ(countEntries("/proc/self/fd"), descriptorsBefore);

    connectAndSubscribeWatch();
    EXPECT_EQ(server.subscribed[0].first.identifier, kWatch);
}

TEST_F(SocketAirTest, APeerThatReadsNoAnswersIsDropped) {
    runPeer([&] {
        RawPeer peer(socketOf(kPhone));
        peer.giveUpAfter(30);
        ASSERT_TRUE(peer.greet(kStranger));
        // Requests the server answers at once, and not one answer read: the socket fills up,
        // then the link's queue.
        const Bytes request = testing_support::airFrame({0x02, 0x17, 0x00});
        for (int n = 0; n < 100000 && peer.trySend(request); ++n) {
        }
        EXPECT_TRUE(peer.closedByPeer());
    });
    EXPECT_TRUE(log->contains("it reads nothing of what it is sent"));
    waitFor([&] { return !server.disconnected.empty(); });
    EXPECT_EQ(server.disconnected[0].identifier, kStranger);
}

// The links a radio reports, and nothing else.
class LinkRecorder final : public RadioClient {
public:
    void radioStateChanged(ManagerState /*state*/) override {}
    void advertisementReceived(const Uuid& /*advertiser*/, const AdvertisementData& /*data*/,
                               int /*rssi*/) override {}
    void linkOpened(LinkId link, const Uuid& /*peer*/, LinkRole /*role*/) override {
        opened.push_back(link);
    }
    void connectFailed(const Uuid& /*peer*/, const Error& /*reason*/) override {}
    void linkClosed(LinkId /*link*/, const Error& /*reason*/) override {}
    void pdusReceived(LinkId /*link*/, std::vector<Bytes> /*pdus*/) override {}
    void linkReady(LinkId /*link*/) override {}

    std::vector<LinkId> opened;
};

TEST_F(SocketAirTest, WhatCannotBeSentIsReportedNotSent) {
    LinkRecorder client;
    const std::unique_ptr<Radio> bare = radio(kStranger);
    bare->start(client, loop);
    std::optional<RawPeer> peer;
    runPeer([&] {
        peer.emplace(socketOf(kStranger));
        ASSERT_TRUE(peer->greet(kWatch));
    });
    waitFor([&] { return !client.opened.empty(); });
    const LinkId link = client.opened[0];

    struct Case {
        const char* what;
        LinkId link;
        Bytes pdu;
        bool flowControlled;
    };
    const Case cases[] = {
        {"a notification longer than any MTU", link, Bytes(518, 0x1B), true},
        {"a response longer than any MTU", link, Bytes(518, 0x0B), false},
        {"an empty PDU", link, Bytes{}, false},
        {"a link that is not there", link + 1, Bytes{0x13}, false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(bare->send(c.link, c.pdu, c.flowControlled), SendResult::refused) << c.what;
    }
    EXPECT_TRUE(log->contains("not sending a PDU of 518 bytes"));

    // Nothing of it reached the peer; what fits goes out as ever.
    const Bytes notification{0x1B, 0x03, 0x00, 0x2A};
    EXPECT_EQ(bare->send(link, notification, true), SendResult::queued);
    runPeer([&] { EXPECT_EQ(peer->readFrame(), notification); });
}

TEST(SocketAirAttachTest, ADeviceThatCannotOpenItsEndpointIsRefused) {
    testing_support::TempDir dir;
    // Longer than a Unix socket address can hold.
    const auto deep = dir.path() / std::string(120, 'a');
    std::filesystem::create_directories(deep);
    platform::bluetooth::SocketAir air(deep);
    const auto attached = air.attach(kStranger);
    ASSERT_FALSE(attached);
    // The refused device left nothing registered: a second try is refused for the same reason.
    const auto again = air.attach(kStranger);
    ASSERT_FALSE(again);
    EXPECT_EQ(again.error().message, attached.error().message);
}

// The two devices as two programs would run them: separate airs on one folder, separate loops
// on separate threads.
TEST(SocketAirThreadsTest, PhoneAndWatchOnTheirOwnLoops) {
    testing_support::TempDir dir;
    RunLoop phoneLoop(RunLoop::Clock::real);
    SocketAir phoneAir(dir.path());
    ScriptedCentral phone(phoneAir.attach(kPhone).value(), phoneLoop);
    PeripheralRecorder server;
    PeripheralManager peripheral(phone.adapter(), &server);
    phoneLoop.runUntilIdle();
    peripheral.addService(linkService());
    peripheral.startAdvertising({.serviceUuids = {kService}});

    RunLoop watchLoop(RunLoop::Clock::real);
    std::atomic<bool> echoed{false};
    std::thread watchThread([&] {
        SocketAir watchAir(dir.path());
        ScriptedCentral watch(watchAir.attach(kWatch).value(), watchLoop);
        bool subscribing = false;
        watch.setObserver([&] {
            if (watch.discoveries().contains(kPhone) && watch.peripheral() == nullptr) {
                watch.stopScan();
                watch.connect(kPhone);
            }
            if (watch.isDiscovered() && !subscribing) {
                subscribing = true;
                EXPECT_TRUE(watch.subscribe(kNotify));
            }
            if (!watch.notifications().empty() && !echoed.exchange(true)) {
                EXPECT_TRUE(
                    watch.write(kWrite, watch.notifications()[0], WriteType::withoutResponse));
            }
        });
        watch.scan();
        watchLoop.run();
    });

    phoneLoop.runUntil([&] { return !server.subscribed.empty(); });
    EXPECT_EQ(server.subscribed[0].first.identifier, kWatch);
    const Bytes ping{0x40, 'p', 'i', 'n', 'g'};
    ASSERT_EQ(peripheral.updateValue(ping, kNotify, server.subscribed[0].first),
              UpdateResult::accepted);
    phoneLoop.runUntil([&] { return !server.batches.empty(); });
    EXPECT_EQ(server.writtenValues(), std::vector<Bytes>{ping});
    watchLoop.stop();
    watchThread.join();
}

}  // namespace
