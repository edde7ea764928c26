#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/URLError.h"

inline constexpr const char* kHCURLResponseSerializationErrorDomain =
    "com.kavo.error.serialization.response";
inline constexpr const char* kHCURLRequestSerializationErrorDomain =
    "com.kavo.error.serialization.request";

// The HTTP client's error: a domain and code, the texts people read, and what the user info of
// the phone platform's errors carries (the failing URL, the response and body that failed
// validation, the error underneath).
struct HCError {
    std::string domain;
    long code = 0;
    std::string localizedDescription;
    std::string failureReason;
    std::string failingURL;
    std::optional<platform::net::URLResponse> response;
    std::optional<platform::Bytes> data;
    std::shared_ptr<const HCError> underlying;

    static HCError fromURLError(const platform::net::URLError& error);
    static HCError fromError(const platform::Error& error);
    // The user-info keys as a dictionary, for notifications: "domain", "code",
    // "NSLocalizedDescription", "NSErrorFailingURLKey", "NSUnderlyingError" (nested).
    [[nodiscard]] platform::Value toValue() const;
};

// The error with the underlying one attached: the underlying alone when there is no error, the
// error unchanged when there is no underlying or it already has one.
std::optional<HCError> HCErrorWithUnderlyingError(std::optional<HCError> error,
                                                  const std::optional<HCError>& underlying);

// Whether the error, or one under it at any depth, has this domain and code.
bool HCErrorOrUnderlyingErrorHasCodeInDomain(const HCError& error, long code,
                                             std::string_view domain);
