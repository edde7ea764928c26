#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>

#include "platform/calendar/Calendar.h"
#include "platform/calendar/IcsDocument.h"
#include "platform/calendar/Zone.h"

namespace platform::calendar {

// The calendars of a folder of iCalendar files, as desktop calendar programs and synchronisers
// keep them: each subfolder is a calendar of .ics files (its name in "displayname", its colour
// in "color"), and each .ics file directly in the folder is a calendar of its own (name and
// colour from the file). Hidden entries and other files are passed over; a file that cannot be
// read is skipped with a log line and the others still count. Files are parsed again only
// when their size, time or inode changed. Main thread.
class IcsFolderStore final : public CalendarStore {
public:
    // deviceZone is asked at every read: floating times follow the device. changes reports
    // edits of the folder (inotify, or a test's).
    IcsFolderStore(std::filesystem::path folder, std::function<Zone()> deviceZone,
                   std::unique_ptr<ChangeSource> changes);
    ~IcsFolderStore() override;
    IcsFolderStore(const IcsFolderStore&) = delete;
    IcsFolderStore& operator=(const IcsFolderStore&) = delete;

    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }
    // The colour of a calendar that names none: a grey.
    [[nodiscard]] static Color defaultColor() { return Color{{0.5, 1.0}}; }

    std::vector<Event> events(const TimeRange& range) override;
    std::optional<Event> eventWithIdentifier(std::string_view identifier) override;
    void observeChanges(std::function<void()> observer) override;

    // Files parsed since the store was made.
    [[nodiscard]] int parses() const { return parses_; }

private:
    struct File {
        std::uint64_t size = 0;
        std::int64_t modifiedNanoseconds = 0;
        std::uint64_t inode = 0;
        std::string calendarIdentifier;
        Color color;
        std::optional<IcsDocument> document;  // none: unreadable
    };

    // Stats every file and parses what changed.
    void refresh();
    void readFile(const std::filesystem::path& path, std::string calendarIdentifier,
                  std::optional<Color> folderColor);
    [[nodiscard]] ReadOptions optionsFor(const std::filesystem::path& path, const File& file,
                                         const TimeRange& range, const Zone& zone) const;

    std::filesystem::path folder_;
    std::function<Zone()> deviceZone_;
    std::unique_ptr<ChangeSource> changes_;
    std::function<void()> observer_;
    std::map<std::filesystem::path, File> files_;
    // Event identifier to the file that holds it, as of the last refresh.
    std::map<std::string, std::filesystem::path, std::less<>> index_;
    bool stale_ = true;
    int parses_ = 0;
};

}  // namespace platform::calendar
