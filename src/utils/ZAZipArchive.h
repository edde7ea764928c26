#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/archive/Zip.h"
#include "platform/foundation/Result.h"

using ZAArchiveInfo = platform::archive::ArchiveInfo;
using ZAFileInfo = platform::archive::EntryInfo;

// Hears an unzip's steps, on the unzipping thread. Every callback is optional.
class ZAZipArchiveDelegate {
public:
    virtual ~ZAZipArchiveDelegate() = default;

    virtual void zipArchiveWillUnzipArchiveAtPath(std::string_view /*path*/,
                                                  const ZAArchiveInfo& /*zipInfo*/) {}
    // Position and total in bytes of the archive: at the start, before each entry, at the end.
    virtual void zipArchiveProgressEvent(std::uint64_t /*position*/, std::uint64_t /*total*/) {}
    // false stops the unzip as failed.
    virtual bool zipArchiveShouldUnzipFileAtIndex(std::uint64_t /*index*/,
                                                  std::uint64_t /*totalFiles*/,
                                                  std::string_view /*archivePath*/,
                                                  const ZAFileInfo& /*fileInfo*/) {
        return true;
    }
    virtual void zipArchiveWillUnzipFileAtIndex(std::uint64_t /*index*/,
                                                std::uint64_t /*totalFiles*/,
                                                std::string_view /*archivePath*/,
                                                const ZAFileInfo& /*fileInfo*/) {}
    // After each entry written (or a folder). Returns whether the delegate took it; when it
    // does not, zipArchiveDidUnzipFileAtIndexToPath hears of the entry instead.
    virtual bool zipArchiveDidUnzipFileAtIndex(std::uint64_t /*index*/,
                                               std::uint64_t /*totalFiles*/,
                                               std::string_view /*archivePath*/,
                                               const ZAFileInfo& /*fileInfo*/) {
        return false;
    }
    virtual void zipArchiveDidUnzipFileAtIndexToPath(std::uint64_t /*index*/,
                                                     std::uint64_t /*totalFiles*/,
                                                     std::string_view /*archivePath*/,
                                                     const std::filesystem::path& /*written*/) {}
    // At the end of an unzip that succeeded.
    virtual void zipArchiveDidUnzipArchiveAtPath(std::string_view /*path*/,
                                                 const ZAArchiveInfo& /*zipInfo*/,
                                                 const std::filesystem::path& /*unzippedPath*/) {}
};

// What an unzip may cost. Downloaded packages are not trusted: the bounds hold across nested
// archives, whose contents count towards the same total.
struct ZAUnzipLimits {
    std::uint64_t maxTotalBytes = std::uint64_t{1} << 30;
    std::uint64_t maxEntries = 65536;
    // Archives inside archives are unpacked this many levels down; one deeper fails the unzip.
    int maxNestingDepth = 3;
};

// Unpacks zip archives into a folder and writes new ones.
//
// Unpacking never writes outside the destination: an entry whose name is absolute, climbs with
// "..", is not UTF-8 or whose path would pass through a symbolic link fails the unzip, as do
// symbolic links and special files, entries larger than they declare, and archives beyond the
// limits. Such failures stop the unzip at that entry; what was written before stays. Modes are
// kept to their permission bits (no setuid, setgid or sticky bit).
class ZAZipArchive {
public:
    static constexpr const char* kErrorDomain = "ZAZipArchiveErrorDomain";
    enum ErrorCode : long {
        kFailedToOpenZip = -1,
        kFailedToOpenFirstFile = -2,
        kFailedToReadEntry = -3,
        kUnsafeEntry = -4,
        kTooLarge = -5,
        kNestedTooDeep = -6,
        kRefused = -7,
        kFailedToWrite = -8,
    };

    // (entry name, entry record, entries handled so far, number of entries), after each entry.
    using ProgressHandler =
        std::function<void(std::string_view, const ZAFileInfo&, std::uint64_t, std::uint64_t)>;
    // (archive path, or nothing when it could not be opened; success; the error of a failure).
    using CompletionHandler = std::function<void(std::optional<std::string_view>, bool,
                                                 const std::optional<platform::Error>&)>;

    struct UnzipOptions {
        bool overwrite = true;
        std::string password;
        ZAZipArchiveDelegate* delegate = nullptr;
        ProgressHandler progressHandler;
        CompletionHandler completionHandler;
        ZAUnzipLimits limits;
    };

    // ---- unpacking; each forwards to the full form ----

    static platform::Result<void> unzipFileAtPath(const std::filesystem::path& path,
                                                  const std::filesystem::path& destination);
    static platform::Result<void> unzipFileAtPath(const std::filesystem::path& path,
                                                  const std::filesystem::path& destination,
                                                  ZAZipArchiveDelegate& delegate);
    static platform::Result<void> unzipFileAtPath(const std::filesystem::path& path,
                                                  const std::filesystem::path& destination,
                                                  bool overwrite, std::string_view password,
                                                  ZAZipArchiveDelegate* delegate = nullptr);
    static platform::Result<void> unzipFileAtPath(const std::filesystem::path& path,
                                                  const std::filesystem::path& destination,
                                                  ProgressHandler progressHandler,
                                                  CompletionHandler completionHandler);
    static platform::Result<void> unzipFileAtPath(const std::filesystem::path& path,
                                                  const std::filesystem::path& destination,
                                                  bool overwrite, std::string_view password,
                                                  ProgressHandler progressHandler,
                                                  CompletionHandler completionHandler);
    // The full form.
    static platform::Result<void> unzipFileAtPath(const std::filesystem::path& path,
                                                  const std::filesystem::path& destination,
                                                  const UnzipOptions& options);

    // ---- writing: each opens a writer, adds the files and closes it ----

    // Each file under its last path component; false when the archive cannot be created.
    static bool createZipFileAtPath(const std::filesystem::path& path,
                                    std::span<const std::filesystem::path> files);
    // Every file below folder (symbolic links left out) under its path relative to the folder,
    // prefixed with the folder's own name when keepParentDirectory is set. An empty folder
    // below it becomes an empty entry "<relative folder>/.DS_Store".
    static bool createZipFileAtPath(const std::filesystem::path& path,
                                    const std::filesystem::path& folder,
                                    bool keepParentDirectory = false);

    // ---- the writer ----

    explicit ZAZipArchive(std::filesystem::path path);

    [[nodiscard]] const std::filesystem::path& path() const { return path_; }

    // Creates the archive, replacing any file; false when it cannot.
    bool open();
    // The file under its last path component.
    bool writeFile(const std::filesystem::path& file);
    // The file under name (its last path component when none), with its date and mode,
    // deflated; false when it cannot be read or the archive is not open.
    bool writeFileAtPath(const std::filesystem::path& file, std::optional<std::string_view> name);
    // An entry "<name>/" with the folder's date and mode and no data.
    bool writeFolderAtPath(const std::filesystem::path& folder, std::string_view name);
    // bytes under name, dated now; false without data or an open archive.
    bool writeData(std::span<const std::uint8_t> bytes, std::string_view name);
    // Writes the central directory and closes the archive.
    bool close();

private:
    bool writeEntry(const platform::archive::NewEntry& entry, std::span<const std::uint8_t> bytes);

    std::filesystem::path path_;
    std::optional<platform::archive::ZipWriter> zip_;
};
