#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "http/HCError.h"
#include "http/HCStreamingMultipartFormData.h"
#include "platform/foundation/Value.h"
#include "platform/net/HTTPMessage.h"

// Builds the request that carries a parameters value (null: none). A failure gives nothing
// and, when error is not null, the reason.
class HCURLRequestSerialization {
public:
    virtual ~HCURLRequestSerialization() = default;
    virtual std::optional<platform::net::URLRequest> requestBySerializingRequest(
        const platform::net::URLRequest& request, const platform::Value& parameters,
        std::optional<HCError>* error) const = 0;
};

// One key and value of a query string. A null value writes the key alone.
struct HCQueryStringPair {
    platform::Value field;
    platform::Value value;

    [[nodiscard]] std::string URLEncodedStringValue() const;
};

// Percent-escapes everything but letters, digits, "-._~", "/" and "?", as UTF-8 bytes with
// upper-case hexadecimal digits.
std::string HCPercentEscapedStringFromString(std::string_view text);
// The pairs of a parameters value in query order: dictionary keys sorted by their text,
// nested keys as "a[b]", array elements under "a[]".
std::vector<HCQueryStringPair> HCQueryStringPairsFromKeyAndValue(const platform::Value& key,
                                                                 const platform::Value& value);
std::string HCQueryStringFromParameters(const platform::Value& parameters);

// The facts the default header fields are made of.
struct HCClientFacts {
    std::vector<std::string> preferredLanguages;
    std::string executableName;
    std::string shortVersion;
    std::string deviceModel;
    std::string systemVersion;
    double screenScale = 1.0;

    // This machine's: its locale's language, the application's name and version, the machine
    // and system version of platform::DeviceInfo.
    static HCClientFacts current();
};

// The base request serializer: default Accept-Language and User-Agent fields, authorization,
// parameters in the URL's query for GET, HEAD and DELETE and as a form body otherwise.
class HCHTTPRequestSerializer : public HCURLRequestSerialization {
public:
    using QueryStringSerialization = std::function<std::optional<std::string>(
        const platform::net::URLRequest&, const platform::Value&, std::optional<HCError>*)>;

    explicit HCHTTPRequestSerializer(const HCClientFacts& facts = HCClientFacts::current());
    static std::shared_ptr<HCHTTPRequestSerializer> serializer();

    // The encoding of the form body: only UTF-8 is written.
    std::string stringEncoding = "utf-8";
    std::set<std::string> HTTPMethodsEncodingParametersInURI{"GET", "HEAD", "DELETE"};

    // The request properties a request takes only once they were set here. This engine acts
    // on the time-out; the others are kept for those who read them back.
    void setAllowsCellularAccess(bool value);
    void setCachePolicy(std::uint64_t value);
    void setHTTPShouldHandleCookies(bool value);
    void setHTTPShouldUsePipelining(bool value);
    void setNetworkServiceType(std::uint64_t value);
    void setTimeoutInterval(double seconds);
    [[nodiscard]] double timeoutInterval() const { return timeoutInterval_; }
    [[nodiscard]] const std::set<std::string>& changedRequestProperties() const { return changed_; }

    // Names match exactly as written; no value removes the field.
    void setValueForHTTPHeaderField(std::optional<std::string> value, const std::string& field);
    [[nodiscard]] std::optional<std::string> valueForHTTPHeaderField(
        const std::string& field) const;
    [[nodiscard]] std::map<std::string, std::string> HTTPRequestHeaders() const { return headers_; }
    void setAuthorizationHeaderFieldWithUsername(std::string_view username,
                                                 std::string_view password);
    void setAuthorizationHeaderFieldWithToken(std::string_view token);
    void clearAuthorizationHeader();

    void setQueryStringSerializationWithStyle(std::uint64_t style);
    void setQueryStringSerializationWithBlock(QueryStringSerialization block);

    // A request for the method and URL text with the parameters serialized; the bad-URL error
    // when the text is no absolute URL.
    std::optional<platform::net::URLRequest> requestWithMethod(std::string_view method,
                                                               std::string_view URLString,
                                                               const platform::Value& parameters,
                                                               std::optional<HCError>* error) const;

    std::optional<platform::net::URLRequest> requestBySerializingRequest(
        const platform::net::URLRequest& request, const platform::Value& parameters,
        std::optional<HCError>* error) const override;

    // A request whose body is a multipart form streamed while it is sent: the parameters as
    // form fields in query order, then what the block appends. Part texts are UTF-8.
    std::optional<platform::net::URLRequest> multipartFormRequestWithMethod(
        std::string_view method, std::string_view URLString, const platform::Value& parameters,
        const std::function<void(HCMultipartFormData&)>& block,
        std::optional<HCError>* error) const;
    // The request without its body stream, at once; the body's bytes go into the file (which
    // is replaced) on a global queue, and the handler hears how it went on the main queue.
    platform::net::URLRequest requestWithMultipartFormRequest(
        const platform::net::URLRequest& request, const std::filesystem::path& file,
        std::function<void(const std::optional<HCError>&)> completionHandler) const;

    // A new serializer of the same kind with the header fields, style and block of this one;
    // the request properties, encoding and method set are the defaults.
    [[nodiscard]] virtual std::shared_ptr<HCHTTPRequestSerializer> copy() const;

    // Coding as a property-list dictionary: the class under "class", the header fields under
    // "mutableHTTPRequestHeaders" and the style under "queryStringSerializationStyle";
    // subclasses add their own keys. The block and the request properties are not coded.
    [[nodiscard]] virtual platform::Value encode() const;
    // A serializer of the coded class as its constructor makes it, given the coded values;
    // nothing when the value is no coded request serializer.
    static std::shared_ptr<HCHTTPRequestSerializer> decode(const platform::Value& coded);

protected:
    // The request with the default fields it lacks.
    platform::net::URLRequest withDefaultHeaders(const platform::net::URLRequest& request) const;
    [[nodiscard]] bool encodesInURI(const std::string& method) const;
    void copyBaseInto(HCHTTPRequestSerializer& copy) const;

private:
    HCClientFacts facts_;
    std::map<std::string, std::string> headers_;
    std::set<std::string> changed_;
    bool allowsCellularAccess_ = false;
    std::uint64_t cachePolicy_ = 0;
    bool shouldHandleCookies_ = false;
    bool shouldUsePipelining_ = false;
    std::uint64_t networkServiceType_ = 0;
    double timeoutInterval_ = 0;
    std::uint64_t queryStringStyle_ = 0;
    QueryStringSerialization queryStringBlock_;
};

// Writes the parameters as a JSON body ("application/json").
class HCJSONRequestSerializer : public HCHTTPRequestSerializer {
public:
    using HCHTTPRequestSerializer::HCHTTPRequestSerializer;
    static std::shared_ptr<HCJSONRequestSerializer> serializer();
    // Bit 0: pretty-printed.
    static std::shared_ptr<HCJSONRequestSerializer> serializerWithWritingOptions(
        std::uint64_t options);

    std::uint64_t writingOptions = 0;

    std::optional<platform::net::URLRequest> requestBySerializingRequest(
        const platform::net::URLRequest& request, const platform::Value& parameters,
        std::optional<HCError>* error) const override;
    [[nodiscard]] std::shared_ptr<HCHTTPRequestSerializer> copy() const override;
    // Adds "writingOptions".
    [[nodiscard]] platform::Value encode() const override;
};

// Writes the parameters as an XML property list body ("application/x-plist").
class HCPropertyListRequestSerializer : public HCHTTPRequestSerializer {
public:
    using HCHTTPRequestSerializer::HCHTTPRequestSerializer;
    static std::shared_ptr<HCPropertyListRequestSerializer> serializer();
    static std::shared_ptr<HCPropertyListRequestSerializer> serializerWithFormat(
        std::uint64_t format, std::uint64_t writeOptions);

    // 100 is the XML format, the only one written; another fails with the writer's error.
    std::uint64_t format = 100;
    std::uint64_t writeOptions = 0;

    std::optional<platform::net::URLRequest> requestBySerializingRequest(
        const platform::net::URLRequest& request, const platform::Value& parameters,
        std::optional<HCError>* error) const override;
    [[nodiscard]] std::shared_ptr<HCHTTPRequestSerializer> copy() const override;
    // Adds "format" and "writeOptions".
    [[nodiscard]] platform::Value encode() const override;
};

// Gzip-codes the body another serializer made ("Content-Encoding: gzip").
class HCgzipRequestSerializer : public HCHTTPRequestSerializer {
public:
    explicit HCgzipRequestSerializer(std::shared_ptr<const HCURLRequestSerialization> serializer,
                                     const HCClientFacts& facts = HCClientFacts::current());
    static std::shared_ptr<HCgzipRequestSerializer> serializerWithSerializer(
        std::shared_ptr<const HCURLRequestSerialization> serializer);

    [[nodiscard]] const std::shared_ptr<const HCURLRequestSerialization>& wrapped() const {
        return serializer_;
    }

    std::optional<platform::net::URLRequest> requestBySerializingRequest(
        const platform::net::URLRequest& request, const platform::Value& parameters,
        std::optional<HCError>* error) const override;
    [[nodiscard]] std::shared_ptr<HCHTTPRequestSerializer> copy() const override;
    // Adds the wrapped serializer under "serializer" when it is one of the coded kinds.
    // Decoding reads only that back: the rest starts as the constructor leaves it.
    [[nodiscard]] platform::Value encode() const override;

private:
    std::shared_ptr<const HCURLRequestSerialization> serializer_;
};
