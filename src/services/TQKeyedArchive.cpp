#include "services/TQKeyedArchive.h"

#include "platform/foundation/PropertyList.h"

using platform::Array;
using platform::Value;

namespace keyed_archive {

namespace {

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

const Value* at(const Array& objects, std::optional<std::size_t> index) {
    return index && *index < objects.size() ? &objects[*index] : nullptr;
}

}  // namespace

platform::Bytes encode(std::string_view className, const Fields& fields) {
    Array objects{"$null", Value()};
    Value root{{"$class", Value()}};
    for (const auto& [key, value] : fields) {
        if (value.isString()) {
            objects.push_back(value);
            root[key] = uid(objects.size() - 1);
        } else if (value.isNull()) {
            root[key] = uid(0);
        } else {
            root[key] = value;
        }
    }
    objects.emplace_back(Value{{"$classname", std::string(className)},
                               {"$classes", Array{std::string(className), "NSObject"}}});
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

std::optional<Decoded> decode(const Value& data, std::string_view className) {
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
    if (objects == nullptr) {
        return std::nullopt;
    }
    const Value* root = at(*objects, uidOf(archive.value()["$top"]["root"]));
    if (root == nullptr || !root->isDictionary()) {
        return std::nullopt;
    }
    const Value* classInfo = at(*objects, uidOf((*root)["$class"]));
    const std::string* name = classInfo != nullptr ? (*classInfo)["$classname"].stringIf() : nullptr;
    if (name == nullptr || *name != className) {
        return std::nullopt;
    }
    Decoded decoded;
    decoded.objects_ = *objects;
    decoded.root_ = *root;
    return decoded;
}

std::optional<std::string> Decoded::text(std::string_view key) const {
    // A reference to "$null" (0) or to anything but text is an absent value.
    const auto index = uidOf(root_[key]);
    const Value* value = index && *index != 0 ? at(objects_, index) : nullptr;
    const std::string* string = value != nullptr ? value->stringIf() : nullptr;
    return string != nullptr ? std::optional<std::string>(*string) : std::nullopt;
}

const Value& Decoded::value(std::string_view key) const {
    return root_[key];
}

}  // namespace keyed_archive
