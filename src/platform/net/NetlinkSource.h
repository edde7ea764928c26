#pragma once

#include <functional>
#include <mutex>
#include <optional>

#include "platform/foundation/Result.h"
#include "platform/net/NetworkTypes.h"

namespace platform::net {

// Where the network's links, addresses and default routes come from.
class NetlinkSource {
public:
    // Called with each batch of changes, on the source's own thread.
    using Sink = std::function<void(NetEvents)>;

    virtual ~NetlinkSource() = default;

    // Starts listening for changes, then gives what is there now. Changes made while the
    // picture is taken may come again through sink; applying them again changes nothing.
    virtual Result<NetEvents> open(Sink sink) = 0;
    // sink is not called once this returns.
    virtual void close() = 0;
};

// A source driven by a test: gives the picture it was set up with and passes on the changes
// pushed to it, on the pushing thread.
class ScriptedNetlinkSource final : public NetlinkSource {
public:
    void setPicture(NetEvents picture) { picture_ = std::move(picture); }
    void failOpening(Error error) { failure_ = std::move(error); }

    // False when nobody listens.
    bool push(NetEvents events);
    [[nodiscard]] bool isOpen() const;
    [[nodiscard]] int openCount() const { return opened_; }

    Result<NetEvents> open(Sink sink) override;
    void close() override;

private:
    NetEvents picture_;
    std::optional<Error> failure_;
    mutable std::mutex mutex_;
    Sink sink_;
    int opened_ = 0;
};

}  // namespace platform::net
