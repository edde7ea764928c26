#include <gtest/gtest.h>

#include <future>

#include "platform/net/URLLoader.h"
#include "support/LoopbackServer.h"

namespace platform::net {
namespace {

using testing_support::LoopbackServer;

// Hands the transfer's end to the test thread.
class EndClient final : public TransferClient {
public:
    void didComplete(const std::optional<URLError>& error,
                     const std::optional<std::filesystem::path>& /*file*/) override {
        ended_.set_value(error);
    }
    std::optional<URLError> end() { return ended_.get_future().get(); }

private:
    std::promise<std::optional<URLError>> ended_;
};

std::optional<URLError> load(URLLoader& loader, const std::string& url) {
    URLRequest request;
    request.url = url;
    auto client = std::make_shared<EndClient>();
    loader.start(request, {}, client);
    return client->end();
}

TEST(URLLoaderTlsTest, OnlyTheOpenSslBackendRunsURLLoading) {
    struct Case {
        const char* name;
        bool available;
    };
    for (const Case each : {Case{"OpenSSL/3.0.11", true}, Case{"GnuTLS/3.7.9", false},
                            Case{"mbedTLS/2.28.3", false}, Case{"", false}}) {
        const auto reason = TlsBackend{each.name, ""}.unavailableReason();
        EXPECT_EQ(!reason, each.available) << each.name;
        if (reason) {
            EXPECT_NE(reason->find("URL loading is unavailable"), std::string::npos) << *reason;
        }
    }
    // The machine's libcurl is the one the program needs.
    EXPECT_FALSE(TlsBackend::ofLibcurl().unavailableReason());
}

TEST(URLLoaderTlsTest, ALoaderOnAnotherBackendEndsEveryTransferWithTheReason) {
    LoopbackServer server;
    URLLoader loader(TlsBackend{"GnuTLS/3.7.9", ""});
    ASSERT_TRUE(loader.unavailableReason());
    const auto error = load(loader, server.url("/echo"));
    ASSERT_TRUE(error);
    EXPECT_EQ(error->code, urlerror::cannotLoadFromNetwork);
    EXPECT_EQ(error->message, *loader.unavailableReason());
    EXPECT_TRUE(server.received().empty());
}

TEST(URLLoaderTlsTest, ARefusedTlsOptionFailsTheTransferUnsent) {
    const auto server = LoopbackServer::https();
    for (const char* option : {"CURLOPT_SSL_VERIFYPEER", "CURLOPT_SSL_SESSIONID_CACHE",
                               "CURLOPT_SSL_CTX_FUNCTION", "CURLOPT_SSL_CTX_DATA"}) {
        URLLoader loader(TlsBackend{TlsBackend::ofLibcurl().name, option});
        const auto error = load(loader, server->url("/echo"));
        ASSERT_TRUE(error) << option;
        EXPECT_EQ(error->code, urlerror::secureConnectionFailed) << option;
        EXPECT_NE(error->message.find(option), std::string::npos) << error->message;
    }
    EXPECT_TRUE(server->received().empty());
}

}  // namespace
}  // namespace platform::net
