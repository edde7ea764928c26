#include "platform/net/HTTPMessage.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>

namespace platform::net {

namespace {

bool sameName(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
        text.remove_suffix(1);
    }
    return text;
}

std::string lowered(std::string_view text) {
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return out;
}

}  // namespace

std::optional<std::string> HTTPHeaders::get(std::string_view name) const {
    for (const auto& [field, value] : fields_) {
        if (sameName(field, name)) {
            return value;
        }
    }
    return std::nullopt;
}

void HTTPHeaders::set(std::string_view name, std::string_view value) {
    for (auto& [field, existing] : fields_) {
        if (sameName(field, name)) {
            existing = value;
            return;
        }
    }
    fields_.emplace_back(name, value);
}

void HTTPHeaders::add(std::string_view name, std::string_view value) {
    fields_.emplace_back(name, value);
}

void HTTPHeaders::remove(std::string_view name) {
    std::erase_if(fields_, [&](const Field& field) { return sameName(field.first, name); });
}

Result<std::size_t> BytesBodyStream::read(std::span<std::uint8_t> buffer) {
    const std::size_t count = std::min(buffer.size(), bytes_.size() - offset_);
    std::memcpy(buffer.data(), bytes_.data() + offset_, count);
    offset_ += count;
    return count;
}

std::optional<std::int64_t> BytesBodyStream::length() const {
    if (!announceLength_) {
        return std::nullopt;
    }
    return static_cast<std::int64_t>(bytes_.size());
}

TransferLimits TransferLimits::call() {
    return {
        .deadline = 60, .floorBytesPerSecond = kFloorBytesPerSecond, .floorWindow = kFloorWindow};
}

TransferLimits TransferLimits::download(std::uint64_t bytes) {
    TransferLimits limits = call();
    limits.deadline += static_cast<double>(bytes) / static_cast<double>(kExpectedBytesPerSecond);
    return limits;
}

namespace {

// Longer than any transfer is given, and short enough that its milliseconds fit a long.
constexpr double kLongestSeconds = 7 * 24 * 3600;

// A positive finite number of seconds, at most the longest; anything else is `otherwise`.
double seconds(double value, double otherwise) {
    if (!std::isfinite(value) || value <= 0) {
        return otherwise;
    }
    return std::min(value, kLongestSeconds);
}

}  // namespace

TransferTimeouts transferTimeouts(const URLRequest& request) {
    const double silence = seconds(request.timeoutInterval, 60);
    const TransferLimits& limits = request.limits;
    const double deadline = seconds(limits.deadline, 0);
    // The floor's window never lets a transfer stay silent past its time-out.
    const double window = std::min(seconds(limits.floorWindow, silence), silence);
    TransferTimeouts timeouts;
    // Connecting takes from the whole, never more than it.
    const double connect = deadline > 0 ? std::min(silence, deadline) : silence;
    timeouts.connectMilliseconds = std::max(1L, std::lround(connect * 1000));
    timeouts.totalMilliseconds = deadline > 0 ? std::max(1L, std::lround(deadline * 1000)) : 0;
    timeouts.floorBytesPerSecond =
        static_cast<long>(std::max<std::int64_t>(1, limits.floorBytesPerSecond));
    // The engine measures speed over whole seconds.
    timeouts.floorSeconds = std::max(1L, static_cast<long>(std::ceil(window)));
    return timeouts;
}

void deriveContentFields(URLResponse& response) {
    response.mimeType.clear();
    response.textEncodingName.clear();
    response.expectedContentLength = -1;
    if (const auto type = response.headers.get("Content-Type")) {
        std::string_view rest = *type;
        const auto semicolon = rest.find(';');
        response.mimeType = lowered(trimmed(rest.substr(0, semicolon)));
        while (semicolon != std::string_view::npos && !rest.empty()) {
            const auto next = rest.find(';');
            if (next == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(next + 1);
            const std::string_view parameter = trimmed(rest.substr(0, rest.find(';')));
            const auto equals = parameter.find('=');
            if (equals != std::string_view::npos &&
                sameName(trimmed(parameter.substr(0, equals)), "charset")) {
                std::string_view charset = trimmed(parameter.substr(equals + 1));
                if (charset.size() >= 2 && charset.front() == '"' && charset.back() == '"') {
                    charset = charset.substr(1, charset.size() - 2);
                }
                response.textEncodingName = lowered(charset);
            }
        }
    }
    if (const auto length = response.headers.get("Content-Length")) {
        const std::string_view text = trimmed(*length);
        std::int64_t value = 0;
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
        if (error == std::errc{} && end == text.data() + text.size() && value >= 0) {
            response.expectedContentLength = value;
        }
    }
}

}  // namespace platform::net
