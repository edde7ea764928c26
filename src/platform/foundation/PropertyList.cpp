#include "platform/foundation/PropertyList.h"

#include <expat.h>

#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

#include "platform/foundation/Base64.h"
#include "platform/foundation/CivilTime.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/Text.h"
#include "platform/foundation/Utf8.h"
#include "platform/foundation/XmlParser.h"

namespace platform::plist {

namespace {

Error plistError(long code, std::string message) {
    return Error{kErrorDomain, code, std::move(message)};
}

// ---- dates ------------------------------------------------------------------------------

// The dates the form YYYY-MM-DDTHH:MM:SS[.fff]Z can carry: from 0000-01-01T00:00:00Z up to,
// not including, 10000-01-01T00:00:00Z.
constexpr double kFirstDate = -62167219200.0;
constexpr double kEndOfDates = 253402300800.0;

bool isWritableDate(double seconds) {
    return seconds >= kFirstDate && seconds < kEndOfDates;  // false for NaN
}

std::optional<std::string> formatDate(Date date) {
    if (!isWritableDate(date.secondsSince1970)) {
        return std::nullopt;
    }
    double whole = std::floor(date.secondsSince1970);
    double fraction = date.secondsSince1970 - whole;
    if (fraction >= 1.0) {  // a tiny negative value rounds up to the next second
        whole += 1;
        fraction = 0;
    }
    const CivilTime t = civilFromSeconds(static_cast<std::int64_t>(whole));
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%04lld-%02u-%02uT%02u:%02u:%02u",
                  static_cast<long long>(t.year), t.month, t.day, t.hour, t.minute, t.second);
    std::string text = buffer;
    if (fraction > 0) {
        // Whole seconds are the usual form; a fraction is kept so a value survives a round
        // trip. Fixed notation of a fraction below one takes at most "0." and 340 digits.
        char digits[400];
        const auto result =
            std::to_chars(digits, digits + sizeof digits, fraction, std::chars_format::fixed);
        if (result.ec != std::errc{}) {
            return std::nullopt;
        }
        text.append(digits + 1, result.ptr);  // drop the leading "0"
    }
    return text + "Z";
}

// The number written with exactly length digits at, without the sign from_chars would take.
std::optional<unsigned> digitsAt(std::string_view text, std::size_t at, std::size_t length) {
    unsigned value = 0;
    for (const char c : text.substr(at, length)) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    return value;
}

// YYYY-MM-DDTHH:MM:SS[.digits]Z naming a moment that exists: days within their month, and
// second 60 only as a leap second at 23:59.
std::optional<Date> parseDate(std::string_view text) {
    if (text.size() < 20 || text[4] != '-' || text[7] != '-' || text[10] != 'T' ||
        text[13] != ':' || text[16] != ':' || text.back() != 'Z') {
        return std::nullopt;
    }
    const auto year = digitsAt(text, 0, 4);
    const auto month = digitsAt(text, 5, 2);
    const auto day = digitsAt(text, 8, 2);
    const auto hour = digitsAt(text, 11, 2);
    const auto minute = digitsAt(text, 14, 2);
    const auto second = digitsAt(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second) {
        return std::nullopt;
    }
    if (*month < 1 || *month > 12 || *day < 1 || *day > daysInMonth(*year, *month) || *hour > 23 ||
        *minute > 59 || *second > 60 || (*second == 60 && (*hour != 23 || *minute != 59))) {
        return std::nullopt;
    }
    double fraction = 0;
    const std::string_view tail = text.substr(19, text.size() - 20);
    if (!tail.empty()) {
        if (tail.front() != '.' || tail.size() < 2 ||
            tail.find_first_not_of("0123456789", 1) != std::string_view::npos) {
            return std::nullopt;
        }
        // Digits alone read within [0, 1]; one too small for a double stays 0.
        const std::string digits = "0" + std::string(tail);
        std::from_chars(digits.data(), digits.data() + digits.size(), fraction);
    }
    const std::int64_t seconds =
        secondsFromCivil(CivilTime{*year, *month, *day, *hour, *minute, *second});
    const double value = static_cast<double>(seconds) + fraction;
    // A leap second or a fraction rounding up may carry the last moment of 9999 past it.
    if (!isWritableDate(value)) {
        return std::nullopt;
    }
    return Date{value};
}

// ---- writing ----------------------------------------------------------------------------

bool isXmlText(std::string_view text) {
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 && c != '\t' && c != '\n' && c != '\r') {
            return false;
        }
    }
    return isValidUtf8(text);
}

class Writer {
public:
    bool write(const Value& value, int depth) {
        if (depth > kMaxDepth) {
            return fail("nesting deeper than " + std::to_string(kMaxDepth));
        }
        indent(depth);
        switch (value.type()) {
            case Value::Type::Null:
                return fail("null has no property-list form");
            case Value::Type::Bool:
                out_ += *value.boolValue() ? "<true/>\n" : "<false/>\n";
                return true;
            case Value::Type::Int:
            case Value::Type::UInt:
                return element("integer", *value.stringValue());
            case Value::Type::Double: {
                const double d = *value.doubleValue();
                if (std::isnan(d)) {
                    return element("real", "nan");
                }
                if (std::isinf(d)) {
                    return element("real", d > 0 ? "+infinity" : "-infinity");
                }
                return element("real", *value.stringValue());
            }
            case Value::Type::String:
                return element("string", *value.stringIf());
            case Value::Type::Bytes:
                return element("data", base64::encode(*value.bytesIf()));
            case Value::Type::Date: {
                const auto text = formatDate(*value.dateIf());
                if (!text) {
                    return fail("a date outside the years 0000 to 9999 has no property-list form");
                }
                return element("date", *text);
            }
            case Value::Type::Array:
                return writeArray(*value.arrayIf(), depth);
            case Value::Type::Dictionary:
                return writeDictionary(*value.dictionaryIf(), depth);
            case Value::Type::Object:
                return fail("objects have no property-list form");
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

    void indent(int depth) { out_.append(static_cast<std::size_t>(depth), '\t'); }

    bool element(std::string_view name, std::string_view text) {
        if (!isXmlText(text)) {
            return fail("text is not UTF-8 or holds characters XML cannot carry");
        }
        out_ += '<';
        out_ += name;
        out_ += '>';
        xml::appendEscapedText(out_, text);
        out_ += "</";
        out_ += name;
        out_ += ">\n";
        return true;
    }

    bool writeArray(const Array& array, int depth) {
        if (array.empty()) {
            out_ += "<array/>\n";
            return true;
        }
        out_ += "<array>\n";
        for (const Value& item : array) {
            if (!write(item, depth + 1)) {
                return false;
            }
        }
        indent(depth);
        out_ += "</array>\n";
        return true;
    }

    bool writeDictionary(const Dictionary& dictionary, int depth) {
        if (dictionary.empty()) {
            out_ += "<dict/>\n";
            return true;
        }
        out_ += "<dict>\n";
        for (const auto& [key, item] : dictionary) {
            indent(depth + 1);
            if (!element("key", key) || !write(item, depth + 1)) {
                return false;
            }
        }
        indent(depth);
        out_ += "</dict>\n";
        return true;
    }

    std::string out_;
    std::string error_;
};

// ---- reading ----------------------------------------------------------------------------

class Reader {
public:
    Reader() : parser_(XML_ParserCreate("UTF-8")) {
        XML_SetUserData(parser_.get(), this);
        XML_SetElementHandler(parser_.get(), &Reader::onStart, &Reader::onEnd);
        XML_SetCharacterDataHandler(parser_.get(), &Reader::onText);
        XML_SetStartDoctypeDeclHandler(parser_.get(), &Reader::onDocumentType);
    }

    Result<Value> parse(std::string_view text) {
        if (text.size() > static_cast<std::size_t>(INT_MAX)) {
            return plistError(kNotPlist, "property list too large");
        }
        const auto status =
            XML_Parse(parser_.get(), text.data(), static_cast<int>(text.size()), XML_TRUE);
        if (error_) {
            return *error_;
        }
        if (status != XML_STATUS_OK) {
            return plistError(kSyntax, "invalid XML at line " +
                                           std::to_string(XML_GetCurrentLineNumber(parser_.get())) +
                                           ": " + XML_ErrorString(XML_GetErrorCode(parser_.get())));
        }
        if (!sawPlist_ || !root_) {
            return plistError(kNotPlist, "no property list in the text");
        }
        return std::move(*root_);
    }

private:
    struct Frame {
        Value container;
        std::optional<std::string> key;  // a dictionary's key still waiting for its value
    };

    enum class Collect { None, Key, Scalar };

    // Expat may still deliver the event in progress after a stop, so each handler first
    // checks whether reading already failed.
    static void onStart(void* self, const XML_Char* name, const XML_Char**) {
        auto* reader = static_cast<Reader*>(self);
        if (!reader->error_) {
            reader->start(name);
        }
    }
    static void onEnd(void* self, const XML_Char* name) {
        auto* reader = static_cast<Reader*>(self);
        if (!reader->error_) {
            reader->end(name);
        }
    }
    static void onText(void* self, const XML_Char* text, int length) {
        auto* reader = static_cast<Reader*>(self);
        if (!reader->error_) {
            reader->characters(std::string_view(text, static_cast<std::size_t>(length)));
        }
    }

    // A property list needs no document type, and one could declare entities that expand
    // without bound; it is refused before its internal subset is read.
    static void onDocumentType(void* self, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<Reader*>(self)->fail(kDocumentType,
                                         "document type declarations are not accepted");
    }

    void fail(long code, std::string message) {
        if (!error_) {
            error_ =
                plistError(code, "line " + std::to_string(XML_GetCurrentLineNumber(parser_.get())) +
                                     ": " + message);
        }
        XML_StopParser(parser_.get(), XML_FALSE);
    }

    void start(std::string_view name) {
        if (collect_ != Collect::None) {
            return fail(kStructure, "element <" + std::string(name) + "> inside a text element");
        }
        if (name == "plist") {
            if (sawPlist_ || !stack_.empty()) {
                return fail(kStructure, "unexpected <plist>");
            }
            sawPlist_ = true;
            return;
        }
        if (!sawPlist_) {
            return fail(kNotPlist, "the root element is not <plist>");
        }
        if (name == "key") {
            if (stack_.empty() || !stack_.back().container.isDictionary() || stack_.back().key) {
                return fail(kStructure, "<key> outside a dictionary or without a value");
            }
            collect_ = Collect::Key;
            text_.clear();
            return;
        }
        if (!expectingValue()) {
            return fail(kStructure, "<" + std::string(name) + "> where a key or nothing belongs");
        }
        if (name == "dict" || name == "array") {
            if (static_cast<int>(stack_.size()) >= kMaxDepth) {
                return fail(kTooDeep, "nesting deeper than " + std::to_string(kMaxDepth));
            }
            stack_.push_back(Frame{name == "dict" ? Value(Dictionary()) : Value(Array()), {}});
            return;
        }
        static constexpr std::string_view kScalars[] = {"string", "integer", "real", "date",
                                                        "data",   "true",    "false"};
        for (std::string_view scalar : kScalars) {
            if (name == scalar) {
                collect_ = Collect::Scalar;
                text_.clear();
                return;
            }
        }
        fail(kStructure, "unknown element <" + std::string(name) + ">");
    }

    void end(std::string_view name) {
        if (name == "plist") {
            return;
        }
        if (name == "key") {
            collect_ = Collect::None;
            const Dictionary& dictionary = *stack_.back().container.dictionaryIf();
            if (dictionary.size() >= kMaxKeys && !dictionary.contains(text_)) {
                return fail(kTooManyKeys,
                            "dictionary with more than " + std::to_string(kMaxKeys) + " keys");
            }
            stack_.back().key = std::move(text_);
            return;
        }
        if (name == "dict" || name == "array") {
            Frame frame = std::move(stack_.back());
            if (frame.key) {
                return fail(kStructure, "key \"" + *frame.key + "\" has no value");
            }
            stack_.pop_back();
            return add(std::move(frame.container));
        }
        collect_ = Collect::None;
        std::optional<Value> scalar = convert(name);
        if (!scalar) {
            return fail(kSyntax, "invalid <" + std::string(name) + "> \"" + text_ + "\"");
        }
        add(std::move(*scalar));
    }

    void characters(std::string_view text) {
        if (collect_ != Collect::None) {
            text_ += text;
        } else if (text.find_first_not_of(" \t\r\n") != std::string_view::npos) {
            fail(kStructure, "text outside an element");
        }
    }

    bool expectingValue() const {
        if (stack_.empty()) {
            return !root_;
        }
        const Frame& top = stack_.back();
        return top.container.isArray() || top.key.has_value();
    }

    std::optional<Value> convert(std::string_view name) const {
        if (name == "string") {
            return Value(text_);
        }
        if (name == "true" || name == "false") {
            if (!text_.empty()) {
                return std::nullopt;
            }
            return Value(name == "true");
        }
        const std::string_view text = trimmed();
        if (name == "integer") {
            return integer(text);
        }
        if (name == "real") {
            return real(text);
        }
        if (name == "date") {
            if (auto date = parseDate(text)) {
                return Value(*date);
            }
            return std::nullopt;
        }
        if (auto bytes = base64::decode(text_)) {  // data
            return Value(std::move(*bytes));
        }
        return std::nullopt;
    }

    std::string_view trimmed() const { return trimmedAsciiSpace(text_); }

    static std::optional<Value> integer(std::string_view text) {
        const char* first = text.data();
        const char* last = text.data() + text.size();
        if (!text.empty() && text.front() == '+') {
            ++first;
        }
        std::int64_t i = 0;
        auto result = std::from_chars(first, last, i);
        if (result.ec == std::errc{} && result.ptr == last && first != last) {
            return Value(i);
        }
        std::uint64_t u = 0;
        result = std::from_chars(first, last, u);
        if (result.ec == std::errc{} && result.ptr == last && first != last) {
            return Value(u);
        }
        return std::nullopt;
    }

    static std::optional<Value> real(std::string_view text) {
        if (text == "nan") {
            return Value(std::numeric_limits<double>::quiet_NaN());
        }
        if (text == "+infinity" || text == "infinity" || text == "-infinity") {
            return Value(text.front() == '-' ? -HUGE_VAL : HUGE_VAL);
        }
        const char* first = text.data();
        const char* last = text.data() + text.size();
        if (!text.empty() && text.front() == '+') {
            ++first;
        }
        double d = 0;
        const auto result = std::from_chars(first, last, d);
        if (result.ec == std::errc{} && result.ptr == last && first != last) {
            return Value(d);
        }
        return std::nullopt;
    }

    void add(Value value) {
        if (stack_.empty()) {
            root_ = std::move(value);
            return;
        }
        Frame& top = stack_.back();
        if (Array* array = top.container.mutableArray()) {
            array->push_back(std::move(value));
        } else {
            top.container.mutableDictionary()->set(std::move(*top.key), std::move(value));
            top.key.reset();
        }
    }

    struct ParserFree {
        void operator()(XML_Parser parser) const { XML_ParserFree(parser); }
    };
    std::unique_ptr<std::remove_pointer_t<XML_Parser>, ParserFree> parser_;
    std::vector<Frame> stack_;
    std::optional<Value> root_;
    std::string text_;
    Collect collect_ = Collect::None;
    bool sawPlist_ = false;
    std::optional<Error> error_;
};

}  // namespace

Result<std::string> write(const Value& value) {
    Writer writer;
    if (!writer.write(value, 0)) {
        return plistError(kNotPlist, writer.error());
    }
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<plist version=\"1.0\">\n" +
           writer.take() + "</plist>\n";
}

Result<Value> parse(std::string_view text) {
    return Reader().parse(text);
}

Result<Value> readFile(const std::filesystem::path& path) {
    auto data = fs::readFile(path);
    if (!data) {
        return data.error();
    }
    return parse(*data);
}

Result<void> writeFile(const std::filesystem::path& path, const Value& value) {
    auto text = write(value);
    if (!text) {
        return text.error();
    }
    return fs::writeFileAtomically(path, *text);
}

}  // namespace platform::plist
