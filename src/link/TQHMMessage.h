#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"

// A message schema written as one string of words: the message name, then pairs of a type
// word and a field name ("mgr_wapps_uninstall_req String packageName").
class TQHMMessage {
public:
    explicit TQHMMessage(std::string_view schema);

    // {"msgId": msg, names[k]: values[k], ...} for the values up to the first null one.
    // Values beyond the schema's names are ignored.
    static platform::Value toDictionary(const TQHMMessage& schema,
                                        std::span<const platform::Value> values = {});
    static platform::Value toDictionary(const TQHMMessage& schema,
                                        std::initializer_list<platform::Value> values) {
        return toDictionary(schema,
                            std::span<const platform::Value>(values.begin(), values.size()));
    }
    // The dictionary's value for name when name is one of the schema's fields.
    static std::optional<platform::Value> fromDictionary(const TQHMMessage& schema,
                                                         const platform::Value& dictionary,
                                                         std::string_view name);
    // The first word of a schema string: the message name.
    static std::string getMsgId(std::string_view schema);

    [[nodiscard]] const std::string& msg() const { return msg_; }
    [[nodiscard]] const std::vector<std::string>& types() const { return types_; }
    [[nodiscard]] const std::vector<std::string>& names() const { return names_; }

private:
    std::string msg_;
    std::vector<std::string> types_;
    std::vector<std::string> names_;
};
