#include "link/TQJSONParser.h"

#include <string_view>

#include "platform/foundation/Json.h"

std::optional<platform::Bytes> TQJSONParser::encodeToJSON(const platform::Value& object) const {
    if (!object.isDictionary() && !object.isArray()) {
        return std::nullopt;
    }
    auto text = platform::json::write(object, platform::json::Style::Pretty);
    if (!text) {
        return std::nullopt;
    }
    return platform::Bytes(text->begin(), text->end());
}

std::optional<platform::Value> TQJSONParser::decodeFromJSON(
    std::span<const std::uint8_t> data) const {
    const std::string_view text(reinterpret_cast<const char*>(data.data()), data.size());
    auto parsed = platform::json::parse(text);
    if (!parsed) {
        return std::nullopt;
    }
    return std::move(parsed).value();
}
