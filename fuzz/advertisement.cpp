// Advertising data as a scanner receives it. What is read writes back out, and what that
// reads as is stable from then on.

#include "platform/bluetooth/Advertisement.h"

#include <cstdlib>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace platform::bluetooth;
    const auto decoded = decodeAdvertisement(std::span(data, size));
    if (!decoded) {
        return 0;
    }
    const auto encoded = encodeAdvertisement(*decoded);
    if (!encoded) {
        return 0;  // more than the air carries in one structure
    }
    const auto again = decodeAdvertisement(*encoded);
    if (!again) {
        std::abort();
    }
    const auto reencoded = encodeAdvertisement(*again);
    if (!reencoded || *reencoded != *encoded) {
        std::abort();
    }
    return 0;
}
