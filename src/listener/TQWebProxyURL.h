#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "listener/handlers/TQWebProxyHandler.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/net/ProxySockets.h"

class TQWebProxyTransactions;

// The watch's road to the internet. Frames from the watch are handed to the sockets' I/O
// thread, which owns every connection and the transaction table; the frames for the watch come
// back to the run loop and leave through the facade that came with the latest frame, with
// priority 1 on identifier 6 and without acknowledgement. Lives on its run loop.
class TQWebProxyURL final : public TQWebProxyHandler {
public:
    static constexpr std::uint32_t kAppId = 6;
    static constexpr std::uint32_t kPriority = 1;

    TQWebProxyURL(platform::RunLoop& loop, std::unique_ptr<platform::net::ProxySockets> sockets);
    // Stops the I/O thread and closes every connection, telling the watch nothing more.
    ~TQWebProxyURL() override;
    TQWebProxyURL(const TQWebProxyURL&) = delete;
    TQWebProxyURL& operator=(const TQWebProxyURL&) = delete;

    // The facade must outlive the proxy.
    void prepareForADPURequest(std::span<const std::uint8_t> frame, TQAP& ap) override;

private:
    void sendToWatch(const platform::Bytes& frame);

    platform::RunLoop& loop_;
    TQAP* kavoManager_ = nullptr;
    std::unique_ptr<TQWebProxyTransactions> transactions_;
    std::unique_ptr<platform::net::ProxySockets> sockets_;
    platform::WeakPtrFactory<TQWebProxyURL> weak_{*this, loop_};
};
