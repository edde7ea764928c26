#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/foundation/Result.h"

// Zip archives entry by entry: a reader that walks an archive's entries and streams their data,
// and a writer that adds entries and ends with the central directory. What the entries mean
// (names, dates, modes, nesting) is for the caller.
namespace platform::archive {

inline constexpr const char* kErrorDomain = "platform.archive";

enum ErrorCode : long {
    kOpen = 1,      // not a readable zip archive
    kNoEntry = 2,   // no first entry, or the next one cannot be reached
    kEntry = 3,     // an entry's header, password or data cannot be read
    kChecksum = 4,  // an entry's data does not match its checksum
    kCreate = 5,    // the archive cannot be created
    kWrite = 6,     // an entry cannot be added or written
};

// The archive's own record: its number of entries and the size of its comment.
struct ArchiveInfo {
    std::uint64_t entryCount = 0;
    std::uint64_t commentSize = 0;
};

// One entry's record as the central directory states it.
struct EntryInfo {
    std::uint64_t version = 0;  // made by
    std::uint64_t versionNeeded = 0;
    std::uint64_t flags = 0;
    std::uint64_t compressionMethod = 0;
    std::uint32_t dosDate = 0;  // MS-DOS date and time, local
    std::uint32_t crc = 0;
    std::uint64_t compressedSize = 0;
    std::uint64_t uncompressedSize = 0;
    std::uint64_t nameSize = 0;
    std::uint64_t extraSize = 0;
    std::uint64_t commentSize = 0;
    std::uint64_t diskStart = 0;
    std::uint64_t internalAttributes = 0;
    std::uint64_t externalAttributes = 0;  // upper 16 bits: the Unix mode
};

// The entry the reader stands on: its record and its name's bytes as stored.
struct Entry {
    EntryInfo info;
    std::string name;
};

class ZipReader {
public:
    static Result<ZipReader> open(const std::filesystem::path& path);

    ZipReader(ZipReader&&) noexcept;
    ZipReader& operator=(ZipReader&&) noexcept;
    ~ZipReader();

    [[nodiscard]] const ArchiveInfo& info() const { return info_; }

    Result<void> goToFirstEntry();
    // false after the last entry.
    Result<bool> goToNextEntry();
    [[nodiscard]] Result<Entry> currentEntry();

    // Opens the current entry's data, deciphered with password when it is not empty.
    Result<void> openEntry(std::string_view password = {});
    // Reads the next bytes of the open entry into buffer: how many, 0 at its end. Never more
    // than the entry declares.
    Result<std::size_t> read(std::span<std::uint8_t> buffer);
    // Closes the open entry; fails when all its data was read and its checksum does not match.
    Result<void> closeEntry();

private:
    struct Handle;
    explicit ZipReader(std::unique_ptr<Handle> handle, ArchiveInfo info);

    std::unique_ptr<Handle> handle_;
    ArchiveInfo info_;
};

// What a new entry records besides its data.
struct NewEntry {
    std::string_view name;
    std::uint32_t dosDate = 0;
    std::uint32_t externalAttributes = 0;
    int method = 8;  // 8 deflate, 0 stored
    int level = -1;  // zlib's level; -1 its default
    // Entries of 4 GiB or more need the 64-bit record.
    bool large = false;
};

class ZipWriter {
public:
    // Creates the archive, replacing any file at path.
    static Result<ZipWriter> create(const std::filesystem::path& path);

    ZipWriter(ZipWriter&&) noexcept;
    ZipWriter& operator=(ZipWriter&&) noexcept;
    // Closes an archive still open, as close() would.
    ~ZipWriter();

    Result<void> openEntry(const NewEntry& entry);
    Result<void> write(std::span<const std::uint8_t> bytes);
    Result<void> closeEntry();
    // Writes the central directory, without a comment, and closes the file.
    Result<void> close();

private:
    struct Handle;
    explicit ZipWriter(std::unique_ptr<Handle> handle);

    std::unique_ptr<Handle> handle_;
};

using Clock = std::chrono::system_clock;

// An MS-DOS date and time (local time, two-second steps, 1980 to 2107) as a point in time;
// fields out of range roll over as the calendar does.
[[nodiscard]] Clock::time_point timeFromDosDate(std::uint32_t dosDate);
// A point in time as an MS-DOS date and time in local time; times before 1980 give its first
// day, odd seconds round down.
[[nodiscard]] std::uint32_t dosDateFromTime(Clock::time_point time);

}  // namespace platform::archive
