// A GPX track a user names for the replayed location: every fix read from it is a number (the
// speed and course derived from the point before included) and the reader never fails loudly.

#include <cmath>
#include <cstdlib>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/location/GpxTrack.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view document(reinterpret_cast<const char*>(data), size);
    const auto track = platform::parseGpx(document);
    if (!track) {
        return 0;
    }
    for (const auto& fix : *track) {
        if (std::isnan(fix.latitude) || std::isnan(fix.longitude) || std::isnan(fix.speed) ||
            std::isnan(fix.course) || std::isnan(fix.timestamp)) {
            std::abort();
        }
    }
    return 0;
}
