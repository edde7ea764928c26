#include "platform/calendar/IcsDocument.h"

#include <libical/ical.h>

#include <algorithm>
#include <map>
#include <set>
#include <tuple>
#include <utility>

#include "platform/foundation/LogSink.h"
#include "platform/foundation/Utf8.h"

namespace platform::calendar {

namespace {

constexpr const char* kDomain = "platform.calendar";
constexpr std::int64_t kDay = 86400;
constexpr int kFirstYear = 1800;
constexpr int kLastYear = 2200;

struct ComponentFree {
    void operator()(icalcomponent* component) const { icalcomponent_free(component); }
};
using Component = std::unique_ptr<icalcomponent, ComponentFree>;

struct RecurFree {
    void operator()(icalrecur_iterator* iterator) const { icalrecur_iterator_free(iterator); }
};

std::string text(const char* value) {
    return value != nullptr ? std::string(value) : std::string();
}

// A DTSTART, DTEND or RECURRENCE-ID with its zone found.
struct Moment {
    icaltimetype time{};
    icaltimezone* zone = nullptr;  // null: floating or a date
    bool isDate = false;
};

// The calendars of a text: the root itself, or each under a root of several.
std::vector<icalcomponent*> calendarsOf(icalcomponent* root) {
    if (icalcomponent_isa(root) == ICAL_VCALENDAR_COMPONENT) {
        return {root};
    }
    std::vector<icalcomponent*> calendars;
    for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VCALENDAR_COMPONENT);
         c != nullptr; c = icalcomponent_get_next_component(root, ICAL_VCALENDAR_COMPONENT)) {
        calendars.push_back(c);
    }
    return calendars;
}

class EventReader {
public:
    EventReader(icalcomponent* calendar, const ReadOptions& options,
                IcsDocument::ReadReport& report)
        : calendar_(calendar), options_(options), report_(report) {}

    void read(std::vector<Event>& out) {
        std::vector<icalcomponent*> masters;
        for (icalcomponent* e = icalcomponent_get_first_component(calendar_, ICAL_VEVENT_COMPONENT);
             e != nullptr; e = icalcomponent_get_next_component(calendar_, ICAL_VEVENT_COMPONENT)) {
            if (icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY) != nullptr) {
                overrides_.push_back(e);
            } else {
                masters.push_back(e);
            }
        }
        for (icalcomponent* master : masters) {
            readMaster(master, out);
        }
        for (icalcomponent* changed : overrides_) {
            readSingle(changed, out);
        }
    }

private:
    void skip(const std::string& uid, std::string_view why) {
        ++report_.skippedEvents;
        PLATFORM_LOG_WARN("calendar: ", options_.source, ": event \"", uid, "\" skipped: ", why);
    }

    // The zone a TZID names: the text's own definition first, then the system's.
    std::optional<icaltimezone*> zoneOf(icalproperty* property) {
        icalparameter* parameter = icalproperty_get_first_parameter(property, ICAL_TZID_PARAMETER);
        if (parameter == nullptr) {
            return nullptr;
        }
        const char* tzid = icalparameter_get_tzid(parameter);
        if (tzid == nullptr || *tzid == '\0') {
            return std::nullopt;
        }
        if (icaltimezone* own = icalcomponent_get_timezone(calendar_, tzid)) {
            return own;
        }
        if (icaltimezone* system = icaltimezone_get_builtin_timezone(tzid)) {
            return system;
        }
        if (icaltimezone* system = icaltimezone_get_builtin_timezone_from_tzid(tzid)) {
            return system;
        }
        return std::nullopt;
    }

    // Nothing when the property is missing or bad; why in `why`.
    std::optional<Moment> momentOf(icalcomponent* event, icalproperty_kind kind, std::string& why) {
        icalproperty* property = icalcomponent_get_first_property(event, kind);
        if (property == nullptr) {
            why = "no " + text(icalproperty_kind_to_string(kind));
            return std::nullopt;
        }
        Moment moment;
        moment.time = icalvalue_get_datetime(icalproperty_get_value(property));
        if (icaltime_is_null_time(moment.time) || !icaltime_is_valid_time(moment.time)) {
            why = "a bad " + text(icalproperty_kind_to_string(kind));
            return std::nullopt;
        }
        // The library keeps each zone's changes up to the latest year asked for, for the rest
        // of the process: a year like 9999 would cost megabytes per zone.
        if (moment.time.year < kFirstYear || moment.time.year > kLastYear) {
            why = "a year out of range in " + text(icalproperty_kind_to_string(kind));
            return std::nullopt;
        }
        moment.isDate = moment.time.is_date != 0;
        if (icaltime_is_utc(moment.time)) {
            moment.zone = icaltimezone_get_utc_timezone();
        } else if (!moment.isDate) {
            const auto zone = zoneOf(property);
            if (!zone) {
                why = "an unknown time zone";
                return std::nullopt;
            }
            moment.zone = *zone;
        }
        return moment;
    }

    // Seconds since 1970 of a time given in zone, or on the device's wall clock.
    std::int64_t secondsOf(const icaltimetype& time, icaltimezone* zone) const {
        const LocalTime local{time.year,
                              time.month,
                              time.day,
                              time.is_date != 0 ? 0 : time.hour,
                              time.is_date != 0 ? 0 : time.minute,
                              time.is_date != 0 ? 0 : time.second};
        if (zone == nullptr) {
            return options_.deviceZone.fromLocal(local);
        }
        icaltimetype fixed = time;
        fixed.is_date = 0;
        int daylight = 0;
        return Zone::localSeconds(local) - icaltimezone_get_utc_offset(zone, &fixed, &daylight);
    }

    // The start in the event's own terms, for the rule iterator.
    icaltimetype timeIn(std::int64_t seconds, const Moment& like) const {
        if (like.zone == nullptr) {
            const CivilTime local = options_.deviceZone.local(seconds);
            icaltimetype time = icaltime_null_time();
            time.year = static_cast<int>(local.year);
            time.month = static_cast<int>(local.month);
            time.day = static_cast<int>(local.day);
            time.hour = like.isDate ? 0 : static_cast<int>(local.hour);
            time.minute = like.isDate ? 0 : static_cast<int>(local.minute);
            time.second = like.isDate ? 0 : static_cast<int>(local.second);
            time.is_date = like.isDate ? 1 : 0;
            return time;
        }
        return icaltime_from_timet_with_zone(static_cast<time_t>(seconds), 0, like.zone);
    }

    struct Shape {
        std::string uid;
        Moment start;
        std::int64_t duration = 0;  // seconds, or days for a date
    };

    std::optional<Shape> shapeOf(icalcomponent* event) {
        Shape shape;
        shape.uid = text(icalcomponent_get_uid(event));
        if (shape.uid.empty()) {
            skip(shape.uid, "no UID");
            return std::nullopt;
        }
        std::string why;
        const auto start = momentOf(event, ICAL_DTSTART_PROPERTY, why);
        if (!start) {
            skip(shape.uid, why);
            return std::nullopt;
        }
        shape.start = *start;
        const std::int64_t begins = secondsOf(start->time, start->zone);
        if (icalcomponent_get_first_property(event, ICAL_DTEND_PROPERTY) != nullptr) {
            const auto end = momentOf(event, ICAL_DTEND_PROPERTY, why);
            if (!end) {
                skip(shape.uid, why);
                return std::nullopt;
            }
            shape.duration =
                start->isDate
                    ? (Zone::localSeconds({end->time.year, end->time.month, end->time.day}) -
                       Zone::localSeconds({start->time.year, start->time.month, start->time.day})) /
                          kDay
                    : secondsOf(end->time, end->zone) - begins;
        } else if (icalproperty* duration =
                       icalcomponent_get_first_property(event, ICAL_DURATION_PROPERTY)) {
            const int seconds = icaldurationtype_as_int(icalproperty_get_duration(duration));
            shape.duration = start->isDate ? seconds / kDay : seconds;
        } else {
            shape.duration = start->isDate ? 1 : 0;
        }
        if (start->isDate) {
            shape.duration = std::max<std::int64_t>(shape.duration, 1);
        }
        if (shape.duration < 0) {
            skip(shape.uid, "an end before its start");
            return std::nullopt;
        }
        return shape;
    }

    // An occurrence that starts at `time` (in the event's terms).
    Event occurrence(icalcomponent* event, const Shape& shape, const icaltimetype& time) const {
        Event out;
        out.calendarIdentifier = options_.calendarIdentifier;
        out.identifier = options_.calendarIdentifier + "/" + shape.uid;
        out.allDay = shape.start.isDate;
        if (out.allDay) {
            const LocalTime day{time.year, time.month, time.day};
            out.start = options_.deviceZone.fromLocal(day);
            LocalTime after = day;
            after.day += shape.duration;
            out.end = options_.deviceZone.fromLocal(after) - 1;
        } else {
            out.start = secondsOf(time, shape.start.zone);
            out.end = out.start + shape.duration;
            if (shape.start.zone != nullptr) {
                out.timeZone = shape.start.zone == icaltimezone_get_utc_timezone()
                                   ? "UTC"
                                   : text(icaltimezone_get_location(shape.start.zone));
                if (out.timeZone.empty()) {
                    out.timeZone = text(icaltimezone_get_tzid(shape.start.zone));
                }
            }
        }
        out.title = text(icalcomponent_get_summary(event));
        out.location = text(icalcomponent_get_location(event));
        out.notes = text(icalcomponent_get_description(event));
        out.calendarColor = options_.color;
        if (icalproperty* modified =
                icalcomponent_get_first_property(event, ICAL_LASTMODIFIED_PROPERTY)) {
            out.lastModified = icaltime_as_timet(icalproperty_get_lastmodified(modified));
        } else if (icalproperty* stamp =
                       icalcomponent_get_first_property(event, ICAL_DTSTAMP_PROPERTY)) {
            out.lastModified = icaltime_as_timet(icalproperty_get_dtstamp(stamp));
        } else {
            out.lastModified = options_.fileModified;
        }
        return out;
    }

    void readSingle(icalcomponent* event, std::vector<Event>& out) {
        const auto shape = shapeOf(event);
        if (!shape) {
            return;
        }
        Event one = occurrence(event, *shape, shape->start.time);
        if (overlaps(one, options_.range)) {
            out.push_back(std::move(one));
        }
    }

public:
    std::optional<Event> first(std::string_view uid) {
        for (icalcomponent* e = icalcomponent_get_first_component(calendar_, ICAL_VEVENT_COMPONENT);
             e != nullptr; e = icalcomponent_get_next_component(calendar_, ICAL_VEVENT_COMPONENT)) {
            if (text(icalcomponent_get_uid(e)) != uid ||
                icalcomponent_get_first_property(e, ICAL_RECURRENCEID_PROPERTY) != nullptr) {
                continue;
            }
            if (const auto shape = shapeOf(e)) {
                return occurrence(e, *shape, shape->start.time);
            }
        }
        return std::nullopt;
    }

private:
    // Starts (as seconds) of the occurrences that other components replace, or EXDATE drops.
    std::set<std::int64_t> excludedStarts(icalcomponent* master, const Shape& shape) {
        std::set<std::int64_t> excluded;
        for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_EXDATE_PROPERTY);
             p != nullptr; p = icalcomponent_get_next_property(master, ICAL_EXDATE_PROPERTY)) {
            const icaltimetype time = icalproperty_get_exdate(p);
            if (!icaltime_is_null_time(time)) {
                const auto zone = icaltime_is_utc(time) ? icaltimezone_get_utc_timezone()
                                                        : zoneOf(p).value_or(shape.start.zone);
                excluded.insert(secondsOf(time, zone));
            }
        }
        for (icalcomponent* changed : overrides_) {
            if (text(icalcomponent_get_uid(changed)) != shape.uid) {
                continue;
            }
            std::string why;
            if (const auto id = momentOf(changed, ICAL_RECURRENCEID_PROPERTY, why)) {
                excluded.insert(secondsOf(id->time, id->zone));
            }
        }
        return excluded;
    }

    void readMaster(icalcomponent* master, std::vector<Event>& out) {
        const auto shape = shapeOf(master);
        if (!shape) {
            return;
        }
        icalproperty* rule = icalcomponent_get_first_property(master, ICAL_RRULE_PROPERTY);
        const bool hasDates =
            icalcomponent_get_first_property(master, ICAL_RDATE_PROPERTY) != nullptr;
        if (rule == nullptr && !hasDates) {
            readSingle(master, out);
            return;
        }
        const std::set<std::int64_t> excluded = excludedStarts(master, *shape);
        std::set<std::int64_t> seen;
        std::size_t count = 0;
        const auto add = [&](const icaltimetype& time) {
            const std::int64_t begins = secondsOf(time, shape->start.zone);
            if (excluded.contains(begins) || !seen.insert(begins).second) {
                return true;
            }
            Event one = occurrence(master, *shape, time);
            if (!overlaps(one, options_.range)) {
                return true;
            }
            if (++count > kMaxOccurrences) {
                return false;
            }
            out.push_back(std::move(one));
            return true;
        };
        bool bounded = true;
        if (rule != nullptr) {
            bounded = expandRule(icalproperty_get_rrule(rule), *shape, add);
        } else if (!add(shape->start.time)) {
            bounded = false;
        }
        for (icalproperty* p = icalcomponent_get_first_property(master, ICAL_RDATE_PROPERTY);
             p != nullptr && bounded;
             p = icalcomponent_get_next_property(master, ICAL_RDATE_PROPERTY)) {
            const icaldatetimeperiodtype date = icalproperty_get_rdate(p);
            const icaltimetype time =
                icaltime_is_null_time(date.time) ? date.period.start : date.time;
            if (!icaltime_is_null_time(time) && icaltime_is_valid_time(time)) {
                bounded = add(time);
            }
        }
        if (!bounded) {
            report_.truncated = true;
            PLATFORM_LOG_WARN("calendar: ", options_.source, ": event \"", shape->uid,
                              "\" repeats past the bounds; later occurrences skipped");
        }
    }

    template <typename Add>
    bool expandRule(const icalrecurrencetype& recurrence, const Shape& shape, Add&& add) {
        std::unique_ptr<icalrecur_iterator, RecurFree> iterator(
            icalrecur_iterator_new(recurrence, shape.start.time));
        if (!iterator) {
            skip(shape.uid, "a recurrence rule that cannot be followed");
            return true;
        }
        // Occurrences that could still reach into the range start this long before it.
        const std::int64_t reach =
            shape.start.isDate ? (shape.duration + 1) * kDay : shape.duration + kDay;
        if (recurrence.count == 0) {
            const std::int64_t from = options_.range.start - reach;
            if (from > secondsOf(shape.start.time, shape.start.zone)) {
                icalrecur_iterator_set_start(iterator.get(), timeIn(from, shape.start));
            }
        }
        for (std::size_t step = 0; step < kMaxRuleSteps; ++step) {
            const icaltimetype next = icalrecur_iterator_next(iterator.get());
            if (icaltime_is_null_time(next)) {
                return true;
            }
            if (secondsOf(next, shape.start.zone) >= options_.range.end + kDay) {
                return true;
            }
            if (!add(next)) {
                return false;
            }
        }
        return false;
    }

    icalcomponent* calendar_;
    const ReadOptions& options_;
    IcsDocument::ReadReport& report_;
    std::vector<icalcomponent*> overrides_;
};

std::optional<Color> colorProperty(icalcomponent* calendar, std::string_view name) {
    for (icalproperty* p = icalcomponent_get_first_property(calendar, ICAL_ANY_PROPERTY);
         p != nullptr; p = icalcomponent_get_next_property(calendar, ICAL_ANY_PROPERTY)) {
        const char* propertyName = icalproperty_get_property_name(p);
        if (propertyName != nullptr && name == propertyName) {
            if (auto color = Color::fromHex(text(icalproperty_get_value_as_string(p)))) {
                return color;
            }
        }
    }
    return std::nullopt;
}

std::string upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
    }
    return out;
}

// Every BEGIN has its END, in order. The parser keeps the first complete calendar and drops
// what follows, so a file cut short after it would otherwise pass as whole.
bool componentsClosed(std::string_view text) {
    std::vector<std::string> open;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.ends_with('\r')) {
            line.remove_suffix(1);
        }
        const std::string head = upper(line.substr(0, 6));
        if (head == "BEGIN:") {
            open.push_back(upper(line.substr(6)));
        } else if (head.starts_with("END:")) {
            if (open.empty() || open.back() != upper(line.substr(4))) {
                return false;
            }
            open.pop_back();
        }
    }
    return open.empty();
}

}  // namespace

struct IcsDocument::Impl {
    Component root;
};

IcsDocument::IcsDocument(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
IcsDocument::IcsDocument(IcsDocument&&) noexcept = default;
IcsDocument& IcsDocument::operator=(IcsDocument&&) noexcept = default;
IcsDocument::~IcsDocument() = default;

Result<IcsDocument> IcsDocument::parse(std::string_view input) {
    if (input.size() > kMaxBytes) {
        return Error{kDomain, 1, "larger than a calendar file may be"};
    }
    if (!isValidUtf8(input)) {
        return Error{kDomain, 2, "not UTF-8"};
    }
    // The parser reads C strings: a NUL would end the text early, silently.
    if (input.find('\0') != std::string_view::npos) {
        return Error{kDomain, 2, "holds a NUL"};
    }
    const std::string text(input);
    Component root(componentsClosed(input) ? icalparser_parse_string(text.c_str()) : nullptr);
    if (!root) {
        return Error{kDomain, 3, "no complete calendar (a component is not closed)"};
    }
    if (calendarsOf(root.get()).empty()) {
        return Error{kDomain, 4, "no calendar"};
    }
    auto impl = std::make_unique<Impl>();
    impl->root = std::move(root);
    return IcsDocument(std::move(impl));
}

std::optional<std::string> IcsDocument::calendarName() const {
    for (icalcomponent* calendar : calendarsOf(impl_->root.get())) {
        for (icalproperty* p = icalcomponent_get_first_property(calendar, ICAL_X_PROPERTY);
             p != nullptr; p = icalcomponent_get_next_property(calendar, ICAL_X_PROPERTY)) {
            if (text(icalproperty_get_x_name(p)) == "X-WR-CALNAME") {
                return text(icalproperty_get_x(p));
            }
        }
    }
    return std::nullopt;
}

std::optional<Color> IcsDocument::calendarColor() const {
    for (icalcomponent* calendar : calendarsOf(impl_->root.get())) {
        for (const char* name : {"COLOR", "X-APPLE-CALENDAR-COLOR"}) {
            if (auto color = colorProperty(calendar, name)) {
                return color;
            }
        }
    }
    return std::nullopt;
}

std::vector<std::string> IcsDocument::uids() const {
    std::vector<std::string> uids;
    std::set<std::string, std::less<>> seen;
    for (icalcomponent* calendar : calendarsOf(impl_->root.get())) {
        for (icalcomponent* e = icalcomponent_get_first_component(calendar, ICAL_VEVENT_COMPONENT);
             e != nullptr; e = icalcomponent_get_next_component(calendar, ICAL_VEVENT_COMPONENT)) {
            std::string uid = text(icalcomponent_get_uid(e));
            if (!uid.empty() && seen.insert(uid).second) {
                uids.push_back(std::move(uid));
            }
        }
    }
    return uids;
}

std::optional<Event> IcsDocument::event(std::string_view uid, const ReadOptions& options) const {
    ReadReport report;
    for (icalcomponent* calendar : calendarsOf(impl_->root.get())) {
        if (auto found = EventReader(calendar, options, report).first(uid)) {
            return found;
        }
    }
    return std::nullopt;
}

std::vector<Event> IcsDocument::events(const ReadOptions& options, ReadReport* report) const {
    ReadReport own;
    ReadReport& into = report != nullptr ? *report : own;
    std::vector<Event> out;
    for (icalcomponent* calendar : calendarsOf(impl_->root.get())) {
        EventReader(calendar, options, into).read(out);
    }
    std::stable_sort(out.begin(), out.end(), [](const Event& a, const Event& b) {
        return std::tie(a.start, a.identifier) < std::tie(b.start, b.identifier);
    });
    return out;
}

}  // namespace platform::calendar
