#include <gtest/gtest.h>

#include "http/HCHTTPSessionManager.h"
#include "http/HCImageResponseSerialization.h"
#include "image/support/ImageFixtures.h"
#include "platform/foundation/RunLoop.h"
#include "support/LoopWait.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"

namespace {

using platform::Bytes;
using platform::Value;
using platform::image::AlphaInfo;
using platform::image::Image;
using platform::image::PixelSize;
using platform::net::URLResponse;
namespace fx = image_fixtures;

URLResponse response(int status, std::string mimeType) {
    URLResponse made;
    made.url = "http://127.0.0.1/image";
    made.statusCode = status;
    made.mimeType = std::move(mimeType);
    return made;
}

std::optional<Image> imageOf(const Value& value) {
    return platform::image::imageFromValue(value);
}

TEST(HCImageResponseSerializerTest, InflationRules) {
    const struct {
        const char* name;
        Bytes data;
        std::string type;
        bool inflates;
        AlphaInfo layout;  // of the image handed on
    } cases[] = {
        {"1024 x 1024 png", fx::solidPng(1024, 1024, true), "image/png", true,
         AlphaInfo::premultipliedFirst},
        {"1025 x 1024 png", fx::solidPng(1025, 1024, true), "image/png", true, AlphaInfo::first},
        {"grey png: none-skip-first", fx::greyPng(4, 4), "image/png", true,
         AlphaInfo::noneSkipFirst},
        {"png with alpha: premultiplied-first", fx::solidPng(4, 4, true), "image/png", true,
         AlphaInfo::premultipliedFirst},
        {"not inflating", fx::solidPng(4, 4, true), "image/png", false, AlphaInfo::first},
        {"jpeg", fx::jpegWithOrientation(0), "image/jpeg", true, AlphaInfo::noneSkipFirst},
        // The type names another format: the general decoder's bitmap is inflated instead.
        {"png sent as jpeg", fx::solidPng(4, 4, true), "image/jpeg", true,
         AlphaInfo::premultipliedFirst},
        {"gif", fx::gif(2, 2, {{2, 2, 1, 10}}), "image/gif", true, AlphaInfo::noneSkipFirst},
    };
    for (const auto& c : cases) {
        HCImageResponseSerializer serializer;
        serializer.imageScale = 2.0;
        serializer.automaticallyInflatesResponseImage = c.inflates;
        std::optional<HCError> error;
        const auto image =
            imageOf(serializer.responseObject(response(200, c.type), c.data, &error));
        ASSERT_TRUE(image) << c.name;
        EXPECT_FALSE(error) << c.name;
        EXPECT_EQ(image->scale(), 2.0) << c.name;
        EXPECT_EQ(image->bitmap().alphaInfo(), c.layout) << c.name;
    }
}

TEST(HCImageResponseSerializerTest, AnimationsComeWithTheirFramesUninflated) {
    const auto image = imageOf(HCImageResponseSerializer().responseObject(
        response(200, "image/gif"), fx::threeFrameGif(), nullptr));
    ASSERT_TRUE(image);
    ASSERT_TRUE(image->isAnimated());
    EXPECT_EQ(image->frames().size(), 3u);
    EXPECT_DOUBLE_EQ(image->duration(), 0.6);
}

TEST(HCImageResponseSerializerTest, WhatGivesNoImage) {
    HCImageResponseSerializer serializer;
    std::optional<HCError> error;
    // Undecodable: nothing, and no error of its own.
    EXPECT_TRUE(
        serializer.responseObject(response(200, "image/png"), Bytes{1, 2, 3}, &error).isNull());
    EXPECT_FALSE(error);
    EXPECT_TRUE(serializer.responseObject(response(200, "image/png"), Bytes{}, &error).isNull());
    EXPECT_TRUE(
        serializer.responseObject(response(200, "image/png"), std::nullopt, &error).isNull());
    // Hostile bytes under an image type.
    EXPECT_TRUE(
        serializer
            .responseObject(response(200, "image/png"), fx::pngHeaderOnly(100000, 100000), &error)
            .isNull());
    // The wrong type is a content-decoding failure: nothing.
    EXPECT_TRUE(
        serializer.responseObject(response(200, "text/html"), fx::solidPng(2, 2, false), &error)
            .isNull());
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -1016);
    // A failed status alone still decodes.
    error.reset();
    EXPECT_TRUE(imageOf(
        serializer.responseObject(response(500, "image/png"), fx::solidPng(2, 2, false), &error)));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -1011);
}

TEST(HCImageResponseSerializerTest, CopiesKeepScaleAndInflation) {
    HCImageResponseSerializer serializer;
    serializer.imageScale = 3.0;
    serializer.automaticallyInflatesResponseImage = false;
    const auto copy = serializer.copy();
    const auto& image = dynamic_cast<const HCImageResponseSerializer&>(*copy);
    EXPECT_EQ(image.imageScale, 3.0);
    EXPECT_FALSE(image.automaticallyInflatesResponseImage);
    EXPECT_TRUE(image.acceptableContentTypes->contains("image/x-win-bitmap"));
    EXPECT_EQ(image.acceptableContentTypes->size(), 10u);
}

// Not an HTTP response serializer: the compound one passes it by.
class Stranger : public HCURLResponseSerialization {
public:
    HCResponseObject responseObject(const std::optional<URLResponse>&, const std::optional<Bytes>&,
                                    std::optional<HCError>*) const override {
        return Value("stranger");
    }
    std::unique_ptr<HCURLResponseSerialization> copy() const override {
        return std::make_unique<Stranger>();
    }
    const char* className() const override { return "Stranger"; }
};

HCError earlier() {
    HCError made;
    made.domain = "earlier";
    made.code = 7;
    return made;
}

TEST(HCCompoundResponseSerializerTest, TheFirstResultWinsWithItsErrorChained) {
    const auto compound = HCCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {std::make_shared<Stranger>(), HCJSONResponseSerializer::serializer(),
         HCImageResponseSerializer::serializer()});
    // The JSON member fails on the type and its error is dropped; the image member's status
    // error is chained onto what the caller had.
    std::optional<HCError> error = earlier();
    const Value object =
        compound->responseObject(response(500, "image/png"), fx::solidPng(2, 2, false), &error);
    EXPECT_TRUE(imageOf(object));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -1011);
    ASSERT_TRUE(error->underlying);
    EXPECT_EQ(error->underlying->domain, "earlier");

    // A member with no error of its own leaves the caller's as it was.
    error = earlier();
    EXPECT_TRUE(imageOf(
        compound->responseObject(response(200, "image/png"), fx::solidPng(2, 2, false), &error)));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->domain, "earlier");
    EXPECT_FALSE(error->underlying);
}

TEST(HCCompoundResponseSerializerTest, WithoutAResultTheBodyComesBack) {
    const Bytes body{'h', 'i'};
    std::optional<HCError> error;
    const auto empty = HCCompoundResponseSerializer::compoundSerializerWithResponseSerializers({});
    EXPECT_EQ(empty->responseObject(response(200, "text/plain"), body, &error), Value(body));
    EXPECT_FALSE(error);
    const auto images = HCCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
        {HCImageResponseSerializer::serializer()});
    EXPECT_EQ(images->responseObject(response(404, "text/plain"), body, &error), Value(body));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, -1011);
    EXPECT_EQ(dynamic_cast<const HCCompoundResponseSerializer&>(*images->copy())
                  .responseSerializers.size(),
              1u);
}

TEST(HCCompoundResponseSerializerTest, SerializesSmallBodiesQuicklyOnlyWhenEveryMemberDoes) {
    using Members = HCCompoundResponseSerializer::Members;
    struct Case {
        const char* name;
        Members members;
        bool quick;
    };
    const Case cases[] = {
        {"no member", {}, true},
        {"data and JSON",
         {HCHTTPResponseSerializer::serializer(), HCJSONResponseSerializer::serializer()},
         true},
        {"JSON then image",
         {HCJSONResponseSerializer::serializer(), HCImageResponseSerializer::serializer()},
         false},
        {"a null member, skipped", {nullptr}, true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HCCompoundResponseSerializer::compoundSerializerWithResponseSerializers(c.members)
                      ->serializesSmallBodiesQuickly(),
                  c.quick)
            << c.name;
    }
    EXPECT_FALSE(HCImageResponseSerializer::serializer()->serializesSmallBodiesQuickly());
}

std::string percentEncoded(const Bytes& data) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (const std::uint8_t byte : data) {
        out += '%';
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
    }
    return out;
}

TEST(HCCompoundResponseSerializerTest, ChainsOverTheLoopbackServer) {
    platform::RunLoop loop(platform::RunLoop::Clock::virtualTime);
    platform::ScopedMainRunLoop installedLoop(loop);
    testing_support::TempDir temp;
    testing_support::LoopbackServer server;
    platform::net::URLLoader loader;
    platform::net::URLSessionConfiguration configuration;
    configuration.temporaryDirectory = temp.path();
    HCHTTPSessionManager http(std::nullopt, configuration, &loader);
    http.setResponseSerializer(
        HCCompoundResponseSerializer::compoundSerializerWithResponseSerializers(
            {HCJSONResponseSerializer::serializer(), HCImageResponseSerializer::serializer()}));

    const struct {
        std::string path;
        bool image;
        std::string json;
    } cases[] = {
        {"/status/200?type=image/png&body=" + percentEncoded(fx::solidPng(3, 2, true)), true, ""},
        {"/status/200?type=image/gif&body=" + percentEncoded(fx::threeFrameGif()), true, ""},
        {"/status/200?type=application/json&body=%7B%22a%22:1%7D", false, "1"},
    };
    for (const auto& c : cases) {
        Value answer;
        bool done = false;
        http.GET(
            server.url(c.path), Value(),
            [&](const HCURLSessionManager::Task&, const Value& object) {
                answer = object;
                done = true;
            },
            [&](const HCURLSessionManager::Task&, const HCError&) { done = true; });
        ASSERT_TRUE(testing_support::runLoopUntil(loop, [&] { return done; })) << c.path;
        if (c.image) {
            const auto image = imageOf(answer);
            ASSERT_TRUE(image) << c.path;
            EXPECT_GT(image->bitmap().size().width, 1) << c.path;
        } else {
            EXPECT_EQ(answer["a"].stringValue(), c.json) << c.path;
        }
    }
}

}  // namespace
