#include "platform/calendar/IcsFolderStore.h"

#include <sys/stat.h>

#include <algorithm>
#include <set>
#include <tuple>
#include <utility>

#include "platform/foundation/FolderEntries.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/LogSink.h"

namespace platform::calendar {

namespace {

constexpr std::string_view kExtension = ".ics";
// "color" and "displayname" hold one short line.
constexpr std::size_t kMetadataBytes = 256;

bool hidden(const std::filesystem::path& path) {
    return path.filename().string().starts_with('.');
}

std::optional<std::string> metadata(const std::filesystem::path& path) {
    auto text = fs::readFile(path, kMetadataBytes);
    if (!text) {
        return std::nullopt;
    }
    std::string value = *text;
    while (!value.empty() &&
           (value.back() == '\n' || value.back() == '\r' || value.back() == ' ')) {
        value.pop_back();
    }
    return value;
}

}  // namespace

IcsFolderStore::IcsFolderStore(std::filesystem::path folder, std::function<Zone()> deviceZone,
                               std::unique_ptr<ChangeSource> changes)
    : folder_(std::move(folder)),
      deviceZone_(std::move(deviceZone)),
      changes_(std::move(changes)) {}

IcsFolderStore::~IcsFolderStore() {
    if (changes_) {
        changes_->start(nullptr);
    }
}

void IcsFolderStore::observeChanges(std::function<void()> observer) {
    observer_ = std::move(observer);
    if (!changes_) {
        return;
    }
    if (!observer_) {
        changes_->start(nullptr);
        return;
    }
    changes_->start([this] {
        stale_ = true;
        if (observer_) {
            observer_();
        }
    });
}

void IcsFolderStore::readFile(const std::filesystem::path& path, std::string calendarIdentifier,
                              std::optional<Color> folderColor) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) {
        return;
    }
    const std::int64_t modified =
        static_cast<std::int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 + status.st_mtim.tv_nsec;
    const auto size = static_cast<std::uint64_t>(status.st_size);
    const auto inode = static_cast<std::uint64_t>(status.st_ino);
    auto found = files_.find(path);
    if (found != files_.end() && found->second.size == size &&
        found->second.modifiedNanoseconds == modified && found->second.inode == inode &&
        found->second.calendarIdentifier == calendarIdentifier) {
        if (folderColor) {
            found->second.color = *folderColor;
        }
        return;
    }
    File file;
    file.size = size;
    file.modifiedNanoseconds = modified;
    file.inode = inode;
    file.calendarIdentifier = std::move(calendarIdentifier);
    ++parses_;
    auto text = fs::readFile(path, IcsDocument::kMaxBytes);
    if (!text) {
        PLATFORM_LOG_WARN("calendar: ", path.string(), " skipped: ", text.error().message);
    } else if (auto document = IcsDocument::parse(*text); !document) {
        PLATFORM_LOG_WARN("calendar: ", path.string(), " skipped: ", document.error().message);
    } else {
        file.document = std::move(document.value());
    }
    file.color = folderColor                                       ? *folderColor
                 : file.document && file.document->calendarColor() ? *file.document->calendarColor()
                                                                   : defaultColor();
    files_.insert_or_assign(path, std::move(file));
}

void IcsFolderStore::refresh() {
    std::error_code error;
    std::set<std::filesystem::path> present;
    const auto visit = [&](const std::filesystem::path& path, const std::string& calendar,
                           const std::optional<Color>& color) {
        if (hidden(path) || path.extension() != kExtension) {
            return;
        }
        readFile(path, calendar, color);
        present.insert(path);
    };
    forEachEntry(folder_, error, [&](const std::filesystem::directory_entry& entry) {
        const auto& path = entry.path();
        if (hidden(path)) {
            return;
        }
        std::error_code kind;
        if (entry.is_directory(kind)) {
            const std::string calendar = path.filename().string();
            std::optional<Color> color;
            if (const auto hex = metadata(path / "color")) {
                color = Color::fromHex(*hex);
            }
            std::error_code inner;
            forEachEntry(path, inner, [&](const std::filesystem::directory_entry& file) {
                visit(file.path(), calendar, color);
            });
        } else {
            visit(path, path.filename().string(), std::nullopt);
        }
    });
    if (error && error != std::errc::no_such_file_or_directory) {
        PLATFORM_LOG_WARN("calendar: cannot read ", folder_.string(), ": ", error.message());
    }
    std::erase_if(files_, [&](const auto& file) { return !present.contains(file.first); });
    index_.clear();
    for (const auto& [path, file] : files_) {
        if (file.document) {
            for (const std::string& uid : file.document->uids()) {
                index_.emplace(file.calendarIdentifier + "/" + uid, path);
            }
        }
    }
    stale_ = false;
}

ReadOptions IcsFolderStore::optionsFor(const std::filesystem::path& path, const File& file,
                                       const TimeRange& range, const Zone& zone) const {
    ReadOptions options;
    options.range = range;
    options.deviceZone = zone;
    options.calendarIdentifier = file.calendarIdentifier;
    options.color = file.color;
    options.fileModified = file.modifiedNanoseconds / 1'000'000'000;
    options.source = path.string();
    return options;
}

std::vector<Event> IcsFolderStore::events(const TimeRange& range) {
    refresh();
    const Zone zone = deviceZone_();
    std::vector<Event> all;
    for (const auto& [path, file] : files_) {
        if (!file.document) {
            continue;
        }
        auto some = file.document->events(optionsFor(path, file, range, zone));
        all.insert(all.end(), std::make_move_iterator(some.begin()),
                   std::make_move_iterator(some.end()));
    }
    std::stable_sort(all.begin(), all.end(), [](const Event& a, const Event& b) {
        return std::tie(a.start, a.identifier) < std::tie(b.start, b.identifier);
    });
    return all;
}

std::optional<Event> IcsFolderStore::eventWithIdentifier(std::string_view identifier) {
    if (stale_) {
        refresh();
    }
    const auto at = index_.find(identifier);
    if (at == index_.end()) {
        return std::nullopt;
    }
    const auto file = files_.find(at->second);
    if (file == files_.end() || !file->second.document) {
        return std::nullopt;
    }
    const std::string_view uid = identifier.substr(file->second.calendarIdentifier.size() + 1);
    return file->second.document->event(uid,
                                        optionsFor(at->second, file->second, {}, deviceZone_()));
}

}  // namespace platform::calendar
