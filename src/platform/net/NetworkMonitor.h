#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/net/NetlinkSource.h"
#include "platform/net/NetworkState.h"

namespace platform::net {

// The one watcher of the network: keeps the picture its source gives on its run loop and
// tells its observers there after each batch of changes. Everything but construction is
// called on the loop's thread.
class NetworkMonitor : public Replaceable<NetworkMonitor> {
public:
    using Token = std::uint64_t;

    NetworkMonitor(RunLoop& loop, std::unique_ptr<NetlinkSource> source);
    ~NetworkMonitor();
    NetworkMonitor(const NetworkMonitor&) = delete;
    NetworkMonitor& operator=(const NetworkMonitor&) = delete;

    // Takes the picture now and listens for changes; once started, does nothing. A source that
    // cannot open is reported here, and again by each later call.
    Result<void> start();
    void stop();
    [[nodiscard]] bool isRunning() const { return running_; }

    [[nodiscard]] const NetworkState& state() const { return state_; }
    [[nodiscard]] RunLoop& loop() const { return loop_; }

    // observer runs on the loop after each batch of changes.
    Token addObserver(std::function<void()> observer);
    void removeObserver(Token token);

    // The installed monitor, else one over the kernel's routing socket on the main run loop,
    // made on first use and started by its first reader.
    static NetworkMonitor& current();

private:
    void apply(const NetEvents& events);

    RunLoop& loop_;
    std::unique_ptr<NetlinkSource> source_;
    NetworkState state_;
    bool running_ = false;
    std::vector<std::pair<Token, std::shared_ptr<std::function<void()>>>> observers_;
    Token nextToken_ = 1;
    WeakPtrFactory<NetworkMonitor> weakFactory_;
};

}  // namespace platform::net
