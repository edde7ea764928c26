#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace platform::plist {

inline constexpr const char* kErrorDomain = "platform.plist";
// The codes of kErrorDomain.
enum ErrorCode : long {
    kNotPlist = 1,
    kSyntax = 2,
    kStructure = 3,
    kTooDeep = 4,
    kDocumentType = 5,
    kTooManyKeys = 6,
    kNotBinary = 7,
    kUnwritable = 8,
};
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

// Whether the bytes start as a binary property list ("bplist00").
[[nodiscard]] bool isBinary(std::span<const std::uint8_t> data);
// Reads a binary property list (libplist), with the XML reader's bounds. Integers read back
// signed: libplist keeps no sign, so one above the signed range was written negative.
Result<Value> parseBinary(std::span<const std::uint8_t> data);
// Either form, told apart by the binary header.
Result<Value> parse(std::span<const std::uint8_t> data);
// Writes value as a binary property list; fails as write does, and for unsigned integers above
// the signed range and dates more than 68 years from 2001.
Result<Bytes> writeBinary(const Value& value);

Result<Value> readFile(const std::filesystem::path& path);
// Written through a temporary file and a rename.
Result<void> writeFile(const std::filesystem::path& path, const Value& value);

}  // namespace platform::plist
