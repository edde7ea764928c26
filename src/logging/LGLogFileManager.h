#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "logging/LGClock.h"
#include "logging/LGLogFileInfo.h"
#include "platform/oslog/ExtendedAttributes.h"

// The folder of a file logger: naming, listing, creating and deleting its files.
class LGLogFileManager {
public:
    virtual ~LGLogFileManager() = default;

    [[nodiscard]] virtual std::uint64_t maximumNumberOfLogFiles() const = 0;
    virtual void setMaximumNumberOfLogFiles(std::uint64_t count) = 0;
    [[nodiscard]] virtual std::uint64_t logFilesDiskQuota() const = 0;
    virtual void setLogFilesDiskQuota(std::uint64_t bytes) = 0;

    // The folder, created when missing.
    [[nodiscard]] virtual std::filesystem::path logsDirectory() = 0;
    // The folder's log files in the order the directory lists them.
    [[nodiscard]] virtual std::vector<LGLogFileInfo> unsortedLogFileInfos() = 0;
    // Newest first.
    [[nodiscard]] virtual std::vector<LGLogFileInfo> sortedLogFileInfos() = 0;
    // The new file, or nothing when it could not be made.
    [[nodiscard]] virtual std::optional<LGLogFileInfo> createNewLogFile() = 0;

    [[nodiscard]] std::vector<std::filesystem::path> unsortedLogFilePaths();
    [[nodiscard]] std::vector<std::string> unsortedLogFileNames();
    [[nodiscard]] std::vector<std::filesystem::path> sortedLogFilePaths();
    [[nodiscard]] std::vector<std::string> sortedLogFileNames();

    // Notices from the file logger.
    virtual void didArchiveLogFile(const std::filesystem::path& /*path*/) {}
    virtual void didRollAndArchiveLogFile(const std::filesystem::path& /*path*/) {}
};

// Log files named "<application> <yyyy-MM-dd HH-mm>.log" (the creation time in GMT; " 2",
// " 3", ... before ".log" for later files of the same minute), at most
// maximumNumberOfLogFiles of them and logFilesDiskQuota bytes together, oldest deleted first,
// the file being written never.
class LGLogFileManagerDefault : public LGLogFileManager {
public:
    static constexpr std::uint64_t kDefaultMaximumNumberOfLogFiles = 5;
    static constexpr std::uint64_t kDefaultLogFilesDiskQuota = 20971520;

    // The clock dates new files; attributes keep the archived marks. Both must outlive it.
    LGLogFileManagerDefault(std::filesystem::path logsDirectory, std::string applicationName,
                            platform::ExtendedAttributes& attributes,
                            const LGClock& clock = LGClock::current());

    // The caches folder's "Logs".
    [[nodiscard]] static std::filesystem::path defaultLogsDirectory(
        const std::filesystem::path& caches);

    [[nodiscard]] std::uint64_t maximumNumberOfLogFiles() const override;
    // A change deletes what the new limit no longer keeps, later, on the logging queue.
    void setMaximumNumberOfLogFiles(std::uint64_t count) override;
    [[nodiscard]] std::uint64_t logFilesDiskQuota() const override;
    void setLogFilesDiskQuota(std::uint64_t bytes) override;

    [[nodiscard]] std::filesystem::path logsDirectory() override;
    [[nodiscard]] std::vector<LGLogFileInfo> unsortedLogFileInfos() override;
    [[nodiscard]] std::vector<LGLogFileInfo> sortedLogFileInfos() override;
    [[nodiscard]] std::optional<LGLogFileInfo> createNewLogFile() override;

    [[nodiscard]] const std::string& applicationName() const { return applicationName_; }
    [[nodiscard]] bool isLogFile(std::string_view fileName) const;
    [[nodiscard]] std::string newLogFileName() const;
    void deleteOldLogFiles();

private:
    struct ParsedName {
        double creationDate;
        unsigned counter;
    };
    [[nodiscard]] std::optional<ParsedName> parse(std::string_view fileName) const;
    [[nodiscard]] std::string fileNameWithCounter(const std::string& name, unsigned n) const;
    void deleteOldLogFilesLater();

    const std::filesystem::path directory_;
    const std::string applicationName_;
    platform::ExtendedAttributes& attributes_;
    const LGClock& clock_;
    std::atomic<std::uint64_t> maximumNumberOfLogFiles_{kDefaultMaximumNumberOfLogFiles};
    std::atomic<std::uint64_t> logFilesDiskQuota_{kDefaultLogFilesDiskQuota};
};
