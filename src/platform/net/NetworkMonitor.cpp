#include "platform/net/NetworkMonitor.h"

#include <algorithm>
#include <utility>

#include "platform/foundation/LogSink.h"
#include "platform/foundation/LoopThread.h"
#include "platform/net/NetlinkSocketSource.h"

namespace platform::net {

NetworkMonitor::NetworkMonitor(RunLoop& loop, std::unique_ptr<NetlinkSource> source)
    : loop_(loop), source_(std::move(source)), weakFactory_(*this, loop) {}

NetworkMonitor::~NetworkMonitor() {
    stop();
}

Result<void> NetworkMonitor::start() {
    assertOnLoopThread(loop_);
    if (running_) {
        return {};
    }
    auto picture = source_->open([loop = &loop_, weak = weakFactory_.weakPtr()](NetEvents events) {
        loop->post([weak, events = std::move(events)] {
            if (NetworkMonitor* monitor = weak.get(); monitor != nullptr && monitor->running_) {
                monitor->apply(events);
            }
        });
    });
    if (!picture) {
        PLATFORM_LOG_ERROR("network monitor: cannot watch the network: ", picture.error().message);
        return picture.error();
    }
    running_ = true;
    // After a stop, the picture may differ from what observers last heard.
    apply(*picture);
    return {};
}

void NetworkMonitor::stop() {
    if (running_) {
        source_->close();
        running_ = false;
    }
}

NetworkMonitor::Token NetworkMonitor::addObserver(std::function<void()> observer) {
    assertOnLoopThread(loop_);
    const Token token = nextToken_++;
    observers_.emplace_back(token, std::make_shared<std::function<void()>>(std::move(observer)));
    return token;
}

void NetworkMonitor::removeObserver(Token token) {
    std::erase_if(observers_, [token](const auto& entry) { return entry.first == token; });
}

void NetworkMonitor::apply(const NetEvents& events) {
    for (const NetEvent& event : events) {
        state_.apply(event);
    }
    // An observer may remove itself or others while they are told.
    const auto told = observers_;
    for (const auto& [token, observer] : told) {
        const bool stillThere =
            std::any_of(observers_.begin(), observers_.end(),
                        [&token = token](const auto& entry) { return entry.first == token; });
        if (stillThere) {
            (*observer)();
        }
    }
}

NetworkMonitor& NetworkMonitor::current() {
    return installedOr([]() -> NetworkMonitor& {
        static NetworkMonitor machine(RunLoop::main(), std::make_unique<NetlinkSocketSource>());
        return machine;
    });
}

}  // namespace platform::net
