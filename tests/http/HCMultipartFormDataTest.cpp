#include <fstream>

#include "HCOperationFixture.h"
#include "http/HCHTTPRequestOperationManager.h"
#include "http/HCURLRequestSerialization.h"
#include "platform/foundation/Json.h"
#include "platform/net/FileBodyStream.h"

namespace {

using platform::Bytes;
using platform::Value;

Bytes bytesOf(std::string_view text) {
    return Bytes(text.begin(), text.end());
}

std::string textOf(const Bytes& bytes) {
    return std::string(bytes.begin(), bytes.end());
}

void writeFile(const std::filesystem::path& path, std::string_view text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

std::string fileText(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string fileURL(const std::filesystem::path& path) {
    return "file://" + path.string();
}

// Everything a body stream gives, `chunk` bytes per read; nothing on a failed read.
std::optional<Bytes> drain(HCMultipartBodyStream& stream, std::size_t chunk) {
    stream.open();
    Bytes out;
    Bytes buffer(chunk);
    for (;;) {
        const std::int64_t got = stream.read(buffer.data(), buffer.size());
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return out;
        }
        out.insert(out.end(), buffer.begin(), buffer.begin() + got);
    }
}

// A caller's stream that gives `good` bytes and then fails.
class BreakingStream final : public platform::net::BodyStream {
public:
    explicit BreakingStream(std::size_t good) : good_(good) {}
    platform::Result<std::size_t> read(std::span<std::uint8_t> buffer) override {
        if (given_ >= good_) {
            return platform::Error{"test.input", 5, "the disk went away"};
        }
        const std::size_t n = std::min(buffer.size(), good_ - given_);
        std::fill_n(buffer.begin(), n, std::uint8_t{'s'});
        given_ += n;
        return n;
    }

private:
    std::size_t good_;
    std::size_t given_ = 0;
};

class HCMultipartFormDataTest : public HCOperationFixture {
protected:
    std::optional<platform::net::URLRequest> multipart(
        const std::string& path, const Value& parameters,
        const std::function<void(HCMultipartFormData&)>& block) {
        std::optional<HCError> error;
        auto made = serializer_->multipartFormRequestWithMethod("POST", server_.url(path),
                                                                parameters, block, &error);
        EXPECT_FALSE(error);
        return made;
    }

    // Sends the request through an operation and gives the server's JSON answer.
    Value send(platform::net::URLRequest request) {
        auto op = HCHTTPRequestOperation::make(std::move(request), &loader_);
        op->setResponseSerializer(HCJSONResponseSerializer::serializer());
        Outcome outcome;
        record(*op, outcome);
        queue_.addOperation(op);
        EXPECT_TRUE(wait([&] { return outcome.done; }));
        EXPECT_TRUE(outcome.succeeded)
            << (outcome.error ? outcome.error->localizedDescription : "");
        return outcome.object;
    }

    std::shared_ptr<HCHTTPRequestSerializer> serializer_ = HCHTTPRequestSerializer::serializer();
};

TEST_F(HCMultipartFormDataTest, ServerParsesEveryPartOfFieldsDataFilesAndStreams) {
    const auto file = temp_.path() / "notes.txt";
    writeFile(file, "file body");
    auto request = multipart(
        "/multipart", Value{{"count", Value(3)}, {"empty", Value()}, {"title", Value("hi")}},
        [&](HCMultipartFormData& form) {
            form.appendPartWithFileData(bytesOf("\x01\x02 data"), "blob", "blob.bin",
                                        "application/octet-stream");
            std::optional<HCError> error;
            EXPECT_TRUE(form.appendPartWithFileURL(fileURL(file), "upload", &error));
            form.appendPartWithInputStream(
                std::make_shared<platform::net::BytesBodyStream>(bytesOf("streamed")), "stream",
                "s.dat", 8, "application/x-test");
        });
    ASSERT_TRUE(request);
    const Value answer = send(*request);
    std::map<std::string, std::tuple<std::string, std::string, std::string>> parts;
    for (const Value& part : *answer["parts"].arrayIf()) {
        parts[*part["name"].stringValue()] = {*part["filename"].stringValue(),
                                              *part["contentType"].stringValue(),
                                              *part["content"].stringValue()};
    }
    ASSERT_EQ(parts.size(), 6U);
    EXPECT_EQ(std::get<2>(parts["count"]), "3");
    EXPECT_EQ(std::get<2>(parts["empty"]), "");
    EXPECT_EQ(std::get<2>(parts["title"]), "hi");
    EXPECT_EQ(parts["blob"],
              std::make_tuple(std::string("blob.bin"), std::string("application/octet-stream"),
                              std::string("\x01\x02 data")));
    EXPECT_EQ(parts["upload"], std::make_tuple(std::string("notes.txt"), std::string("text/plain"),
                                               std::string("file body")));
    EXPECT_EQ(parts["stream"],
              std::make_tuple(std::string("s.dat"), std::string("application/x-test"),
                              std::string("streamed")));
}

TEST_F(HCMultipartFormDataTest, ContentLengthIsWhatTheServerReceived) {
    const auto file = temp_.path() / "big.bin";
    writeFile(file, std::string(300000, 'f'));
    auto request = multipart("/echo", Value{{"a", Value("1")}}, [&](HCMultipartFormData& form) {
        EXPECT_TRUE(form.appendPartWithFileURL(fileURL(file), "f", nullptr));
        form.appendPartWithFormData(bytesOf("tail"), "z");
    });
    ASSERT_TRUE(request);
    // The server would parse a multipart body away; under another type it counts the bytes.
    request->headers.set("Content-Type", "application/x-counted");
    const Value echo = send(*request);
    EXPECT_EQ(echo["bodyLength"].intValue(), std::stol(*request->headers.get("Content-Length")));
    EXPECT_EQ(echo["contentLength"].stringValue(), request->headers.get("Content-Length"));
}

TEST_F(HCMultipartFormDataTest, OneByteReadsGiveTheBytesOfOneLargeReadAndTheLength) {
    const auto file = temp_.path() / "part.bin";
    writeFile(file, std::string(5000, 'x'));
    struct Case {
        const char* name;
        std::function<void(HCMultipartFormData&)> fill;
    };
    const Case cases[] = {
        {"one field", [](HCMultipartFormData& f) { f.appendPartWithFormData(bytesOf("v"), "k"); }},
        {"empty body", [](HCMultipartFormData& f) { f.appendPartWithFormData({}, "k"); }},
        {"data, file and stream",
         [&](HCMultipartFormData& f) {
             f.appendPartWithFileData(bytesOf("abc"), "d", "d.bin", "application/octet-stream");
             EXPECT_TRUE(f.appendPartWithFileURL(fileURL(file), "f", nullptr));
             f.appendPartWithInputStream(
                 std::make_shared<platform::net::BytesBodyStream>(bytesOf("0123456789")), "s", "s",
                 10, "text/plain");
         }},
    };
    for (const Case& each : cases) {
        HCStreamingMultipartFormData small(request(server_.url("/echo"), "POST"), "utf-8");
        HCStreamingMultipartFormData large(request(server_.url("/echo"), "POST"), "utf-8");
        each.fill(small);
        // Stream parts are read once: a fresh builder for the second read.
        each.fill(large);
        const auto one = drain(*small.bodyStream(), 1);
        const auto big = drain(*large.bodyStream(), 1 << 20);
        ASSERT_TRUE(one && big) << each.name;
        const std::string b1 = small.boundary();
        const std::string b2 = large.boundary();
        std::string oneText = textOf(*one);
        // Same layout: only the random boundaries differ.
        for (std::size_t at; (at = oneText.find(b1)) != std::string::npos;) {
            oneText.replace(at, b1.size(), b2);
        }
        EXPECT_EQ(oneText, textOf(*big)) << each.name;
        EXPECT_EQ(one->size(), small.bodyStream()->contentLength()) << each.name;
        EXPECT_EQ(textOf(*big).rfind("--" + b2 + "\r\n", 0), 0U) << each.name;
        EXPECT_TRUE(textOf(*big).ends_with("\r\n--" + b2 + "--\r\n")) << each.name;
    }
}

TEST_F(HCMultipartFormDataTest, FilePartIsReadWhenSentNotWhenBuilt) {
    const auto file = temp_.path() / "late.txt";
    writeFile(file, "before");
    auto request = multipart("/multipart", Value(), [&](HCMultipartFormData& form) {
        EXPECT_TRUE(
            form.appendPartWithFileURL(fileURL(file), "f", "late.txt", "text/plain", nullptr));
    });
    ASSERT_TRUE(request);
    writeFile(file, "AFTER!");  // same length: the body is read from the file as it goes
    const Value answer = send(*request);
    EXPECT_EQ((*answer["parts"].arrayIf())[0]["content"].stringValue(), "AFTER!");
}

TEST_F(HCMultipartFormDataTest, HostileNamesStayOnePartEach) {
    const std::string hostile = "a\"; x=\"1\r\nContent-Type: text/evil\r\n\r\ninjected";
    auto request = multipart("/multipart", Value(), [&](HCMultipartFormData& form) {
        form.appendPartWithFormData(bytesOf("v1"), hostile);
        form.appendPartWithFileData(bytesOf("v2"), "file", hostile, "text/plain");
    });
    ASSERT_TRUE(request);
    const Value answer = send(*request);
    ASSERT_EQ(answer["parts"].size(), 2U);
    const std::string encoded = "a%22; x=%221%0D%0AContent-Type: text/evil%0D%0A%0D%0Ainjected";
    std::map<std::string, Value> byName;
    for (const Value& part : *answer["parts"].arrayIf()) {
        byName[*part["name"].stringValue()] = part;
    }
    EXPECT_EQ(byName[encoded]["content"].stringValue(), "v1");
    EXPECT_EQ(byName["file"]["filename"].stringValue(), encoded);
    EXPECT_EQ(byName["file"]["content"].stringValue(), "v2");
    EXPECT_EQ(byName["file"]["contentType"].stringValue(), "text/plain");
}

TEST_F(HCMultipartFormDataTest, AFailedPartReadIsAnErrorNotAnEnd) {
    // Direct reads: -1 and the part's error.
    HCStreamingMultipartFormData form(request(server_.url("/echo"), "POST"), "utf-8");
    form.appendPartWithInputStream(std::make_shared<BreakingStream>(100), "s", "s", 1000,
                                   "text/plain");
    EXPECT_FALSE(drain(*form.bodyStream(), 64));
    ASSERT_TRUE(form.bodyStream()->streamError());
    EXPECT_EQ(form.bodyStream()->streamError()->domain, "test.input");

    // A stream shorter than its length would make Content-Length a lie: an error too.
    HCStreamingMultipartFormData shortForm(request(server_.url("/echo"), "POST"), "utf-8");
    shortForm.appendPartWithInputStream(
        std::make_shared<platform::net::BytesBodyStream>(bytesOf("abc")), "s", "s", 10, "x/y");
    EXPECT_FALSE(drain(*shortForm.bodyStream(), 64));

    // Sent: the upload fails instead of ending early.
    auto sent = multipart("/echo", Value(), [](HCMultipartFormData& f) {
        f.appendPartWithInputStream(std::make_shared<BreakingStream>(100), "s", "s", 100000,
                                    "text/plain");
    });
    ASSERT_TRUE(sent);
    auto op = HCHTTPRequestOperation::make(*sent, &loader_);
    Outcome outcome;
    record(*op, outcome);
    op->start();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    EXPECT_FALSE(outcome.succeeded);
    EXPECT_EQ(outcome.error->code, platform::net::urlerror::requestBodyStreamExhausted);
}

TEST_F(HCMultipartFormDataTest, WritesTheWholeBodyToAFile) {
    const auto file = temp_.path() / "source.bin";
    std::string content(200000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i) {
        content[i] = static_cast<char>(i * 7);
    }
    writeFile(file, content);
    auto request = multipart("/echo", Value{{"k", Value("v")}}, [&](HCMultipartFormData& f) {
        EXPECT_TRUE(f.appendPartWithFileURL(fileURL(file), "f", nullptr));
    });
    ASSERT_TRUE(request);
    const auto target = temp_.path() / "body.out";
    std::optional<std::optional<HCError>> heard;
    const auto stripped = serializer_->requestWithMultipartFormRequest(
        *request, target, [&](const std::optional<HCError>& error) { heard = error; });
    EXPECT_FALSE(stripped.bodyStream);
    EXPECT_EQ(stripped.headers.get("Content-Length"), request->headers.get("Content-Length"));
    ASSERT_TRUE(wait([&] { return heard.has_value(); }));
    EXPECT_FALSE(*heard);
    const std::string written = fileText(target);
    EXPECT_EQ(std::to_string(written.size()), *request->headers.get("Content-Length"));
    EXPECT_NE(written.find(content), std::string::npos);

    // A file that cannot be made is reported.
    heard.reset();
    (void)serializer_->requestWithMultipartFormRequest(*request, temp_.path() / "missing" / "x",
                                                       [&](const auto& error) { heard = error; });
    ASSERT_TRUE(wait([&] { return heard.has_value(); }));
    EXPECT_TRUE(*heard);
}

TEST_F(HCMultipartFormDataTest, FileURLFailuresAndTypes) {
    HCStreamingMultipartFormData form(request(server_.url("/echo"), "POST"), "utf-8");
    std::optional<HCError> error;
    EXPECT_FALSE(form.appendPartWithFileURL("http://example.com/a.txt", "f", &error));
    EXPECT_EQ(error->code, -1000);
    EXPECT_EQ(error->failureReason, "Expected URL to be a file URL");
    EXPECT_FALSE(form.appendPartWithFileURL(fileURL(temp_.path() / "nope.txt"), "f", &error));
    EXPECT_EQ(error->failureReason, "File URL not reachable.");
    EXPECT_TRUE(form.bodyStream()->isEmpty());
    EXPECT_EQ(HCContentTypeForPathExtension("PNG"), "image/png");
    EXPECT_EQ(HCContentTypeForPathExtension("qqq"), "application/octet-stream");

    // No part: the request stays as it was.
    const auto unchanged = form.requestByFinalizingMultipartFormData();
    EXPECT_FALSE(unchanged.bodyStream);
    EXPECT_FALSE(unchanged.headers.contains("Content-Type"));
}

TEST_F(HCMultipartFormDataTest, ThrottledReadStopsAtThePacketAfterOnePause) {
    HCStreamingMultipartFormData form(request(server_.url("/echo"), "POST"), "utf-8");
    form.appendPartWithHeaders({}, Bytes(100000, 'a'));
    form.throttleBandwidthWithPacketSize(16384, 0.2);
    HCMultipartBodyStream& stream = *form.bodyStream();
    stream.open();
    Bytes buffer(65536);
    EXPECT_EQ(stream.read(buffer.data(), buffer.size()), 65536);
    EXPECT_DOUBLE_EQ(stream.owedPause(), 0.2);
    stream.close();
    EXPECT_EQ(stream.read(buffer.data(), buffer.size()), 0);
}

TEST_F(HCMultipartFormDataTest, AThrottledUploadWaitsWithoutHoldingBackOtherTransfers) {
    constexpr double kDelay = 600;
    HCHTTPRequestOperationManager manager(server_.url("/"), &loader_);
    // Held until the progress block is set: a first packet sent before would go unseen.
    manager.operationQueue()->setSuspended(true);
    Outcome throttled;
    auto upload = manager.POST(
        server_.url("/multipart"), Value(),
        [](HCMultipartFormData& form) {
            form.appendPartWithFormData(Bytes(100000, 'a'), "big");
            form.throttleBandwidthWithPacketSize(16384, kDelay);
        },
        [&](const auto&, const HCResponseObject& object) {
            throttled.object = object;
            throttled.succeeded = throttled.done = true;
        },
        [&](const auto&, const HCError& error) {
            throttled.error = error;
            throttled.done = true;
        });
    ASSERT_TRUE(upload);
    std::int64_t sent = 0;
    upload->setUploadProgressBlock(
        [&](std::uint64_t, std::int64_t total, std::int64_t) { sent = total; });
    manager.operationQueue()->setSuspended(false);
    ASSERT_TRUE(stepUntil([&] { return sent > 0 || throttled.done; }, 0));

    EXPECT_TRUE(downloadBesideAStall().succeeded);
    EXPECT_FALSE(throttled.done);

    // The pauses pass on the loop's clock.
    ASSERT_TRUE(stepUntil([&] { return throttled.done; }, kDelay));
    ASSERT_TRUE(throttled.succeeded) << throttled.error->localizedDescription;
    ASSERT_EQ(throttled.object["parts"].size(), 1U);
    EXPECT_EQ(throttled.object["parts"].arrayIf()->at(0)["content"].stringValue(),
              std::string(100000, 'a'));
}

TEST_F(HCMultipartFormDataTest, ManagerPostsMultipartAndResolvesAgainstItsBase) {
    HCHTTPRequestOperationManager manager(server_.url("/api"), &loader_);
    EXPECT_EQ(manager.baseURL()->absoluteString(), server_.url("/api/"));
    EXPECT_EQ(HCHTTPRequestOperationManager(server_.url("")).baseURL()->absoluteString(),
              server_.url("/"));
    Outcome outcome;
    auto op = manager.POST(
        server_.url("/multipart"), Value{{"k", Value("v")}},
        [](HCMultipartFormData& form) { form.appendPartWithFormData(bytesOf("w"), "m"); },
        [&](const auto&, const HCResponseObject& object) {
            outcome.object = object;
            outcome.succeeded = outcome.done = true;
        },
        [&](const auto&, const HCError& error) {
            outcome.error = error;
            outcome.done = true;
        });
    ASSERT_TRUE(op);
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    ASSERT_TRUE(outcome.succeeded);
    EXPECT_EQ(outcome.object["parts"].size(), 2U);
}

TEST_F(HCMultipartFormDataTest, ManagerVerbs) {
    HCHTTPRequestOperationManager manager(server_.url("/"), &loader_);
    // A relative path resolves against the base; the JSON serializer is the default.
    Outcome got;
    ASSERT_TRUE(manager.GET(
        "echo", Value{{"q", Value("1")}},
        [&](const auto&, const HCResponseObject& object) {
            got.object = object;
            got.done = true;
        },
        nullptr));
    bool headHeard = false;
    ASSERT_TRUE(manager.HEAD(
        "bytes?size=3", Value(), [&](const auto& op) { headHeard = op != nullptr; }, nullptr));
    // No request can be made: nothing is queued and failure hears no operation.
    bool failedWithoutOperation = false;
    EXPECT_FALSE(manager.GET("http://[::1", Value(), nullptr, [&](const auto& op, const HCError&) {
        failedWithoutOperation = op == nullptr && loop_.isCurrent();
    }));
    ASSERT_TRUE(wait([&] { return got.done && headHeard && failedWithoutOperation; }));
    EXPECT_EQ(got.object["target"].stringValue(), "/echo?q=1");
}

}  // namespace
