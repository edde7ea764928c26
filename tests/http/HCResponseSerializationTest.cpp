#include <gtest/gtest.h>

#include "http/HCImageResponseSerialization.h"
#include "http/HCURLResponseSerialization.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/PropertyList.h"

namespace {

using platform::Bytes;
using platform::Value;
using platform::net::URLResponse;

URLResponse response(int status, std::string mimeType, std::string url = "http://h/x",
                     std::string charset = "") {
    URLResponse made;
    made.statusCode = status;
    made.mimeType = std::move(mimeType);
    made.url = std::move(url);
    made.textEncodingName = std::move(charset);
    return made;
}

Bytes bytes(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

constexpr const char* kDomain = kHCURLResponseSerializationErrorDomain;

TEST(HCResponseSerializationTest, NotFoundHtmlGivesStatusErrorOverContentTypeError) {
    const auto serializer = HCJSONResponseSerializer::serializer();
    std::optional<HCError> error;
    const Value object =
        serializer->responseObject(response(404, "text/html"), bytes("<html></html>"), &error);
    EXPECT_TRUE(object.isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, kDomain);
    EXPECT_EQ(error->code, -1011);
    EXPECT_EQ(error->localizedDescription, "Request failed: not found (404)");
    EXPECT_EQ(error->failingURL, "http://h/x");
    ASSERT_TRUE(error->underlying);
    EXPECT_EQ(error->underlying->code, -1016);
    EXPECT_EQ(error->underlying->localizedDescription,
              "Request failed: unacceptable content-type: text/html");
    EXPECT_EQ(error->data, bytes("<html></html>"));
    EXPECT_TRUE(HCErrorOrUnderlyingErrorHasCodeInDomain(*error, -1016, kDomain));
}

TEST(HCResponseSerializationTest, ServerErrorWithJsonStillParses) {
    std::optional<HCError> error;
    const Value object = HCJSONResponseSerializer::serializer()->responseObject(
        response(500, "application/json"), bytes("{\"a\":1}"), &error);
    EXPECT_EQ(object, (Value{{"a", Value(1)}}));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -1011);
    EXPECT_FALSE(error->underlying);
}

TEST(HCResponseSerializationTest, JsonEdgeCases) {
    struct Case {
        const char* name;
        URLResponse response;
        std::optional<Bytes> body;
        bool hasObject;
        std::optional<long> errorCode;
    };
    const Case cases[] = {
        {"204, empty, other type", response(204, "text/plain"), Bytes{}, false, std::nullopt},
        {"one space", response(200, "application/json"), bytes(" "), false, std::nullopt},
        {"valid", response(200, "text/json"), bytes("[1,2]"), true, std::nullopt},
        {"latin-1 text", response(200, "application/json", "http://h/", "iso-8859-1"),
         Bytes{'[', '"', 0xE9, '"', ']'}, true, std::nullopt},
        // Not text in its encoding: a decoding failure, never an empty success.
        {"not UTF-8", response(200, "application/json"), Bytes{'[', '"', 0xFF, 0xFE, '"', ']'},
         false, -1016},
        {"not JSON", response(200, "application/json"), bytes("{oops"), false, 0},
        {"no URL, bad status", response(500, "application/json", ""), bytes("[]"), true,
         std::nullopt},
    };
    for (const Case& c : cases) {
        std::optional<HCError> error;
        const Value object =
            HCJSONResponseSerializer::serializer()->responseObject(c.response, c.body, &error);
        EXPECT_EQ(!object.isNull(), c.hasObject) << c.name;
        if (!c.errorCode) {
            EXPECT_FALSE(error) << c.name;
        } else {
            ASSERT_TRUE(error) << c.name;
            if (*c.errorCode != 0) {
                EXPECT_EQ(error->code, *c.errorCode) << c.name;
                EXPECT_EQ(error->domain, kDomain) << c.name;
            }
        }
    }
}

TEST(HCResponseSerializationTest, BaseSerializerReturnsTheBodyWhateverTheVerdict) {
    HCHTTPResponseSerializer serializer;
    serializer.acceptableContentTypes = std::set<std::string>{"application/json"};
    std::optional<HCError> error;
    // Unacceptable type with an empty body: invalid, but no error is made.
    EXPECT_FALSE(serializer.validateResponse(response(200, "text/plain"), Bytes{}, &error));
    EXPECT_FALSE(error);
    EXPECT_EQ(serializer.responseObject(response(200, "text/plain"), Bytes{}, &error),
              Value(Bytes{}));
    // Letter case matters.
    EXPECT_FALSE(
        serializer.validateResponse(response(200, "Application/JSON"), bytes("x"), &error));
    EXPECT_EQ(error->code, -1016);
    error.reset();
    EXPECT_EQ(serializer.responseObject(response(403, "application/json"), bytes("x"), &error),
              Value(bytes("x")));
    EXPECT_EQ(error->code, -1011);
    // No response: valid.
    EXPECT_TRUE(serializer.validateResponse(std::nullopt, bytes("x"), nullptr));
    // Without an error out-parameter a parsing serializer stops at any failure.
    EXPECT_TRUE(HCJSONResponseSerializer::serializer()
                    ->responseObject(response(500, "application/json"), bytes("[1]"), nullptr)
                    .isNull());
}

TEST(HCResponseSerializationTest, NullKeysGoAtEveryDepthButArrayNullsStay) {
    auto serializer = HCJSONResponseSerializer::serializerWithReadingOptions(1);
    serializer->removesKeysWithNullValues = true;
    const Value object = serializer->responseObject(
        response(200, "application/json"),
        bytes(R"({"a":null,"b":{"c":null,"d":[null,{"e":null,"f":1}]},"g":2})"), nullptr);
    EXPECT_EQ(platform::json::write(object).value(), R"({"b":{"d":[null,{"f":1}]},"g":2})");
}

TEST(HCResponseSerializationTest, PropertyListAndXml) {
    EXPECT_EQ(HCPropertyListResponseSerializer::serializer()->format, 100u);
    EXPECT_EQ(HCPropertyListResponseSerializer().format, 0u);
    const std::string plist =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?><plist version=\"1.0\"><dict><key>a</key>"
        "<integer>1</integer></dict></plist>";
    std::optional<HCError> error;
    EXPECT_EQ(HCPropertyListResponseSerializer::serializer()->responseObject(
                  response(200, "application/x-plist"), bytes(plist), &error),
              (Value{{"a", Value(1)}}));
    EXPECT_FALSE(error);
    EXPECT_TRUE(HCPropertyListResponseSerializer::serializer()
                    ->responseObject(response(200, "application/x-plist"), bytes("<bad"), &error)
                    .isNull());
    EXPECT_TRUE(error);

    error.reset();
    EXPECT_EQ(HCXMLParserResponseSerializer::serializer()->responseObject(response(200, "text/xml"),
                                                                          bytes("<a/>"), &error),
              Value(bytes("<a/>")));
    EXPECT_TRUE(HCXMLParserResponseSerializer::serializer()
                    ->responseObject(response(200, "text/html"), bytes("<a/>"), &error)
                    .isNull());
    EXPECT_EQ(error->code, -1016);
}

TEST(HCResponseSerializationTest, BinaryPropertyListsAreRead) {
    // {"a": 1} as a binary property list: a dictionary, a key and an integer, their offsets
    // and the trailer.
    const Bytes binary{'b',  'p',  'l',  'i',  's',  't', '0', '0',  0xD1, 0x01, 0x02, 0x51, 0x61,
                       0x10, 0x01, 0x08, 0x0B, 0x0D, 0,   0,   0,    0,    0,    0,    0x01, 0x01,
                       0,    0,    0,    0,    0,    0,   0,   0x03, 0,    0,    0,    0,    0,
                       0,    0,    0,    0,    0,    0,   0,   0,    0,    0,    0x0F};
    for (const auto& serializer :
         {HCPropertyListResponseSerializer::serializer(),
          HCPropertyListResponseSerializer::serializerWithFormat(200, 0)}) {
        std::optional<HCError> error;
        EXPECT_EQ(serializer->responseObject(response(200, "application/x-plist"), binary, &error),
                  (Value{{"a", Value(1)}}));
        EXPECT_FALSE(error) << error->localizedDescription;
        // Cut short, it is no property list.
        const Bytes cut(binary.begin(), binary.end() - 8);
        EXPECT_TRUE(
            serializer->responseObject(response(200, "application/x-plist"), cut, &error).isNull());
        EXPECT_TRUE(error);
    }
}

TEST(HCResponseSerializationTest, ChainingKeepsAnExistingUnderlyingError) {
    const HCError top{"d", 1, "top", "", "", std::nullopt, std::nullopt, nullptr};
    const HCError below{"d", 2, "below", "", "", std::nullopt, std::nullopt, nullptr};
    EXPECT_EQ(HCErrorWithUnderlyingError(std::nullopt, below)->code, 2);
    EXPECT_FALSE(HCErrorWithUnderlyingError(top, std::nullopt)->underlying);
    const auto chained = HCErrorWithUnderlyingError(top, below);
    EXPECT_EQ(chained->underlying->code, 2);
    const HCError other{"d", 3, "other", "", "", std::nullopt, std::nullopt, nullptr};
    EXPECT_EQ(HCErrorWithUnderlyingError(chained, other)->underlying->code, 2);
}

TEST(HCResponseSerializationTest, CopiesFollowTheirOwnRules) {
    HCJSONResponseSerializer json;
    json.acceptableContentTypes = std::set<std::string>{"x/y"};
    json.removesKeysWithNullValues = true;
    const auto copy = json.copy();
    const auto& copied = dynamic_cast<const HCJSONResponseSerializer&>(*copy);
    EXPECT_TRUE(copied.removesKeysWithNullValues);
    EXPECT_TRUE(copied.acceptableContentTypes->contains("application/json"));
}

TEST(HCResponseSerializationTest, EachKindComesBackFromItsCoding) {
    auto base = HCHTTPResponseSerializer::serializer();
    base->acceptableContentTypes = std::set<std::string>{"a/b", "c/d"};
    base->acceptableStatusCodes.reset();
    auto json = HCJSONResponseSerializer::serializerWithReadingOptions(1);
    json->removesKeysWithNullValues = true;
    const auto xml = HCXMLParserResponseSerializer::serializer();
    const auto plist = HCPropertyListResponseSerializer::serializerWithFormat(100, 2);
    auto image = HCImageResponseSerializer::serializer();
    image->imageScale = 3;
    image->automaticallyInflatesResponseImage = false;
    const auto compound = HCCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {json, image, HCXMLParserResponseSerializer::serializer()});
    for (const std::shared_ptr<HCHTTPResponseSerializer>& serializer :
         {base, std::shared_ptr<HCHTTPResponseSerializer>(json),
          std::shared_ptr<HCHTTPResponseSerializer>(xml),
          std::shared_ptr<HCHTTPResponseSerializer>(plist),
          std::shared_ptr<HCHTTPResponseSerializer>(image),
          std::shared_ptr<HCHTTPResponseSerializer>(compound)}) {
        const std::string text = platform::plist::write(serializer->encode()).value();
        const auto decoded = HCHTTPResponseSerializer::decode(platform::plist::parse(text).value());
        ASSERT_TRUE(decoded) << serializer->className();
        const auto& decodedObject = *decoded;
        const auto& original = *serializer;
        EXPECT_EQ(typeid(decodedObject), typeid(original));
        EXPECT_EQ(decoded->encode(), serializer->encode()) << serializer->className();
        EXPECT_EQ(decoded->acceptableStatusCodes, serializer->acceptableStatusCodes);
        EXPECT_EQ(decoded->acceptableContentTypes, serializer->acceptableContentTypes);
    }
    const auto members =
        std::dynamic_pointer_cast<HCCompoundResponseSerializer>(HCHTTPResponseSerializer::decode(
            platform::plist::parse(platform::plist::write(compound->encode()).value()).value()));
    ASSERT_TRUE(members);
    ASSERT_EQ(members->responseSerializers.size(), 3U);
    EXPECT_DOUBLE_EQ(
        dynamic_cast<const HCImageResponseSerializer&>(*members->responseSerializers[1]).imageScale,
        3);
    // A set that was not coded accepts everything.
    EXPECT_FALSE(HCHTTPResponseSerializer::decode(Value{{"class", "HCJSONResponseSerializer"}})
                     ->acceptableContentTypes);
    EXPECT_FALSE(HCHTTPResponseSerializer::decode(Value{{"class", "HCImageSerializer"}}));
}

}  // namespace
