#include <gtest/gtest.h>

#include "platform/net/HTTPMessage.h"
#include "platform/net/URL.h"
#include "platform/net/URLError.h"

namespace platform::net {
namespace {

TEST(URLTest, ParsesOnlyAbsoluteURLs) {
    struct Case {
        const char* text;
        const char* expected;  // null: does not parse
    };
    const Case cases[] = {
        {"http://127.0.0.1:8080/a?b=1#c", "http://127.0.0.1:8080/a?b=1#c"},
        {"HTTPS://example.com", "https://example.com/"},
        {"http://example.com/a b", nullptr},
        {"/relative/path", nullptr},
        {"not a url", nullptr},
        {"http://example.com:99999/", nullptr},
        {"", nullptr},
    };
    for (const Case& c : cases) {
        const auto url = URL::parse(c.text);
        if (c.expected == nullptr) {
            EXPECT_FALSE(url) << c.text;
        } else {
            ASSERT_TRUE(url) << c.text;
            EXPECT_EQ(url->absoluteString(), c.expected);
        }
    }
}

TEST(URLTest, QueryGoesBeforeTheFragment) {
    struct Case {
        const char* base;
        const char* query;
        const char* expected;
    };
    const Case cases[] = {
        {"http://h/path", "a=1%202", "http://h/path?a=1%202"},
        {"http://h/path?x=1", "a=1%202", "http://h/path?x=1&a=1%202"},
        {"http://h/path#top", "a=1", "http://h/path?a=1#top"},
        {"http://h/path?x=1#top", "a=1", "http://h/path?x=1&a=1#top"},
        {"http://h/path", "", "http://h/path?"},
        {"http://h/path?x=1", "", "http://h/path?x=1&"},
    };
    for (const Case& c : cases) {
        const auto joined = URL::parse(c.base)->appendingQuery(c.query);
        ASSERT_TRUE(joined) << c.base;
        EXPECT_EQ(joined->absoluteString(), c.expected) << c.base << " + " << c.query;
    }
}

TEST(URLTest, ResolvesAgainstABaseWithTrailingSlash) {
    const URL base = URL::parse("http://h/api")->withTrailingSlash();
    EXPECT_EQ(base.absoluteString(), "http://h/api/");
    EXPECT_EQ(URL::resolve("items", base)->absoluteString(), "http://h/api/items");
    EXPECT_EQ(URL::resolve("/root", base)->absoluteString(), "http://h/root");
    EXPECT_EQ(URL::resolve("http://other/x", base)->absoluteString(), "http://other/x");
    EXPECT_EQ(URL::parse("http://h/")->withTrailingSlash().absoluteString(), "http://h/");
}

TEST(HTTPHeadersTest, NamesIgnoreCaseAndKeepOrder) {
    HTTPHeaders headers;
    headers.set("Content-Type", "a");
    headers.set("X-One", "1");
    headers.set("content-type", "b");
    EXPECT_EQ(headers.get("CONTENT-TYPE"), "b");
    ASSERT_EQ(headers.fields().size(), 2u);
    EXPECT_EQ(headers.fields()[0].first, "Content-Type");
    headers.remove("x-one");
    EXPECT_FALSE(headers.contains("X-One"));
}

TEST(HTTPHeadersTest, ContentFieldsComeFromTheHeaders) {
    URLResponse response;
    response.headers.add("Content-Type", "Application/JSON; Charset=\"ISO-8859-1\"");
    response.headers.add("Content-Length", " 42 ");
    deriveContentFields(response);
    EXPECT_EQ(response.mimeType, "application/json");
    EXPECT_EQ(response.textEncodingName, "iso-8859-1");
    EXPECT_EQ(response.expectedContentLength, 42);

    URLResponse none;
    none.headers.add("Content-Length", "12x");
    deriveContentFields(none);
    EXPECT_EQ(none.mimeType, "");
    EXPECT_EQ(none.expectedContentLength, -1);
}

TEST(URLErrorTest, CurlResultsMapToThePlatformsCodes) {
    // CURLcode numbers as libcurl defines them.
    const std::pair<int, long> cases[] = {
        {0, 0},
        {1, urlerror::unsupportedURL},
        {3, urlerror::badURL},
        {6, urlerror::cannotFindHost},
        {7, urlerror::cannotConnectToHost},
        {28, urlerror::timedOut},
        {42, urlerror::cancelled},
        {47, urlerror::httpTooManyRedirects},
        {60, urlerror::serverCertificateUntrusted},
        {35, urlerror::secureConnectionFailed},
        {52, urlerror::networkConnectionLost},
        {56, urlerror::networkConnectionLost},
        {61, urlerror::cannotDecodeContentData},
    };
    for (const auto& [curl, code] : cases) {
        EXPECT_EQ(urlErrorCodeForCurlResult(curl, false), code) << curl;
    }
    EXPECT_EQ(urlErrorCodeForCurlResult(35, true), urlerror::serverCertificateUntrusted);
}

}  // namespace
}  // namespace platform::net
