#pragma once

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/telephony/Telephony.h"

namespace platform {

// The codes in a SIM's operator identifier: three digits of country, then two or three of
// network. An identifier of any other shape tells no codes (both empty).
[[nodiscard]] Carrier carrierOfOperatorIdentifier(std::string_view identifier);

// The carrier of the SIM in the machine's modem, from the modem manager on the system bus
// (org.freedesktop.ModemManager1). No bus, no modem manager, no modem and a modem without a
// SIM all read as no SIM. The bus is read on a thread of its own when this starts and again
// whenever the modem manager comes or goes, a modem comes or goes, or a modem's SIM or the
// SIM's operator changes; the newest reading is kept here, so that asking never waits on the
// bus. Readings are taken over on the loop.
class ModemManagerTelephony final : public Telephony {
public:
    static constexpr const char* kService = "org.freedesktop.ModemManager1";
    // The longest the modem manager is waited for, per call.
    static constexpr double kCallTimeout = 2.0;

    // The system bus, or the bus at address when one is given.
    explicit ModemManagerTelephony(RunLoop& loop, const std::string& address = {});
    ~ModemManagerTelephony() override;
    ModemManagerTelephony(const ModemManagerTelephony&) = delete;
    ModemManagerTelephony& operator=(const ModemManagerTelephony&) = delete;

    // Any thread.
    [[nodiscard]] std::optional<Carrier> subscriberCarrier() const override;
    // Whether the bus answered.
    [[nodiscard]] bool hasBus() const { return bus_ != nullptr; }
    // Runs on the loop after every reading has been taken over, changed or not.
    void onRead(std::function<void()> read) { read_ = std::move(read); }

private:
    struct Bus;

    void taken(std::optional<Carrier> carrier);

    RunLoop& loop_;
    std::unique_ptr<Bus> bus_;
    mutable std::mutex mutex_;
    std::optional<Carrier> carrier_;
    bool everRead_ = false;
    std::function<void()> read_;
    WeakPtrFactory<ModemManagerTelephony> weak_{*this, loop_};
};

}  // namespace platform
