#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Value.h"

// Objects kept in the user defaults the platform's keyed way: an XML property list with the
// archive's "$objects" (texts by reference, numbers inline) and "$top".
namespace keyed_archive {

// One field: a text (null when absent) or an inline number or Boolean.
using Fields = std::vector<std::pair<std::string, platform::Value>>;

[[nodiscard]] platform::Bytes encode(std::string_view className, const Fields& fields);

// The root object of an archive of the class.
class Decoded {
public:
    // The referenced text; nothing when absent or not text.
    [[nodiscard]] std::optional<std::string> text(std::string_view key) const;
    // An inline value as stored; null when absent.
    [[nodiscard]] const platform::Value& value(std::string_view key) const;
    [[nodiscard]] bool contains(std::string_view key) const { return root_.find(key) != nullptr; }

private:
    friend std::optional<Decoded> decode(const platform::Value& data, std::string_view className);
    platform::Array objects_;
    platform::Value root_;
};

// Nothing for data that is no keyed archive of the class (or larger than such objects get).
[[nodiscard]] std::optional<Decoded> decode(const platform::Value& data,
                                            std::string_view className);

}  // namespace keyed_archive
