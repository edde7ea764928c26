#include "services/TQNotificationObject.h"

#include <string_view>

#include "platform/foundation/PropertyList.h"

using platform::Array;
using platform::Value;

namespace {

constexpr std::string_view kClassName = "TQNotificationObject";
constexpr std::size_t kMaxArchive = 64 * 1024;

// A reference into "$objects", as a keyed archive writes it in XML.
Value uid(std::size_t index) {
    return Value{{"CF$UID", static_cast<std::int64_t>(index)}};
}

std::optional<std::size_t> uidOf(const Value& value) {
    const Value* index = value.isDictionary() ? value.find("CF$UID") : nullptr;
    const auto number = index != nullptr ? index->intValue() : std::nullopt;
    if (!number || *number < 0) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(*number);
}

}  // namespace

platform::Bytes TQNotificationObject::encoded() const {
    Array objects{"$null"};
    Value root{{"$class", Value()}};
    const auto text = [&objects](const std::optional<std::string>& value) {
        if (!value) {
            return uid(0);
        }
        objects.emplace_back(*value);
        return uid(objects.size() - 1);
    };
    objects.emplace_back();  // the root, filled in below
    root["name"] = text(name);
    root["identifier"] = text(identifier);
    root["notification"] = notification;
    root["categoryid"] = text(categoryid);
    objects.emplace_back(Value{{"$classname", std::string(kClassName)},
                               {"$classes", Array{std::string(kClassName), "NSObject"}}});
    root["$class"] = uid(objects.size() - 1);
    objects[1] = std::move(root);
    const Value archive{{"$archiver", "NSKeyedArchiver"},
                        {"$version", 100000},
                        {"$top", Value{{"root", uid(1)}}},
                        {"$objects", Value(std::move(objects))}};
    const auto written = platform::plist::write(archive);
    return written.ok() ? platform::Bytes(written.value().begin(), written.value().end())
                        : platform::Bytes();
}

std::optional<TQNotificationObject> TQNotificationObject::decodedWithObject(const Value& data) {
    const platform::Bytes* bytes = data.bytesIf();
    if (bytes == nullptr || bytes->size() > kMaxArchive) {
        return std::nullopt;
    }
    const auto archive = platform::plist::parse(
        std::string_view(reinterpret_cast<const char*>(bytes->data()), bytes->size()));
    if (!archive.ok() || !archive.value().isDictionary()) {
        return std::nullopt;
    }
    const Array* objects = archive.value()["$objects"].arrayIf();
    const auto at = [objects](std::optional<std::size_t> index) -> const Value* {
        return objects != nullptr && index && *index < objects->size() ? &(*objects)[*index]
                                                                       : nullptr;
    };
    const Value* root = at(uidOf(archive.value()["$top"]["root"]));
    if (root == nullptr || !root->isDictionary()) {
        return std::nullopt;
    }
    const Value* classInfo = at(uidOf((*root)["$class"]));
    const std::string* className =
        classInfo != nullptr ? (*classInfo)["$classname"].stringIf() : nullptr;
    if (className == nullptr || *className != kClassName) {
        return std::nullopt;
    }
    // A reference to "$null" (0) or to anything but text is an absent value.
    const auto text = [&](std::string_view key) -> std::optional<std::string> {
        const auto index = uidOf((*root)[key]);
        const Value* value = index && *index != 0 ? at(index) : nullptr;
        const std::string* string = value != nullptr ? value->stringIf() : nullptr;
        return string != nullptr ? std::optional<std::string>(*string) : std::nullopt;
    };
    TQNotificationObject entry;
    entry.name = text("name");
    entry.identifier = text("identifier");
    entry.notification = (*root)["notification"].boolValue().value_or(false);
    entry.categoryid = text("categoryid");
    return entry;
}
