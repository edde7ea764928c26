#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace platform::json {

inline constexpr const char* kErrorDomain = "platform.json";

// Containers nested deeper than this are refused when reading, so that nothing which walks a
// parsed value recursively can run out of stack on hostile input.
inline constexpr int kMaxDepth = 256;
// Objects with more distinct keys than this are refused when reading: no document of ours
// comes near it, and it bounds what one hostile object can make a reader build.
inline constexpr std::size_t kMaxKeys = 100'000;

enum class Style { Compact, Pretty };

// Writes value as UTF-8 JSON text. Pretty text indents by two spaces and writes "key" : value.
// Fails for what JSON cannot carry: dates, bytes, non-finite reals, text that is not UTF-8.
// Reals are always written with a fraction or exponent so that they read back as reals.
Result<std::string> write(const Value& value, Style style = Style::Compact);

// Reads JSON text whose top level is an object or an array (the platform reader's default).
// Integers read back as signed unless they only fit unsigned; reals stay reals.
Result<Value> parse(std::string_view text);

}  // namespace platform::json
