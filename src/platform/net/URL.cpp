#include "platform/net/URL.h"

#include <curl/curl.h>

#include <memory>

namespace platform::net {

namespace {

struct UrlHandleDeleter {
    void operator()(CURLU* handle) const { curl_url_cleanup(handle); }
};
using UrlHandle = std::unique_ptr<CURLU, UrlHandleDeleter>;

std::optional<std::string> get(CURLU* handle, CURLUPart part) {
    char* text = nullptr;
    if (curl_url_get(handle, part, &text, 0) != CURLUE_OK || text == nullptr) {
        return std::nullopt;
    }
    std::string out(text);
    curl_free(text);
    return out;
}

// The parser takes every scheme; one without a host is not a URL a request can go to.
std::optional<std::string> normalised(CURLU* handle) {
    if (!get(handle, CURLUPART_HOST)) {
        return std::nullopt;
    }
    return get(handle, CURLUPART_URL);
}

}  // namespace

std::optional<URL> URL::parse(std::string_view text) {
    UrlHandle handle(curl_url());
    const std::string copy(text);
    if (!handle || copy.find('\0') != std::string::npos ||
        curl_url_set(handle.get(), CURLUPART_URL, copy.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
            CURLUE_OK) {
        return std::nullopt;
    }
    if (auto out = normalised(handle.get())) {
        return URL(std::move(*out));
    }
    return std::nullopt;
}

std::optional<URL> URL::resolve(std::string_view reference, const URL& base) {
    UrlHandle handle(curl_url());
    const std::string copy(reference);
    if (!handle || copy.find('\0') != std::string::npos ||
        curl_url_set(handle.get(), CURLUPART_URL, base.text_.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
            CURLUE_OK ||
        curl_url_set(handle.get(), CURLUPART_URL, copy.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
            CURLUE_OK) {
        return std::nullopt;
    }
    if (auto out = normalised(handle.get())) {
        return URL(std::move(*out));
    }
    return std::nullopt;
}

std::optional<std::string> URL::part(int which) const {
    UrlHandle handle(curl_url());
    if (!handle || curl_url_set(handle.get(), CURLUPART_URL, text_.c_str(),
                                CURLU_NON_SUPPORT_SCHEME) != CURLUE_OK) {
        return std::nullopt;
    }
    return get(handle.get(), static_cast<CURLUPart>(which));
}

std::string URL::scheme() const {
    return part(CURLUPART_SCHEME).value_or("");
}
std::string URL::host() const {
    return part(CURLUPART_HOST).value_or("");
}
std::string URL::path() const {
    return part(CURLUPART_PATH).value_or("");
}
std::optional<std::string> URL::query() const {
    return part(CURLUPART_QUERY);
}
std::optional<std::string> URL::fragment() const {
    return part(CURLUPART_FRAGMENT);
}

std::optional<URL> URL::appendingQuery(std::string_view query) const {
    const auto hash = text_.find('#');
    const std::string head = text_.substr(0, hash);
    const std::string tail = hash == std::string::npos ? "" : text_.substr(hash);
    const char separator = head.find('?') == std::string::npos ? '?' : '&';
    std::string joined = head + separator;
    joined += query;
    joined += tail;
    // The parser drops an empty query; the separator stays, as callers expect.
    if (auto parsed = parse(joined)) {
        if (query.empty() && parsed->text_.find('#') == std::string::npos &&
            parsed->text_.back() != separator) {
            parsed->text_ += separator;
        }
        return parsed;
    }
    return std::nullopt;
}

URL URL::withTrailingSlash() const {
    const std::string currentPath = path();
    if (currentPath.empty() || currentPath.back() == '/') {
        return *this;
    }
    UrlHandle handle(curl_url());
    if (!handle ||
        curl_url_set(handle.get(), CURLUPART_URL, text_.c_str(), CURLU_NON_SUPPORT_SCHEME) !=
            CURLUE_OK ||
        curl_url_set(handle.get(), CURLUPART_PATH, (currentPath + "/").c_str(), 0) != CURLUE_OK) {
        return *this;
    }
    return URL(get(handle.get(), CURLUPART_URL).value_or(text_));
}

}  // namespace platform::net
