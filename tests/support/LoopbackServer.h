#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/TestCertificates.h"

namespace httplib {
class Server;
class DataSink;
}  // namespace httplib

namespace testing_support {

// A request as the server received it.
struct ReceivedRequest {
    std::string method;
    std::string target;  // path and query as sent
    std::string path;
    std::multimap<std::string, std::string> headers;  // names in lower case
    std::string body;                                 // after any chunked coding
    bool chunked = false;

    [[nodiscard]] std::string header(std::string_view name) const;
};

// An HTTP or HTTPS server on 127.0.0.1 and a free port, in this process, for tests and
// benchmarks. Endpoints:
//   /echo            any method: JSON {method, target, path, headers, body, bodyLength,
//                    contentLength, chunked} of what it received
//   /status/<code>   that status; ?type= the Content-Type (default text/plain), ?body= the body
//   /chunked         ?size= bytes of the pattern in a chunked body, no length
//   /slow            the first ?size= bytes (default 65536) of a chunked body, then nothing more
//                    until releaseSlowBodies() or the end of the server
//   /bytes           ?size= bytes of the pattern with a length, an ETag, Range requests (206),
//                    If-Range (the whole body for another ETag) and If-None-Match (304);
//                    ?stall= stops after that many bytes until releaseSlowBodies()
//   /whole           ?size= bytes of the pattern, 200 and the whole body even when asked a Range
//   /held            as /bytes (ETag, Range) but, without a Range, nothing after the first
//                    ?hold= bytes (default half) until releaseSlowBodies()
//   /redirect        ?to= a Location (absolute or relative), ?status= (default 302)
//   /basic           401 with a Basic challenge unless Authorization is Basic ?user=:?password=
//   /gzip-echo       as /echo, with the request's Content-Encoding and its body inflated
//                    ("contentEncoding", "decodedBody"); JSON answers are gzip-coded for
//                    clients that accept it
//   /multipart       JSON {parts: [{name, filename, contentType, content}]} of a multipart body
//   /scripted/<path> GET or POST: the answer a test gave for <path> with script(), 404
//                    without one; a held answer waits until releaseHeld() or the end of the
//                    server, a stalled one sends its first bytes and the rest after
//                    releaseHeld()
// The pattern is byte i = i % 251.
class LoopbackServer {
public:
    // Plain HTTP.
    LoopbackServer();
    // HTTPS with this leaf; the chain sent is the leaf and then `chain`.
    LoopbackServer(const TestIdentity& leaf, std::vector<const TestIdentity*> chain);
    ~LoopbackServer();
    LoopbackServer(const LoopbackServer&) = delete;
    LoopbackServer& operator=(const LoopbackServer&) = delete;

    // An HTTPS server for 127.0.0.1 under the test intermediate.
    static std::unique_ptr<LoopbackServer> https();

    [[nodiscard]] int port() const { return port_; }
    // "http://127.0.0.1:<port>" followed by the path.
    [[nodiscard]] std::string url(std::string_view pathAndQuery) const;

    [[nodiscard]] std::vector<ReceivedRequest> received() const;
    [[nodiscard]] std::optional<ReceivedRequest> last() const;
    // Lets every /slow body end.
    void releaseSlowBodies();

    struct ScriptedAnswer {
        int status = 200;
        std::string contentType = "application/json";
        std::string body;
        bool held = false;
        // Sends the length and this many bytes of the body, the rest after releaseHeld().
        std::optional<std::size_t> stallAfter;
    };
    // What /scripted<path> answers from now on.
    void script(std::string path, ScriptedAnswer answer);
    // Lets every held answer go, now and later.
    void releaseHeld();

    static std::uint8_t patternByte(std::size_t index) {
        return static_cast<std::uint8_t>(index % 251);
    }

private:
    void route();
    void start();
    // Until releaseSlowBodies (true), or the client or the server goes (false).
    bool waitForRelease(httplib::DataSink& sink);
    void record(ReceivedRequest request);

    std::unique_ptr<httplib::Server> server_;
    std::string scheme_;
    int port_ = 0;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::condition_variable slowReleased_;
    std::condition_variable listenEndedSignal_;
    bool listenEnded_ = false;
    bool slowOpen_ = false;
    bool heldReleased_ = false;
    std::map<std::string, ScriptedAnswer> scripted_;
    bool stopping_ = false;
    std::vector<ReceivedRequest> received_;
};

}  // namespace testing_support
