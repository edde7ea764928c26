#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace platform::plist {

inline constexpr const char* kErrorDomain = "platform.plist";
inline constexpr int kMaxDepth = 256;
// Dictionaries with more distinct keys than this are refused when reading.
inline constexpr std::size_t kMaxKeys = 100'000;

// Writes value as an XML property list (version 1.0, tab-indented).
// Fails for null, which property lists cannot carry, for text that is not UTF-8 or holds
// characters XML forbids, and for dates outside the years 0000 to 9999 (NaN and infinities
// included).
Result<std::string> write(const Value& value);

// Reads an XML property list: dict, array, string, integer, real, true, false, date, data.
// Integers read back as signed unless they only fit unsigned.
Result<Value> parse(std::string_view text);

Result<Value> readFile(const std::filesystem::path& path);
// Written through a temporary file and a rename.
Result<void> writeFile(const std::filesystem::path& path, const Value& value);

}  // namespace platform::plist
