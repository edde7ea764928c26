#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/oslog/AppendFile.h"
#include "platform/oslog/ExtendedAttributes.h"

// One log file: its path, sizes and dates (read once and kept), and its archived mark.
//
// The mark is the extended attribute "user.kavo.log.archived". On a file system that keeps no
// extended attributes it is an empty companion file beside the log, named after it with
// ".archived" appended: that name is no log file's, so it is never listed, and it goes with
// its log when that is deleted or renamed.
class LGLogFileInfo {
public:
    static constexpr const char* kArchivedAttribute = "kavo.log.archived";
    static constexpr const char* kCompanionSuffix = ".archived";

    // creationDate (seconds since 1970) when known; else the file's modification time.
    LGLogFileInfo(std::filesystem::path path, platform::ExtendedAttributes& attributes,
                  std::optional<double> creationDate = std::nullopt);

    [[nodiscard]] const std::filesystem::path& filePath() const { return path_; }
    [[nodiscard]] std::string fileName() const { return path_.filename().string(); }
    [[nodiscard]] double creationDate() const;
    [[nodiscard]] double modificationDate() const;
    // A kept 0 is read again: a file being written grows.
    [[nodiscard]] std::uint64_t fileSize() const;
    [[nodiscard]] double age(double now) const { return now - creationDate(); }
    // Which of two files named in the same minute came later (" 2" after the plain name).
    [[nodiscard]] unsigned counter() const { return counter_; }
    void setCounter(unsigned counter) { counter_ = counter; }

    [[nodiscard]] bool isArchived() const;
    // A mark that cannot be added is reported; the file then counts as not archived.
    void setIsArchived(bool archived);
    // Drops the kept dates (the size stays).
    void reset();
    // Renames within the folder, replacing a file of that name; the info follows either way.
    void renameFile(const std::string& newName);
    // Removes the file and its companion mark; failures are ignored.
    void removeFile() const;

    [[nodiscard]] bool hasExtendedAttributeWithName(const std::string& name) const;
    void addExtendedAttributeWithName(const std::string& name);
    void removeExtendedAttributeWithName(const std::string& name);

    friend bool operator==(const LGLogFileInfo& a, const LGLogFileInfo& b) {
        return a.path_ == b.path_;
    }

private:
    [[nodiscard]] std::filesystem::path companion(const std::string& name) const;

    std::filesystem::path path_;
    platform::ExtendedAttributes* attributes_;
    std::optional<double> givenCreationDate_;
    mutable std::optional<double> modificationDate_;
    mutable std::uint64_t size_ = 0;
    unsigned counter_ = 1;
};
