#include "http/HCError.h"

HCError HCError::fromURLError(const platform::net::URLError& error) {
    HCError out;
    out.domain = error.domain;
    out.code = error.code;
    out.localizedDescription = error.message;
    out.failingURL = error.failingURL;
    return out;
}

HCError HCError::fromError(const platform::Error& error) {
    HCError out;
    out.domain = error.domain;
    out.code = error.code;
    out.localizedDescription = error.message;
    return out;
}

platform::Value HCError::toValue() const {
    platform::Value out{{"domain", platform::Value(domain)},
                        {"code", platform::Value(code)},
                        {"NSLocalizedDescription", platform::Value(localizedDescription)}};
    if (!failureReason.empty()) {
        out["NSLocalizedFailureReason"] = platform::Value(failureReason);
    }
    if (!failingURL.empty()) {
        out["NSErrorFailingURLKey"] = platform::Value(failingURL);
    }
    if (underlying) {
        out["NSUnderlyingError"] = underlying->toValue();
    }
    return out;
}

std::optional<HCError> HCErrorWithUnderlyingError(std::optional<HCError> error,
                                                  const std::optional<HCError>& underlying) {
    if (!error) {
        return underlying;
    }
    if (!underlying || error->underlying) {
        return error;
    }
    error->underlying = std::make_shared<const HCError>(*underlying);
    return error;
}

bool HCErrorOrUnderlyingErrorHasCodeInDomain(const HCError& error, long code,
                                             std::string_view domain) {
    for (const HCError* current = &error; current != nullptr; current = current->underlying.get()) {
        if (current->domain == domain && current->code == code) {
            return true;
        }
    }
    return false;
}
