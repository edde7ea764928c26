#include "platform/location/GpxTrack.h"

#include <charconv>
#include <cmath>
#include <ctime>
#include <numbers>
#include <optional>
#include <string>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/XmlParser.h"

namespace platform {
namespace {

// The usual range error of one satellite, which a dilution of precision multiplies.
constexpr double kRangeError = 5.0;
constexpr double kVerticalWithoutDilution = 10.0;

Error gpxError(long code, std::string message) {
    return Error{kGpxErrorDomain, code, std::move(message)};
}

std::optional<double> number(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\n' || text.front() == '\t' ||
                             text.front() == '\r')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\n' || text.back() == '\t' ||
                             text.back() == '\r')) {
        text.remove_suffix(1);
    }
    double value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

std::optional<int> digits(std::string_view text, std::size_t at, std::size_t count) {
    if (at + count > text.size()) {
        return std::nullopt;
    }
    int value = 0;
    for (std::size_t i = at; i < at + count; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return std::nullopt;
        }
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

double bearing(const LocationFix& from, const LocationFix& to) {
    constexpr double kRadians = std::numbers::pi / 180.0;
    const double lat1 = from.latitude * kRadians;
    const double lat2 = to.latitude * kRadians;
    const double dLon = (to.longitude - from.longitude) * kRadians;
    const double y = std::sin(dLon) * std::cos(lat2);
    const double x =
        std::cos(lat1) * std::sin(lat2) - std::sin(lat1) * std::cos(lat2) * std::cos(dLon);
    const double degrees = std::atan2(y, x) / kRadians;
    return degrees < 0 ? degrees + 360.0 : degrees;
}

// One track point as read, before the gaps are filled.
struct Point {
    LocationFix fix;
    std::optional<double> time, speed, course, hdop, vdop;
};

class GpxReader final : public xml::Handler {
public:
    void startElement(std::string_view name, std::span<const xml::Attribute> attributes) override {
        text_.clear();
        if (local(name) != "trkpt") {
            return;
        }
        point_.emplace();
        std::optional<double> lat, lon;
        for (const auto& attribute : attributes) {
            if (attribute.name == "lat") {
                lat = number(attribute.value);
            } else if (attribute.name == "lon") {
                lon = number(attribute.value);
            }
        }
        if (!lat || !lon || std::fabs(*lat) > 90 || std::fabs(*lon) > 180) {
            fail("a track point without a valid lat and lon");
            return;
        }
        point_->fix.latitude = *lat;
        point_->fix.longitude = *lon;
    }

    void characters(std::string_view text) override {
        if (text_.size() + text.size() <= kMaxText) {
            text_.append(text);
        }
    }

    void endElement(std::string_view qualified) override {
        const auto name = local(qualified);
        if (!point_) {
            return;
        }
        if (name == "trkpt") {
            if (!point_->time) {
                fail("a track point without a time");
            }
            points.push_back(*point_);
            point_.reset();
        } else if (name == "time") {
            point_->time = parseIsoTime(text_);
            if (!point_->time) {
                fail("a track point time that is not ISO 8601: " + text_);
            }
        } else if (name == "ele") {
            point_->fix.altitude = number(text_).value_or(0);
        } else if (name == "speed") {
            point_->speed = number(text_);
        } else if (name == "course") {
            point_->course = number(text_);
        } else if (name == "hdop") {
            point_->hdop = number(text_);
        } else if (name == "vdop") {
            point_->vdop = number(text_);
        }
        text_.clear();
    }

    std::vector<Point> points;
    std::optional<std::string> failure;

private:
    static constexpr std::size_t kMaxText = 256;

    static std::string_view local(std::string_view name) {
        const auto colon = name.rfind(':');
        return colon == std::string_view::npos ? name : name.substr(colon + 1);
    }
    void fail(std::string why) {
        if (!failure) {
            failure = std::move(why);
        }
    }

    std::optional<Point> point_;
    std::string text_;
};

}  // namespace

std::optional<double> parseIsoTime(std::string_view text) {
    // yyyy-mm-ddThh:mm:ss
    const auto year = digits(text, 0, 4), month = digits(text, 5, 2), day = digits(text, 8, 2),
               hour = digits(text, 11, 2), minute = digits(text, 14, 2),
               second = digits(text, 17, 2);
    if (!year || !month || !day || !hour || !minute || !second || text[4] != '-' ||
        text[7] != '-' || (text[10] != 'T' && text[10] != ' ') || text[13] != ':' ||
        text[16] != ':' || *month < 1 || *month > 12 || *day < 1 || *day > 31 || *hour > 23 ||
        *minute > 59 || *second > 60) {
        return std::nullopt;
    }
    std::size_t at = 19;
    double fraction = 0;
    if (at < text.size() && text[at] == '.') {
        double scale = 0.1;
        ++at;
        const std::size_t first = at;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9') {
            fraction += (text[at] - '0') * scale;
            scale /= 10;
            ++at;
        }
        if (at == first) {
            return std::nullopt;
        }
    }
    int offset = 0;
    if (at < text.size() && text[at] == 'Z') {
        ++at;
    } else if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        const auto hours = digits(text, at + 1, 2), minutes = digits(text, at + 4, 2);
        if (!hours || !minutes || at + 3 >= text.size() || text[at + 3] != ':') {
            return std::nullopt;
        }
        offset = (text[at] == '+' ? 1 : -1) * (*hours * 3600 + *minutes * 60);
        at += 6;
    }
    if (at != text.size()) {
        return std::nullopt;
    }
    std::tm parts{};
    parts.tm_year = *year - 1900;
    parts.tm_mon = *month - 1;
    parts.tm_mday = *day;
    parts.tm_hour = *hour;
    parts.tm_min = *minute;
    parts.tm_sec = *second;
    return static_cast<double>(timegm(&parts)) - offset + fraction;
}

Result<std::vector<LocationFix>> parseGpx(std::string_view document) {
    GpxReader reader;
    if (auto parsed = xml::parse(document, reader); !parsed.ok()) {
        return gpxError(1, parsed.error().message);
    }
    if (reader.failure) {
        return gpxError(2, *reader.failure);
    }
    std::vector<LocationFix> fixes;
    fixes.reserve(reader.points.size());
    for (const auto& point : reader.points) {
        LocationFix fix = point.fix;
        fix.timestamp = *point.time;
        fix.horizontalAccuracy = point.hdop ? *point.hdop * kRangeError : kRangeError;
        fix.verticalAccuracy = point.vdop ? *point.vdop * kRangeError : kVerticalWithoutDilution;
        if (!fixes.empty()) {
            const LocationFix& previous = fixes.back();
            const double seconds = fix.timestamp - previous.timestamp;
            if (seconds < 0) {
                return gpxError(3, "track point times go back");
            }
            if (!point.speed && seconds > 0) {
                fix.speed = distanceBetween(previous, fix) / seconds;
            }
            if (!point.course && distanceBetween(previous, fix) > 0) {
                fix.course = bearing(previous, fix);
            }
        }
        if (point.speed) {
            fix.speed = *point.speed;
        }
        if (point.course) {
            fix.course = *point.course;
        }
        fixes.push_back(fix);
    }
    return fixes;
}

Result<std::vector<LocationFix>> readGpxFile(const std::filesystem::path& path) {
    auto text = fs::readFile(path);
    if (!text.ok()) {
        return text.error();
    }
    return parseGpx(*text);
}

}  // namespace platform
