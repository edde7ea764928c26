#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "listener/handlers/TQWebProxyHandler.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/net/ProxyDestinations.h"
#include "platform/net/ProxySockets.h"

class TQWebProxyTransactions;

// The watch's road to the internet. Frames from the watch are handed to the sockets' I/O
// thread, which owns every connection and the transaction table; the frames for the watch come
// back to the run loop and leave through the facade that came with the latest frame, with
// priority 1 on identifier 6 and without acknowledgement. Every connection of the watch (the
// core manager's connect and disconnect notifications) starts the proxy afresh: transaction
// identifiers mean nothing across links. Lives on its run loop.
class TQWebProxyURL final : public TQWebProxyHandler {
public:
    static constexpr std::uint32_t kAppId = 6;
    static constexpr std::uint32_t kPriority = 1;
    // The user setting that lets the watch reach the phone's loopback (servers of tests and of
    // scripts/run); without it loopback is refused like the other local addresses.
    static constexpr const char* kAllowLoopbackKey = "kavo.webproxy.allowLoopback";

    // Where the user settings let the proxy connect.
    [[nodiscard]] static platform::net::ProxyDestinations destinations(
        const platform::UserDefaults& defaults);

    TQWebProxyURL(platform::RunLoop& loop, platform::NotificationCenter& center,
                  std::unique_ptr<platform::net::ProxySockets> sockets);
    // Stops the I/O thread and closes every connection, telling the watch nothing more.
    ~TQWebProxyURL() override;
    TQWebProxyURL(const TQWebProxyURL&) = delete;
    TQWebProxyURL& operator=(const TQWebProxyURL&) = delete;

    // The facade must outlive the proxy.
    void prepareForADPURequest(std::span<const std::uint8_t> frame, TQAP& ap) override;

private:
    void linkChanged();
    void sendToWatch(const platform::Bytes& frame, std::uint64_t link);

    platform::RunLoop& loop_;
    platform::NotificationCenter& center_;
    TQAP* kavoManager_ = nullptr;
    // Counts the links, on the loop; frames made for an earlier one are not sent.
    std::uint64_t link_ = 0;
    // The link the transactions serve, on the sockets' thread.
    std::uint64_t ioLink_ = 0;
    std::unique_ptr<TQWebProxyTransactions> transactions_;
    std::unique_ptr<platform::net::ProxySockets> sockets_;
    platform::WeakPtrFactory<TQWebProxyURL> weak_{*this, loop_};
};
