#pragma once

#include <cstdint>
#include <functional>

#include "link/support/LinkPeer.h"
#include "link/support/MemoryLink.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "support/TempDir.h"

namespace link_test {

// Phone and stand-in peer, each a LinkPeer, on one MemoryLink, in a world of their own: user
// defaults in a fresh folder and a virtual main run loop, both put back afterwards.
class LinkWorld {
public:
    LinkWorld(std::uint64_t seed, const LinkConditions& conditions);
    ~LinkWorld();
    LinkWorld(const LinkWorld&) = delete;
    LinkWorld& operator=(const LinkWorld&) = delete;

    platform::RunLoop& loop() { return loop_; }
    MemoryLink& link() { return link_; }
    LinkPeer& phone() { return phone_; }
    LinkPeer& peer() { return peer_; }

    // Moves the clock on in steps until done() holds or `limit` seconds have passed; tells
    // whether done() holds.
    bool runUntil(const std::function<bool()>& done, double limit, double step = 1.0);

private:
    testing_support::TempDir folder_;
    platform::UserDefaults defaults_;
    platform::UserDefaults* previousDefaults_;
    platform::RunLoop loop_{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop_{loop_};
    MemoryLink link_;
    LinkPeer phone_{link_.phone()};
    LinkPeer peer_{link_.peer()};
};

}  // namespace link_test
