#include "logging/LGLogFileManager.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <memory>

#include "logging/LGLog.h"
#include "logging/LGTime.h"
#include "platform/foundation/CivilTime.h"

namespace fs = std::filesystem;

namespace {

template <typename T>
bool readNumber(std::string_view text, std::size_t digits, T& value) {
    if (text.size() != digits ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    std::from_chars(text.data(), text.data() + text.size(), value);
    return true;
}

// "yyyy-MM-dd HH-mm" in GMT, strictly.
std::optional<double> parseNameDate(std::string_view text) {
    platform::CivilTime time;
    if (text.size() != 16 || text[4] != '-' || text[7] != '-' || text[10] != ' ' ||
        text[13] != '-' || !readNumber(text.substr(0, 4), 4, time.year) ||
        !readNumber(text.substr(5, 2), 2, time.month) ||
        !readNumber(text.substr(8, 2), 2, time.day) ||
        !readNumber(text.substr(11, 2), 2, time.hour) ||
        !readNumber(text.substr(14, 2), 2, time.minute)) {
        return std::nullopt;
    }
    if (time.month < 1 || time.month > 12 || time.day < 1 ||
        time.day > platform::daysInMonth(time.year, time.month) || time.hour > 23 ||
        time.minute > 59) {
        return std::nullopt;
    }
    return static_cast<double>(platform::secondsFromCivil(time));
}

std::vector<std::string_view> splitAtSpaces(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (std::size_t space; (space = text.find(' ', start)) != std::string_view::npos;) {
        pieces.push_back(text.substr(start, space - start));
        start = space + 1;
    }
    pieces.push_back(text.substr(start));
    return pieces;
}

constexpr std::string_view kExtension = ".log";

}  // namespace

namespace {

template <typename Projection>
auto eachOf(const std::vector<LGLogFileInfo>& infos, Projection projection) {
    std::vector<std::decay_t<decltype(projection(infos.front()))>> result;
    result.reserve(infos.size());
    for (const auto& info : infos) {
        result.push_back(projection(info));
    }
    return result;
}

fs::path pathOf(const LGLogFileInfo& info) {
    return info.filePath();
}

std::string nameOf(const LGLogFileInfo& info) {
    return info.fileName();
}

}  // namespace

std::vector<fs::path> LGLogFileManager::unsortedLogFilePaths() {
    return eachOf(unsortedLogFileInfos(), pathOf);
}

std::vector<std::string> LGLogFileManager::unsortedLogFileNames() {
    return eachOf(unsortedLogFileInfos(), nameOf);
}

std::vector<fs::path> LGLogFileManager::sortedLogFilePaths() {
    return eachOf(sortedLogFileInfos(), pathOf);
}

std::vector<std::string> LGLogFileManager::sortedLogFileNames() {
    return eachOf(sortedLogFileInfos(), nameOf);
}

LGLogFileManagerDefault::LGLogFileManagerDefault(fs::path logsDirectory,
                                                 std::string applicationName,
                                                 platform::ExtendedAttributes& attributes,
                                                 const LGClock& clock)
    : directory_(std::move(logsDirectory)),
      applicationName_(std::move(applicationName)),
      attributes_(attributes),
      clock_(clock) {}

fs::path LGLogFileManagerDefault::defaultLogsDirectory(const fs::path& caches) {
    return caches / "Logs";
}

std::uint64_t LGLogFileManagerDefault::maximumNumberOfLogFiles() const {
    return maximumNumberOfLogFiles_.load();
}

void LGLogFileManagerDefault::setMaximumNumberOfLogFiles(std::uint64_t count) {
    if (maximumNumberOfLogFiles_.exchange(count) != count) {
        deleteOldLogFilesLater();
    }
}

std::uint64_t LGLogFileManagerDefault::logFilesDiskQuota() const {
    return logFilesDiskQuota_.load();
}

void LGLogFileManagerDefault::setLogFilesDiskQuota(std::uint64_t bytes) {
    if (logFilesDiskQuota_.exchange(bytes) != bytes) {
        deleteOldLogFilesLater();
    }
}

void LGLogFileManagerDefault::deleteOldLogFilesLater() {
    // The manager lives as long as the logger that owns it, which the hub holds until its
    // removal has passed the logging queue.
    LGLog::loggingQueue().async([this] { deleteOldLogFiles(); });
}

fs::path LGLogFileManagerDefault::logsDirectory() {
    std::error_code error;
    if (!fs::is_directory(directory_, error)) {
        fs::create_directories(directory_, error);
        if (error) {
            lgReport("LGFileLogManagerDefault: Error creating logsDirectory: " + error.message());
        }
    }
    return directory_;
}

std::optional<LGLogFileManagerDefault::ParsedName> LGLogFileManagerDefault::parse(
    std::string_view name) const {
    if (!name.starts_with(applicationName_) || !name.ends_with(kExtension) ||
        name.size() < applicationName_.size() + kExtension.size() + 17) {
        return std::nullopt;
    }
    const std::string_view middle = name.substr(
        applicationName_.size(), name.size() - applicationName_.size() - kExtension.size());
    const auto pieces = splitAtSpaces(middle);
    if ((pieces.size() != 3 && pieces.size() != 4) || !pieces[0].empty()) {
        return std::nullopt;
    }
    const std::string dateAndTime = std::string(pieces[1]) + " " + std::string(pieces[2]);
    const auto date = parseNameDate(dateAndTime);
    if (!date) {
        return std::nullopt;
    }
    unsigned counter = 1;
    if (pieces.size() == 4) {
        std::from_chars(pieces[3].data(), pieces[3].data() + pieces[3].size(), counter);
    }
    return ParsedName{*date, counter};
}

bool LGLogFileManagerDefault::isLogFile(std::string_view fileName) const {
    return parse(fileName).has_value();
}

std::vector<LGLogFileInfo> LGLogFileManagerDefault::unsortedLogFileInfos() {
    std::vector<LGLogFileInfo> infos;
    std::error_code error;
    for (fs::directory_iterator it(logsDirectory(), error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (const auto parsed = parse(name)) {
            LGLogFileInfo info(it->path(), attributes_, parsed->creationDate);
            info.setCounter(parsed->counter);
            infos.push_back(std::move(info));
        }
    }
    return infos;
}

std::vector<LGLogFileInfo> LGLogFileManagerDefault::sortedLogFileInfos() {
    auto infos = unsortedLogFileInfos();
    // The name keeps the minute; the counter orders files of one minute.
    std::stable_sort(infos.begin(), infos.end(), [](const auto& a, const auto& b) {
        if (a.creationDate() != b.creationDate()) {
            return a.creationDate() > b.creationDate();
        }
        return a.counter() > b.counter();
    });
    return infos;
}

std::string LGLogFileManagerDefault::newLogFileName() const {
    const LGCalendarTime time = lgCalendarTime(clock_.now(), 0);
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04lld-%02u-%02u %02u-%02u",
                  static_cast<long long>(time.year), time.month, time.day, time.hour, time.minute);
    return applicationName_ + " " + stamp + std::string(kExtension);
}

std::string LGLogFileManagerDefault::fileNameWithCounter(const std::string& name,
                                                         unsigned n) const {
    if (n < 2) {
        return name;
    }
    return name.substr(0, name.size() - kExtension.size()) + " " + std::to_string(n) +
           std::string(kExtension);
}

std::optional<LGLogFileInfo> LGLogFileManagerDefault::createNewLogFile() {
    const double created = clock_.now();
    const std::string name = newLogFileName();
    const fs::path directory = logsDirectory();
    for (unsigned attempt = 1;; ++attempt) {
        const fs::path path = directory / fileNameWithCounter(name, attempt);
        const auto made = platform::AppendFile::create(path);
        if (made) {
            deleteOldLogFiles();
            LGLogFileInfo info(path, attributes_, created);
            info.setCounter(attempt);
            return info;
        }
        if (made.error().code != EEXIST) {
            return std::nullopt;
        }
    }
}

void LGLogFileManagerDefault::deleteOldLogFiles() {
    const auto infos = sortedLogFileInfos();
    std::size_t firstToDelete = infos.size();
    if (const auto quota = logFilesDiskQuota(); quota != 0) {
        std::uint64_t used = 0;
        for (std::size_t i = 0; i < infos.size(); ++i) {
            used += infos[i].fileSize();
            if (used > quota) {
                firstToDelete = i;
                break;
            }
        }
    }
    if (const auto count = maximumNumberOfLogFiles(); count != 0) {
        firstToDelete = std::min<std::size_t>(firstToDelete, count);
    }
    // The file being written is never deleted.
    if (firstToDelete == 0 && !infos.empty() && !infos[0].isArchived()) {
        firstToDelete = 1;
    }
    for (std::size_t i = firstToDelete; i < infos.size(); ++i) {
        infos[i].removeFile();
    }
}
