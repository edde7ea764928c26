#include "platform/foundation/Json.h"

#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <vector>

#include "platform/foundation/Utf8.h"

namespace platform::json {

namespace {

Error jsonError(long code, std::string message) {
    return Error{kErrorDomain, code, std::move(message)};
}

enum ErrorCode : long { kNotJson = 1, kSyntax = 2, kTopLevel = 3, kTooDeep = 4, kTooManyKeys = 5 };

// ---- writing ----------------------------------------------------------------------------

class Writer {
public:
    explicit Writer(Style style) : pretty_(style == Style::Pretty) {}

    // Returns false, leaving a message in error(), for values JSON cannot carry.
    bool write(const Value& value, int depth) {
        if (depth > kMaxDepth) {
            return fail("nesting deeper than " + std::to_string(kMaxDepth));
        }
        switch (value.type()) {
            case Value::Type::Null:
                out_ += "null";
                return true;
            case Value::Type::Bool:
                out_ += *value.boolValue() ? "true" : "false";
                return true;
            case Value::Type::Int:
            case Value::Type::UInt:
                out_ += *value.stringValue();
                return true;
            case Value::Type::Double:
                return writeReal(*value.doubleValue());
            case Value::Type::String:
                return writeString(*value.stringIf());
            case Value::Type::Array:
                return writeArray(*value.arrayIf(), depth);
            case Value::Type::Dictionary:
                return writeObject(*value.dictionaryIf(), depth);
            case Value::Type::Bytes:
                return fail("bytes have no JSON form");
            case Value::Type::Date:
                return fail("dates have no JSON form");
            case Value::Type::Object:
                return fail("objects have no JSON form");
        }
        return fail("unknown value type");
    }

    std::string take() { return std::move(out_); }
    const std::string& error() const { return error_; }

private:
    bool fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

    void newline(int depth) {
        if (pretty_) {
            out_ += '\n';
            out_.append(static_cast<std::size_t>(depth) * 2, ' ');
        }
    }

    bool writeReal(double d) {
        if (!std::isfinite(d)) {
            return fail("non-finite number has no JSON form");
        }
        char buffer[32];
        const auto result = std::to_chars(buffer, buffer + sizeof buffer, d);
        const std::string_view text(buffer, static_cast<std::size_t>(result.ptr - buffer));
        out_ += text;
        if (text.find_first_of(".eE") == std::string_view::npos) {
            out_ += ".0";
        }
        return true;
    }

    bool writeString(std::string_view s) {
        if (!isValidUtf8(s)) {
            return fail("text is not UTF-8");
        }
        static constexpr char kHex[] = "0123456789abcdef";
        out_ += '"';
        for (char c : s) {
            switch (c) {
                case '"':
                    out_ += "\\\"";
                    break;
                case '\\':
                    out_ += "\\\\";
                    break;
                case '\n':
                    out_ += "\\n";
                    break;
                case '\r':
                    out_ += "\\r";
                    break;
                case '\t':
                    out_ += "\\t";
                    break;
                case '\b':
                    out_ += "\\b";
                    break;
                case '\f':
                    out_ += "\\f";
                    break;
                default:
                    if (static_cast<unsigned char>(c) < 0x20) {
                        out_ += "\\u00";
                        out_ += kHex[(c >> 4) & 0xF];
                        out_ += kHex[c & 0xF];
                    } else {
                        out_ += c;
                    }
            }
        }
        out_ += '"';
        return true;
    }

    bool writeArray(const Array& array, int depth) {
        out_ += '[';
        bool first = true;
        for (const Value& item : array) {
            if (!first) {
                out_ += ',';
            }
            first = false;
            newline(depth + 1);
            if (!write(item, depth + 1)) {
                return false;
            }
        }
        if (!array.empty()) {
            newline(depth);
        }
        out_ += ']';
        return true;
    }

    bool writeObject(const Dictionary& object, int depth) {
        out_ += '{';
        bool first = true;
        for (const auto& [key, item] : object) {
            if (!first) {
                out_ += ',';
            }
            first = false;
            newline(depth + 1);
            if (!writeString(key)) {
                return false;
            }
            out_ += pretty_ ? " : " : ":";
            if (!write(item, depth + 1)) {
                return false;
            }
        }
        if (!object.empty()) {
            newline(depth);
        }
        out_ += '}';
        return true;
    }

    bool pretty_;
    std::string out_;
    std::string error_;
};

// ---- reading ----------------------------------------------------------------------------

// Builds a Value straight from the parser's events, with an explicit stack instead of
// recursion, and refuses nesting beyond kMaxDepth and objects beyond kMaxKeys.
class Builder : public nlohmann::json_sax<nlohmann::json> {
public:
    bool null() override { return add(Value()); }
    bool boolean(bool b) override { return add(Value(b)); }
    bool number_integer(number_integer_t i) override { return add(Value(std::int64_t{i})); }
    bool number_unsigned(number_unsigned_t u) override {
        if (u <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
            return add(Value(static_cast<std::int64_t>(u)));
        }
        return add(Value(std::uint64_t{u}));
    }
    bool number_float(number_float_t d, const string_t&) override { return add(Value(d)); }
    bool string(string_t& s) override { return add(Value(std::move(s))); }
    bool binary(binary_t&) override { return fail(kSyntax, "binary values are not JSON"); }

    bool start_object(std::size_t) override { return open(Value(Dictionary())); }
    bool key(string_t& k) override {
        const Dictionary& object = *stack_.back().dictionaryIf();
        if (object.size() >= kMaxKeys && !object.contains(k)) {
            return fail(kTooManyKeys,
                        "object with more than " + std::to_string(kMaxKeys) + " keys");
        }
        keys_.push_back(std::move(k));
        return true;
    }
    bool end_object() override { return close(); }
    bool start_array(std::size_t) override { return open(Value(Array())); }
    bool end_array() override { return close(); }

    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& e) override {
        return fail(kSyntax, "invalid JSON at byte " + std::to_string(position) + ": " +
                                 std::string(e.what()));
    }

    Result<Value> result() {
        if (error_) {
            return *error_;
        }
        return std::move(root_);
    }

private:
    bool fail(long code, std::string message) {
        if (!error_) {
            error_ = jsonError(code, std::move(message));
        }
        return false;
    }

    bool open(Value container) {
        if (stack_.empty() && !root_.isNull()) {
            return fail(kSyntax, "more than one top-level value");
        }
        if (static_cast<int>(stack_.size()) >= kMaxDepth) {
            return fail(kTooDeep, "nesting deeper than " + std::to_string(kMaxDepth));
        }
        stack_.push_back(std::move(container));
        return true;
    }

    bool close() {
        Value done = std::move(stack_.back());
        stack_.pop_back();
        return add(std::move(done));
    }

    bool add(Value value) {
        if (stack_.empty()) {
            if (!value.isArray() && !value.isDictionary()) {
                return fail(kTopLevel, "top level is neither an object nor an array");
            }
            root_ = std::move(value);
            return true;
        }
        Value& parent = stack_.back();
        if (Array* array = parent.mutableArray()) {
            array->push_back(std::move(value));
        } else {
            parent.mutableDictionary()->set(std::move(keys_.back()), std::move(value));
            keys_.pop_back();
        }
        return true;
    }

    std::vector<Value> stack_;
    std::vector<std::string> keys_;
    Value root_;
    std::optional<Error> error_;
};

}  // namespace

Result<std::string> write(const Value& value, Style style) {
    Writer writer(style);
    if (!writer.write(value, 0)) {
        return jsonError(kNotJson, writer.error());
    }
    return writer.take();
}

Result<Value> parse(std::string_view text) {
    Builder builder;
    // The SAX interface reports failures through parse_error; it never throws here.
    nlohmann::json::sax_parse(text.begin(), text.end(), &builder,
                              nlohmann::detail::input_format_t::json, true);
    return builder.result();
}

}  // namespace platform::json
