#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "listener/TQWebProxyFrame.h"
#include "listener/TQWebProxyRequest.h"
#include "listener/TQWebProxyTransactions.h"
#include "platform/net/RecordingProxySockets.h"

namespace {

using platform::Bytes;
using platform::net::RecordingProxySockets;
using platform::net::SocketHandle;

Bytes bytesOf(std::string_view text) {
    return {text.begin(), text.end()};
}

Bytes dataFrame(std::uint8_t transaction, std::string_view text) {
    return TQWebProxyFrame::make(TQWebProxyFrame::kData, transaction, bytesOf(text));
}

Bytes controlFrame(std::uint8_t transaction, std::uint8_t value) {
    return TQWebProxyFrame::make(TQWebProxyFrame::kControl, transaction, std::span(&value, 1));
}

const Bytes kClose3 = {0x01, 0x01, 0x04, 3, 0x00, 0x00, 0x00, 0x01, 0x01};

// The proxy's transactions over recorded sockets, with the frames it sends the watch.
class WebProxyTransactionsTest : public ::testing::Test {
protected:
    WebProxyTransactionsTest() { sockets.setObserver(&proxy); }

    void fromWatch(const Bytes& frame) { proxy.requestforConnection(frame); }
    // Opens transaction 3 to example.test and answers the socket's opening.
    SocketHandle openGet() {
        fromWatch(dataFrame(3, "GET http://example.test/a HTTP/1.1\r\n\r\n"));
        const SocketHandle socket = sockets.lastHandle();
        EXPECT_TRUE(sockets.deliverOpened(socket));
        return socket;
    }
    void serverSends(SocketHandle socket, std::string_view text) {
        EXPECT_TRUE(sockets.deliverReceived(socket, bytesOf(text)));
    }
    std::vector<std::string> payloadsToWatch() const {
        std::vector<std::string> payloads;
        for (const Bytes& frame : toWatch) {
            payloads.emplace_back(frame.begin() + 8, frame.end());
        }
        return payloads;
    }

    RecordingProxySockets sockets;
    std::vector<Bytes> toWatch;
    TQWebProxyTransactions proxy{sockets, [this](Bytes frame) { toWatch.push_back(frame); }};
};

TEST_F(WebProxyTransactionsTest, FramesThatAreNoNewRequestOpenNothing) {
    const Bytes valid = dataFrame(4, "GET http://h/ HTTP/1.1\r\n\r\n");
    Bytes longLength = valid;
    longLength[7] = static_cast<std::uint8_t>(longLength[7] + 1);
    Bytes binaryLine = dataFrame(4, "GET http://h/ HTTP/1.1\r\n\r\n");
    binaryLine[12] = 0xFF;
    const std::vector<std::pair<std::string, Bytes>> cases = {
        {"empty", {}},
        {"a header cut short", Bytes(valid.begin(), valid.begin() + 7)},
        {"a length beyond the bytes", longLength},
        {"a one-byte request", dataFrame(4, "G")},
        {"two words", dataFrame(4, "GET http://h/\r\n\r\n")},
        {"a request line that is no text", binaryLine},
        {"a relative target", dataFrame(4, "GET /index.html HTTP/1.1\r\n\r\n")},
        {"a target without a host", dataFrame(4, "GET http:///x HTTP/1.1\r\n\r\n")},
        {"a bad port", dataFrame(4, "GET http://h:99999/ HTTP/1.1\r\n\r\n")},
        {"a CONNECT without a port", dataFrame(4, "CONNECT h HTTP/1.1\r\n\r\n")},
        {"a control frame", controlFrame(4, TQWebProxyFrame::kAcknowledgement)},
        {"a close", controlFrame(4, TQWebProxyFrame::kCloseRequest)},
    };
    for (const auto& [name, frame] : cases) {
        fromWatch(frame);
        EXPECT_TRUE(sockets.connections().empty()) << name;
        EXPECT_TRUE(toWatch.empty()) << name;
        EXPECT_EQ(proxy.transactionCount(), 0U) << name;
    }
}

TEST_F(WebProxyTransactionsTest, BytesAfterTheAnnouncedPayloadAreNotPartOfIt) {
    Bytes frame = dataFrame(4, "GET http://h/ HTTP/1.1\r\n\r\n");
    frame.push_back('!');
    fromWatch(frame);
    ASSERT_EQ(sockets.connections().size(), 1U);
    EXPECT_EQ(sockets.connections().begin()->second.written, bytesOf("GET / HTTP/1.1\r\n\r\n"));
}

TEST_F(WebProxyTransactionsTest, OnlyTheFirstRequestLinesTargetIsRewritten) {
    struct Case {
        std::string request;
        std::string host;
        std::uint16_t port;
        std::string sent;
    };
    const std::vector<Case> cases = {
        {"GET http://example.test HTTP/1.1\r\nReferer: http://example.test/\r\n\r\n",
         "example.test", 80, "GET / HTTP/1.1\r\nReferer: http://example.test/\r\n\r\n"},
        {"GET http://example.test:8080/p?q=:8080 HTTP/1.1\r\n\r\n", "example.test", 8080,
         "GET /p?q=:8080 HTTP/1.1\r\n\r\n"},
        {"HEAD http://user@example.test?x HTTP/1.0\r\n\r\n", "example.test", 80,
         "HEAD /?x HTTP/1.0\r\n\r\n"},
        {"GET http://[::1]:81/v6 HTTP/1.1\r\n\r\n", "::1", 81, "GET /v6 HTTP/1.1\r\n\r\n"},
        {"GET http://h/x HTTP/1.1", "h", 80, "GET /x HTTP/1.1"},
    };
    std::uint8_t transaction = 0;
    for (const Case& c : cases) {
        fromWatch(dataFrame(transaction++, c.request));
        const auto* connection = sockets.connection(sockets.lastHandle());
        ASSERT_NE(connection, nullptr) << c.request;
        EXPECT_EQ(connection->host, c.host) << c.request;
        EXPECT_EQ(connection->port, c.port) << c.request;
        EXPECT_EQ(std::string(connection->written.begin(), connection->written.end()), c.sent);
    }
    // A body that is no text follows the request line unchanged, in the first frame and after.
    Bytes post = bytesOf("POST http://h/u HTTP/1.1\r\nContent-Length: 4\r\n\r\n");
    const Bytes body = {0xFF, 0x00, 0xC3, 0x28};
    post.insert(post.end(), body.begin(), body.begin() + 2);
    fromWatch(TQWebProxyFrame::make(TQWebProxyFrame::kData, 200, post));
    fromWatch(TQWebProxyFrame::make(TQWebProxyFrame::kData, 200, std::span(body).subspan(2)));
    Bytes expected = bytesOf("POST /u HTTP/1.1\r\nContent-Length: 4\r\n\r\n");
    expected.insert(expected.end(), body.begin(), body.end());
    EXPECT_EQ(sockets.connection(sockets.lastHandle())->written, expected);
}

TEST_F(WebProxyTransactionsTest, ThreeChunksGoOnePerAcknowledgementAndTheEndFollowsThem) {
    const SocketHandle socket = openGet();
    EXPECT_TRUE(toWatch.empty());
    serverSends(socket, "one");
    serverSends(socket, "two");
    serverSends(socket, "three");
    EXPECT_EQ(payloadsToWatch(), (std::vector<std::string>{"one"}));
    EXPECT_TRUE(sockets.deliverClosed(socket));
    fromWatch(controlFrame(3, TQWebProxyFrame::kAcknowledgement));
    EXPECT_EQ(payloadsToWatch(), (std::vector<std::string>{"one", "two"}));
    fromWatch(controlFrame(3, TQWebProxyFrame::kAcknowledgement));
    ASSERT_EQ(toWatch.size(), 4U);
    EXPECT_EQ(payloadsToWatch()[2], "three");
    EXPECT_EQ(toWatch[3], kClose3);
    EXPECT_EQ(toWatch[0][2], TQWebProxyFrame::kData);
    EXPECT_EQ(proxy.transactionCount(), 0U);
}

TEST_F(WebProxyTransactionsTest, AChunkAfterTheQueueRanDryGoesAtOnce) {
    const SocketHandle socket = openGet();
    serverSends(socket, "a");
    fromWatch(controlFrame(3, TQWebProxyFrame::kAcknowledgement));
    serverSends(socket, "b");
    EXPECT_EQ(payloadsToWatch(), (std::vector<std::string>{"a", "b"}));
    serverSends(socket, "c");
    EXPECT_EQ(toWatch.size(), 2U);
}

TEST_F(WebProxyTransactionsTest, FramesAndACloseWhileOpeningGoInOrderOnceOpen) {
    fromWatch(dataFrame(3, "POST http://h/ HTTP/1.1\r\nContent-Length: 6\r\n\r\n"));
    const SocketHandle socket = sockets.lastHandle();
    fromWatch(dataFrame(3, "abc"));
    fromWatch(dataFrame(3, "def"));
    fromWatch(controlFrame(3, TQWebProxyFrame::kCloseRequest));
    fromWatch(dataFrame(3, "late"));
    EXPECT_FALSE(sockets.connection(socket)->closedByUser);
    EXPECT_TRUE(toWatch.empty());
    ASSERT_TRUE(sockets.deliverOpened(socket));
    const auto* connection = sockets.connection(socket);
    EXPECT_EQ(std::string(connection->written.begin(), connection->written.end()),
              "POST / HTTP/1.1\r\nContent-Length: 6\r\n\r\nabcdef");
    EXPECT_TRUE(connection->closedByUser);
    EXPECT_EQ(toWatch, std::vector<Bytes>{kClose3});
}

TEST_F(WebProxyTransactionsTest, AFailedConnectionClosesTheTransactionAndFreesItsIdentifier) {
    fromWatch(dataFrame(3, "GET http://h/ HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(sockets.deliverClosed(sockets.lastHandle(), platform::Error{"t", 111, "refused"}));
    EXPECT_EQ(toWatch, std::vector<Bytes>{kClose3});
    fromWatch(dataFrame(3, "GET http://other/ HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(sockets.connection(sockets.lastHandle())->host, "other");
    EXPECT_EQ(proxy.transactionCount(), 1U);
}

TEST_F(WebProxyTransactionsTest, TheWatchsCloseDropsWhatWaitsAndClosesTheSocket) {
    const SocketHandle socket = openGet();
    serverSends(socket, "a");
    serverSends(socket, "b");
    fromWatch(controlFrame(3, TQWebProxyFrame::kCloseRequest));
    EXPECT_TRUE(sockets.connection(socket)->closedByUser);
    EXPECT_EQ(payloadsToWatch().front(), "a");
    EXPECT_EQ(toWatch.back(), kClose3);
    EXPECT_EQ(toWatch.size(), 2U);
    // Later frames for it are a new request or nothing.
    fromWatch(controlFrame(3, TQWebProxyFrame::kAcknowledgement));
    EXPECT_EQ(toWatch.size(), 2U);
}

// What the watch started on one link means nothing on the next: a request on a reused
// identifier must reach its own server, never the socket of the transaction it replaced.
TEST_F(WebProxyTransactionsTest, ALinkChangeEndsEveryTransactionAndItsSocketSilently) {
    const SocketHandle answering = openGet();
    serverSends(answering, "a");
    serverSends(answering, "b");
    fromWatch(dataFrame(4, "GET http://opening.test/ HTTP/1.1\r\n\r\n"));
    const SocketHandle opening = sockets.lastHandle();
    fromWatch(dataFrame(5, "GET http://ended.test/ HTTP/1.1\r\n\r\n"));
    const SocketHandle ended = sockets.lastHandle();
    ASSERT_TRUE(sockets.deliverOpened(ended));
    ASSERT_TRUE(sockets.deliverReceived(ended, bytesOf("x")));
    ASSERT_TRUE(sockets.deliverReceived(ended, bytesOf("y")));
    ASSERT_TRUE(sockets.deliverClosed(ended));
    toWatch.clear();

    proxy.reset();
    EXPECT_EQ(proxy.transactionCount(), 0U);
    EXPECT_EQ(sockets.liveCount(), 0U);
    EXPECT_TRUE(sockets.connection(answering)->closedByUser);
    EXPECT_TRUE(sockets.connection(opening)->closedByUser);
    EXPECT_TRUE(toWatch.empty());

    // The same identifiers, after: fresh connections, each with its own request only.
    for (const std::uint8_t transaction : {3, 4, 5}) {
        fromWatch(dataFrame(transaction, "GET http://next.test/n HTTP/1.1\r\n\r\n"));
        const auto* connection = sockets.connection(sockets.lastHandle());
        EXPECT_EQ(connection->host, "next.test");
        EXPECT_EQ(std::string(connection->written.begin(), connection->written.end()),
                  "GET /n HTTP/1.1\r\n\r\n");
    }
    EXPECT_EQ(sockets.connection(answering)->written, bytesOf("GET /a HTTP/1.1\r\n\r\n"));
    EXPECT_EQ(sockets.liveCount(), 3U);
    EXPECT_TRUE(toWatch.empty());
}

TEST_F(WebProxyTransactionsTest, ARequestOnATransactionWhoseServerEndedOpensAFreshConnection) {
    const SocketHandle old = openGet();
    serverSends(old, "a");
    serverSends(old, "b");
    ASSERT_TRUE(sockets.deliverClosed(old));
    // The watch never acknowledged "a" and starts over on the identifier.
    fromWatch(dataFrame(3, "GET http://other.test/x HTTP/1.1\r\n\r\n"));
    const SocketHandle fresh = sockets.lastHandle();
    ASSERT_NE(fresh, old);
    EXPECT_EQ(sockets.connection(fresh)->host, "other.test");
    EXPECT_EQ(sockets.connection(fresh)->written, bytesOf("GET /x HTTP/1.1\r\n\r\n"));
    ASSERT_TRUE(sockets.deliverOpened(fresh));
    // The old answer's rest never follows; the new one is paced on its own.
    serverSends(fresh, "new");
    fromWatch(controlFrame(3, TQWebProxyFrame::kAcknowledgement));
    EXPECT_EQ(payloadsToWatch(), (std::vector<std::string>{"a", "new"}));
    // Bytes that are no request still have nowhere to go once the server ended.
    serverSends(fresh, "c");
    serverSends(fresh, "d");
    ASSERT_TRUE(sockets.deliverClosed(fresh));
    const SocketHandle last = sockets.lastHandle();
    fromWatch(dataFrame(3, "more body"));
    EXPECT_EQ(sockets.lastHandle(), last);
    EXPECT_EQ(proxy.transactionCount(), 1U);
}

// A transaction nobody does anything for ends, and the watch hears of it; whatever either side
// does keeps it open, whether it still opens, answers or waits for an acknowledgement.
TEST_F(WebProxyTransactionsTest, AnIdleTransactionEndsWithItsCloseFrame) {
    constexpr double kIdle = TQWebProxyTransactions::kIdleTimeout;
    const Bytes close4 = TQWebProxyFrame::makeErrorAPDUPacket(4);
    const Bytes close5 = TQWebProxyFrame::makeErrorAPDUPacket(5);
    const SocketHandle answering = openGet();
    fromWatch(dataFrame(4, "GET http://opening.test/ HTTP/1.1\r\n\r\n"));
    const SocketHandle opening = sockets.lastHandle();
    fromWatch(dataFrame(5, "GET http://waiting.test/ HTTP/1.1\r\n\r\n"));
    const SocketHandle waiting = sockets.lastHandle();
    ASSERT_TRUE(sockets.deliverOpened(waiting));
    ASSERT_TRUE(sockets.deliverReceived(waiting, bytesOf("first")));
    ASSERT_TRUE(sockets.deliverReceived(waiting, bytesOf("second")));
    toWatch.clear();

    sockets.advance(kIdle - 1);
    serverSends(answering, "a");
    fromWatch(controlFrame(3, TQWebProxyFrame::kAcknowledgement));
    EXPECT_EQ(toWatch.size(), 1U);
    sockets.advance(1);
    // The two that saw nothing for the whole time end; the watch hears of both.
    ASSERT_EQ(toWatch.size(), 3U);
    EXPECT_EQ(payloadsToWatch().front(), "a");
    EXPECT_EQ(toWatch[1], close4);
    EXPECT_EQ(toWatch[2], close5);
    EXPECT_TRUE(sockets.connection(opening)->closedByUser);
    EXPECT_TRUE(sockets.connection(waiting)->closedByUser);
    EXPECT_EQ(proxy.transactionCount(), 1U);

    sockets.advance(kIdle - 1.5);
    EXPECT_EQ(proxy.transactionCount(), 1U);
    sockets.advance(1);
    EXPECT_EQ(toWatch.back(), kClose3);
    EXPECT_TRUE(sockets.connection(answering)->closedByUser);
    EXPECT_EQ(proxy.transactionCount(), 0U);
    // Nothing more is told once they are over.
    const std::size_t told = toWatch.size();
    sockets.advance(10 * kIdle);
    EXPECT_EQ(toWatch.size(), told);
}

TEST_F(WebProxyTransactionsTest, ATunnelIsConfirmedAndCarriesBytesUnchanged) {
    fromWatch(dataFrame(7, "CONNECT example.test:443 HTTP/1.1\r\nHost: example.test\r\n\r\n"));
    const SocketHandle socket = sockets.lastHandle();
    EXPECT_EQ(sockets.connection(socket)->port, 443);
    EXPECT_TRUE(sockets.connection(socket)->written.empty());
    ASSERT_TRUE(sockets.deliverOpened(socket));
    EXPECT_EQ(payloadsToWatch(),
              (std::vector<std::string>{"HTTP/1.1 200 Connection established\r\n\r\n"}));
    const Bytes record = {0x16, 0x03, 0x01, 0x00, 0x05, 'h', 't', 't', 'p', ':'};
    fromWatch(TQWebProxyFrame::make(TQWebProxyFrame::kData, 7, record));
    EXPECT_EQ(sockets.connection(socket)->written, record);
}

TEST_F(WebProxyTransactionsTest, ReadingPausesWhileTooMuchWaitsForTheWatch) {
    const SocketHandle socket = openGet();
    const std::string chunk(32678, 'x');
    std::size_t reads = 0;
    while (sockets.connection(socket)->reading && reads < 100) {
        serverSends(socket, chunk);
        ++reads;
    }
    // The first went to the watch; the rest wait.
    EXPECT_EQ(reads,
              1 + (TQWebProxyTransactions::kMaxQueuedBytes + chunk.size() - 1) / chunk.size());
    std::size_t acknowledgements = 0;
    while (!sockets.connection(socket)->reading && acknowledgements < 100) {
        fromWatch(controlFrame(3, TQWebProxyFrame::kAcknowledgement));
        ++acknowledgements;
    }
    // Reading resumes once less than half waits.
    EXPECT_EQ(acknowledgements,
              reads - 1 - (TQWebProxyTransactions::kMaxQueuedBytes / 2) / chunk.size());
}

TEST_F(WebProxyTransactionsTest, EveryIdentifierCanHoldATransactionAtOnce) {
    for (int transaction = 0; transaction < 256; ++transaction) {
        fromWatch(
            dataFrame(static_cast<std::uint8_t>(transaction), "GET http://h/ HTTP/1.1\r\n\r\n"));
    }
    EXPECT_EQ(proxy.transactionCount(), 256U);
    EXPECT_EQ(sockets.liveCount(), 256U);
}

}  // namespace
