// iCalendar files as the calendar folder holds them, read and expanded over the service's
// 15-day window on a device zone the first byte chooses: a bad text is refused, and what is
// read lies in the window, ends no earlier than it starts and stays within the bounds.

#include <cstdlib>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "platform/calendar/IcsDocument.h"

namespace {

constexpr const char* kZones[] = {"UTC", "Europe/Berlin", "Asia/Kolkata", "America/St_Johns"};

std::size_t count(std::string_view text, std::string_view what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string_view::npos;
         at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    using namespace platform::calendar;
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
    const auto document = IcsDocument::parse(text);
    if (!document) {
        return 0;
    }
    ReadOptions options;
    // Thursday 10 December 2026 at 00:00 UTC, 15 days.
    options.range = {1796860800, 1796860800 + 15 * 86400};
    options.deviceZone = *Zone::named(kZones[data[0] % std::size(kZones)]);
    options.calendarIdentifier = "fuzz";
    IcsDocument::ReadReport report;
    const auto events = document->events(options, &report);
    const std::size_t components = count(text, "BEGIN:") + count(text, "begin:") + 1;
    if (events.size() > components * kMaxOccurrences * 2) {
        std::abort();
    }
    for (const Event& event : events) {
        if (!overlaps(event, options.range) || event.end < event.start) {
            std::abort();
        }
    }
    for (const std::string& uid : document->uids()) {
        if (const auto first = document->event(uid, options); first && first->end < first->start) {
            std::abort();
        }
    }
    (void)document->calendarName();
    (void)document->calendarColor();
    return 0;
}
