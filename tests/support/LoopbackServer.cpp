#include "support/LoopbackServer.h"

#include <httplib.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "platform/foundation/Json.h"
#include "platform/foundation/Value.h"

namespace testing_support {

namespace {

std::string lowered(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string pattern(std::size_t offset, std::size_t size) {
    std::string out(size, '\0');
    for (std::size_t i = 0; i < size; ++i) {
        out[i] = static_cast<char>(LoopbackServer::patternByte(offset + i));
    }
    return out;
}

std::size_t sizeParameter(const httplib::Request& request, std::size_t fallback,
                          const char* name = "size") {
    if (!request.has_param(name)) {
        return fallback;
    }
    return static_cast<std::size_t>(std::stoull(request.get_param_value(name)));
}

bool isUtf8(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto c = static_cast<unsigned char>(text[i]);
        const std::size_t extra = c < 0x80         ? 0
                                  : (c >> 5) == 6  ? 1
                                  : (c >> 4) == 14 ? 2
                                  : (c >> 3) == 30 ? 3
                                                   : 4;
        if (extra == 4 || i + extra >= text.size()) {
            return false;
        }
        for (std::size_t k = 1; k <= extra; ++k) {
            if ((static_cast<unsigned char>(text[i + k]) >> 6) != 2) {
                return false;
            }
        }
        i += extra + 1;
    }
    return true;
}

std::string gzipInflate(const std::string& input) {
    z_stream stream{};
    inflateInit2(&stream, 31);
    std::string out;
    char buffer[16384];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input.data()));
    stream.avail_in = static_cast<uInt>(input.size());
    int status = Z_OK;
    while (status == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        status = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    }
    inflateEnd(&stream);
    return status == Z_STREAM_END ? out : std::string();
}

ReceivedRequest receivedFrom(const httplib::Request& request) {
    ReceivedRequest out;
    out.method = request.method;
    out.target = request.target;
    out.path = request.path;
    for (const auto& [name, value] : request.headers) {
        out.headers.emplace(lowered(name), value);
    }
    out.body = request.body;
    out.chunked =
        lowered(request.get_header_value("Transfer-Encoding")).find("chunked") != std::string::npos;
    return out;
}

platform::Value echoOf(const ReceivedRequest& request) {
    platform::Dictionary headers;
    for (const auto& [name, value] : request.headers) {
        headers.set(name, platform::Value(value));
    }
    platform::Value echo{{"method", platform::Value(request.method)},
                         {"target", platform::Value(request.target)},
                         {"path", platform::Value(request.path)},
                         {"headers", platform::Value(std::move(headers))},
                         {"bodyLength", platform::Value(request.body.size())},
                         {"chunked", platform::Value(request.chunked)}};
    if (isUtf8(request.body)) {
        echo["body"] = platform::Value(request.body);
    }
    return echo;
}

void answerJson(httplib::Response& response, const platform::Value& value) {
    response.set_content(platform::json::write(value).value(), "application/json");
}

struct PemKey {
    X509* certificate = nullptr;
    EVP_PKEY* key = nullptr;
};

X509* certificateFromPem(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    return PEM_read_bio_X509(bio.get(), nullptr, nullptr, nullptr);
}

EVP_PKEY* keyFromPem(const std::string& pem) {
    std::unique_ptr<BIO, decltype(&BIO_free)> bio(
        BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())), BIO_free);
    return PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr);
}

}  // namespace

std::string ReceivedRequest::header(std::string_view name) const {
    const auto found = headers.find(lowered(std::string(name)));
    return found == headers.end() ? std::string() : found->second;
}

LoopbackServer::LoopbackServer() : server_(std::make_unique<httplib::Server>()), scheme_("http") {
    start();
}

LoopbackServer::LoopbackServer(const TestIdentity& leaf, std::vector<const TestIdentity*> chain)
    : scheme_("https") {
    server_ = std::make_unique<httplib::SSLServer>([&](SSL_CTX& context) {
        X509* certificate = certificateFromPem(leaf.certificatePem);
        EVP_PKEY* key = keyFromPem(leaf.privateKeyPem);
        const bool ok = certificate != nullptr && key != nullptr &&
                        SSL_CTX_use_certificate(&context, certificate) == 1 &&
                        SSL_CTX_use_PrivateKey(&context, key) == 1;
        X509_free(certificate);
        EVP_PKEY_free(key);
        for (const TestIdentity* link : chain) {
            X509* extra = certificateFromPem(link->certificatePem);
            SSL_CTX_add1_chain_cert(&context, extra);
            X509_free(extra);
        }
        return ok;
    });
    start();
}

std::unique_ptr<LoopbackServer> LoopbackServer::https() {
    const TestCertificates& pki = TestCertificates::shared();
    return std::make_unique<LoopbackServer>(pki.localhost,
                                            std::vector<const TestIdentity*>{&pki.intermediate});
}

LoopbackServer::~LoopbackServer() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    slowReleased_.notify_all();
    // stop() only acts once the listening loop runs, which may not have begun yet.
    std::unique_lock lock(mutex_);
    while (!listenEnded_) {
        lock.unlock();
        server_->stop();
        lock.lock();
        listenEndedSignal_.wait_for(lock, std::chrono::milliseconds(10));
    }
    lock.unlock();
    thread_.join();
}

std::string LoopbackServer::url(std::string_view pathAndQuery) const {
    return scheme_ + "://127.0.0.1:" + std::to_string(port_) + std::string(pathAndQuery);
}

std::vector<ReceivedRequest> LoopbackServer::received() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::optional<ReceivedRequest> LoopbackServer::last() const {
    std::lock_guard lock(mutex_);
    if (received_.empty()) {
        return std::nullopt;
    }
    return received_.back();
}

bool LoopbackServer::waitForRelease(httplib::DataSink& sink) {
    std::unique_lock lock(mutex_);
    // Waits in short turns so that a client that went away frees the thread.
    while (!slowOpen_ && !stopping_ && sink.is_writable()) {
        slowReleased_.wait_for(lock, std::chrono::milliseconds(50));
    }
    return slowOpen_;
}

void LoopbackServer::releaseSlowBodies() {
    {
        std::lock_guard lock(mutex_);
        slowOpen_ = true;
    }
    slowReleased_.notify_all();
}

void LoopbackServer::script(std::string path, ScriptedAnswer answer) {
    std::lock_guard lock(mutex_);
    scripted_[std::move(path)] = std::move(answer);
}

void LoopbackServer::releaseHeld() {
    {
        std::lock_guard lock(mutex_);
        heldReleased_ = true;
    }
    slowReleased_.notify_all();
}

void LoopbackServer::record(ReceivedRequest request) {
    std::lock_guard lock(mutex_);
    received_.push_back(std::move(request));
}

void LoopbackServer::start() {
    if (!server_->is_valid()) {
        throw std::runtime_error("loopback server: not valid (certificate?)");
    }
    route();
    server_->set_keep_alive_max_count(1'000'000);
    // A connection the client keeps open holds the server's end for this long.
    server_->set_keep_alive_timeout(1);
    // Small answers go out at once rather than waiting for the client's acknowledgement.
    server_->set_tcp_nodelay(true);
    server_->set_payload_max_length(std::size_t{512} << 20);
    port_ = server_->bind_to_any_port("127.0.0.1");
    if (port_ <= 0) {
        throw std::runtime_error("loopback server: cannot bind to 127.0.0.1");
    }
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        std::lock_guard lock(mutex_);
        listenEnded_ = true;
        listenEndedSignal_.notify_all();
    });
}

void LoopbackServer::route() {
    httplib::Server& server = *server_;
    const auto echo = [this](const httplib::Request& request, httplib::Response& response) {
        ReceivedRequest seen = receivedFrom(request);
        record(seen);
        platform::Value answer = echoOf(seen);
        if (request.has_header("Content-Length")) {
            answer["contentLength"] = platform::Value(request.get_header_value("Content-Length"));
        }
        answerJson(response, answer);
    };
    for (const char* pattern : {"/echo", "/echo/.*"}) {
        server.Get(pattern, echo);
        server.Post(pattern, echo);
        server.Put(pattern, echo);
        server.Patch(pattern, echo);
        server.Delete(pattern, echo);
        server.Options(pattern, echo);
    }

    server.Get(R"(/status/(\d+))",
               [this](const httplib::Request& request, httplib::Response& response) {
                   record(receivedFrom(request));
                   response.status = std::stoi(request.matches[1]);
                   const std::string type =
                       request.has_param("type") ? request.get_param_value("type") : "text/plain";
                   response.set_content(request.get_param_value("body"), type.c_str());
               });

    server.Get("/chunked", [this](const httplib::Request& request, httplib::Response& response) {
        record(receivedFrom(request));
        const std::size_t size = sizeParameter(request, 100'000);
        response.set_chunked_content_provider(
            "application/octet-stream", [size](std::size_t offset, httplib::DataSink& sink) {
                const std::size_t n = std::min<std::size_t>(7919, size - offset);
                if (n > 0) {
                    const std::string part = pattern(offset, n);
                    sink.write(part.data(), part.size());
                }
                if (offset + n >= size) {
                    sink.done();
                }
                return true;
            });
    });

    server.Get("/slow", [this](const httplib::Request& request, httplib::Response& response) {
        record(receivedFrom(request));
        const std::size_t first = sizeParameter(request, 65536);
        response.set_chunked_content_provider(
            "application/octet-stream", [this, first](std::size_t offset, httplib::DataSink& sink) {
                if (offset < first) {
                    const std::string part = pattern(offset, first - offset);
                    return sink.write(part.data(), part.size());
                }
                waitForRelease(sink);
                sink.done();
                return true;
            });
    });

    const auto scripted = [this](const httplib::Request& request, httplib::Response& response) {
        record(receivedFrom(request));
        std::unique_lock lock(mutex_);
        const auto found =
            scripted_.find(request.path.substr(std::string_view("/scripted").size()));
        if (found == scripted_.end()) {
            response.status = 404;
            return;
        }
        const ScriptedAnswer answer = found->second;
        // Waits in short turns so that the end of the server frees the thread.
        while (answer.held && !heldReleased_ && !stopping_) {
            slowReleased_.wait_for(lock, std::chrono::milliseconds(50));
        }
        lock.unlock();
        response.status = answer.status;
        if (!answer.stallAfter) {
            response.set_content(answer.body, answer.contentType);
            return;
        }
        auto body = std::make_shared<std::string>(answer.body);
        const std::size_t stall = *answer.stallAfter;
        response.set_content_provider(
            body->size(), answer.contentType,
            [this, body, stall](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (offset >= stall) {
                    std::unique_lock held(mutex_);
                    while (!heldReleased_ && !stopping_ && sink.is_writable()) {
                        slowReleased_.wait_for(held, std::chrono::milliseconds(50));
                    }
                    if (!heldReleased_) {
                        return false;
                    }
                }
                const std::size_t end =
                    offset < stall ? std::min(offset + length, stall) : offset + length;
                return sink.write(body->data() + offset, end - offset);
            });
    };
    server.Get("/scripted/.*", scripted);
    server.Post("/scripted/.*", scripted);

    server.Get("/bytes", [this](const httplib::Request& request, httplib::Response& response) {
        record(receivedFrom(request));
        const std::size_t size = sizeParameter(request, 1024);
        const std::string etag = "\"bytes-" + std::to_string(size) + "\"";
        response.set_header("ETag", etag);
        response.set_header("Accept-Ranges", "bytes");
        if (request.get_header_value("If-None-Match") == etag) {
            response.status = 304;
            return;
        }
        // A range for another version of the body is not served: the whole body comes instead.
        // The library slices any ranged answer itself, so the ranges it parsed are dropped.
        if (request.has_header("If-Range") && request.get_header_value("If-Range") != etag) {
            const_cast<httplib::Request&>(request).ranges.clear();
        }
        const std::optional<std::size_t> stall =
            request.has_param("stall") ? std::optional(sizeParameter(request, 0, "stall"))
                                       : std::nullopt;
        if (size <= (std::size_t{8} << 20) && !stall) {
            response.set_content(pattern(0, size), "application/octet-stream");
            return;
        }
        // Large bodies stream from one block so the server costs little beside the client.
        auto block = std::make_shared<std::string>(pattern(0, 251 * 1024));
        response.set_content_provider(
            size, "application/octet-stream",
            [this, block, stall](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (stall && offset >= *stall && !waitForRelease(sink)) {
                    return false;
                }
                const std::size_t start = offset % 251;
                std::size_t n = std::min(length, block->size() - start);
                if (stall && offset < *stall) {
                    n = std::min(n, *stall - offset);
                }
                return sink.write(block->data() + start, n);
            });
    });

    // As /bytes, but a server that knows no ranges: 200 and the whole body whatever was asked.
    server.Get("/whole", [this](const httplib::Request& request, httplib::Response& response) {
        record(receivedFrom(request));
        response.status = 200;
        response.set_content(pattern(0, sizeParameter(request, 1024)), "application/octet-stream");
    });

    // As /bytes, but a request without a Range stops after ?hold= bytes until the slow bodies
    // are released (or the client goes): a download caught in the middle.
    server.Get("/held", [this](const httplib::Request& request, httplib::Response& response) {
        record(receivedFrom(request));
        const std::size_t size = sizeParameter(request, 1024);
        const std::size_t hold =
            request.has_param("hold") ? std::stoul(request.get_param_value("hold")) : size / 2;
        const bool ranged = request.has_header("Range");
        response.set_header("ETag", "\"held-" + std::to_string(size) + "\"");
        response.set_header("Accept-Ranges", "bytes");
        response.set_content_provider(
            size, "application/octet-stream",
            [this, hold, ranged](std::size_t offset, std::size_t length, httplib::DataSink& sink) {
                if (!ranged && offset >= hold) {
                    std::unique_lock lock(mutex_);
                    while (!slowOpen_ && !stopping_ && sink.is_writable()) {
                        slowReleased_.wait_for(lock, std::chrono::milliseconds(50));
                    }
                    if (!slowOpen_) {
                        return false;
                    }
                }
                const std::size_t end =
                    !ranged && offset < hold ? std::min(offset + length, hold) : offset + length;
                const std::string part = pattern(offset, end - offset);
                return sink.write(part.data(), part.size());
            });
    });

    server.Get("/redirect", [this](const httplib::Request& request, httplib::Response& response) {
        record(receivedFrom(request));
        const int status =
            request.has_param("status") ? std::stoi(request.get_param_value("status")) : 302;
        response.status = status;
        response.set_header("Location", request.get_param_value("to"));
        response.set_content("redirecting", "text/plain");
    });
    server.Post("/redirect", [this](const httplib::Request& request, httplib::Response& response) {
        record(receivedFrom(request));
        const int status =
            request.has_param("status") ? std::stoi(request.get_param_value("status")) : 302;
        response.status = status;
        response.set_header("Location", request.get_param_value("to"));
        response.set_content("redirecting", "text/plain");
    });

    server.Get("/basic", [this](const httplib::Request& request, httplib::Response& response) {
        record(receivedFrom(request));
        const std::string pair =
            request.get_param_value("user") + ":" + request.get_param_value("password");
        std::string encoded(4 * ((pair.size() + 2) / 3) + 1, '\0');
        const int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(encoded.data()),
                                           reinterpret_cast<const unsigned char*>(pair.data()),
                                           static_cast<int>(pair.size()));
        encoded.resize(static_cast<std::size_t>(length));
        const std::string expected = "Basic " + encoded;
        if (request.get_header_value("Authorization") != expected) {
            response.status = 401;
            response.set_header("WWW-Authenticate", "Basic realm=\"kavo\"");
            response.set_content("{\"error\":\"unauthorized\"}", "application/json");
            return;
        }
        response.set_content("{\"authenticated\":true}", "application/json");
    });

    server.Post("/gzip-echo", [this](const httplib::Request& request, httplib::Response& response) {
        ReceivedRequest seen = receivedFrom(request);
        record(seen);
        platform::Value answer = echoOf(seen);
        // The library inflates a gzip request body itself; a body still in gzip is inflated here.
        const bool stillCoded = request.body.size() > 2 &&
                                static_cast<unsigned char>(request.body[0]) == 0x1f &&
                                static_cast<unsigned char>(request.body[1]) == 0x8b;
        answer["contentEncoding"] = platform::Value(request.get_header_value("Content-Encoding"));
        answer["decodedBody"] =
            platform::Value(stillCoded ? gzipInflate(request.body) : request.body);
        // The library gzip-codes JSON answers for clients that accept it.
        answerJson(response, answer);
    });

    server.Post("/multipart", [this](const httplib::Request& request, httplib::Response& response) {
        record(receivedFrom(request));
        platform::Array parts;
        for (const auto& [name, file] : request.files) {
            parts.push_back(platform::Value{{"name", platform::Value(file.name)},
                                            {"filename", platform::Value(file.filename)},
                                            {"contentType", platform::Value(file.content_type)},
                                            {"content", platform::Value(file.content)}});
        }
        answerJson(response, platform::Value{{"parts", platform::Value(std::move(parts))}});
    });
}

}  // namespace testing_support
