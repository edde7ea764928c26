#include "listener/TQWebProxyRequest.h"

#include <algorithm>
#include <charconv>
#include <string_view>
#include <vector>

#include "platform/foundation/Utf8.h"

namespace {

std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    while (true) {
        const std::size_t space = line.find(' ');
        words.push_back(line.substr(0, space));
        if (space == std::string_view::npos) {
            return words;
        }
        line.remove_prefix(space + 1);
    }
}

std::optional<std::uint16_t> portOf(std::string_view text) {
    unsigned value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() || value == 0 ||
        value > 65535) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

struct Authority {
    std::string host;
    std::optional<std::uint16_t> port;
};

// "host", "host:port", "[v6]" or "[v6]:port"; a port that is there must be a number.
std::optional<Authority> authorityOf(std::string_view text) {
    if (const std::size_t at = text.rfind('@'); at != std::string_view::npos) {
        text.remove_prefix(at + 1);
    }
    Authority authority;
    std::string_view rest;
    if (!text.empty() && text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        authority.host = std::string(text.substr(1, close - 1));
        rest = text.substr(close + 1);
    } else {
        const std::size_t colon = text.find(':');
        authority.host = std::string(text.substr(0, colon));
        rest = colon == std::string_view::npos ? std::string_view() : text.substr(colon);
    }
    if (!rest.empty()) {
        if (rest.front() != ':' || !(authority.port = portOf(rest.substr(1)))) {
            return std::nullopt;
        }
    }
    if (authority.host.empty()) {
        return std::nullopt;
    }
    return authority;
}

}  // namespace

std::optional<TQWebProxyRequest> TQWebProxyRequest::parse(std::span<const std::uint8_t> payload,
                                                          std::string& whyNot) {
    if (payload.size() < 2) {
        whyNot = "a request of " + std::to_string(payload.size()) + " bytes";
        return std::nullopt;
    }
    // Only the request line is text; what follows may be any bytes.
    const std::string_view all(reinterpret_cast<const char*>(payload.data()), payload.size());
    const std::size_t lineEnd = std::min(all.find("\r\n"), all.size());
    const std::string_view line = all.substr(0, lineEnd);
    if (!platform::isValidUtf8(line)) {
        whyNot = "a request line that is not UTF-8 text";
        return std::nullopt;
    }
    const std::vector<std::string_view> words = wordsOf(line);
    if (words.size() < 3) {
        whyNot = "a request line of fewer than 3 words";
        return std::nullopt;
    }

    TQWebProxyRequest request;
    if (words[0] == "CONNECT") {
        const auto authority = authorityOf(words[1]);
        if (!authority || !authority->port) {
            whyNot = "a CONNECT target without a host and a port";
            return std::nullopt;
        }
        request.host = authority->host;
        request.port = *authority->port;
        request.https = true;
        return request;
    }

    const std::string_view target = words[1];
    const std::size_t schemeEnd = target.find("://");
    if (schemeEnd == std::string_view::npos || schemeEnd == 0) {
        whyNot = "a target that is not in absolute form";
        return std::nullopt;
    }
    const std::string_view afterScheme = target.substr(schemeEnd + 3);
    const std::size_t pathStart = std::min(afterScheme.find_first_of("/?#"), afterScheme.size());
    const auto authority = authorityOf(afterScheme.substr(0, pathStart));
    if (!authority) {
        whyNot = "a target without a host, or with a bad port";
        return std::nullopt;
    }
    request.host = authority->host;
    request.port = authority->port.value_or(80);

    std::string originForm(afterScheme.substr(pathStart));
    if (originForm.empty() || originForm.front() != '/') {
        originForm.insert(0, "/");
    }
    const std::size_t targetStart = static_cast<std::size_t>(target.data() - all.data());
    request.firstBytes.reserve(payload.size());
    request.firstBytes.assign(payload.begin(),
                              payload.begin() + static_cast<std::ptrdiff_t>(targetStart));
    request.firstBytes.insert(request.firstBytes.end(), originForm.begin(), originForm.end());
    request.firstBytes.insert(
        request.firstBytes.end(),
        payload.begin() + static_cast<std::ptrdiff_t>(targetStart + target.size()), payload.end());
    return request;
}
