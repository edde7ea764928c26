#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace platform::net {

// An absolute URL that parsed. The text kept is the parser's normal form (the scheme in lower
// case, an empty path written "/"), which is what goes on the wire.
class URL {
public:
    // Nothing for text that is not an absolute URL with a scheme and a host (white space,
    // a relative reference, a bad port all fail).
    static std::optional<URL> parse(std::string_view text);
    // The reference resolved against base (RFC 3986), or nothing when the result is no URL.
    static std::optional<URL> resolve(std::string_view reference, const URL& base);

    [[nodiscard]] const std::string& absoluteString() const { return text_; }
    [[nodiscard]] std::string scheme() const;
    [[nodiscard]] std::string host() const;
    [[nodiscard]] std::string path() const;
    [[nodiscard]] std::optional<std::string> query() const;
    [[nodiscard]] std::optional<std::string> fragment() const;

    // The URL with "?query" added, or "&query" when it has one, before any "#fragment". An
    // empty query still adds its separator.
    [[nodiscard]] std::optional<URL> appendingQuery(std::string_view query) const;
    // The URL whose path ends in "/": a base that relative references resolve below.
    [[nodiscard]] URL withTrailingSlash() const;

private:
    explicit URL(std::string text) : text_(std::move(text)) {}
    [[nodiscard]] std::optional<std::string> part(int which) const;

    std::string text_;
};

}  // namespace platform::net
