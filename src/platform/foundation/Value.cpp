#include "platform/foundation/Value.h"

#include <algorithm>
#include <bit>
#include <charconv>
#include <cmath>
#include <limits>

#include "platform/foundation/KeyHash.h"

namespace platform {

namespace {

bool isSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view skipSpace(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size() && isSpace(text[i])) {
        ++i;
    }
    return text.substr(i);
}

std::int64_t saturatingInt(double d) {
    if (std::isnan(d)) {
        return 0;
    }
    if (d >= 9223372036854775807.0) {
        return std::numeric_limits<std::int64_t>::max();
    }
    if (d <= -9223372036854775808.0) {
        return std::numeric_limits<std::int64_t>::min();
    }
    return static_cast<std::int64_t>(d);
}

std::string numberText(double d) {
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
    return std::string(buffer, result.ptr);
}

template <typename Number>
std::string numberText(Number n) {
    return std::to_string(n);
}

}  // namespace

bool stringBoolValue(std::string_view text) {
    text = skipSpace(text);
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && text.front() == '0') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return false;
    }
    const char c = text.front();
    return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

std::int64_t stringIntValue(std::string_view text) {
    text = skipSpace(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Accumulate as a negative number: its range is one larger than the positive one.
    std::int64_t value = 0;
    constexpr std::int64_t min = std::numeric_limits<std::int64_t>::min();
    for (char c : text) {
        if (c < '0' || c > '9') {
            break;
        }
        const int digit = c - '0';
        if (value < (min + digit) / 10) {
            return negative ? min : std::numeric_limits<std::int64_t>::max();
        }
        value = value * 10 - digit;
    }
    if (negative) {
        return value;
    }
    return value == min ? std::numeric_limits<std::int64_t>::max() : -value;
}

namespace {

double stringDoubleValue(std::string_view text) {
    text = skipSpace(text);
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    double value = 0;
    const auto result =
        std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (result.ec == std::errc::result_out_of_range) {
        // from_chars leaves the value untouched on overflow; the platform saturates.
        const bool negative = !text.empty() && text.front() == '-';
        return negative ? -HUGE_VAL : HUGE_VAL;
    }
    return result.ec == std::errc{} ? value : 0.0;
}

}  // namespace

// ---- Dictionary -------------------------------------------------------------------------

Dictionary::Dictionary(std::initializer_list<Entry> entries) {
    entries_.reserve(entries.size());
    for (const auto& entry : entries) {
        set(entry.first, entry.second);
    }
}

std::size_t Dictionary::positionOf(std::string_view key) const {
    if (slots_.empty()) {
        for (std::size_t i = 0; i < entries_.size(); ++i) {
            if (entries_[i].first == key) {
                return i;
            }
        }
        return kAbsent;
    }
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t i = keyedHash(key) & mask;; i = (i + 1) & mask) {
        const std::uint32_t slot = slots_[i];
        if (slot == 0) {
            return kAbsent;
        }
        if (entries_[slot - 1].first == key) {
            return slot - 1;
        }
    }
}

const Value* Dictionary::find(std::string_view key) const {
    const std::size_t position = positionOf(key);
    return position == kAbsent ? nullptr : &entries_[position].second;
}

Value* Dictionary::find(std::string_view key) {
    return const_cast<Value*>(std::as_const(*this).find(key));
}

Value& Dictionary::append(std::string key, Value value) {
    Value& added = entries_.emplace_back(std::move(key), std::move(value)).second;
    if (entries_.size() * 2 > slots_.size()) {
        rebuildIndex();
    } else {
        place(entries_.size() - 1);
    }
    return added;
}

void Dictionary::place(std::size_t position) {
    const std::size_t mask = slots_.size() - 1;
    std::size_t i = keyedHash(entries_[position].first) & mask;
    while (slots_[i] != 0) {
        i = (i + 1) & mask;
    }
    slots_[i] = static_cast<std::uint32_t>(position + 1);
}

void Dictionary::rebuildIndex() {
    if (entries_.size() < kIndexedFrom) {
        slots_ = {};
        return;
    }
    slots_.assign(std::bit_ceil(entries_.size() * 2), 0);
    for (std::size_t i = 0; i < entries_.size(); ++i) {
        place(i);
    }
}

void Dictionary::set(std::string key, Value value) {
    if (Value* existing = find(key)) {
        *existing = std::move(value);
    } else {
        append(std::move(key), std::move(value));
    }
}

bool Dictionary::remove(std::string_view key) {
    const std::size_t position = positionOf(key);
    if (position == kAbsent) {
        return false;
    }
    entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(position));
    // Every later entry moved down one place; erasing was linear already.
    rebuildIndex();
    return true;
}

Value& Dictionary::operator[](std::string_view key) {
    if (Value* existing = find(key)) {
        return *existing;
    }
    return append(std::string(key), Value());
}

bool operator==(const Dictionary& a, const Dictionary& b) {
    if (a.size() != b.size()) {
        return false;
    }
    return std::all_of(a.begin(), a.end(), [&b](const Dictionary::Entry& entry) {
        const Value* other = b.find(entry.first);
        return other != nullptr && *other == entry.second;
    });
}

// ---- Value ------------------------------------------------------------------------------

Value::Value(Array a) : data_(std::make_shared<platform::Array>(std::move(a))) {}

Value::Value(Dictionary d) : data_(std::make_shared<platform::Dictionary>(std::move(d))) {}

Value::Value(std::initializer_list<std::pair<std::string, Value>> entries)
    : Value(Dictionary(entries)) {}

Value Value::array(std::initializer_list<Value> items) {
    return Value(platform::Array(items));
}

const Value& Value::null() {
    static const Value instance;
    return instance;
}

bool Value::isNumber() const {
    const Type t = type();
    return t == Type::Bool || t == Type::Int || t == Type::UInt || t == Type::Double;
}

const std::string* Value::stringIf() const {
    const auto* p = std::get_if<std::shared_ptr<std::string>>(&data_);
    return p ? p->get() : nullptr;
}

const platform::Bytes* Value::bytesIf() const {
    const auto* p = std::get_if<std::shared_ptr<platform::Bytes>>(&data_);
    return p ? p->get() : nullptr;
}

const platform::Array* Value::arrayIf() const {
    const auto* p = std::get_if<std::shared_ptr<platform::Array>>(&data_);
    return p ? p->get() : nullptr;
}

const platform::Dictionary* Value::dictionaryIf() const {
    const auto* p = std::get_if<std::shared_ptr<platform::Dictionary>>(&data_);
    return p ? p->get() : nullptr;
}

std::optional<Date> Value::dateIf() const {
    if (const auto* d = std::get_if<Date>(&data_)) {
        return *d;
    }
    return std::nullopt;
}

std::shared_ptr<const ValueObject> Value::objectIf() const {
    if (const auto* o = std::get_if<std::shared_ptr<const ValueObject>>(&data_)) {
        return *o;
    }
    return nullptr;
}

namespace {

// Copy-on-write: a shared payload is cloned before the first change through this Value.
template <typename T>
T* detach(std::shared_ptr<T>& storage) {
    if (storage.use_count() > 1) {
        storage = std::make_shared<T>(*storage);
    }
    return storage.get();
}

}  // namespace

platform::Array* Value::mutableArray() {
    auto* p = std::get_if<std::shared_ptr<platform::Array>>(&data_);
    return p ? detach(*p) : nullptr;
}

platform::Dictionary* Value::mutableDictionary() {
    auto* p = std::get_if<std::shared_ptr<platform::Dictionary>>(&data_);
    return p ? detach(*p) : nullptr;
}

std::optional<bool> Value::boolValue() const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(data_);
        case Type::Int:
            return std::get<std::int64_t>(data_) != 0;
        case Type::UInt:
            return std::get<std::uint64_t>(data_) != 0;
        case Type::Double:
            return std::get<double>(data_) != 0.0;
        case Type::String:
            return stringBoolValue(*stringIf());
        default:
            return std::nullopt;
    }
}

std::optional<std::int64_t> Value::intValue() const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(data_) ? 1 : 0;
        case Type::Int:
            return std::get<std::int64_t>(data_);
        case Type::UInt: {
            const std::uint64_t u = std::get<std::uint64_t>(data_);
            constexpr auto max =
                static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max());
            return static_cast<std::int64_t>(std::min(u, max));
        }
        case Type::Double:
            return saturatingInt(std::get<double>(data_));
        case Type::String:
            return stringIntValue(*stringIf());
        default:
            return std::nullopt;
    }
}

std::optional<double> Value::doubleValue() const {
    switch (type()) {
        case Type::Bool:
            return std::get<bool>(data_) ? 1.0 : 0.0;
        case Type::Int:
            return static_cast<double>(std::get<std::int64_t>(data_));
        case Type::UInt:
            return static_cast<double>(std::get<std::uint64_t>(data_));
        case Type::Double:
            return std::get<double>(data_);
        case Type::String:
            return stringDoubleValue(*stringIf());
        default:
            return std::nullopt;
    }
}

std::optional<std::string> Value::stringValue() const {
    switch (type()) {
        case Type::Bool:
            return std::string(std::get<bool>(data_) ? "1" : "0");
        case Type::Int:
            return numberText(std::get<std::int64_t>(data_));
        case Type::UInt:
            return numberText(std::get<std::uint64_t>(data_));
        case Type::Double:
            return numberText(std::get<double>(data_));
        case Type::String:
            return *stringIf();
        default:
            return std::nullopt;
    }
}

const Value& Value::operator[](std::string_view key) const {
    const Value* found = find(key);
    return found ? *found : null();
}

Value& Value::operator[](std::string_view key) {
    if (isNull()) {
        *this = Value(platform::Dictionary());
    }
    platform::Dictionary* dictionary = mutableDictionary();
    if (dictionary == nullptr) {
        // Indexing a scalar by key is a programming error; keep it harmless.
        static thread_local Value scratch;
        scratch = Value();
        return scratch;
    }
    return (*dictionary)[key];
}

const Value* Value::find(std::string_view key) const {
    const platform::Dictionary* dictionary = dictionaryIf();
    return dictionary ? dictionary->find(key) : nullptr;
}

std::size_t Value::size() const {
    if (const auto* a = arrayIf()) {
        return a->size();
    }
    if (const auto* d = dictionaryIf()) {
        return d->size();
    }
    if (const auto* b = bytesIf()) {
        return b->size();
    }
    return 0;
}

bool operator==(const Value& a, const Value& b) {
    using Type = Value::Type;
    const Type ta = a.type();
    const Type tb = b.type();
    // Integers compare by value whatever their signedness: JSON text cannot tell them apart.
    const bool aInt = ta == Type::Int || ta == Type::UInt;
    const bool bInt = tb == Type::Int || tb == Type::UInt;
    if (aInt && bInt && ta != tb) {
        const std::uint64_t u =
            ta == Type::UInt ? std::get<std::uint64_t>(a.data_) : std::get<std::uint64_t>(b.data_);
        const std::int64_t i =
            ta == Type::Int ? std::get<std::int64_t>(a.data_) : std::get<std::int64_t>(b.data_);
        return i >= 0 && static_cast<std::uint64_t>(i) == u;
    }
    if (ta != tb) {
        return false;
    }
    switch (ta) {
        case Type::String:
            return *a.stringIf() == *b.stringIf();
        case Type::Bytes:
            return *a.bytesIf() == *b.bytesIf();
        case Type::Array:
            return *a.arrayIf() == *b.arrayIf();
        case Type::Dictionary:
            return *a.dictionaryIf() == *b.dictionaryIf();
        default:
            return a.data_ == b.data_;
    }
}

}  // namespace platform
