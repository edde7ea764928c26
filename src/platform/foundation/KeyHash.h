#pragma once

#include <cstdint>
#include <string_view>

namespace platform {

// A keyed hash of text for tables that hold what peers send. The key is drawn at random once
// per process, so a sender cannot choose texts that collide and turn lookups into scans.
[[nodiscard]] std::uint64_t keyedHash(std::string_view text);

}  // namespace platform
