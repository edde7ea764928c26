#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

// What of a secret or personal value may reach a log line. Logs outlive the run, travel with
// crash reports and the journal is read by other users: a token, password or cookie is shown
// only as present or not, an event's or a person's contents likewise, raw bytes by their
// length, and a coordinate rounded to about a kilometre, what a city needs.
namespace lg {

inline constexpr std::string_view kPresent = "(present)";
inline constexpr std::string_view kAbsent = "(null)";

[[nodiscard]] std::string presence(bool present);
[[nodiscard]] std::string presence(const std::optional<std::string>& value);
// Two decimals of a degree.
[[nodiscard]] std::string roundedCoordinate(double degrees);

// A message or any value, with every field whose name says it holds a secret, a person's or an
// event's details, or a position, replaced as above, at any depth, and bytes by their length.
[[nodiscard]] platform::Value redacted(const platform::Value& value);
// One field of a message by its name.
[[nodiscard]] platform::Value redactedField(std::string_view name, const platform::Value& value);

}  // namespace lg
