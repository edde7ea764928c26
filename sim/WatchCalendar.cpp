#include "sim/WatchCalendar.h"

#include <charconv>

#include "sim/Watch.h"

namespace kavowatch {

namespace {

constexpr std::string_view kKeys[] = {"DTSTART",     "DTEND",    "COMPLETED", "UID",    "SUMMARY",
                                      "DESCRIPTION", "LOCATION", "COLOR",     "ALLDAY", "TIMEZONE"};
constexpr std::string_view kHead[] = {"BEGIN:VCALENDAR", "VERSION:2.0", "PROID:vCal", "ID default",
                                      "BEGIN:VEVENT"};

std::vector<std::string_view> linesOf(std::string_view text) {
    std::vector<std::string_view> lines;
    for (;;) {
        const std::size_t end = text.find("\r\n");
        lines.push_back(text.substr(0, end));
        if (end == std::string_view::npos) {
            return lines;
        }
        text.remove_prefix(end + 2);
    }
}

}  // namespace

std::optional<CalendarEntry> CalendarEntry::parse(std::string_view text) {
    const auto lines = linesOf(text);
    const std::size_t head = std::size(kHead);
    if (lines.size() < head + 2 || lines[lines.size() - 2] != "END:VEVENT" ||
        lines.back() != "END:VCALENDAR") {
        return std::nullopt;
    }
    for (std::size_t i = 0; i < head; ++i) {
        if (lines[i] != kHead[i]) {
            return std::nullopt;
        }
    }
    CalendarEntry entry;
    std::string* last = nullptr;
    for (std::size_t i = head; i + 2 < lines.size(); ++i) {
        const std::string_view line = lines[i];
        const std::size_t colon = line.find(':');
        bool known = false;
        for (const std::string_view key : kKeys) {
            known = known || (colon != std::string_view::npos && line.substr(0, colon) == key);
        }
        if (known) {
            last = &entry.fields[std::string(line.substr(0, colon))];
            *last = line.substr(colon + 1);
        } else if (last != nullptr) {
            // A line break inside a field's text.
            *last += "\r\n";
            *last += line;
        } else {
            return std::nullopt;
        }
    }
    if (!entry.fields.contains("UID")) {
        return std::nullopt;
    }
    return entry;
}

std::string CalendarEntry::field(std::string_view key) const {
    const auto it = fields.find(key);
    return it != fields.end() ? it->second : std::string();
}

std::int64_t CalendarEntry::uid() const {
    const std::string text = field("UID");
    std::int64_t value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

WatchCalendar::WatchCalendar(Watch& watch) : watch_(watch) {
    watch_.answer("calendar-update-ind",
                  [this](const ReceivedMessage& message) -> std::optional<platform::Value> {
                      if (message.json) {
                          indications_.push_back(*message.json);
                          apply(*message.json);
                      }
                      return platform::Value{{"msgId", "calendar-update-ack"}};
                  });
}

void WatchCalendar::apply(const platform::Value& indication) {
    const platform::Array* list = indication["list"].arrayIf();
    if (list == nullptr) {
        return;
    }
    for (const platform::Value& item : *list) {
        const bool deleted = item["deleted_vcs"].isString();
        const auto text = (deleted ? item["deleted_vcs"] : item["vcs"]).stringValue();
        const auto entry = text ? CalendarEntry::parse(*text) : std::nullopt;
        if (!entry) {
            ++unreadable_;
        } else if (deleted) {
            events_.erase(entry->uid());
        } else {
            events_.insert_or_assign(entry->uid(), *entry);
        }
    }
}

std::optional<bool> WatchCalendar::requestAccess(double timeout) {
    if (!watch_.sendJson(platform::Value{{"msgId", "calendar-change-req"}}, kAppId).ok()) {
        return std::nullopt;
    }
    const auto reply = watch_.waitForMessage("calendar-change-rsp", timeout);
    if (!reply || !reply->json) {
        return std::nullopt;
    }
    return (*reply->json)["result"] == "success";
}

std::optional<std::vector<CalendarEntry>> WatchCalendar::requestList(double timeout) {
    const platform::Value request{{"msgId", "calendar-listwithoption-req"},
                                  {"starttime", 0},
                                  {"endtime", 0},
                                  {"maxTextLength", 512},
                                  {"maxEventCnt", 100},
                                  {"maxAllEventCnt", 300},
                                  {"reminder", 1}};
    if (!watch_.sendJson(request, kAppId).ok()) {
        return std::nullopt;
    }
    const auto reply = watch_.waitForMessage("calendar-listwithoption-rsp", timeout);
    if (!reply || !reply->json) {
        return std::nullopt;
    }
    const platform::Array* list = (*reply->json)["list"].arrayIf();
    if (list == nullptr ||
        (*reply->json)["count"].intValue() != static_cast<std::int64_t>(list->size())) {
        return std::nullopt;
    }
    std::vector<CalendarEntry> entries;
    for (const platform::Value& item : *list) {
        const auto text = item["vcs"].stringValue();
        auto entry = text ? CalendarEntry::parse(*text) : std::nullopt;
        if (!entry) {
            return std::nullopt;
        }
        entries.push_back(std::move(*entry));
    }
    if (chunk_ == 0) {
        events_.clear();
    }
    chunk_ = (chunk_ + 1) % 3;
    for (const CalendarEntry& entry : entries) {
        events_.insert_or_assign(entry.uid(), entry);
    }
    return entries;
}

bool WatchCalendar::synchronise(double timeout) {
    chunk_ = 0;
    for (int i = 0; i < 3; ++i) {
        if (!requestList(timeout)) {
            return false;
        }
    }
    return true;
}

std::optional<std::uint64_t> WatchCalendar::requestSequence(double timeout) {
    if (!watch_.sendJson(platform::Value{{"msgId", "calendar-sequence-req"}}, kAppId).ok()) {
        return std::nullopt;
    }
    const auto reply = watch_.waitForMessage("calendar-sequence-rsp", timeout);
    if (!reply || !reply->json) {
        return std::nullopt;
    }
    const auto sequence = (*reply->json)["sequence"].intValue();
    if (!sequence || *sequence < 0) {
        return std::nullopt;
    }
    return static_cast<std::uint64_t>(*sequence);
}

}  // namespace kavowatch
