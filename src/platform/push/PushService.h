#pragma once

#include <cstdint>
#include <functional>
#include <span>

#include "platform/foundation/Result.h"

namespace platform::push {

inline constexpr const char* kErrorDomain = "platform.push";

// The phone's remote-notification (push) service: registration hands back a device token, or
// an error. A provider that delivers payloads hands them to the application on its own.
class PushService {
public:
    using TokenHandler = std::function<void(std::span<const std::uint8_t> token)>;
    using ErrorHandler = std::function<void(const Error& error)>;
    virtual ~PushService() = default;

    // Asks for remote notifications with alert, badge and sound; one of the handlers is called
    // once, possibly before this returns.
    virtual void registerForRemoteNotifications(TokenHandler onToken, ErrorHandler onError) = 0;
};

// This machine has no push service for the application: every registration reports
// "unavailable".
class UnavailablePushService final : public PushService {
public:
    void registerForRemoteNotifications(TokenHandler onToken, ErrorHandler onError) override;
};

}  // namespace platform::push
