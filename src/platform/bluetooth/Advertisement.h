#pragma once

#include <cstdint>
#include <span>

#include "platform/bluetooth/Types.h"
#include "platform/foundation/Result.h"

namespace platform::bluetooth {

// Advertising data as the air carries it: a run of AD structures (length, type, data). Writes
// the complete local name (0x09), manufacturer specific data (0xFF), complete service UUID lists
// (0x03, 0x07) and service solicitation lists (0x14, 0x15); reads the shortened name and the
// incomplete lists too and skips every other type.
Result<Bytes> encodeAdvertisement(const AdvertisementData& data);
Result<AdvertisementData> decodeAdvertisement(std::span<const std::uint8_t> bytes);

}  // namespace platform::bluetooth
