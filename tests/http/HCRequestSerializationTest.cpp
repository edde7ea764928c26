#include <gtest/gtest.h>

#include "http/HCURLRequestSerialization.h"
#include "platform/foundation/BuildVersion.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/PropertyList.h"
#include "utils/DataGZip.h"

namespace {

using platform::Bytes;
using platform::Value;
using platform::net::URLRequest;

HCClientFacts facts(std::vector<std::string> languages = {"en"}) {
    HCClientFacts made;
    made.preferredLanguages = std::move(languages);
    made.executableName = "KavoManager";
    made.shortVersion = "1.2";
    made.deviceModel = "x86_64";
    made.systemVersion = "6.1";
    made.screenScale = 2.0;
    return made;
}

std::string text(const std::optional<Bytes>& body) {
    return body ? std::string(body->begin(), body->end()) : "<none>";
}

std::optional<URLRequest> build(const HCHTTPRequestSerializer& serializer, const char* method,
                                const char* url, const Value& parameters,
                                std::optional<HCError>* error = nullptr) {
    return serializer.requestWithMethod(method, url, parameters, error);
}

TEST(HCHTTPRequestSerializerTest, AcceptLanguageStopsAtTheSixthLanguage) {
    const HCHTTPRequestSerializer serializer(facts({"en", "de", "fr", "it", "es", "ja", "ko"}));
    EXPECT_EQ(serializer.valueForHTTPHeaderField("Accept-Language"),
              "en;q=1, de;q=0.9, fr;q=0.8, it;q=0.7, es;q=0.6, ja;q=0.5");
    EXPECT_EQ(
        HCHTTPRequestSerializer(facts({"en", "fr"})).valueForHTTPHeaderField("Accept-Language"),
        "en;q=1, fr;q=0.9");
    EXPECT_EQ(HCHTTPRequestSerializer(facts({})).valueForHTTPHeaderField("Accept-Language"), "");
}

TEST(HCHTTPRequestSerializerTest, UserAgentNamesTheApplicationAndDevice) {
    EXPECT_EQ(HCHTTPRequestSerializer(facts()).valueForHTTPHeaderField("User-Agent"),
              "KavoManager/1.2 (x86_64; iOS 6.1; Scale/2.00)");
    HCClientFacts accented = facts();
    accented.deviceModel = "caf\xc3\xa9";
    EXPECT_EQ(HCHTTPRequestSerializer(accented).valueForHTTPHeaderField("User-Agent"),
              "KavoManager/1.2 (caf; iOS 6.1; Scale/2.00)");
}

TEST(HCHTTPRequestSerializerTest, TheMachinesUserAgentCarriesTheBuildsVersion) {
    EXPECT_EQ(HCClientFacts::current().shortVersion, platform::kApplicationVersion);
    const std::string agent =
        *HCHTTPRequestSerializer::serializer()->valueForHTTPHeaderField("User-Agent");
    EXPECT_EQ(agent.rfind("KavoManager/" + std::string(platform::kApplicationVersion) + " (", 0),
              0U)
        << agent;
}

TEST(HCHTTPRequestSerializerTest, QueryPairsFlattenSortAndEscape) {
    struct Case {
        Value parameters;
        const char* query;
    };
    const Case cases[] = {
        {Value{{"b", Value(1)}, {"a", Value{{"y", Value("2")}, {"x", Value::array({"p", "q"})}}}},
         "a%5Bx%5D%5B%5D=p&a%5Bx%5D%5B%5D=q&a%5By%5D=2&b=1"},
        {Value{{"a", Value("1 2")}}, "a=1%202"},
        {Value{{"k", Value()}}, "k"},
        {Value{{"k", Value(platform::Array{})}}, ""},
        {Value{{"a", Value("b")}, {"B", Value("c")}}, "B=c&a=b"},
        {Value{{"9", Value(1)}, {"10", Value(2)}}, "10=2&9=1"},
        {Value{{"q", Value("&=?/-._~!$'()*+,;:#[]@")}},
         "q=%26%3D?/-._~%21%24%27%28%29%2A%2B%2C%3B%3A%23%5B%5D%40"},
        {Value{{"u", Value("\xc3\xa9")}}, "u=%C3%A9"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HCQueryStringFromParameters(c.parameters), c.query);
    }
}

TEST(HCHTTPRequestSerializerTest, MethodsDecideBetweenQueryAndFormBody) {
    const HCHTTPRequestSerializer serializer(facts());
    struct Case {
        const char* method;
        const char* url;
        Value parameters;
        const char* expectedURL;
        const char* body;
    };
    const Case cases[] = {
        {"GET", "http://h/path", Value{{"a", Value("1 2")}}, "http://h/path?a=1%202", "<none>"},
        {"GET", "http://h/path?x=1", Value{{"a", Value("1 2")}}, "http://h/path?x=1&a=1%202",
         "<none>"},
        {"GET", "http://h/path#frag", Value{{"a", Value(1)}}, "http://h/path?a=1#frag", "<none>"},
        {"GET", "http://h/path", Value(platform::Dictionary{}), "http://h/path?", "<none>"},
        {"head", "http://h/p", Value{{"a", Value(1)}}, "http://h/p?a=1", "<none>"},
        {"DELETE", "http://h/p", Value{{"a", Value(1)}}, "http://h/p?a=1", "<none>"},
        {"POST", "http://h/p", Value{{"a", Value("b")}}, "http://h/p", "a=b"},
        {"PUT", "http://h/p", Value{{"a", Value("b")}}, "http://h/p", "a=b"},
        {"PATCH", "http://h/p", Value{{"a", Value("b")}}, "http://h/p", "a=b"},
        {"POST", "http://h/p", Value(), "http://h/p", "<none>"},
    };
    for (const Case& c : cases) {
        const auto request = build(serializer, c.method, c.url, c.parameters);
        ASSERT_TRUE(request) << c.method << " " << c.url;
        EXPECT_EQ(request->url, c.expectedURL) << c.method << " " << c.url;
        EXPECT_EQ(text(request->body), c.body) << c.method << " " << c.url;
        const bool form = request->body.has_value();
        EXPECT_EQ(
            request->headers.get("Content-Type"),
            form ? std::optional<std::string>("application/x-www-form-urlencoded") : std::nullopt);
    }
}

TEST(HCHTTPRequestSerializerTest, UnparsableURLTextFailsWithBadURL) {
    const HCHTTPRequestSerializer serializer(facts());
    for (const char* url : {"not a url", "http://exa mple.com/", "/relative", ""}) {
        std::optional<HCError> error;
        EXPECT_FALSE(build(serializer, "GET", url, Value(), &error)) << url;
        ASSERT_TRUE(error) << url;
        EXPECT_EQ(error->domain, platform::net::kURLErrorDomain);
        EXPECT_EQ(error->code, platform::net::urlerror::badURL);
        EXPECT_EQ(error->failingURL, url);
    }
}

TEST(HCHTTPRequestSerializerTest, HeadersTheRequestHasWin) {
    HCHTTPRequestSerializer serializer(facts());
    serializer.setValueForHTTPHeaderField("default", "X-Extra");
    URLRequest request;
    request.url = "http://h/";
    request.method = "POST";
    request.headers.set("x-extra", "mine");
    request.headers.set("content-type", "text/plain");
    const auto made =
        serializer.requestBySerializingRequest(request, Value{{"a", Value(1)}}, nullptr);
    EXPECT_EQ(made->headers.get("X-Extra"), "mine");
    EXPECT_EQ(made->headers.get("Content-Type"), "text/plain");
    EXPECT_EQ(made->headers.get("User-Agent"), serializer.valueForHTTPHeaderField("User-Agent"));

    serializer.setValueForHTTPHeaderField(std::nullopt, "X-Extra");
    EXPECT_FALSE(serializer.valueForHTTPHeaderField("X-Extra"));
    // Names match as written here.
    serializer.setValueForHTTPHeaderField("v", "X-Case");
    EXPECT_FALSE(serializer.valueForHTTPHeaderField("x-case"));
}

TEST(HCHTTPRequestSerializerTest, AuthorizationHeaders) {
    HCHTTPRequestSerializer serializer(facts());
    serializer.setAuthorizationHeaderFieldWithUsername("Aladdin", "open sesame");
    EXPECT_EQ(serializer.valueForHTTPHeaderField("Authorization"),
              "Basic QWxhZGRpbjpvcGVuIHNlc2FtZQ==");
    serializer.setAuthorizationHeaderFieldWithToken("abc");
    EXPECT_EQ(serializer.valueForHTTPHeaderField("Authorization"), "Token token=\"abc\"");
    serializer.clearAuthorizationHeader();
    EXPECT_FALSE(serializer.valueForHTTPHeaderField("Authorization"));
}

TEST(HCHTTPRequestSerializerTest, TimeoutAppliesOnlyOnceSetAndIsNotCopied) {
    HCHTTPRequestSerializer serializer(facts());
    const double platformDefault = URLRequest{}.timeoutInterval;
    EXPECT_EQ(build(serializer, "GET", "http://h/", Value())->timeoutInterval, platformDefault);
    serializer.setTimeoutInterval(30);
    EXPECT_EQ(build(serializer, "GET", "http://h/", Value())->timeoutInterval, 30);
    serializer.setValueForHTTPHeaderField("1", "X-Copied");
    const auto copy = serializer.copy();
    EXPECT_EQ(build(*copy, "GET", "http://h/", Value())->timeoutInterval, platformDefault);
    EXPECT_EQ(copy->valueForHTTPHeaderField("X-Copied"), "1");
}

TEST(HCHTTPRequestSerializerTest, AQueryBlockReplacesTheStyleAndItsErrorStopsTheRequest) {
    HCHTTPRequestSerializer serializer(facts());
    serializer.setQueryStringSerializationWithBlock(
        [](const URLRequest&, const Value&, std::optional<HCError>*) {
            return std::optional<std::string>("custom");
        });
    EXPECT_EQ(build(serializer, "GET", "http://h/", Value{{"a", Value(1)}})->url,
              "http://h/?custom");
    serializer.setQueryStringSerializationWithBlock(
        [](const URLRequest&, const Value&, std::optional<HCError>* error) {
            *error = HCError{"test", 7, "no", "", "", std::nullopt, std::nullopt, nullptr};
            return std::optional<std::string>();
        });
    std::optional<HCError> error;
    EXPECT_FALSE(build(serializer, "GET", "http://h/", Value{{"a", Value(1)}}, &error));
    EXPECT_EQ(error->code, 7);
    serializer.setQueryStringSerializationWithStyle(0);
    EXPECT_EQ(build(serializer, "GET", "http://h/", Value{{"a", Value(1)}})->url, "http://h/?a=1");
}

TEST(HCJSONRequestSerializerTest, BodiesAndTheirType) {
    const auto serializer = HCJSONRequestSerializer::serializer();
    auto post = build(*serializer, "POST", "http://h/", Value{{"a", Value(1)}});
    EXPECT_EQ(post->headers.get("Content-Type"), "application/json");
    EXPECT_EQ(text(post->body), "{\"a\":1}");

    serializer->writingOptions = 1;
    EXPECT_EQ(text(build(*serializer, "POST", "http://h/", Value{{"a", Value(1)}})->body),
              "{\n  \"a\" : 1\n}");

    auto get = build(*serializer, "GET", "http://h/", Value{{"a", Value(1)}});
    EXPECT_EQ(get->url, "http://h/?a=1");
    EXPECT_FALSE(get->body);

    auto none = build(*serializer, "POST", "http://h/", Value());
    EXPECT_FALSE(none->body);
    EXPECT_FALSE(none->headers.contains("Content-Type"));

    // What JSON cannot carry: the request comes back without body, with the writer's error.
    std::optional<HCError> error;
    auto bad = build(*serializer, "POST", "http://h/", Value{{"d", Value(Bytes{1})}}, &error);
    ASSERT_TRUE(bad);
    EXPECT_FALSE(bad->body);
    EXPECT_TRUE(error);
}

TEST(HCPropertyListRequestSerializerTest, WritesAnXmlPropertyList) {
    const auto serializer = HCPropertyListRequestSerializer::serializer();
    EXPECT_EQ(serializer->format, 100u);
    auto post = build(*serializer, "POST", "http://h/", Value{{"a", Value(1)}});
    EXPECT_EQ(post->headers.get("Content-Type"), "application/x-plist");
    EXPECT_EQ(platform::plist::parse(text(post->body)).value(), (Value{{"a", Value(1)}}));
}

TEST(HCgzipRequestSerializerTest, CompressesTheWrappedSerializersBody) {
    const auto gzipped =
        HCgzipRequestSerializer::serializerWithSerializer(HCJSONRequestSerializer::serializer());
    auto post = build(*gzipped, "POST", "http://h/", Value{{"a", Value(1)}});
    EXPECT_EQ(post->headers.get("Content-Encoding"), "gzip");
    EXPECT_EQ(post->headers.get("Content-Type"), "application/json");
    const auto inflated = gzip::decompress(*post->body);
    EXPECT_EQ(std::string(inflated->begin(), inflated->end()), "{\"a\":1}");

    auto get = build(*gzipped, "GET", "http://h/", Value{{"a", Value(1)}});
    EXPECT_FALSE(get->headers.contains("Content-Encoding"));
    EXPECT_FALSE(get->body);

    // An empty body stays empty but is still marked.
    URLRequest empty;
    empty.url = "http://h/";
    empty.method = "POST";
    empty.body = Bytes{};
    const auto plain = std::make_shared<HCHTTPRequestSerializer>(facts());
    auto marked = HCgzipRequestSerializer(plain, facts())
                      .requestBySerializingRequest(empty, Value(), nullptr);
    EXPECT_EQ(marked->headers.get("Content-Encoding"), "gzip");
    EXPECT_TRUE(marked->body->empty());
}

// Through the property-list text and back, as an archive would go.
std::shared_ptr<HCHTTPRequestSerializer> archived(const HCHTTPRequestSerializer& serializer) {
    const std::string text = platform::plist::write(serializer.encode()).value();
    return HCHTTPRequestSerializer::decode(platform::plist::parse(text).value());
}

TEST(HCRequestSerializerCodingTest, EachKindComesBackWithItsCodedValues) {
    auto base = std::make_shared<HCHTTPRequestSerializer>(facts());
    base->setValueForHTTPHeaderField("yes", "X-Kept");
    base->setTimeoutInterval(30);
    base->setQueryStringSerializationWithBlock(
        [](const URLRequest&, const Value&, std::optional<HCError>*) { return "block"; });
    const auto json = HCJSONRequestSerializer::serializerWithWritingOptions(1);
    const auto plist = HCPropertyListRequestSerializer::serializerWithFormat(100, 3);
    const auto gzip = HCgzipRequestSerializer::serializerWithSerializer(json);
    for (const std::shared_ptr<HCHTTPRequestSerializer>& serializer :
         {base, std::shared_ptr<HCHTTPRequestSerializer>(json),
          std::shared_ptr<HCHTTPRequestSerializer>(plist),
          std::shared_ptr<HCHTTPRequestSerializer>(gzip)}) {
        const auto decoded = archived(*serializer);
        ASSERT_TRUE(decoded);
        const auto& decodedObject = *decoded;
        const auto& original = *serializer;
        EXPECT_EQ(typeid(decodedObject), typeid(original));
        EXPECT_EQ(decoded->encode(), serializer->encode());
    }

    // Headers and style come back; the block and the time-out do not.
    const auto restored = archived(*base);
    EXPECT_EQ(restored->valueForHTTPHeaderField("X-Kept"), "yes");
    EXPECT_EQ(restored->HTTPRequestHeaders(), base->HTTPRequestHeaders());
    EXPECT_EQ(restored->timeoutInterval(), 0);
    EXPECT_EQ(build(*restored, "GET", "http://h/p", Value{{"a", "1"}})->url, "http://h/p?a=1");
    const auto wrapped = std::dynamic_pointer_cast<const HCJSONRequestSerializer>(
        std::dynamic_pointer_cast<HCgzipRequestSerializer>(archived(*gzip))->wrapped());
    ASSERT_TRUE(wrapped);
    EXPECT_EQ(wrapped->writingOptions, 1u);

    EXPECT_FALSE(HCHTTPRequestSerializer::decode(Value("HCHTTPRequestSerializer")));
    EXPECT_FALSE(HCHTTPRequestSerializer::decode(Value{{"class", "HCOtherSerializer"}}));
    EXPECT_FALSE(HCHTTPRequestSerializer::decode(Value{{"class", "HCgzipRequestSerializer"}}));
}

}  // namespace
