#pragma once

#include <optional>
#include <string>
#include <utility>

#include "platform/foundation/Replaceable.h"

namespace platform {

// The network operator of the phone's SIM.
struct Carrier {
    std::string mobileCountryCode;  // e.g. "440"; empty when the SIM does not tell
    std::string mobileNetworkCode;

    friend bool operator==(const Carrier&, const Carrier&) = default;
};

// The phone's cellular side, as far as the application asks about it.
class Telephony : public Replaceable<Telephony> {
public:
    virtual ~Telephony() = default;

    // Nothing when there is no SIM.
    [[nodiscard]] virtual std::optional<Carrier> subscriberCarrier() const = 0;

    // The installed telephony, else one that reports no SIM (this machine has none).
    static Telephony& current();
};

// Reports a carrier fixed at construction: for tests, and for runs that stand in for a phone.
class FixedTelephony final : public Telephony {
public:
    explicit FixedTelephony(std::optional<Carrier> carrier) : carrier_(std::move(carrier)) {}

    [[nodiscard]] std::optional<Carrier> subscriberCarrier() const override { return carrier_; }

private:
    std::optional<Carrier> carrier_;
};

}  // namespace platform
