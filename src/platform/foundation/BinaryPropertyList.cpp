#include <plist/plist.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <memory>
#include <string_view>

#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Utf8.h"

namespace platform::plist {

namespace {

// Seconds from 1970-01-01 to 2001-01-01, where binary property lists count dates from.
constexpr double kReferenceDate = 978307200;

struct NodeDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using Node = std::unique_ptr<void, NodeDeleter>;

// What libplist hands over with malloc.
struct Freed {
    void operator()(void* memory) const { std::free(memory); }
};
using Owned = std::unique_ptr<char, Freed>;

Error binaryError(long code, std::string message) {
    return Error{kErrorDomain, code, std::move(message)};
}

// Turns libplist's tree into a Value, with the XML reader's bounds.
class Reader {
public:
    Result<Value> read(plist_t node, int depth) {
        if (depth > kMaxDepth) {
            return binaryError(kTooDeep, "nesting deeper than " + std::to_string(kMaxDepth));
        }
        switch (plist_get_node_type(node)) {
            case PLIST_BOOLEAN: {
                std::uint8_t value = 0;
                plist_get_bool_val(node, &value);
                return Value(value != 0);
            }
            case PLIST_UINT: {
                std::uint64_t value = 0;
                plist_get_uint_val(node, &value);
                // libplist keeps no sign: a value above the signed range was a negative one.
                return Value(static_cast<std::int64_t>(value));
            }
            case PLIST_REAL: {
                double value = 0;
                plist_get_real_val(node, &value);
                return Value(value);
            }
            case PLIST_DATE: {
                std::int32_t seconds = 0;
                std::int32_t microseconds = 0;
                plist_get_date_val(node, &seconds, &microseconds);
                return Value(Date{kReferenceDate + seconds + microseconds / 1e6});
            }
            case PLIST_STRING:
            case PLIST_KEY: {
                char* raw = nullptr;
                plist_get_string_val(node, &raw);
                const Owned text(raw);
                if (!text || !isValidUtf8(text.get())) {
                    return binaryError(kNotBinary, "a string that is not UTF-8");
                }
                return Value(std::string(text.get()));
            }
            case PLIST_DATA: {
                char* raw = nullptr;
                std::uint64_t length = 0;
                plist_get_data_val(node, &raw, &length);
                const Owned data(raw);
                const auto* bytes = reinterpret_cast<const std::uint8_t*>(data.get());
                return Value(bytes == nullptr ? Bytes{} : Bytes(bytes, bytes + length));
            }
            case PLIST_ARRAY:
                return readArray(node, depth);
            case PLIST_DICT:
                return readDictionary(node, depth);
            default:
                return binaryError(kStructure, "an object property lists of this kind do not hold");
        }
    }

private:
    Result<Value> readArray(plist_t node, int depth) {
        Array items;
        const std::uint32_t count = plist_array_get_size(node);
        for (std::uint32_t i = 0; i < count; ++i) {
            auto item = read(plist_array_get_item(node, i), depth + 1);
            if (!item) {
                return item;
            }
            items.push_back(std::move(item).value());
        }
        return Value(std::move(items));
    }

    Result<Value> readDictionary(plist_t node, int depth) {
        Dictionary entries;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        const std::unique_ptr<void, Freed> iteratorMemory(iterator);
        for (;;) {
            char* rawKey = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iterator, &rawKey, &item);
            const Owned key(rawKey);
            if (!key || item == nullptr) {
                break;
            }
            if (entries.size() >= kMaxKeys && !entries.contains(key.get())) {
                return binaryError(kTooManyKeys, "dictionary with more than " +
                                                     std::to_string(kMaxKeys) + " keys");
            }
            if (!isValidUtf8(key.get())) {
                return binaryError(kNotBinary, "a key that is not UTF-8");
            }
            auto value = read(item, depth + 1);
            if (!value) {
                return value;
            }
            entries.set(key.get(), std::move(value).value());
        }
        return Value(std::move(entries));
    }
};

Result<Node> nodeOf(const Value& value, int depth) {
    if (depth > kMaxDepth) {
        return binaryError(kTooDeep, "nesting deeper than " + std::to_string(kMaxDepth));
    }
    switch (value.type()) {
        case Value::Type::Bool:
            return Node(plist_new_bool(*value.boolValue() ? 1 : 0));
        case Value::Type::Int:
            return Node(plist_new_uint(static_cast<std::uint64_t>(*value.intValue())));
        case Value::Type::UInt: {
            // Read back, a value above the signed range would turn negative.
            const auto number = static_cast<std::uint64_t>(*value.intValue());
            if (Value(number) != value) {
                return binaryError(kUnwritable, "an integer above the signed range");
            }
            return Node(plist_new_uint(number));
        }
        case Value::Type::Double:
            return Node(plist_new_real(*value.doubleValue()));
        case Value::Type::String:
            return Node(plist_new_string(value.stringIf()->c_str()));
        case Value::Type::Bytes: {
            const Bytes& bytes = *value.bytesIf();
            return Node(plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
        }
        case Value::Type::Date: {
            const double since = value.dateIf()->secondsSince1970 - kReferenceDate;
            if (!std::isfinite(since) ||
                std::abs(since) > std::numeric_limits<std::int32_t>::max()) {
                return binaryError(kUnwritable, "a date binary property lists cannot hold");
            }
            const double whole = std::floor(since);
            return Node(plist_new_date(static_cast<std::int32_t>(whole),
                                       static_cast<std::int32_t>((since - whole) * 1e6)));
        }
        case Value::Type::Array: {
            Node array(plist_new_array());
            for (const Value& item : *value.arrayIf()) {
                auto child = nodeOf(item, depth + 1);
                if (!child) {
                    return child;
                }
                plist_array_append_item(static_cast<plist_t>(array.get()), child.value().release());
            }
            return array;
        }
        case Value::Type::Dictionary: {
            Node dictionary(plist_new_dict());
            for (const auto& [key, item] : *value.dictionaryIf()) {
                auto child = nodeOf(item, depth + 1);
                if (!child) {
                    return child;
                }
                plist_dict_set_item(static_cast<plist_t>(dictionary.get()), key.c_str(),
                                    child.value().release());
            }
            return dictionary;
        }
        default:
            return binaryError(kUnwritable, "a value property lists cannot hold");
    }
}

}  // namespace

bool isBinary(std::span<const std::uint8_t> data) {
    static constexpr std::string_view kMagic = "bplist00";
    return data.size() >= kMagic.size() &&
           std::equal(kMagic.begin(), kMagic.end(), data.begin(),
                      [](char a, std::uint8_t b) { return static_cast<std::uint8_t>(a) == b; });
}

Result<Value> parseBinary(std::span<const std::uint8_t> data) {
    if (!isBinary(data) || data.size() > std::numeric_limits<std::uint32_t>::max()) {
        return binaryError(kNotBinary, "not a binary property list");
    }
    plist_t root = nullptr;
    plist_from_bin(reinterpret_cast<const char*>(data.data()),
                   static_cast<std::uint32_t>(data.size()), &root);
    const Node owned(root);
    if (root == nullptr) {
        return binaryError(kNotBinary, "a binary property list that cannot be read");
    }
    return Reader().read(root, 0);
}

Result<Value> parse(std::span<const std::uint8_t> data) {
    if (isBinary(data)) {
        return parseBinary(data);
    }
    return parse(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
}

Result<Bytes> writeBinary(const Value& value) {
    auto root = nodeOf(value, 0);
    if (!root) {
        return root.error();
    }
    char* raw = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(static_cast<plist_t>(root.value().get()), &raw, &length);
    const Owned written(raw);
    if (!written) {
        return binaryError(kUnwritable, "libplist wrote nothing");
    }
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(written.get());
    return Bytes(bytes, bytes + length);
}

}  // namespace platform::plist
