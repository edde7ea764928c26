#pragma once

#include <cstdint>
#include <optional>
#include <span>

#include "platform/foundation/Value.h"

// The JSON coder of link messages. Stateless: a new one is made for each use.
class TQJSONParser {
public:
    static TQJSONParser getInstance() { return TQJSONParser(); }

    // The pretty-printed UTF-8 text of a dictionary or an array; nothing for anything JSON
    // cannot carry (dates, bytes, a scalar at the top).
    [[nodiscard]] std::optional<platform::Bytes> encodeToJSON(const platform::Value& object) const;
    // The dictionary or array in data; nothing for empty data, text that is not JSON or a
    // bare fragment.
    [[nodiscard]] std::optional<platform::Value> decodeFromJSON(
        std::span<const std::uint8_t> data) const;
};
