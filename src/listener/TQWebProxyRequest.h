#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "platform/foundation/Value.h"

// The first frame of a transaction: a request line with a target in absolute form
// ("GET http://host:8080/path HTTP/1.1"), or a CONNECT to "host:port" that opens a tunnel.
struct TQWebProxyRequest {
    std::string host;
    std::uint16_t port = 80;
    // A CONNECT tunnel: nothing of the request goes to the server.
    bool https = false;
    // What goes to the server once it is connected: the request with its target in origin
    // form ("/path"), every byte after the request line as it came.
    platform::Bytes firstBytes;

    // The request, or why the payload is none: shorter than 2 bytes, a request line that is
    // not UTF-8 text or has fewer than 3 words, a target without a host, a bad port.
    static std::optional<TQWebProxyRequest> parse(std::span<const std::uint8_t> payload,
                                                  std::string& whyNot);
};
