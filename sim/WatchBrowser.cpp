#include "sim/WatchBrowser.h"

#include <algorithm>
#include <charconv>

#include "logging/LGLog.h"

namespace kavowatch {

namespace {

std::span<const std::uint8_t> bytesOf(std::string_view text) {
    return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::string_view textOf(std::span<const std::uint8_t> bytes) {
    return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

platform::Error answerError(std::string message) {
    return platform::Error{"kavowatch.browser", 1, std::move(message)};
}

// The host and port of an "http://" URL, for its Host header.
std::string_view authorityOf(std::string_view url) {
    const std::size_t scheme = url.find("://");
    if (scheme == std::string_view::npos) {
        return {};
    }
    url.remove_prefix(scheme + 3);
    return url.substr(0, std::min(url.find_first_of("/?#"), url.size()));
}

}  // namespace

platform::Bytes WatchBrowser::Transaction::received() const {
    platform::Bytes all;
    for (const auto& chunk : chunks) {
        all.insert(all.end(), chunk.begin(), chunk.end());
    }
    return all;
}

std::string WatchBrowser::Transaction::text() const {
    const platform::Bytes all = received();
    return std::string(all.begin(), all.end());
}

WatchBrowser::WatchBrowser(Watch& watch) : watch_(watch) {
    watch_.observeChannel(kProxyAppId,
                          [this](const ReceivedMessage& message) { received(message); });
    linkObserver_ = watch_.observeLink([this](bool up) {
        if (up) {
            linkUp();
        }
    });
}

WatchBrowser::~WatchBrowser() {
    watch_.stopObservingLink(linkObserver_);
    watch_.observeChannel(kProxyAppId, nullptr);
}

void WatchBrowser::linkUp() {
    for (Transaction& transaction : transactions_) {
        if (transaction.started && !transaction.closed) {
            transaction.closed = true;
            transaction.lost = true;
        }
    }
}

platform::Bytes WatchBrowser::frame(std::uint8_t type, std::uint8_t transactionId,
                                    std::span<const std::uint8_t> payload) {
    const auto length = static_cast<std::uint32_t>(payload.size());
    // Sized at once: GCC's bounds warning misreads an insert behind an initializer list.
    platform::Bytes bytes(8 + payload.size());
    bytes[0] = 0x01;
    bytes[1] = 0x01;
    bytes[2] = type;
    bytes[3] = transactionId;
    for (int i = 0; i < 4; ++i) {
        bytes[4 + i] = static_cast<std::uint8_t>(length >> (24 - 8 * i));
    }
    std::copy(payload.begin(), payload.end(), bytes.begin() + 8);
    return bytes;
}

platform::Result<void> WatchBrowser::get(std::uint8_t transactionId, std::string_view url) {
    const std::string request = "GET " + std::string(url) +
                                " HTTP/1.1\r\nHost: " + std::string(authorityOf(url)) +
                                "\r\nConnection: close\r\nUser-Agent: kavowatch\r\n\r\n";
    return send(transactionId, request);
}

platform::Result<void> WatchBrowser::connect(std::uint8_t transactionId, std::string_view host,
                                             std::uint16_t port) {
    const std::string target = std::string(host) + ":" + std::to_string(port);
    return send(transactionId, "CONNECT " + target + " HTTP/1.1\r\nHost: " + target + "\r\n\r\n");
}

platform::Result<void> WatchBrowser::send(std::uint8_t transactionId,
                                          std::span<const std::uint8_t> bytes) {
    if (transactions_[transactionId].closed) {
        transactions_[transactionId] = Transaction{};  // the identifier is free again
    }
    transactions_[transactionId].started = true;
    return sendFrame(kData, transactionId, bytes);
}

platform::Result<void> WatchBrowser::send(std::uint8_t transactionId, std::string_view text) {
    return send(transactionId, bytesOf(text));
}

platform::Result<void> WatchBrowser::acknowledge(std::uint8_t transactionId) {
    const std::uint8_t value = kAcknowledge;
    return sendFrame(kControl, transactionId, std::span(&value, 1));
}

platform::Result<void> WatchBrowser::close(std::uint8_t transactionId) {
    const std::uint8_t value = kClose;
    return sendFrame(kControl, transactionId, std::span(&value, 1));
}

platform::Result<void> WatchBrowser::sendRaw(std::span<const std::uint8_t> bytes) {
    return watch_.sendMessage(kProxyAppId, 1, bytes);
}

platform::Result<void> WatchBrowser::sendFrame(std::uint8_t type, std::uint8_t transactionId,
                                               std::span<const std::uint8_t> payload) {
    return sendRaw(frame(type, transactionId, payload));
}

void WatchBrowser::received(const ReceivedMessage& message) {
    const platform::Bytes& body = message.body;
    if (body.size() < 8) {
        ++badFrames_;
        return;
    }
    const std::uint32_t length = (std::uint32_t{body[4]} << 24) | (std::uint32_t{body[5]} << 16) |
                                 (std::uint32_t{body[6]} << 8) | std::uint32_t{body[7]};
    if (length != body.size() - 8) {
        ++badFrames_;
        return;
    }
    const std::uint8_t transactionId = body[3];
    Transaction& transaction = transactions_[transactionId];
    const auto payload = std::span(body).subspan(8);
    if (body[2] == kData) {
        transaction.chunks.emplace_back(payload.begin(), payload.end());
        if (autoAcknowledge_) {
            if (auto sent = acknowledge(transactionId); !sent) {
                LG_WARN("kavowatch: cannot acknowledge a proxy chunk: %s", sent.error().message);
            }
        }
    } else if (body[2] == kControl && payload.size() == 1 && payload[0] == 0x01) {
        transaction.closed = true;
    } else {
        ++transaction.oddFrames;
    }
}

platform::Result<HttpAnswer> readHttpAnswer(std::span<const std::uint8_t> bytes) {
    const std::string_view text = textOf(bytes);
    const std::size_t headEnd = text.find("\r\n\r\n");
    if (headEnd == std::string_view::npos || !text.starts_with("HTTP/1.")) {
        return answerError("no HTTP response head");
    }
    HttpAnswer answer;
    answer.head = std::string(text.substr(0, headEnd));
    const std::size_t statusAt = text.find(' ');
    if (statusAt == std::string_view::npos || statusAt > headEnd) {
        return answerError("no status");
    }
    std::from_chars(text.data() + statusAt + 1, text.data() + headEnd, answer.status);
    std::string lowerHead = answer.head;
    for (char& c : lowerHead) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    std::string_view rest = text.substr(headEnd + 4);
    if (lowerHead.find("transfer-encoding: chunked") == std::string::npos) {
        answer.body.assign(rest.begin(), rest.end());
        return answer;
    }
    while (true) {
        const std::size_t lineEnd = rest.find("\r\n");
        if (lineEnd == std::string_view::npos) {
            return answerError("a chunk size cut short");
        }
        std::size_t size = 0;
        std::from_chars(rest.data(), rest.data() + lineEnd, size, 16);
        rest.remove_prefix(lineEnd + 2);
        if (size == 0) {
            return answer;
        }
        if (rest.size() < size + 2) {
            return answerError("a chunk cut short");
        }
        answer.body.insert(answer.body.end(), rest.begin(),
                           rest.begin() + static_cast<std::ptrdiff_t>(size));
        rest.remove_prefix(size + 2);
    }
}

}  // namespace kavowatch
