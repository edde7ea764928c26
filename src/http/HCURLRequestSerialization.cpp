#include "http/HCURLRequestSerialization.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "http/HCCoding.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/BuildVersion.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/OutputStream.h"
#include "platform/net/URL.h"
#include "platform/system/DeviceInfo.h"
#include "utils/DataGZip.h"

using platform::Bytes;
using platform::Value;
using platform::net::URLRequest;

namespace {

// The body a writer made, or none and its error: a body that could not be written never goes.
void takeWrittenBody(URLRequest& request, const platform::Result<std::string>& written,
                     std::optional<HCError>* error) {
    if (written) {
        request.body = Bytes(written->begin(), written->end());
        return;
    }
    request.body.reset();
    if (error != nullptr) {
        *error = HCError::fromError(written.error());
    }
}

std::string upper(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return out;
}

// The platform's description text of a key or value ("(null)" for a missing key).
std::string textOf(const Value& value) {
    return value.description();
}

void flatten(const std::string* key, const Value& value, std::vector<HCQueryStringPair>& out) {
    if (const platform::Dictionary* dictionary = value.dictionaryIf()) {
        std::vector<const platform::Dictionary::Entry*> entries;
        for (const auto& entry : *dictionary) {
            entries.push_back(&entry);
        }
        std::stable_sort(entries.begin(), entries.end(),
                         [](const auto* a, const auto* b) { return a->first < b->first; });
        for (const auto* entry : entries) {
            const std::string nested = key ? *key + "[" + entry->first + "]" : entry->first;
            flatten(&nested, entry->second, out);
        }
        return;
    }
    if (const platform::Array* array = value.arrayIf()) {
        const std::string nested = (key ? *key : std::string("(null)")) + "[]";
        for (const Value& element : *array) {
            flatten(&nested, element, out);
        }
        return;
    }
    out.push_back(HCQueryStringPair{key ? Value(*key) : Value(), value});
}

std::string asciiOnly(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (static_cast<unsigned char>(c) < 0x80) {
            out += c;
        }
    }
    return out;
}

HCError badURLError(std::string_view url) {
    HCError error;
    error.domain = platform::net::kURLErrorDomain;
    error.code = platform::net::urlerror::badURL;
    error.localizedDescription = "bad URL";
    error.failingURL = std::string(url);
    return error;
}

}  // namespace

// ---- query strings ----

std::string HCPercentEscapedStringFromString(std::string_view text) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (std::isalnum(byte) != 0 || c == '-' || c == '.' || c == '_' || c == '~' || c == '/' ||
            c == '?') {
            out += c;
        } else {
            out += '%';
            out += kHex[byte >> 4];
            out += kHex[byte & 0x0F];
        }
    }
    return out;
}

std::string HCQueryStringPair::URLEncodedStringValue() const {
    const std::string fieldText =
        HCPercentEscapedStringFromString(field.isNull() ? "(null)" : textOf(field));
    if (value.isNull()) {
        return fieldText;
    }
    return fieldText + "=" + HCPercentEscapedStringFromString(textOf(value));
}

std::vector<HCQueryStringPair> HCQueryStringPairsFromKeyAndValue(const Value& key,
                                                                 const Value& value) {
    std::vector<HCQueryStringPair> out;
    if (key.isNull()) {
        flatten(nullptr, value, out);
    } else {
        const std::string text = textOf(key);
        flatten(&text, value, out);
    }
    return out;
}

std::string HCQueryStringFromParameters(const Value& parameters) {
    std::string out;
    for (const HCQueryStringPair& pair : HCQueryStringPairsFromKeyAndValue(Value(), parameters)) {
        if (!out.empty()) {
            out += '&';
        }
        out += pair.URLEncodedStringValue();
    }
    return out;
}

// ---- facts ----

HCClientFacts HCClientFacts::current() {
    const platform::DeviceInfo& device = platform::DeviceInfo::current();
    HCClientFacts facts;
    std::string language = device.localeIdentifier();
    language = language.substr(0, language.find('_'));
    if (!language.empty()) {
        facts.preferredLanguages.push_back(language);
    }
    facts.executableName = "KavoManager";
    facts.shortVersion = platform::kApplicationVersion;
    facts.deviceModel = device.machineIdentifier();
    facts.systemVersion = device.systemVersion();
    return facts;
}

// ---- HCHTTPRequestSerializer ----

HCHTTPRequestSerializer::HCHTTPRequestSerializer(const HCClientFacts& facts) : facts_(facts) {
    std::string languages;
    for (std::size_t i = 0; i < facts.preferredLanguages.size(); ++i) {
        const float q = 1.0f - static_cast<float>(i) * 0.1f;
        char entry[128];
        std::snprintf(entry, sizeof entry, "%s;q=%0.1g", facts.preferredLanguages[i].c_str(),
                      static_cast<double>(q));
        if (!languages.empty()) {
            languages += ", ";
        }
        languages += entry;
        if (q <= 0.5f) {
            break;
        }
    }
    headers_["Accept-Language"] = languages;
    char agent[512];
    std::snprintf(agent, sizeof agent, "%s/%s (%s; iOS %s; Scale/%0.2f)",
                  facts.executableName.c_str(), facts.shortVersion.c_str(),
                  facts.deviceModel.c_str(), facts.systemVersion.c_str(), facts.screenScale);
    headers_["User-Agent"] = asciiOnly(agent);
}

std::shared_ptr<HCHTTPRequestSerializer> HCHTTPRequestSerializer::serializer() {
    return std::make_shared<HCHTTPRequestSerializer>();
}

void HCHTTPRequestSerializer::setAllowsCellularAccess(bool value) {
    allowsCellularAccess_ = value;
    changed_.insert("allowsCellularAccess");
}
void HCHTTPRequestSerializer::setCachePolicy(std::uint64_t value) {
    cachePolicy_ = value;
    changed_.insert("cachePolicy");
}
void HCHTTPRequestSerializer::setHTTPShouldHandleCookies(bool value) {
    shouldHandleCookies_ = value;
    changed_.insert("HTTPShouldHandleCookies");
}
void HCHTTPRequestSerializer::setHTTPShouldUsePipelining(bool value) {
    shouldUsePipelining_ = value;
    changed_.insert("HTTPShouldUsePipelining");
}
void HCHTTPRequestSerializer::setNetworkServiceType(std::uint64_t value) {
    networkServiceType_ = value;
    changed_.insert("networkServiceType");
}
void HCHTTPRequestSerializer::setTimeoutInterval(double seconds) {
    timeoutInterval_ = seconds;
    changed_.insert("timeoutInterval");
}

void HCHTTPRequestSerializer::setValueForHTTPHeaderField(std::optional<std::string> value,
                                                         const std::string& field) {
    if (value) {
        headers_[field] = std::move(*value);
    } else {
        headers_.erase(field);
    }
}

std::optional<std::string> HCHTTPRequestSerializer::valueForHTTPHeaderField(
    const std::string& field) const {
    const auto found = headers_.find(field);
    return found == headers_.end() ? std::nullopt : std::optional(found->second);
}

void HCHTTPRequestSerializer::setAuthorizationHeaderFieldWithUsername(std::string_view username,
                                                                      std::string_view password) {
    const std::string pair = std::string(username) + ":" + std::string(password);
    const std::string encoded = platform::base64::encode(
        std::span(reinterpret_cast<const std::uint8_t*>(pair.data()), pair.size()));
    headers_["Authorization"] = "Basic " + encoded;
}

void HCHTTPRequestSerializer::setAuthorizationHeaderFieldWithToken(std::string_view token) {
    headers_["Authorization"] = "Token token=\"" + std::string(token) + "\"";
}

void HCHTTPRequestSerializer::clearAuthorizationHeader() {
    headers_.erase("Authorization");
}

void HCHTTPRequestSerializer::setQueryStringSerializationWithStyle(std::uint64_t style) {
    queryStringStyle_ = style;
    queryStringBlock_ = nullptr;
}

void HCHTTPRequestSerializer::setQueryStringSerializationWithBlock(QueryStringSerialization block) {
    queryStringBlock_ = std::move(block);
}

std::optional<URLRequest> HCHTTPRequestSerializer::requestWithMethod(
    std::string_view method, std::string_view URLString, const Value& parameters,
    std::optional<HCError>* error) const {
    const auto url = platform::net::URL::parse(URLString);
    if (!url) {
        if (error != nullptr) {
            *error = badURLError(URLString);
        }
        return std::nullopt;
    }
    URLRequest request;
    request.url = url->absoluteString();
    request.method = std::string(method);
    // An API call; a multipart body of unknown size is given no deadline (below), and neither
    // is a session's download task or file or streamed upload, which drop it.
    request.limits = platform::net::TransferLimits::call();
    if (changed_.contains("timeoutInterval")) {
        request.timeoutInterval = timeoutInterval_;
    }
    return requestBySerializingRequest(request, parameters, error);
}

std::optional<URLRequest> HCHTTPRequestSerializer::multipartFormRequestWithMethod(
    std::string_view method, std::string_view URLString, const Value& parameters,
    const std::function<void(HCMultipartFormData&)>& block, std::optional<HCError>* error) const {
    std::optional<URLRequest> request = requestWithMethod(method, URLString, Value(), error);
    if (!request) {
        return std::nullopt;
    }
    request->limits = {};
    HCStreamingMultipartFormData formData(std::move(*request), "utf-8");
    if (!parameters.isNull()) {
        for (const HCQueryStringPair& pair :
             HCQueryStringPairsFromKeyAndValue(Value(), parameters)) {
            platform::Bytes data;
            if (const platform::Bytes* bytes = pair.value.bytesIf()) {
                data = *bytes;
            } else if (!pair.value.isNull()) {
                const std::string text = textOf(pair.value);
                data.assign(text.begin(), text.end());
            }
            formData.appendPartWithFormData(std::move(data), textOf(pair.field));
        }
    }
    if (block) {
        block(formData);
    }
    return formData.requestByFinalizingMultipartFormData();
}

URLRequest HCHTTPRequestSerializer::requestWithMultipartFormRequest(
    const URLRequest& request, const std::filesystem::path& file,
    std::function<void(const std::optional<HCError>&)> completionHandler) const {
    std::function<std::unique_ptr<platform::net::BodyStream>()> makeInput = request.bodyStream;
    platform::DispatchQueue::global().async(
        [makeInput, file, completionHandler = std::move(completionHandler)] {
            std::optional<HCError> failure;
            std::unique_ptr<platform::net::BodyStream> input = makeInput ? makeInput() : nullptr;
            platform::net::FileOutputStream output(file, /*append=*/false);
            output.open();
            if (const auto& opened = output.streamError()) {
                failure = HCError::fromError(*opened);
            }
            platform::Bytes buffer(64 * 1024);
            while (!failure && input) {
                const auto read = input->read(buffer);
                if (!read) {
                    failure = HCError::fromError(read.error());
                    break;
                }
                if (*read == 0) {
                    break;
                }
                // Every byte read is written, however the file takes them.
                std::size_t offset = 0;
                while (offset < *read) {
                    const std::int64_t written =
                        output.write(std::span(buffer.data() + offset, *read - offset));
                    if (written <= 0) {
                        failure = HCError::fromError(output.streamError().value_or(platform::Error{
                            platform::net::kURLErrorDomain,
                            platform::net::urlerror::cannotWriteToFile, "the file took no bytes"}));
                        break;
                    }
                    offset += static_cast<std::size_t>(written);
                }
            }
            output.close();
            if (completionHandler) {
                platform::DispatchQueue::main().async(
                    [completionHandler, failure] { completionHandler(failure); });
            }
        });
    URLRequest copy = request;
    copy.bodyStream = nullptr;
    return copy;
}

URLRequest HCHTTPRequestSerializer::withDefaultHeaders(const URLRequest& request) const {
    URLRequest copy = request;
    for (const auto& [field, value] : headers_) {
        if (!request.headers.contains(field)) {
            copy.headers.set(field, value);
        }
    }
    return copy;
}

bool HCHTTPRequestSerializer::encodesInURI(const std::string& method) const {
    return HTTPMethodsEncodingParametersInURI.contains(upper(method));
}

std::optional<URLRequest> HCHTTPRequestSerializer::requestBySerializingRequest(
    const URLRequest& request, const Value& parameters, std::optional<HCError>* error) const {
    URLRequest copy = withDefaultHeaders(request);
    if (parameters.isNull()) {
        return copy;
    }
    std::string query;
    if (queryStringBlock_) {
        std::optional<HCError> blockError;
        const auto made = queryStringBlock_(request, parameters, &blockError);
        if (blockError || !made) {
            if (error != nullptr) {
                *error = blockError;
            }
            return std::nullopt;
        }
        query = *made;
    } else {
        query = HCQueryStringFromParameters(parameters);
    }
    if (encodesInURI(request.method)) {
        const auto url = platform::net::URL::parse(copy.url);
        const auto joined = url ? url->appendingQuery(query) : std::nullopt;
        if (!joined) {
            if (error != nullptr) {
                *error = badURLError(copy.url);
            }
            return std::nullopt;
        }
        copy.url = joined->absoluteString();
        return copy;
    }
    if (!copy.headers.contains("Content-Type")) {
        copy.headers.set("Content-Type", "application/x-www-form-urlencoded");
    }
    copy.body = Bytes(query.begin(), query.end());
    return copy;
}

void HCHTTPRequestSerializer::copyBaseInto(HCHTTPRequestSerializer& copy) const {
    copy.headers_ = headers_;
    copy.queryStringStyle_ = queryStringStyle_;
    copy.queryStringBlock_ = queryStringBlock_;
}

std::shared_ptr<HCHTTPRequestSerializer> HCHTTPRequestSerializer::copy() const {
    auto made = std::make_shared<HCHTTPRequestSerializer>(facts_);
    copyBaseInto(*made);
    return made;
}

Value HCHTTPRequestSerializer::encode() const {
    platform::Dictionary fields;
    for (const auto& [field, value] : headers_) {
        fields.set(field, Value(value));
    }
    return Value{{"class", Value("HCHTTPRequestSerializer")},
                 {"mutableHTTPRequestHeaders", Value(std::move(fields))},
                 {"queryStringSerializationStyle", Value(queryStringStyle_)}};
}

std::shared_ptr<HCHTTPRequestSerializer> HCHTTPRequestSerializer::decode(const Value& coded) {
    const std::string* name = coded["class"].stringIf();
    if (name == nullptr) {
        return nullptr;
    }
    std::shared_ptr<HCHTTPRequestSerializer> made;
    if (*name == "HCgzipRequestSerializer") {
        auto wrapped = decode(coded["serializer"]);
        return wrapped ? std::make_shared<HCgzipRequestSerializer>(std::move(wrapped)) : nullptr;
    }
    if (*name == "HCHTTPRequestSerializer") {
        made = std::make_shared<HCHTTPRequestSerializer>();
    } else if (*name == "HCJSONRequestSerializer") {
        auto json = std::make_shared<HCJSONRequestSerializer>();
        json->writingOptions = HCCodedUnsigned(coded["writingOptions"]);
        made = json;
    } else if (*name == "HCPropertyListRequestSerializer") {
        auto plist = std::make_shared<HCPropertyListRequestSerializer>();
        plist->format = HCCodedUnsigned(coded["format"]);
        plist->writeOptions = HCCodedUnsigned(coded["writeOptions"]);
        made = plist;
    } else {
        return nullptr;
    }
    made->headers_.clear();
    if (const platform::Dictionary* fields = coded["mutableHTTPRequestHeaders"].dictionaryIf()) {
        for (const auto& [field, value] : *fields) {
            if (const std::string* text = value.stringIf()) {
                made->headers_[field] = *text;
            }
        }
    }
    made->queryStringStyle_ = HCCodedUnsigned(coded["queryStringSerializationStyle"]);
    return made;
}

// ---- HCJSONRequestSerializer ----

std::shared_ptr<HCJSONRequestSerializer> HCJSONRequestSerializer::serializer() {
    return serializerWithWritingOptions(0);
}

std::shared_ptr<HCJSONRequestSerializer> HCJSONRequestSerializer::serializerWithWritingOptions(
    std::uint64_t options) {
    auto made = std::make_shared<HCJSONRequestSerializer>();
    made->writingOptions = options;
    return made;
}

std::optional<URLRequest> HCJSONRequestSerializer::requestBySerializingRequest(
    const URLRequest& request, const Value& parameters, std::optional<HCError>* error) const {
    if (encodesInURI(request.method)) {
        return HCHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
    }
    URLRequest copy = withDefaultHeaders(request);
    if (parameters.isNull()) {
        return copy;
    }
    if (!copy.headers.contains("Content-Type")) {
        copy.headers.set("Content-Type", "application/json");
    }
    const auto written = platform::json::write(parameters, (writingOptions & 1) != 0
                                                               ? platform::json::Style::Pretty
                                                               : platform::json::Style::Compact);
    takeWrittenBody(copy, written, error);
    return copy;
}

Value HCJSONRequestSerializer::encode() const {
    Value coded = HCHTTPRequestSerializer::encode();
    coded["class"] = Value("HCJSONRequestSerializer");
    coded["writingOptions"] = Value(writingOptions);
    return coded;
}

std::shared_ptr<HCHTTPRequestSerializer> HCJSONRequestSerializer::copy() const {
    auto made = std::make_shared<HCJSONRequestSerializer>();
    copyBaseInto(*made);
    made->writingOptions = writingOptions;
    return made;
}

// ---- HCPropertyListRequestSerializer ----

std::shared_ptr<HCPropertyListRequestSerializer> HCPropertyListRequestSerializer::serializer() {
    return serializerWithFormat(100, 0);
}

std::shared_ptr<HCPropertyListRequestSerializer>
HCPropertyListRequestSerializer::serializerWithFormat(std::uint64_t format,
                                                      std::uint64_t writeOptions) {
    auto made = std::make_shared<HCPropertyListRequestSerializer>();
    made->format = format;
    made->writeOptions = writeOptions;
    return made;
}

std::optional<URLRequest> HCPropertyListRequestSerializer::requestBySerializingRequest(
    const URLRequest& request, const Value& parameters, std::optional<HCError>* error) const {
    if (encodesInURI(request.method)) {
        return HCHTTPRequestSerializer::requestBySerializingRequest(request, parameters, error);
    }
    URLRequest copy = withDefaultHeaders(request);
    if (parameters.isNull()) {
        return copy;
    }
    if (!copy.headers.contains("Content-Type")) {
        copy.headers.set("Content-Type", "application/x-plist");
    }
    auto written =
        format == 100
            ? platform::plist::write(parameters)
            : platform::Result<std::string>(platform::Error{platform::plist::kErrorDomain, 0,
                                                            "only XML property lists are written"});
    takeWrittenBody(copy, written, error);
    return copy;
}

Value HCPropertyListRequestSerializer::encode() const {
    Value coded = HCHTTPRequestSerializer::encode();
    coded["class"] = Value("HCPropertyListRequestSerializer");
    coded["format"] = Value(format);
    coded["writeOptions"] = Value(writeOptions);
    return coded;
}

std::shared_ptr<HCHTTPRequestSerializer> HCPropertyListRequestSerializer::copy() const {
    auto made = std::make_shared<HCPropertyListRequestSerializer>();
    copyBaseInto(*made);
    made->format = format;
    made->writeOptions = writeOptions;
    return made;
}

// ---- HCgzipRequestSerializer ----

HCgzipRequestSerializer::HCgzipRequestSerializer(
    std::shared_ptr<const HCURLRequestSerialization> serializer, const HCClientFacts& facts)
    : HCHTTPRequestSerializer(facts), serializer_(std::move(serializer)) {}

std::shared_ptr<HCgzipRequestSerializer> HCgzipRequestSerializer::serializerWithSerializer(
    std::shared_ptr<const HCURLRequestSerialization> serializer) {
    return std::make_shared<HCgzipRequestSerializer>(std::move(serializer));
}

std::optional<URLRequest> HCgzipRequestSerializer::requestBySerializingRequest(
    const URLRequest& request, const Value& parameters, std::optional<HCError>* error) const {
    std::optional<HCError> wrappedError;
    std::optional<URLRequest> made =
        serializer_ ? serializer_->requestBySerializingRequest(request, parameters, &wrappedError)
                    : std::nullopt;
    if (!made) {
        if (error != nullptr) {
            *error = wrappedError;
        }
        return std::nullopt;
    }
    URLRequest copy = *made;
    for (const auto& [field, value] : HTTPRequestHeaders()) {
        if (!request.headers.contains(field)) {
            copy.headers.set(field, value);
        }
    }
    if (!wrappedError && copy.body) {
        auto compressed = gzip::compress(*copy.body);
        if (compressed) {
            copy.headers.set("Content-Encoding", "gzip");
            copy.body = std::move(compressed).value();
        } else if (error != nullptr) {
            *error = HCError::fromError(compressed.error());
        }
        return copy;
    }
    if (error != nullptr) {
        *error = wrappedError;
    }
    return copy;
}

Value HCgzipRequestSerializer::encode() const {
    Value coded = HCHTTPRequestSerializer::encode();
    coded["class"] = Value("HCgzipRequestSerializer");
    if (const auto* wrapped = dynamic_cast<const HCHTTPRequestSerializer*>(serializer_.get())) {
        coded["serializer"] = wrapped->encode();
    }
    return coded;
}

std::shared_ptr<HCHTTPRequestSerializer> HCgzipRequestSerializer::copy() const {
    auto made = std::make_shared<HCgzipRequestSerializer>(serializer_);
    return made;
}
