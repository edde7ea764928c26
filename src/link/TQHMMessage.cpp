#include "link/TQHMMessage.h"

#include <algorithm>

#include "logging/LGLog.h"
#include "logging/LGRedaction.h"

namespace {

// Splits at every single space, so two spaces in a row give an empty word.
std::vector<std::string> words(std::string_view text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (;;) {
        const std::size_t space = text.find(' ', start);
        result.emplace_back(text.substr(start, space - start));
        if (space == std::string_view::npos) {
            return result;
        }
        start = space + 1;
    }
}

}  // namespace

TQHMMessage::TQHMMessage(std::string_view schema) {
    LG_VERBOSE("messageString: %@", schema);
    const std::vector<std::string> parts = words(schema);
    msg_ = parts.front();
    // A trailing type word without its name names no field.
    for (std::size_t i = 1; i + 1 < parts.size(); i += 2) {
        types_.push_back(parts[i]);
        names_.push_back(parts[i + 1]);
    }
}

platform::Value TQHMMessage::toDictionary(const TQHMMessage& schema,
                                          std::span<const platform::Value> values) {
    platform::Value dictionary{{"msgId", schema.msg()}};
    const std::size_t count = std::min(values.size(), schema.names().size());
    for (std::size_t k = 0; k < count && !values[k].isNull(); ++k) {
        LG_VERBOSE("%@", lg::redactedField(schema.names()[k], values[k]));
        dictionary[schema.names()[k]] = values[k];
    }
    return dictionary;
}

std::optional<platform::Value> TQHMMessage::fromDictionary(const TQHMMessage& schema,
                                                           const platform::Value& dictionary,
                                                           std::string_view name) {
    const auto& names = schema.names();
    if (std::find(names.begin(), names.end(), name) == names.end()) {
        return std::nullopt;
    }
    if (const platform::Value* value = dictionary.find(name)) {
        return *value;
    }
    return std::nullopt;
}

std::string TQHMMessage::getMsgId(std::string_view schema) {
    return std::string(schema.substr(0, schema.find(' ')));
}
