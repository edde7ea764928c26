#pragma once

#include <sys/socket.h>

#include <memory>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/NetworkMonitor.h"

namespace testing_support {

// A network monitor over a scripted routing source on a virtual main loop, with a fresh
// notification centre: the network changes when the test says so.
class FakeNetwork {
public:
    using Event = platform::net::NetEvent;
    using Kind = platform::net::LinkKind;

    FakeNetwork() {
        auto source = std::make_unique<platform::net::ScriptedNetlinkSource>();
        source_ = source.get();
        monitor_ = std::make_unique<platform::net::NetworkMonitor>(loop_, std::move(source));
    }
    ~FakeNetwork() { monitor_.reset(); }

    static Event link(int index, Kind kind, bool up = true) {
        Event event;
        event.type = Event::Type::newLink;
        event.link = {index, "if" + std::to_string(index), kind, up};
        return event;
    }
    static Event removed(Event event) {
        using Type = Event::Type;
        event.type = event.type == Type::newLink      ? Type::delLink
                     : event.type == Type::newAddress ? Type::delAddress
                                                      : Type::delRoute;
        return event;
    }
    static Event defaultRoute(int index, int family = AF_INET, std::uint32_t priority = 0) {
        Event event;
        event.type = Event::Type::newRoute;
        event.route = {family, index, priority};
        return event;
    }
    static Event address(int index, platform::net::IPv4Address bytes, int prefixLength) {
        Event event;
        event.type = Event::Type::newAddress;
        event.address.linkIndex = index;
        event.address.family = AF_INET;
        std::copy(bytes.begin(), bytes.end(), event.address.bytes.begin());
        event.address.prefixLength = prefixLength;
        return event;
    }

    // The kernel's picture when the monitor starts.
    void setPicture(platform::net::NetEvents events) { source_->setPicture(std::move(events)); }
    // A change, as the source's thread would report it: it reaches the monitor through the loop.
    void change(platform::net::NetEvents events) {
        source_->push(std::move(events));
        loop_.runUntilIdle();
    }

    platform::RunLoop& loop() { return loop_; }
    platform::NotificationCenter& center() { return center_; }
    platform::net::ScriptedNetlinkSource& source() { return *source_; }
    platform::net::NetworkMonitor& monitor() { return *monitor_; }

private:
    platform::RunLoop loop_{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop main_{loop_};
    platform::NotificationCenter center_;
    platform::ScopedInstall<platform::NotificationCenter> installCenter_{&center_};
    platform::net::ScriptedNetlinkSource* source_ = nullptr;
    std::unique_ptr<platform::net::NetworkMonitor> monitor_;
};

}  // namespace testing_support
