#include <gtest/gtest.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "listener/ListenerWorld.h"
#include "listener/TQWebProxyURL.h"
#include "logging/LGPlatformLogSink.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/LogSink.h"
#include "platform/net/PollProxySockets.h"
#include "sim/WatchBrowser.h"
#include "sim/program/WatchFetch.h"
#include "support/ClosingHttpServer.h"
#include "support/LoopWait.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace e2e {
namespace {

using kavowatch::WatchBrowser;
using platform::Bytes;
using testing_support::LoopbackServer;

constexpr std::string_view kTunnelEstablished = "HTTP/1.1 200 Connection established\r\n\r\n";

// Names the tests' servers by: "server.test" is the loopback; "held.test" too, but its lookup
// waits until the test lets it go, so that the connection cannot open before.
class TestResolver {
public:
    std::vector<std::string> resolve(const std::string& host) {
        if (host == "held.test") {
            std::unique_lock lock(mutex_);
            released_.wait(lock, [this] { return !holding_; });
            return {"127.0.0.1"};
        }
        if (host == "server.test") {
            return {"127.0.0.1"};
        }
        return {};
    }
    void hold() {
        std::lock_guard lock(mutex_);
        holding_ = true;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            holding_ = false;
        }
        released_.notify_all();
    }

private:
    std::mutex mutex_;
    std::condition_variable released_;
    bool holding_ = false;
};

std::string textOf(const Bytes& bytes) {
    return {bytes.begin(), bytes.end()};
}

Bytes bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

// The phone's link and dispatch with the real proxy over real sockets, the simulated watch's
// browser on the other side, on a virtual clock that moves while the test waits for servers.
class WebProxyTest : public ::testing::Test {
protected:
    WebProxyTest() {
        world.handlers.registry.webProxy = proxy.get();
        world.connectWatch();
    }
    ~WebProxyTest() override { resolver->release(); }

    // Drives the link until done() holds, for at most `bound` seconds of real time: in small
    // virtual steps while the link has work, waiting for posts while only servers do.
    bool drive(const std::function<bool()>& done, double bound = 30) {
        constexpr double kStep = 0.002;
        constexpr double kQuiet = 0.05;
        const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(bound);
        while (!done()) {
            if (std::chrono::steady_clock::now() > until) {
                return false;
            }
            const bool quiet = world.loop.nextDeadline() > world.loop.now() + kQuiet;
            if (quiet) {
                wakes.waitBriefly();
            }
            world.loop.advance(quiet ? kQuiet : kStep);
        }
        return true;
    }
    // Runs on for a while with done() never holding, for what must not happen.
    void driveFor(double virtualSeconds) {
        const double end = world.loop.now() + virtualSeconds;
        drive([&] { return world.loop.now() >= end; });
    }
    bool closed(std::uint8_t transaction) {
        return drive([&] { return browser.isClosed(transaction); });
    }
    std::string serverUrl(std::string_view host, int port, std::string_view path) const {
        return "http://" + std::string(host) + ":" + std::to_string(port) + std::string(path);
    }
    // The watch drops off the air and comes back; the phone finds it again by itself.
    bool vanishAndReturn() {
        const auto count = [&](const char* name) { return world.events.count(name); };
        const int disconnects = count("note:onDisconnectDeviceNotification");
        const int connects = count("note:onConnectDeviceNotification");
        world.watch.vanish();
        if (!drive([&] { return count("note:onDisconnectDeviceNotification") > disconnects; })) {
            return false;
        }
        world.watch.powerOn();
        world.watch.advertise(static_cast<std::uint8_t>(kavowatch::Purpose::autoConnection));
        return drive([&] {
            return count("note:onConnectDeviceNotification") > connects && world.watch.isPaired();
        });
    }
    std::string answerOf(std::uint8_t transaction) const {
        return browser.transaction(transaction).text();
    }

    // A proxy as the composition root makes it, over the test's names; the tests' servers are
    // on the loopback, which the user setting lets it reach.
    std::unique_ptr<TQWebProxyURL> makeProxy(bool allowLoopback) {
        world.defaults.set(TQWebProxyURL::kAllowLoopbackKey, allowLoopback);
        auto made = std::make_unique<platform::net::PollProxySockets>(
            platform::net::PollProxySockets::Options{
                .resolve = [r = resolver](const std::string& host) { return r->resolve(host); },
                .destinations = TQWebProxyURL::destinations(world.defaults)});
        sockets = made.get();
        return std::make_unique<TQWebProxyURL>(world.loop, world.center, std::move(made));
    }
    // The proxy's sockets to servers, counted on their thread.
    std::size_t socketCount() const {
        std::promise<std::size_t> count;
        sockets->post([&] { count.set_value(sockets->socketCount()); });
        return count.get_future().get();
    }

    listener_test::ListenerWorld world;
    testing_support::LoopWakes wakes{world.loop};
    std::shared_ptr<TestResolver> resolver = std::make_shared<TestResolver>();
    // The current proxy's.
    platform::net::PollProxySockets* sockets = nullptr;
    std::unique_ptr<TQWebProxyURL> proxy = makeProxy(true);
    WatchBrowser browser{world.watch};
};

TEST_F(WebProxyTest, AGetGoesInOriginFormWithHeadersUnchangedAndEndsWithTheServer) {
    LoopbackServer server;
    const std::string url = serverUrl("server.test", server.port(), "/echo?x=1");
    // A header that names the absolute URL stays as it is; only the request line changes.
    ASSERT_TRUE(browser
                    .send(5, "GET " + url + " HTTP/1.1\r\nHost: server.test\r\nX-Origin: " + url +
                                 "\r\nConnection: close\r\n\r\n")
                    .ok());
    ASSERT_TRUE(closed(5));
    const auto request = server.last();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->method, "GET");
    EXPECT_EQ(request->target, "/echo?x=1");
    EXPECT_EQ(request->header("x-origin"), url);
    const auto answer = kavowatch::readHttpAnswer(browser.transaction(5).received());
    ASSERT_TRUE(answer.ok()) << answer.error().message;
    EXPECT_EQ(answer->status, 200);
    EXPECT_NE(textOf(answer->body).find("\"target\""), std::string::npos);
    // The identifier is free again.
    ASSERT_TRUE(browser.get(5, serverUrl("server.test", server.port(), "/status/204")).ok());
    ASSERT_TRUE(closed(5));
    EXPECT_EQ(kavowatch::readHttpAnswer(browser.transaction(5).received())->status, 204);
}

TEST_F(WebProxyTest, ABinaryPostSentInFramesBeforeTheConnectionOpensArrivesWhole) {
    LoopbackServer server;
    Bytes body(3000);
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<std::uint8_t>(255 - i % 256);  // not UTF-8 text
    }
    const std::string head = "POST " + serverUrl("held.test", server.port(), "/echo") +
                             " HTTP/1.1\r\nHost: held.test\r\nContent-Type: "
                             "application/octet-stream\r\nContent-Length: " +
                             std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n";
    resolver->hold();
    // The head with the body's first bytes, then the rest in two frames.
    Bytes first = bytesOf(head);
    first.insert(first.end(), body.begin(), body.begin() + 1000);
    const int handled = world.events.count("note:onDataReceivedNotification");
    ASSERT_TRUE(browser.send(9, first).ok());
    ASSERT_TRUE(browser.send(9, std::span(body).subspan(1000, 1000)).ok());
    ASSERT_TRUE(browser.send(9, std::span(body).subspan(2000)).ok());
    ASSERT_TRUE(drive(
        [&] { return world.events.count("note:onDataReceivedNotification") == handled + 3; }));
    resolver->release();
    ASSERT_TRUE(closed(9));
    const auto request = server.last();
    ASSERT_TRUE(request);
    EXPECT_EQ(request->target, "/echo");
    EXPECT_EQ(Bytes(request->body.begin(), request->body.end()), body);
    EXPECT_EQ(kavowatch::readHttpAnswer(browser.transaction(9).received())->status, 200);
}

TEST_F(WebProxyTest, ACloseSentWhileTheConnectionOpensGoesAfterTheRequest) {
    LoopbackServer server;
    resolver->hold();
    const int handled = world.events.count("note:onDataReceivedNotification");
    ASSERT_TRUE(browser
                    .send(3, "POST " + serverUrl("held.test", server.port(), "/echo") +
                                 " HTTP/1.1\r\nHost: held.test\r\nContent-Length: 5\r\n\r\n")
                    .ok());
    ASSERT_TRUE(browser.send(3, "hello").ok());
    ASSERT_TRUE(browser.close(3).ok());
    ASSERT_TRUE(drive(
        [&] { return world.events.count("note:onDataReceivedNotification") == handled + 3; }));
    EXPECT_FALSE(browser.isClosed(3));
    resolver->release();
    ASSERT_TRUE(closed(3));
    ASSERT_TRUE(drive([&] { return server.last().has_value(); }));
    EXPECT_EQ(server.last()->body, "hello");
}

TEST_F(WebProxyTest, ABinaryAnswerComesInChunksPacedByAcknowledgements) {
    LoopbackServer server;
    constexpr std::size_t kSize = 200000;
    ASSERT_TRUE(browser
                    .get(17, serverUrl("server.test", server.port(),
                                       "/bytes?size=" + std::to_string(kSize)))
                    .ok());
    ASSERT_TRUE(closed(17));
    const auto& transaction = browser.transaction(17);
    EXPECT_GE(transaction.chunks.size(), kSize / 32678);
    for (const auto& chunk : transaction.chunks) {
        EXPECT_LE(chunk.size(), 32678U);
    }
    const auto answer = kavowatch::readHttpAnswer(transaction.received());
    ASSERT_TRUE(answer.ok());
    ASSERT_EQ(answer->body.size(), kSize);
    for (std::size_t i = 0; i < kSize; ++i) {
        ASSERT_EQ(answer->body[i], LoopbackServer::patternByte(i)) << i;
    }
}

TEST_F(WebProxyTest, AnAnswerThatEndsWithTheConnectionEndsTheTransaction) {
    testing_support::ClosingHttpServer server(
        "HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\n");
    ASSERT_TRUE(browser.get(1, serverUrl("127.0.0.1", server.port(), "/where/to?q=1")).ok());
    ASSERT_TRUE(closed(1));
    const auto answer = kavowatch::readHttpAnswer(browser.transaction(1).received());
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(textOf(answer->body), "GET /where/to?q=1 HTTP/1.1");
}

TEST_F(WebProxyTest, AnAnswerLargerThanWhatMayWaitArrivesWholeAfterItsServerLeft) {
    // More than the proxy keeps for the watch: it stops reading, the server finishes and
    // closes meanwhile, and the rest is read as the watch catches up.
    std::string body(5u << 19, '\0');
    for (std::size_t i = 0; i < body.size(); ++i) {
        body[i] = static_cast<char>(LoopbackServer::patternByte(i));
    }
    testing_support::ClosingHttpServer server("HTTP/1.0 200 OK\r\n\r\n" + body);
    ASSERT_TRUE(browser.get(60, serverUrl("server.test", server.port(), "/big")).ok());
    ASSERT_TRUE(closed(60));
    const auto answer = kavowatch::readHttpAnswer(browser.transaction(60).received());
    ASSERT_TRUE(answer.ok());
    EXPECT_EQ(textOf(answer->body), body + "GET /big HTTP/1.1");
}

TEST_F(WebProxyTest, ChunksWaitForTheWatchsAcknowledgements) {
    LoopbackServer server;
    browser.setAutoAcknowledge(false);
    // Four reads' worth at least: the whole answer is read long before the watch acknowledges.
    ASSERT_TRUE(browser.get(2, serverUrl("server.test", server.port(), "/bytes?size=131072")).ok());
    const auto chunks = [&] { return browser.transaction(2).chunks.size(); };
    for (std::size_t expected = 1; expected <= 3; ++expected) {
        ASSERT_TRUE(drive([&] { return chunks() >= expected; }));
        driveFor(2);
        EXPECT_EQ(chunks(), expected);
        ASSERT_TRUE(browser.acknowledge(2).ok());
    }
    browser.setAutoAcknowledge(true);
    ASSERT_TRUE(browser.acknowledge(2).ok());
    ASSERT_TRUE(closed(2));
    EXPECT_EQ(kavowatch::readHttpAnswer(browser.transaction(2).received())->body.size(), 131072U);
}

TEST_F(WebProxyTest, TheWatchLearnsOfEveryEnd) {
    LoopbackServer server;
    // The watch closes an answer that has not ended.
    ASSERT_TRUE(browser.get(40, serverUrl("server.test", server.port(), "/slow?size=100")).ok());
    ASSERT_TRUE(drive([&] { return !browser.transaction(40).chunks.empty(); }));
    ASSERT_TRUE(browser.close(40).ok());
    ASSERT_TRUE(closed(40));
    server.releaseSlowBodies();

    // Nothing listens on a port a server just left.
    int freePort = 0;
    {
        LoopbackServer gone;
        freePort = gone.port();
    }
    ASSERT_TRUE(browser.get(41, serverUrl("127.0.0.1", freePort, "/")).ok());
    ASSERT_TRUE(closed(41));
    EXPECT_TRUE(browser.transaction(41).chunks.empty());

    ASSERT_TRUE(browser.get(42, "http://nowhere.test/index.html").ok());
    ASSERT_TRUE(closed(42));
    EXPECT_TRUE(browser.transaction(42).chunks.empty());

    ASSERT_TRUE(browser.connect(43, "nowhere.test", 443).ok());
    ASSERT_TRUE(closed(43));
    EXPECT_TRUE(browser.transaction(43).chunks.empty());
    EXPECT_EQ(browser.badFrames(), 0);
}

// Transactions do not outlive the link: after the watch came back, a request on an identifier
// it used before reaches the server it names, whether the old server was still answering or
// had ended while chunks of its answer waited for a watch that was gone.
TEST_F(WebProxyTest, AfterTheWatchCameBackReusedTransactionsReachTheirOwnServers) {
    LoopbackServer before;
    browser.setAutoAcknowledge(false);
    ASSERT_TRUE(browser.get(8, serverUrl("server.test", before.port(), "/slow?size=100")).ok());
    ASSERT_TRUE(browser
                    .send(9, "GET " +
                                 serverUrl("server.test", before.port(), "/bytes?size=200000") +
                                 " HTTP/1.1\r\nHost: server.test\r\nCookie: session=old\r\n"
                                 "Connection: close\r\n\r\n")
                    .ok());
    ASSERT_TRUE(drive([&] {
        return !browser.transaction(8).chunks.empty() && !browser.transaction(9).chunks.empty();
    }));
    // The second answer is whole on the phone and its server gone before the watch leaves:
    // only the first's socket is left.
    ASSERT_TRUE(drive([&] { return socketCount() == 1; }));
    ASSERT_TRUE(vanishAndReturn());
    EXPECT_TRUE(browser.transaction(8).lost);
    EXPECT_TRUE(browser.transaction(9).lost);

    browser.setAutoAcknowledge(true);
    LoopbackServer after;
    for (const std::uint8_t transaction : {8, 9}) {
        ASSERT_TRUE(browser
                        .get(transaction, serverUrl("server.test", after.port(),
                                                    "/echo?t=" + std::to_string(transaction)))
                        .ok());
    }
    ASSERT_TRUE(closed(8));
    ASSERT_TRUE(closed(9));
    for (const std::uint8_t transaction : {8, 9}) {
        const auto answer = kavowatch::readHttpAnswer(browser.transaction(transaction).received());
        ASSERT_TRUE(answer.ok()) << answer.error().message;
        EXPECT_EQ(answer->status, 200);
        EXPECT_NE(textOf(answer->body).find("/echo?t=" + std::to_string(transaction)),
                  std::string::npos);
        EXPECT_FALSE(browser.transaction(transaction).lost);
    }
    EXPECT_EQ(after.received().size(), 2U);
    for (const auto& request : after.received()) {
        EXPECT_EQ(request.header("cookie"), "") << request.target;
    }
    EXPECT_EQ(before.received().size(), 2U);
    before.releaseSlowBodies();
}

// What goes through the proxy is the watch's owner's business: the cookie, the credentials and
// the body reach the server, and the answer that echoes them reaches the watch, but no log
// record of either side, the platform's lines included, holds any of them.
TEST_F(WebProxyTest, NoSecretOfAProxiedRequestOrItsAnswerReachesTheLog) {
    struct PlatformLinesToTheHub {
        std::shared_ptr<platform::LogSink> previous =
            platform::LogSink::install(std::make_shared<LGPlatformLogSink>());
        ~PlatformLinesToTheHub() { platform::LogSink::install(previous); }
    } platformLines;
    LoopbackServer server;
    const std::string body = "password=SECRET";
    ASSERT_TRUE(browser
                    .send(6, "POST " + serverUrl("server.test", server.port(), "/echo") +
                                 " HTTP/1.1\r\nHost: server.test\r\nCookie: session=SECRET\r\n"
                                 "Authorization: Bearer SECRET\r\nContent-Length: " +
                                 std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" +
                                 body)
                    .ok());
    ASSERT_TRUE(closed(6));
    ASSERT_TRUE(server.last());
    EXPECT_EQ(server.last()->header("cookie"), "session=SECRET");
    EXPECT_NE(answerOf(6).find("SECRET"), std::string::npos);

    const auto lines = world.logs->lines();
    EXPECT_TRUE(std::any_of(lines.begin(), lines.end(), [](const auto& line) {
        return line.second.find("WebProxy") != std::string::npos;
    }));
    for (const auto& [flag, text] : lines) {
        EXPECT_EQ(text.find("SECRET"), std::string::npos) << text;
    }
}

// The watch may not turn the proxy on the phone itself: without the user setting, a loopback
// server is out of its reach by address and by a name that resolves to it, and the watch hears
// the end of the transaction as it does for a refused connection.
TEST_F(WebProxyTest, LoopbackIsRefusedUnlessTheUserSettingAllowsIt) {
    LoopbackServer server;
    proxy = makeProxy(false);
    world.handlers.registry.webProxy = proxy.get();
    ASSERT_TRUE(browser.get(1, serverUrl("127.0.0.1", server.port(), "/echo")).ok());
    ASSERT_TRUE(browser.get(2, serverUrl("server.test", server.port(), "/echo")).ok());
    ASSERT_TRUE(browser.get(3, serverUrl("[::ffff:127.0.0.1]", server.port(), "/echo")).ok());
    ASSERT_TRUE(browser.connect(4, "server.test", static_cast<std::uint16_t>(server.port())).ok());
    for (const std::uint8_t transaction : {1, 2, 3, 4}) {
        ASSERT_TRUE(closed(transaction));
        EXPECT_TRUE(browser.transaction(transaction).chunks.empty());
    }
    EXPECT_TRUE(server.received().empty());

    proxy = makeProxy(true);
    world.handlers.registry.webProxy = proxy.get();
    ASSERT_TRUE(browser.get(1, serverUrl("server.test", server.port(), "/echo")).ok());
    ASSERT_TRUE(closed(1));
    EXPECT_EQ(kavowatch::readHttpAnswer(browser.transaction(1).received())->status, 200);
    EXPECT_EQ(server.received().size(), 1U);
}

TEST_F(WebProxyTest, TwoHundredFiftySixTransactionsAtOnce) {
    testing_support::ClosingHttpServer server("HTTP/1.0 200 OK\r\n\r\n");
    for (int transaction = 0; transaction < 256; ++transaction) {
        ASSERT_TRUE(
            browser
                .get(static_cast<std::uint8_t>(transaction),
                     serverUrl("server.test", server.port(), "/t" + std::to_string(transaction)))
                .ok());
    }
    ASSERT_TRUE(drive(
        [&] {
            for (int transaction = 0; transaction < 256; ++transaction) {
                if (!browser.isClosed(static_cast<std::uint8_t>(transaction))) {
                    return false;
                }
            }
            return true;
        },
        120));
    for (int transaction = 0; transaction < 256; ++transaction) {
        const auto answer = kavowatch::readHttpAnswer(
            browser.transaction(static_cast<std::uint8_t>(transaction)).received());
        ASSERT_TRUE(answer.ok()) << transaction;
        EXPECT_EQ(textOf(answer->body), "GET /t" + std::to_string(transaction) + " HTTP/1.1");
    }
    EXPECT_EQ(server.served(), 256);
}

TEST_F(WebProxyTest, TheWatchProgramSavesAFetchedBody) {
    LoopbackServer server;
    testing_support::TempDir folder;
    const auto saved = folder.path() / "page.bin";
    int status = -1;
    kavowatch::WatchFetch fetch(world.loop, world.watch,
                                serverUrl("server.test", server.port(), "/chunked?size=5000"),
                                saved, [&](int fetched) { status = fetched; });
    fetch.start();
    ASSERT_TRUE(drive([&] { return status != -1; }));
    EXPECT_EQ(status, 0);
    const auto body = platform::fs::readFile(saved, 1 << 20);
    ASSERT_TRUE(body.ok());
    ASSERT_EQ(body->size(), 5000U);
    for (std::size_t i = 0; i < body->size(); ++i) {
        ASSERT_EQ(static_cast<std::uint8_t>((*body)[i]), LoopbackServer::patternByte(i)) << i;
    }
}

// A TLS client whose records travel in the tunnel's data frames.
class TunnelClient {
public:
    TunnelClient(WatchBrowser& browser, std::uint8_t transaction, std::string request)
        : browser_(browser), transaction_(transaction), request_(std::move(request)) {
        context_ = SSL_CTX_new(TLS_client_method());
        const auto& der = testing_support::TestCertificates::shared().ca.certificateDer;
        const unsigned char* cursor = der.data();
        X509* ca = d2i_X509(nullptr, &cursor, static_cast<long>(der.size()));
        X509_STORE_add_cert(SSL_CTX_get_cert_store(context_), ca);
        X509_free(ca);
        SSL_CTX_set_verify(context_, SSL_VERIFY_PEER, nullptr);
        ssl_ = SSL_new(context_);
        X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), "127.0.0.1");
        SSL_set_bio(ssl_, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
        SSL_set_connect_state(ssl_);
    }
    ~TunnelClient() {
        SSL_free(ssl_);
        SSL_CTX_free(context_);
    }
    TunnelClient(const TunnelClient&) = delete;
    TunnelClient& operator=(const TunnelClient&) = delete;

    // Moves what came and what is to go; false while the tunnel is not confirmed.
    bool pump() {
        const auto& chunks = browser_.transaction(transaction_).chunks;
        if (chunks.empty() || textOf(chunks.front()) != kTunnelEstablished) {
            return false;
        }
        for (; consumed_ < chunks.size(); ++consumed_) {
            BIO_write(SSL_get_rbio(ssl_), chunks[consumed_].data(),
                      static_cast<int>(chunks[consumed_].size()));
        }
        if (!SSL_is_init_finished(ssl_)) {
            SSL_do_handshake(ssl_);
        }
        if (SSL_is_init_finished(ssl_)) {
            if (!sent_) {
                SSL_write(ssl_, request_.data(), static_cast<int>(request_.size()));
                sent_ = true;
            }
            char buffer[4096];
            int got = 0;
            while ((got = SSL_read(ssl_, buffer, sizeof buffer)) > 0) {
                answer_.append(buffer, static_cast<std::size_t>(got));
            }
        }
        char buffer[4096];
        int pending = 0;
        while ((pending = BIO_read(SSL_get_wbio(ssl_), buffer, sizeof buffer)) > 0) {
            EXPECT_TRUE(browser_
                            .send(transaction_, std::span(reinterpret_cast<std::uint8_t*>(buffer),
                                                          static_cast<std::size_t>(pending)))
                            .ok());
        }
        return true;
    }

    [[nodiscard]] bool verified() const {
        return SSL_is_init_finished(ssl_) && SSL_get_verify_result(ssl_) == X509_V_OK;
    }
    [[nodiscard]] const std::string& answer() const { return answer_; }

private:
    WatchBrowser& browser_;
    std::uint8_t transaction_;
    std::string request_;
    SSL_CTX* context_ = nullptr;
    SSL* ssl_ = nullptr;
    std::size_t consumed_ = 1;  // after the confirmation
    bool sent_ = false;
    std::string answer_;
};

TEST_F(WebProxyTest, ATunnelCarriesAWholeTlsExchange) {
    const auto server = LoopbackServer::https();
    ASSERT_TRUE(browser.connect(7, "server.test", static_cast<std::uint16_t>(server->port())).ok());
    TunnelClient client(browser, 7,
                        "GET /echo?tls=1 HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n");
    ASSERT_TRUE(drive([&] {
        client.pump();
        return browser.isClosed(7);
    }));
    EXPECT_EQ(textOf(browser.transaction(7).chunks.front()), kTunnelEstablished);
    EXPECT_TRUE(client.verified());
    const auto answer = kavowatch::readHttpAnswer(bytesOf(client.answer()));
    ASSERT_TRUE(answer.ok()) << client.answer();
    EXPECT_EQ(answer->status, 200);
    ASSERT_TRUE(server->last());
    EXPECT_EQ(server->last()->target, "/echo?tls=1");
    // The CONNECT request itself never reached the server.
    EXPECT_EQ(server->received().size(), 1U);
}

}  // namespace
}  // namespace e2e
