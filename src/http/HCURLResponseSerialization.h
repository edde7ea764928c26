#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "http/HCError.h"
#include "platform/foundation/Value.h"
#include "platform/net/HTTPMessage.h"

// What a response serializer gives: a parsed document, the body bytes, or null for none.
using HCResponseObject = platform::Value;

// Turns a finished response and its body into a result object. Serializers keep no state
// while they work, so one may serve several queues at once.
class HCURLResponseSerialization {
public:
    virtual ~HCURLResponseSerialization() = default;
    // error may be null when the caller does not want it.
    virtual HCResponseObject responseObject(
        const std::optional<platform::net::URLResponse>& response,
        const std::optional<platform::Bytes>& data, std::optional<HCError>* error) const = 0;
    // The same for a body the caller gives up: a serializer whose result is the body itself
    // moves it there instead of copying it, leaving data empty. The default serializes from
    // the body and leaves it.
    virtual HCResponseObject responseObjectTakingBody(
        const std::optional<platform::net::URLResponse>& response,
        std::optional<platform::Bytes>& data, std::optional<HCError>* error) const {
        return responseObject(response, data, error);
    }
    [[nodiscard]] virtual std::unique_ptr<HCURLResponseSerialization> copy() const = 0;
    [[nodiscard]] virtual const char* className() const = 0;
    // Whether a small body (a few KiB) takes time bounded by its size: the session manager
    // then serializes it on the thread that leaves its delegate queue, which may be the
    // network thread, instead of waking a worker. Unknown work says no.
    [[nodiscard]] virtual bool serializesSmallBodiesQuickly() const { return false; }
};

// Checks status code and MIME type and hands the body back as it came.
class HCHTTPResponseSerializer : public HCURLResponseSerialization {
public:
    HCHTTPResponseSerializer();
    static std::shared_ptr<HCHTTPResponseSerializer> serializer();

    // A text body's encoding when the response names none (IANA name).
    std::string stringEncoding = "utf-8";
    // Nothing accepts every code, or every type. Types compare exactly, letter case included.
    std::optional<std::set<int>> acceptableStatusCodes;
    std::optional<std::set<std::string>> acceptableContentTypes;

    // False when the response fails; error (if given) gets the error made, which stays empty
    // when the failing content type came with no body or no URL.
    bool validateResponse(const std::optional<platform::net::URLResponse>& response,
                          const std::optional<platform::Bytes>& data,
                          std::optional<HCError>* error) const;

    HCResponseObject responseObject(const std::optional<platform::net::URLResponse>& response,
                                    const std::optional<platform::Bytes>& data,
                                    std::optional<HCError>* error) const override;
    [[nodiscard]] std::unique_ptr<HCURLResponseSerialization> copy() const override;
    HCResponseObject responseObjectTakingBody(
        const std::optional<platform::net::URLResponse>& response,
        std::optional<platform::Bytes>& data, std::optional<HCError>* error) const override;
    [[nodiscard]] const char* className() const override { return "HCHTTPResponseSerializer"; }
    // Validation, and text parsed in one pass.
    [[nodiscard]] bool serializesSmallBodiesQuickly() const override { return true; }

    // Coding as a property-list dictionary: the class name under "class", the acceptable
    // codes and types (when set) under "acceptableStatusCodes" and "acceptableContentTypes";
    // subclasses add their own keys. The string encoding is not coded.
    [[nodiscard]] virtual platform::Value encode() const;
    // A serializer of the coded class as its constructor makes it, given the coded values (a
    // set that was not coded decodes as none); nothing when the value is no coded serializer.
    static std::shared_ptr<HCHTTPResponseSerializer> decode(const platform::Value& coded);

protected:
    static HCResponseObject takeBody(std::optional<platform::Bytes>& data);
    // The entry rule of the parsing serializers: whether to stop with nothing.
    bool stopsAfterValidation(const std::optional<platform::net::URLResponse>& response,
                              const std::optional<platform::Bytes>& data,
                              std::optional<HCError>* error) const;
};

class HCJSONResponseSerializer : public HCHTTPResponseSerializer {
public:
    HCJSONResponseSerializer();
    static std::shared_ptr<HCJSONResponseSerializer> serializer();
    static std::shared_ptr<HCJSONResponseSerializer> serializerWithReadingOptions(
        std::uint64_t options);

    // Bit 0 (mutable containers) is kept for those who read it back; values are mutable here.
    std::uint64_t readingOptions = 0;
    bool removesKeysWithNullValues = false;

    HCResponseObject responseObject(const std::optional<platform::net::URLResponse>& response,
                                    const std::optional<platform::Bytes>& data,
                                    std::optional<HCError>* error) const override;
    [[nodiscard]] std::unique_ptr<HCURLResponseSerialization> copy() const override;
    [[nodiscard]] const char* className() const override { return "HCJSONResponseSerializer"; }
    // Adds "readingOptions" and "removesKeysWithNullValues".
    [[nodiscard]] platform::Value encode() const override;
};

// Gives the XML body (as bytes) for the caller's parser to run over.
class HCXMLParserResponseSerializer : public HCHTTPResponseSerializer {
public:
    HCXMLParserResponseSerializer();
    static std::shared_ptr<HCXMLParserResponseSerializer> serializer();

    HCResponseObject responseObject(const std::optional<platform::net::URLResponse>& response,
                                    const std::optional<platform::Bytes>& data,
                                    std::optional<HCError>* error) const override;
    [[nodiscard]] std::unique_ptr<HCURLResponseSerialization> copy() const override;
    HCResponseObject responseObjectTakingBody(
        const std::optional<platform::net::URLResponse>& response,
        std::optional<platform::Bytes>& data, std::optional<HCError>* error) const override;
    [[nodiscard]] const char* className() const override { return "HCXMLParserResponseSerializer"; }
};

class HCPropertyListResponseSerializer : public HCHTTPResponseSerializer {
public:
    HCPropertyListResponseSerializer();
    // Format 100 (XML), options 0.
    static std::shared_ptr<HCPropertyListResponseSerializer> serializer();
    static std::shared_ptr<HCPropertyListResponseSerializer> serializerWithFormat(
        std::uint64_t format, std::uint64_t readOptions);

    std::uint64_t format = 0;
    std::uint64_t readOptions = 0;

    HCResponseObject responseObject(const std::optional<platform::net::URLResponse>& response,
                                    const std::optional<platform::Bytes>& data,
                                    std::optional<HCError>* error) const override;
    [[nodiscard]] std::unique_ptr<HCURLResponseSerialization> copy() const override;
    [[nodiscard]] const char* className() const override {
        return "HCPropertyListResponseSerializer";
    }
    // Adds "format" and "readOptions".
    [[nodiscard]] platform::Value encode() const override;
};

// Whether a body's text encoding, by IANA name, is one this client decodes.
bool HCIsKnownStringEncoding(std::string_view encoding);
// The body as UTF-8 text from the encoding of that IANA name; nothing when the name is
// unknown or the bytes are not text in it.
std::optional<std::string> HCStringFromData(const platform::Bytes& data, std::string_view encoding);

// The null-free copy of a JSON value: keys whose value is null go at every depth of
// dictionaries; nulls inside arrays stay.
platform::Value HCJSONObjectByRemovingKeysWithNullValues(const platform::Value& value);
