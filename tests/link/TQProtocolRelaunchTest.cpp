#include <gtest/gtest.h>

#include <vector>

#include "TQProtocolFixture.h"
#include "link/support/LinkWorld.h"
#include "platform/foundation/UserDefaults.h"

namespace link_test {
namespace {

constexpr const char* kStoredSet = "currentSendWindowSet";

// The defaults write "currentSendWindowSet" a while after it changes, so a crash can leave
// an older value on disk. The set alternates, so an older value is either the one in use
// (harmless) or the other one: as if the file were one window behind. The phone relaunches
// on such a file while the watch keeps its side of the link.
struct Case {
    const char* name;
    std::vector<std::size_t> before;  // compressed sizes of the messages sent before the crash
    std::vector<std::size_t> after;
    bool behind;  // the file holds the other set
};

TEST(TQProtocolRelaunchTest, AStoredSetOneWindowBehindCostsAtMostOneReset) {
    const Case cases[] = {
        {"up to date, one-packet messages", {100, 100}, {100, 100, 100}, false},
        {"behind, one-packet messages", {100, 100}, {100, 100, 100}, true},
        {"behind, a full window before", {100, 8 * 148}, {100, 100, 100}, true},
        {"behind, several windows after", {100}, {3000, 100, 100}, true},
        {"behind, nothing sent before", {}, {100, 100, 100}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        LinkWorld world(1, LinkConditions{});
        std::vector<Bytes> before;
        for (const std::size_t size : c.before) {
            before.push_back(messageCompressingTo(size));
            world.phone().send(before.back());
        }
        ASSERT_TRUE(world.runUntil([&] { return world.phone().idle(); }, 60));
        ASSERT_EQ(world.peer().received().size(), before.size());

        auto& defaults = platform::UserDefaults::standard();
        const int inUse = static_cast<int>(defaults.integer(kStoredSet).value_or(1));
        if (c.behind) {
            defaults.set(kStoredSet, inUse == 0 ? 1 : 0);
        }
        world.phone().relaunch();
        std::vector<Bytes> after;
        for (const std::size_t size : c.after) {
            after.push_back(messageCompressingTo(size));
            world.phone().send(after.back());
        }
        ASSERT_TRUE(world.runUntil([&] { return world.phone().idle(); }, 600));
        world.loop().advance(30);

        const std::size_t resets =
            world.phone().resetsReceived().size() + world.peer().resetsReceived().size();
        std::vector<Bytes> arrived;
        for (std::size_t i = before.size(); i < world.peer().received().size(); ++i) {
            arrived.push_back(world.peer().received()[i].data);
        }
        EXPECT_LE(resets, c.behind ? 1U : 0U);
        // At most the first message after the relaunch is lost; every later one arrives, in
        // order, once. Lost how depends on the windows: when the watch's repeated
        // acknowledgement of its last window does not fit the phone's window, the phone
        // retransmits until it resets; when it fits, the phone takes it for its own and the
        // message is gone without a reset.
        if (!c.behind) {
            EXPECT_EQ(arrived, after);
        } else if (arrived.size() != after.size()) {
            EXPECT_EQ(arrived, std::vector<Bytes>(after.begin() + 1, after.end()));
        } else {
            EXPECT_EQ(arrived, after);
        }
    }
}

}  // namespace
}  // namespace link_test
