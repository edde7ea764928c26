#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "TQBleFixture.h"
#include "link/TQPeripheral.h"
#include "platform/bluetooth/socket/SocketAir.h"
#include "support/RawAirPeer.h"

namespace {

using namespace ble_test;
using testing_support::airFrame;
using testing_support::RawPeer;

// The phone's peripheral role on the local-socket air, and a watch written by hand that puts
// two packets on the socket in one write.
TEST(TQPeripheralOnTheSocketAirTest, PacketsWrittenBackToBackArriveAsTwoPackets) {
    // The world's defaults, notification centre, host and loop; its simulated air stays idle.
    BleWorld world;
    platform::RunLoop& loop = world.loop;
    const auto folder = world.folder.path() / "air";
    SocketAir air{folder};
    Adapter phone{air.attach(kPhone).value(), loop};
    RecordingConnectDelegate recorder;
    TQPeripheral peripheral(phone);
    peripheral.setDelegate(&recorder);
    loop.runUntilIdle();
    loop.advance(TQPeripheral::kAddServiceRetryDelay + 0.1);
    ASSERT_TRUE(peripheral.isServiceAdded());

    const Bytes first{0x40, 0x01, 0xAA, 0xBB};
    const Bytes second{0x40, 0x02, 0xCC};
    std::atomic<bool> finished{false};
    std::thread watch([&] {
        [&] {
            RawPeer peer(folder / (kPhone.toLongString() + ".sock"));
            ASSERT_TRUE(peer.greet(kWatch));
            peer.sendFrame({0x12, 0x04, 0x00, 0x01, 0x00});  // subscribe to handle 3
            ASSERT_EQ(peer.readFrame(), Bytes{0x13});
            Bytes both;
            for (const Bytes& packet : {first, second}) {
                Bytes command{0x52, 0x06, 0x00};  // write command to handle 6
                command.insert(command.end(), packet.begin(), packet.end());
                const Bytes framed = airFrame(command);
                both.insert(both.end(), framed.begin(), framed.end());
            }
            peer.send(both);
            // Answered after everything before it was handed up: a read of the address.
            peer.sendFrame({0x0A, 0x08, 0x00});
            const auto answer = peer.readFrame();
            ASSERT_TRUE(answer);
            EXPECT_EQ((*answer)[0], 0x01);
        }();
        finished.store(true);
        loop.post([] {});
    });
    loop.runUntil([&] { return finished.load(); });
    watch.join();
    EXPECT_EQ(recorder.received, (std::vector<Bytes>{first, second}));
}

}  // namespace
