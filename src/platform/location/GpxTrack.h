#pragma once

#include <filesystem>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/location/LocationFix.h"

namespace platform {

inline constexpr const char* kGpxErrorDomain = "platform.location.gpx";

// The fixes of a GPX track (version 1.0 or 1.1): every "trkpt" in document order, with its
// latitude and longitude, "ele", "time", and the 1.0 elements "speed", "course", "hdop" and
// "vdop". GPX gives dilutions, not metres: an accuracy is the dilution times 5 m, the usual
// error of one satellite range, and 5 m (10 m upright) without one. A point without a speed
// takes the mean speed from the point before (none for the first); without a course, the
// bearing from it. Points without a time, or with coordinates outside the globe, fail the
// track, as do points whose times go back.
[[nodiscard]] Result<std::vector<LocationFix>> parseGpx(std::string_view document);
// The file read in whole, bounded at 64 MiB.
[[nodiscard]] Result<std::vector<LocationFix>> readGpxFile(const std::filesystem::path& path);

// "2016-03-03T14:05:09Z", with an optional fraction and a "Z" or "+hh:mm" offset, as seconds
// since 1970; nothing for anything else.
[[nodiscard]] std::optional<double> parseIsoTime(std::string_view text);

}  // namespace platform
