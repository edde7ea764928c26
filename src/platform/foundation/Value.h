#pragma once

#include <compare>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace platform {

class Value;
class Dictionary;

using Bytes = std::vector<std::uint8_t>;

// A point in time as seconds since 1970-01-01 UTC.
struct Date {
    double secondsSince1970 = 0;
    auto operator<=>(const Date&) const = default;
};

using Array = std::vector<Value>;

// An object of a layer above the foundation that a value carries without knowing it (an
// image a response serializer made). Values holding one compare by identity.
class ValueObject {
public:
    virtual ~ValueObject() = default;
    [[nodiscard]] virtual const char* className() const = 0;
};

// One dynamic value for dictionaries, arrays, strings, bytes, dates, null and numbers.
// Numbers keep their kind (Boolean, signed, unsigned, real) so writers reproduce them exactly.
// Strings, bytes, arrays and dictionaries live in shared storage: copying a Value is cheap,
// and a mutation through a non-const accessor copies the storage first when it is shared.
class Value {
public:
    enum class Type {
        Null,
        Bool,
        Int,
        UInt,
        Double,
        String,
        Bytes,
        Date,
        Array,
        Dictionary,
        Object
    };

    Value() = default;
    Value(std::nullptr_t) {}
    Value(bool b) : data_(b) {}
    Value(int i) : data_(std::int64_t{i}) {}
    Value(long i) : data_(std::int64_t{i}) {}
    Value(long long i) : data_(std::int64_t{i}) {}
    Value(unsigned u) : data_(std::uint64_t{u}) {}
    Value(unsigned long u) : data_(std::uint64_t{u}) {}
    Value(unsigned long long u) : data_(std::uint64_t{u}) {}
    Value(double d) : data_(d) {}
    Value(const char* s) : Value(std::string(s)) {}
    Value(std::string_view s) : Value(std::string(s)) {}
    Value(std::string s) : data_(std::make_shared<std::string>(std::move(s))) {}
    Value(Bytes b) : data_(std::make_shared<platform::Bytes>(std::move(b))) {}
    Value(Date d) : data_(d) {}
    Value(Array a);
    Value(Dictionary d);
    Value(std::shared_ptr<const ValueObject> object) : data_(std::move(object)) {}
    // Builds a dictionary: Value{{"msgId", "x"}, {"result", "success"}}.
    Value(std::initializer_list<std::pair<std::string, Value>> entries);

    static Value array(std::initializer_list<Value> items);

    [[nodiscard]] Type type() const { return static_cast<Type>(data_.index()); }
    [[nodiscard]] bool isNull() const { return type() == Type::Null; }
    [[nodiscard]] bool isBool() const { return type() == Type::Bool; }
    [[nodiscard]] bool isNumber() const;  // Bool, Int, UInt or Double
    [[nodiscard]] bool isString() const { return type() == Type::String; }
    [[nodiscard]] bool isBytes() const { return type() == Type::Bytes; }
    [[nodiscard]] bool isDate() const { return type() == Type::Date; }
    [[nodiscard]] bool isArray() const { return type() == Type::Array; }
    [[nodiscard]] bool isDictionary() const { return type() == Type::Dictionary; }
    [[nodiscard]] bool isObject() const { return type() == Type::Object; }

    // Exact accessors: nullptr when the value is of another type.
    [[nodiscard]] const std::string* stringIf() const;
    [[nodiscard]] const platform::Bytes* bytesIf() const;
    [[nodiscard]] const platform::Array* arrayIf() const;
    [[nodiscard]] const platform::Dictionary* dictionaryIf() const;
    [[nodiscard]] std::optional<Date> dateIf() const;
    // The object, or null when the value is of another type.
    [[nodiscard]] std::shared_ptr<const ValueObject> objectIf() const;
    template <typename T>
    [[nodiscard]] std::shared_ptr<const T> objectAs() const {
        return std::dynamic_pointer_cast<const T>(objectIf());
    }

    // Mutable access, detaching shared storage first; nullptr when of another type.
    platform::Array* mutableArray();
    platform::Dictionary* mutableDictionary();

    // Coercing readers with the phone platform's rules; nothing when the value has no such
    // reading (a dictionary has no integer value, a non-numeric string has no double).
    // - boolValue: a number is true when non-zero; a string is true when, after leading
    //   white space and an optional sign or leading zeros, it begins with Y, y, T, t or 1-9.
    // - intValue / doubleValue: numbers convert (reals truncate toward zero, saturating);
    //   a string is read from its leading decimal text (0 when it has none).
    // - stringValue: a string, or the decimal text of a number.
    [[nodiscard]] std::optional<bool> boolValue() const;
    [[nodiscard]] std::optional<std::int64_t> intValue() const;
    [[nodiscard]] std::optional<double> doubleValue() const;
    [[nodiscard]] std::optional<std::string> stringValue() const;

    // Dictionary lookup; a null value when this is not a dictionary or the key is absent.
    [[nodiscard]] const Value& operator[](std::string_view key) const;
    // Dictionary lookup that inserts; turns a null value into an empty dictionary first.
    Value& operator[](std::string_view key);
    [[nodiscard]] const Value* find(std::string_view key) const;
    // Number of entries of an array or dictionary, bytes of data, 0 otherwise.
    [[nodiscard]] std::size_t size() const;

    // The platform's description text, as logs show it: a string as it stands, numbers in
    // decimal, dictionaries as { key = value; } and arrays as ( a, b ) with four-space
    // indentation, texts in collections quoted when they hold anything but letters, digits
    // and _$./:-, bytes as <0011aabb ccdd>, dates as "2001-01-01 00:00:00 +0000".
    [[nodiscard]] std::string description() const;

    friend bool operator==(const Value& a, const Value& b);

    static const Value& null();

private:
    // The variant's order is the order of Type.
    using Data =
        std::variant<std::monostate, bool, std::int64_t, std::uint64_t, double,
                     std::shared_ptr<std::string>, std::shared_ptr<platform::Bytes>, Date,
                     std::shared_ptr<platform::Array>, std::shared_ptr<platform::Dictionary>,
                     std::shared_ptr<const ValueObject>>;
    Data data_;
};

// An ordered dictionary: keys keep their insertion order so that everything written from it
// (JSON, property lists, logs) is deterministic. Messages have a handful of keys, so a small
// dictionary is a flat vector searched in order; past kIndexedFrom entries a hash index of
// positions keeps lookup constant, so reading an object of n keys costs O(n), not O(n^2).
class Dictionary {
public:
    using Entry = std::pair<std::string, Value>;
    using const_iterator = std::vector<Entry>::const_iterator;

    static constexpr std::size_t kIndexedFrom = 16;

    Dictionary() = default;
    Dictionary(std::initializer_list<Entry> entries);

    [[nodiscard]] std::size_t size() const { return entries_.size(); }
    [[nodiscard]] bool empty() const { return entries_.empty(); }
    [[nodiscard]] bool contains(std::string_view key) const { return find(key) != nullptr; }

    // The value under key, or nullptr.
    [[nodiscard]] const Value* find(std::string_view key) const;
    [[nodiscard]] Value* find(std::string_view key);

    // Replaces the value of an existing key in place (keeping its position) or appends.
    void set(std::string key, Value value);
    // Removes key; returns whether it was there.
    bool remove(std::string_view key);
    // The value under key, inserting null when absent.
    Value& operator[](std::string_view key);

    [[nodiscard]] const_iterator begin() const { return entries_.begin(); }
    [[nodiscard]] const_iterator end() const { return entries_.end(); }

    // Equal when both hold the same keys with equal values, whatever their order.
    friend bool operator==(const Dictionary& a, const Dictionary& b);

private:
    static constexpr std::size_t kAbsent = static_cast<std::size_t>(-1);

    [[nodiscard]] std::size_t positionOf(std::string_view key) const;
    Value& append(std::string key, Value value);
    void place(std::size_t position);
    void rebuildIndex();

    std::vector<Entry> entries_;
    // Empty below kIndexedFrom entries; else an open-addressed table, at most half full, of
    // entry positions plus one (zero marks a free slot), probed linearly from the key's hash.
    std::vector<std::uint32_t> slots_;
};

// The platform's string-to-Boolean rule on its own, for texts the watch sends.
[[nodiscard]] bool stringBoolValue(std::string_view text);
// The leading decimal integer of text (white space, optional sign, digits), saturating; 0
// when there is none.
[[nodiscard]] std::int64_t stringIntValue(std::string_view text);

}  // namespace platform
