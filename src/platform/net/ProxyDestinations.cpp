#include "platform/net/ProxyDestinations.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <array>
#include <cstdint>

namespace platform::net {

namespace {

enum class Kind { ordinary, loopback, linkLocal, multicast, broadcast, unspecified };

Kind kindOfV4(std::uint32_t address) {
    const std::uint32_t first = address >> 24;
    if (first == 0) {
        return Kind::unspecified;  // "this network": the kernel takes 0.0.0.0 for the host
    }
    if (first == 127) {
        return Kind::loopback;
    }
    if ((address >> 16) == 0xA9FE) {
        return Kind::linkLocal;
    }
    if ((first & 0xF0) == 0xE0) {
        return Kind::multicast;
    }
    if (address == 0xFFFFFFFF) {
        return Kind::broadcast;
    }
    return Kind::ordinary;
}

std::uint32_t v4At(const std::array<std::uint8_t, 16>& bytes, std::size_t at) {
    return (std::uint32_t{bytes[at]} << 24) | (std::uint32_t{bytes[at + 1]} << 16) |
           (std::uint32_t{bytes[at + 2]} << 8) | std::uint32_t{bytes[at + 3]};
}

Kind kindOfV6(const std::array<std::uint8_t, 16>& bytes) {
    const auto zeroUpTo = [&](std::size_t end) {
        return std::all_of(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(end),
                           [](std::uint8_t byte) { return byte == 0; });
    };
    if (zeroUpTo(15)) {
        return bytes[15] == 0 ? Kind::unspecified
                              : (bytes[15] == 1 ? Kind::loopback : kindOfV4(v4At(bytes, 12)));
    }
    const bool mapped = zeroUpTo(10) && bytes[10] == 0xFF && bytes[11] == 0xFF;
    const bool compatible = zeroUpTo(12);
    const std::array<std::uint8_t, 12> nat64 = {0x00, 0x64, 0xFF, 0x9B};
    const bool translated = std::equal(nat64.begin(), nat64.end(), bytes.begin());
    if (mapped || compatible || translated) {
        return kindOfV4(v4At(bytes, 12));
    }
    if (bytes[0] == 0xFF) {
        return Kind::multicast;
    }
    if (bytes[0] == 0xFE && (bytes[1] & 0xC0) == 0x80) {
        return Kind::linkLocal;
    }
    return Kind::ordinary;
}

const char* nameOf(Kind kind) {
    switch (kind) {
        case Kind::loopback:
            return "loopback";
        case Kind::linkLocal:
            return "link-local";
        case Kind::multicast:
            return "multicast";
        case Kind::broadcast:
            return "broadcast";
        case Kind::unspecified:
            return "unspecified";
        case Kind::ordinary:
            break;
    }
    return "ordinary";
}

}  // namespace

std::optional<std::string> ProxyDestinations::refusal(std::string_view numericAddress) const {
    const std::string text(numericAddress);
    Kind kind = Kind::ordinary;
    in_addr v4{};
    std::array<std::uint8_t, 16> v6{};
    if (inet_pton(AF_INET, text.c_str(), &v4) == 1) {
        kind = kindOfV4(ntohl(v4.s_addr));
    } else if (inet_pton(AF_INET6, text.c_str(), v6.data()) == 1) {
        kind = kindOfV6(v6);
    } else {
        return "no numeric address " + text;
    }
    if (kind == Kind::ordinary || (kind == Kind::loopback && allowLoopback)) {
        return std::nullopt;
    }
    return std::string(nameOf(kind)) + " address " + text;
}

}  // namespace platform::net
