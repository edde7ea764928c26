#pragma once

#include <cstdint>
#include <string>

#include "platform/bluetooth/Types.h"
#include "platform/bluetooth/Uuid.h"

// What the watch knows of the phone's link service and what it advertises itself.
namespace kavowatch {

using platform::bluetooth::Uuid;

struct LinkUuids {
    Uuid service;
    // Phone to watch: every packet is a notification of it.
    Uuid notify;
    // Watch to phone: every packet is a write of it.
    Uuid write;
    // The watch's address token as the phone stored it.
    Uuid address;
};

[[nodiscard]] const LinkUuids& linkUuids();

// Bytes 7 and 8 of the manufacturer data.
enum class Purpose : std::uint8_t {
    setupWizard = 1,     // may be paired
    autoConnection = 2,  // looks for its paired phone
};

struct AdvertisingIdentity {
    // "Kavo R5 (TOKEN)": the third word, without its parentheses, is the address token.
    std::string name = "Kavo R5 (1A2B)";
    std::uint8_t hiddenCondition = 0;
    // The company identifier least significant byte first, as the air lays it out, unless set.
    bool companyIdentifierBigEndian = false;
};

inline constexpr std::uint16_t kCompanyIdentifier = 0x7E51;

[[nodiscard]] platform::bluetooth::AdvertisementData watchAdvertisement(
    const AdvertisingIdentity& identity, std::uint8_t purpose);

}  // namespace kavowatch
