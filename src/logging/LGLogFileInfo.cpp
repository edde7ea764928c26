#include "logging/LGLogFileInfo.h"

#include <chrono>

#include "logging/LGTime.h"

namespace fs = std::filesystem;

LGLogFileInfo::LGLogFileInfo(fs::path path, platform::ExtendedAttributes& attributes,
                             std::optional<double> creationDate)
    : path_(std::move(path)), attributes_(&attributes), givenCreationDate_(creationDate) {}

double LGLogFileInfo::creationDate() const {
    // Linux file systems do not all keep a birth time; the name's minute does, and files this
    // process makes know theirs exactly.
    return givenCreationDate_ ? *givenCreationDate_ : modificationDate();
}

double LGLogFileInfo::modificationDate() const {
    if (!modificationDate_) {
        std::error_code error;
        const auto written = fs::last_write_time(path_, error);
        double seconds = 0;
        if (!error) {
            const auto system = std::chrono::file_clock::to_sys(written);
            seconds = std::chrono::duration<double>(system.time_since_epoch()).count();
        }
        modificationDate_ = seconds;
    }
    return *modificationDate_;
}

std::uint64_t LGLogFileInfo::fileSize() const {
    if (size_ == 0) {
        std::error_code error;
        const auto size = fs::file_size(path_, error);
        size_ = error ? 0 : size;
    }
    return size_;
}

fs::path LGLogFileInfo::companion(const std::string& name) const {
    fs::path path = path_;
    path += name == kArchivedAttribute ? std::string(kCompanionSuffix) : "." + name;
    return path;
}

bool LGLogFileInfo::isArchived() const {
    return hasExtendedAttributeWithName(kArchivedAttribute);
}

void LGLogFileInfo::setIsArchived(bool archived) {
    if (archived) {
        addExtendedAttributeWithName(kArchivedAttribute);
    } else {
        removeExtendedAttributeWithName(kArchivedAttribute);
    }
}

void LGLogFileInfo::reset() {
    modificationDate_.reset();
}

bool LGLogFileInfo::hasExtendedAttributeWithName(const std::string& name) const {
    const auto present = attributes_->has(path_, name);
    if (present) {
        return *present;
    }
    std::error_code error;
    return present.error().code == platform::ExtendedAttributes::kUnsupported &&
           fs::exists(companion(name), error);
}

void LGLogFileInfo::addExtendedAttributeWithName(const std::string& name) {
    const auto added = attributes_->add(path_, name);
    if (added) {
        return;
    }
    if (added.error().code == platform::ExtendedAttributes::kUnsupported) {
        std::error_code error;
        if (fs::exists(path_, error) && platform::AppendFile::create(companion(name))) {
            return;
        }
    }
    lgReport("LGLogFileInfo: setxattr(" + name + ", " + path_.string() +
             "): error = " + added.error().message);
}

void LGLogFileInfo::removeExtendedAttributeWithName(const std::string& name) {
    const auto removed = attributes_->remove(path_, name);
    std::error_code ignored;
    fs::remove(companion(name), ignored);
    if (!removed && removed.error().code != platform::ExtendedAttributes::kAbsent &&
        removed.error().code != platform::ExtendedAttributes::kUnsupported) {
        lgReport("LGLogFileInfo: removexattr(" + name + ", " + fileName() +
                 "): error = " + removed.error().message);
    }
}

void LGLogFileInfo::renameFile(const std::string& newName) {
    if (newName == fileName()) {
        return;
    }
    const fs::path target = path_.parent_path() / newName;
    const fs::path oldCompanion = companion(kArchivedAttribute);
    std::error_code error;
    if (fs::exists(target, error)) {
        if (!fs::remove(target, error)) {
            lgReport("LGLogFileInfo: Error deleting archive (" + newName + "): " + error.message());
        }
    }
    fs::rename(path_, target, error);
    if (error) {
        lgReport("LGLogFileInfo: Error renaming file (" + fileName() + "): " + error.message());
    }
    path_ = target;
    std::error_code ignored;
    if (fs::exists(oldCompanion, ignored)) {
        fs::rename(oldCompanion, companion(kArchivedAttribute), ignored);
    }
    reset();
}

void LGLogFileInfo::removeFile() const {
    std::error_code ignored;
    fs::remove(path_, ignored);
    fs::remove(companion(kArchivedAttribute), ignored);
}
