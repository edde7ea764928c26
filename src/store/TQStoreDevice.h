#pragma once

#include <optional>
#include <string>

#include "platform/telephony/Telephony.h"

// What the store's requests tell the servers about the phone and its watch. Read afresh for
// each request, since the watch, its versions and the SIM change while the program runs.
struct TQStoreDevice {
    // The phone's screen in pixels (the store chooses image sizes by it). This system has no
    // phone screen of its own, so it reports a fixed portrait one.
    double screenHeight = 1334;
    double screenWidth = 750;
    std::optional<std::string> modelNumber{};  // "groupKavoInfo" / "kavoModelNumber"
    std::optional<std::string> kOSVersion{};   // "groupKavoInfo" / "kavoNuvraVersion"
    std::optional<std::string> salesCode{};    // "kavoSalesCode"
    std::string systemVersion{};               // the phone's operating system
    std::string vendorIdentifier{};            // UUID text
    std::string machineIdentifier{};
    std::optional<platform::Carrier> carrier{};  // nothing without a SIM

    // The standard defaults, the device information and the telephony installed now.
    static TQStoreDevice current();

    // "<height>x<width>_<model>_i", the sizes without decimals; no model leaves its place empty.
    [[nodiscard]] std::string deviceId() const;
    // The SIM's codes; nothing when the SIM does not tell (or there is none).
    [[nodiscard]] std::optional<std::string> mcc() const;
    [[nodiscard]] std::optional<std::string> mnc() const;
};
