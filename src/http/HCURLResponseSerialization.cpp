#include "http/HCURLResponseSerialization.h"

#include <algorithm>
#include <cctype>

#include "http/HCCoding.h"
#include "http/HCImageResponseSerialization.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/Utf8.h"

using platform::Bytes;
using platform::Value;
using platform::net::URLResponse;

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The usual reason phrase of a status code, as the platform's text for it.
std::string statusText(int code) {
    switch (code) {
        case 400:
            return "bad request";
        case 401:
            return "unauthorized";
        case 403:
            return "forbidden";
        case 404:
            return "not found";
        case 405:
            return "method not allowed";
        case 409:
            return "conflict";
        case 410:
            return "no longer exists";
        case 429:
            return "too many requests";
        case 500:
            return "internal server error";
        case 501:
            return "unimplemented";
        case 502:
            return "bad gateway";
        case 503:
            return "service unavailable";
        case 504:
            return "gateway timed out";
        default:
            if (code >= 300 && code < 400)
                return "redirected";
            if (code >= 400 && code < 500)
                return "client error";
            if (code >= 500)
                return "server error";
            return code >= 200 && code < 300 ? "success" : "informational";
    }
}

HCError validationError(long code, std::string description, const URLResponse& response,
                        const std::optional<Bytes>& data) {
    HCError error;
    error.domain = kHCURLResponseSerializationErrorDomain;
    error.code = code;
    error.localizedDescription = std::move(description);
    error.failingURL = response.url;
    error.response = response;
    error.data = data;
    return error;
}

enum class TextEncoding { utf8, latin1, ascii, unknown };

TextEncoding encodingNamed(const std::string& name) {
    const std::string key = lowered(name);
    if (key == "utf-8" || key == "utf8")
        return TextEncoding::utf8;
    if (key == "iso-8859-1" || key == "latin1" || key == "iso_8859-1" || key == "windows-1252")
        return TextEncoding::latin1;
    if (key == "us-ascii" || key == "ascii")
        return TextEncoding::ascii;
    return TextEncoding::unknown;
}

// The body as UTF-8 text, or nothing when it is not text in that encoding.
std::optional<std::string> decodeText(const Bytes& data, TextEncoding encoding) {
    switch (encoding) {
        case TextEncoding::utf8: {
            std::string text(data.begin(), data.end());
            if (!platform::isValidUtf8(text)) {
                return std::nullopt;
            }
            return text;
        }
        case TextEncoding::ascii:
            if (std::any_of(data.begin(), data.end(), [](std::uint8_t b) { return b >= 0x80; })) {
                return std::nullopt;
            }
            return std::string(data.begin(), data.end());
        case TextEncoding::latin1: {
            std::string text;
            for (const std::uint8_t b : data) {
                if (b < 0x80) {
                    text += static_cast<char>(b);
                } else {
                    text += static_cast<char>(0xC0 | (b >> 6));
                    text += static_cast<char>(0x80 | (b & 0x3F));
                }
            }
            return text;
        }
        case TextEncoding::unknown:
            break;
    }
    return std::nullopt;
}

}  // namespace

bool HCIsKnownStringEncoding(std::string_view encoding) {
    return encodingNamed(std::string(encoding)) != TextEncoding::unknown;
}

std::optional<std::string> HCStringFromData(const Bytes& data, std::string_view encoding) {
    return decodeText(data, encodingNamed(std::string(encoding)));
}

// ---- HCHTTPResponseSerializer ----

HCHTTPResponseSerializer::HCHTTPResponseSerializer() {
    std::set<int> codes;
    for (int code = 200; code < 300; ++code) {
        codes.insert(code);
    }
    acceptableStatusCodes = std::move(codes);
}

std::shared_ptr<HCHTTPResponseSerializer> HCHTTPResponseSerializer::serializer() {
    return std::make_shared<HCHTTPResponseSerializer>();
}

bool HCHTTPResponseSerializer::validateResponse(const std::optional<URLResponse>& response,
                                                const std::optional<Bytes>& data,
                                                std::optional<HCError>* error) const {
    if (!response) {
        return true;
    }
    bool valid = true;
    std::optional<HCError> made;
    if (acceptableContentTypes && !acceptableContentTypes->contains(response->mimeType)) {
        valid = false;
        if (data && !data->empty() && !response->url.empty()) {
            made = HCErrorWithUnderlyingError(
                validationError(-1016,
                                "Request failed: unacceptable content-type: " + response->mimeType,
                                *response, data),
                std::nullopt);
        }
    }
    if (acceptableStatusCodes && !acceptableStatusCodes->contains(response->statusCode) &&
        !response->url.empty()) {
        valid = false;
        made = HCErrorWithUnderlyingError(
            validationError(-1011,
                            "Request failed: " + statusText(response->statusCode) + " (" +
                                std::to_string(response->statusCode) + ")",
                            *response, data),
            made);
    }
    if (error != nullptr && !valid) {
        *error = made;
    }
    return valid;
}

HCResponseObject HCHTTPResponseSerializer::responseObject(
    const std::optional<URLResponse>& response, const std::optional<Bytes>& data,
    std::optional<HCError>* error) const {
    (void)validateResponse(response, data, error);
    return data ? Value(*data) : Value();
}

HCResponseObject HCHTTPResponseSerializer::responseObjectTakingBody(
    const std::optional<URLResponse>& response, std::optional<Bytes>& data,
    std::optional<HCError>* error) const {
    // Only this class's result is the body itself; subclasses parse it.
    if (typeid(*this) != typeid(HCHTTPResponseSerializer)) {
        return HCURLResponseSerialization::responseObjectTakingBody(response, data, error);
    }
    (void)validateResponse(response, data, error);
    return takeBody(data);
}

HCResponseObject HCHTTPResponseSerializer::takeBody(std::optional<Bytes>& data) {
    if (!data) {
        return Value();
    }
    Value body(std::move(*data));
    data.reset();
    return body;
}

std::unique_ptr<HCURLResponseSerialization> HCHTTPResponseSerializer::copy() const {
    auto made = std::make_unique<HCHTTPResponseSerializer>();
    made->acceptableStatusCodes = acceptableStatusCodes;
    made->acceptableContentTypes = acceptableContentTypes;
    return made;
}

Value HCHTTPResponseSerializer::encode() const {
    Value coded{{"class", Value(className())}};
    if (acceptableStatusCodes) {
        platform::Array codes;
        for (const int code : *acceptableStatusCodes) {
            codes.push_back(Value(code));
        }
        coded["acceptableStatusCodes"] = Value(std::move(codes));
    }
    if (acceptableContentTypes) {
        platform::Array types;
        for (const std::string& type : *acceptableContentTypes) {
            types.push_back(Value(type));
        }
        coded["acceptableContentTypes"] = Value(std::move(types));
    }
    return coded;
}

std::shared_ptr<HCHTTPResponseSerializer> HCHTTPResponseSerializer::decode(const Value& coded) {
    const std::string* name = coded["class"].stringIf();
    std::shared_ptr<HCHTTPResponseSerializer> made;
    if (name == nullptr) {
        return nullptr;
    }
    if (*name == "HCHTTPResponseSerializer") {
        made = std::make_shared<HCHTTPResponseSerializer>();
    } else if (*name == "HCJSONResponseSerializer") {
        auto json = std::make_shared<HCJSONResponseSerializer>();
        json->readingOptions = HCCodedUnsigned(coded["readingOptions"]);
        json->removesKeysWithNullValues =
            coded["removesKeysWithNullValues"].boolValue().value_or(false);
        made = json;
    } else if (*name == "HCXMLParserResponseSerializer") {
        made = std::make_shared<HCXMLParserResponseSerializer>();
    } else if (*name == "HCPropertyListResponseSerializer") {
        auto plist = std::make_shared<HCPropertyListResponseSerializer>();
        plist->format = HCCodedUnsigned(coded["format"]);
        plist->readOptions = HCCodedUnsigned(coded["readOptions"]);
        made = plist;
    } else if (*name == "HCImageResponseSerializer") {
        auto image = std::make_shared<HCImageResponseSerializer>();
        image->imageScale = coded["imageScale"].doubleValue().value_or(0);
        image->automaticallyInflatesResponseImage =
            coded["automaticallyInflatesResponseImage"].boolValue().value_or(false);
        made = image;
    } else if (*name == "HCCompoundResponseSerializer") {
        auto compound = std::make_shared<HCCompoundResponseSerializer>();
        if (const platform::Array* members = coded["responseSerializers"].arrayIf()) {
            for (const Value& member : *members) {
                if (auto decoded = decode(member)) {
                    compound->responseSerializers.push_back(std::move(decoded));
                }
            }
        }
        made = compound;
    } else {
        return nullptr;
    }
    made->acceptableStatusCodes.reset();
    if (const platform::Array* codes = coded["acceptableStatusCodes"].arrayIf()) {
        made->acceptableStatusCodes.emplace();
        for (const Value& code : *codes) {
            if (const auto number = code.intValue()) {
                made->acceptableStatusCodes->insert(static_cast<int>(*number));
            }
        }
    }
    made->acceptableContentTypes.reset();
    if (const platform::Array* types = coded["acceptableContentTypes"].arrayIf()) {
        made->acceptableContentTypes.emplace();
        for (const Value& type : *types) {
            if (const std::string* text = type.stringIf()) {
                made->acceptableContentTypes->insert(*text);
            }
        }
    }
    return made;
}

bool HCHTTPResponseSerializer::stopsAfterValidation(const std::optional<URLResponse>& response,
                                                    const std::optional<Bytes>& data,
                                                    std::optional<HCError>* error) const {
    if (validateResponse(response, data, error)) {
        return false;
    }
    return error == nullptr ||
           (*error && HCErrorOrUnderlyingErrorHasCodeInDomain(
                          **error, -1016, kHCURLResponseSerializationErrorDomain));
}

// ---- HCJSONResponseSerializer ----

HCJSONResponseSerializer::HCJSONResponseSerializer() {
    acceptableContentTypes =
        std::set<std::string>{"application/json", "text/json", "text/javascript"};
}

std::shared_ptr<HCJSONResponseSerializer> HCJSONResponseSerializer::serializer() {
    return serializerWithReadingOptions(0);
}

std::shared_ptr<HCJSONResponseSerializer> HCJSONResponseSerializer::serializerWithReadingOptions(
    std::uint64_t options) {
    auto made = std::make_shared<HCJSONResponseSerializer>();
    made->readingOptions = options;
    return made;
}

HCResponseObject HCJSONResponseSerializer::responseObject(
    const std::optional<URLResponse>& response, const std::optional<Bytes>& data,
    std::optional<HCError>* error) const {
    if (stopsAfterValidation(response, data, error)) {
        return Value();
    }
    TextEncoding encoding = encodingNamed(stringEncoding);
    if (response && !response->textEncodingName.empty() &&
        encodingNamed(response->textEncodingName) != TextEncoding::unknown) {
        encoding = encodingNamed(response->textEncodingName);
    }
    Value object;
    std::optional<HCError> ownError;
    static const Bytes none;
    const Bytes& body = data ? *data : none;
    const std::optional<std::string> text = decodeText(body, encoding);
    if (!text) {
        // A body that is not text in its encoding is a decoding failure, not an empty success.
        HCError failure;
        failure.domain = kHCURLResponseSerializationErrorDomain;
        failure.code = -1016;
        failure.localizedDescription = "Data failed decoding as a UTF-8 string";
        failure.failureReason =
            "Could not decode string: " +
            std::string(body.begin(),
                        body.begin() + static_cast<long>(std::min<std::size_t>(body.size(), 64)));
        ownError = failure;
    } else if (*text != " ") {
        if (text->empty()) {
            return Value();
        }
        auto parsed = platform::json::parse(*text);
        if (parsed) {
            object = std::move(parsed).value();
        } else {
            ownError = HCError::fromError(parsed.error());
        }
    }
    if (removesKeysWithNullValues && !object.isNull()) {
        object = HCJSONObjectByRemovingKeysWithNullValues(object);
    }
    if (error != nullptr) {
        *error = HCErrorWithUnderlyingError(ownError, *error);
    }
    return object;
}

Value HCJSONResponseSerializer::encode() const {
    Value coded = HCHTTPResponseSerializer::encode();
    coded["readingOptions"] = Value(readingOptions);
    coded["removesKeysWithNullValues"] = Value(removesKeysWithNullValues);
    return coded;
}

std::unique_ptr<HCURLResponseSerialization> HCJSONResponseSerializer::copy() const {
    auto made = std::make_unique<HCJSONResponseSerializer>();
    made->readingOptions = readingOptions;
    made->removesKeysWithNullValues = removesKeysWithNullValues;
    return made;
}

Value HCJSONObjectByRemovingKeysWithNullValues(const Value& value) {
    if (const platform::Array* array = value.arrayIf()) {
        platform::Array out;
        out.reserve(array->size());
        for (const Value& element : *array) {
            out.push_back(HCJSONObjectByRemovingKeysWithNullValues(element));
        }
        return Value(std::move(out));
    }
    if (const platform::Dictionary* dictionary = value.dictionaryIf()) {
        platform::Dictionary out;
        for (const auto& [key, element] : *dictionary) {
            if (element.isNull()) {
                continue;
            }
            out.set(key, element.isArray() || element.isDictionary()
                             ? HCJSONObjectByRemovingKeysWithNullValues(element)
                             : element);
        }
        return Value(std::move(out));
    }
    return value;
}

// ---- HCXMLParserResponseSerializer ----

HCXMLParserResponseSerializer::HCXMLParserResponseSerializer() {
    acceptableContentTypes = std::set<std::string>{"application/xml", "text/xml"};
}

std::shared_ptr<HCXMLParserResponseSerializer> HCXMLParserResponseSerializer::serializer() {
    return std::make_shared<HCXMLParserResponseSerializer>();
}

HCResponseObject HCXMLParserResponseSerializer::responseObject(
    const std::optional<URLResponse>& response, const std::optional<Bytes>& data,
    std::optional<HCError>* error) const {
    if (stopsAfterValidation(response, data, error)) {
        return Value();
    }
    return Value(data.value_or(Bytes{}));
}

HCResponseObject HCXMLParserResponseSerializer::responseObjectTakingBody(
    const std::optional<URLResponse>& response, std::optional<Bytes>& data,
    std::optional<HCError>* error) const {
    if (typeid(*this) != typeid(HCXMLParserResponseSerializer)) {
        return HCURLResponseSerialization::responseObjectTakingBody(response, data, error);
    }
    if (stopsAfterValidation(response, data, error)) {
        return Value();
    }
    return data ? takeBody(data) : Value(Bytes{});
}

std::unique_ptr<HCURLResponseSerialization> HCXMLParserResponseSerializer::copy() const {
    auto made = std::make_unique<HCXMLParserResponseSerializer>();
    made->acceptableStatusCodes = acceptableStatusCodes;
    made->acceptableContentTypes = acceptableContentTypes;
    return made;
}

// ---- HCPropertyListResponseSerializer ----

HCPropertyListResponseSerializer::HCPropertyListResponseSerializer() {
    acceptableContentTypes = std::set<std::string>{"application/x-plist"};
}

std::shared_ptr<HCPropertyListResponseSerializer> HCPropertyListResponseSerializer::serializer() {
    return serializerWithFormat(100, 0);
}

std::shared_ptr<HCPropertyListResponseSerializer>
HCPropertyListResponseSerializer::serializerWithFormat(std::uint64_t format,
                                                       std::uint64_t readOptions) {
    auto made = std::make_shared<HCPropertyListResponseSerializer>();
    made->format = format;
    made->readOptions = readOptions;
    return made;
}

HCResponseObject HCPropertyListResponseSerializer::responseObject(
    const std::optional<URLResponse>& response, const std::optional<Bytes>& data,
    std::optional<HCError>* error) const {
    if (stopsAfterValidation(response, data, error)) {
        return Value();
    }
    Value object;
    std::optional<HCError> parseError;
    if (data) {
        // XML or binary, whatever the format asked for writing.
        auto parsed = platform::plist::parse(std::span<const std::uint8_t>(*data));
        if (parsed) {
            object = std::move(parsed).value();
        } else {
            parseError = HCError::fromError(parsed.error());
        }
    }
    if (error != nullptr) {
        *error = HCErrorWithUnderlyingError(parseError, *error);
    }
    return object;
}

Value HCPropertyListResponseSerializer::encode() const {
    Value coded = HCHTTPResponseSerializer::encode();
    coded["format"] = Value(format);
    coded["readOptions"] = Value(readOptions);
    return coded;
}

std::unique_ptr<HCURLResponseSerialization> HCPropertyListResponseSerializer::copy() const {
    auto made = std::make_unique<HCPropertyListResponseSerializer>();
    made->format = format;
    made->readOptions = readOptions;
    return made;
}
