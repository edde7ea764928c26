#include "utils/ZAZipArchive.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <memory>
#include <system_error>
#include <utility>

#include "logging/LGLog.h"
#include "platform/foundation/Utf8.h"
#include "utils/TQUtils.h"

namespace fs = std::filesystem;
using platform::Error;
using platform::Result;
using platform::archive::Entry;
using platform::archive::ZipReader;

namespace {

constexpr std::size_t kReadChunk = std::size_t{64} << 10;
constexpr std::size_t kWriteChunk = 16384;
constexpr std::uint32_t kTypeMask = 0170000;
constexpr std::uint32_t kRegularFile = 0100000;
constexpr std::uint32_t kFolder = 0040000;
constexpr std::uint32_t kPermissionBits = 0777;
// What an unpacked file may keep of its archive's mode: a downloaded package names any mode it
// likes, and nobody but the owner is to write into what it brings.
constexpr std::uint32_t kUnpackedPermissions = 0755;
constexpr std::uint64_t kLargeEntry = 0xFFFFFFFFU;

Error zipError(long code, std::string message) {
    return Error{ZAZipArchive::kErrorDomain, code, std::move(message)};
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

// The entry's name as a path below the destination, or nothing when it could lead anywhere
// else. Backslashes separate folders as slashes do.
std::optional<fs::path> relativePathOf(std::string name) {
    if (!platform::isValidUtf8(name)) {
        return std::nullopt;
    }
    std::replace(name.begin(), name.end(), '\\', '/');
    return TQUtils::safeRelativePath(name);
}

bool isLink(const fs::path& path) {
    std::error_code ec;
    return fs::is_symlink(fs::symlink_status(path, ec));
}

// Whether a folder on the way to the entry (or the entry itself, for a folder) is a symbolic
// link that was already there: writing through it could land anywhere.
bool passesThroughLink(const fs::path& destination, const fs::path& relative, bool isFolder) {
    fs::path at = destination;
    const auto last = std::prev(relative.end());
    for (auto it = relative.begin(); it != relative.end(); ++it) {
        at /= *it;
        if ((it != last || isFolder) && isLink(at)) {
            return true;
        }
    }
    return false;
}

bool setModificationDate(const fs::path& path, std::uint32_t dosDate) {
    std::error_code ec;
    const auto time = platform::archive::timeFromDosDate(dosDate);
    fs::last_write_time(path, std::chrono::file_clock::from_sys(time), ec);
    return !ec;
}

void createFolder(const fs::path& folder, std::uint32_t dosDate) {
    std::error_code ec;
    if (fs::is_directory(folder, ec)) {
        return;
    }
    fs::create_directories(folder, ec);
    if (ec) {
        LG_ERROR("[ZAZipArchive] Error: %@", ec.message());
    } else if (dosDate != 0) {
        setModificationDate(folder, dosDate);
    }
}

bool isZipName(const fs::path& path) {
    std::string extension = path.extension().string();
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return extension == ".zip";
}

// One unzip of one archive; a nested archive gets one of its own, one level down, sharing the
// byte budget.
class Unzipper {
public:
    Unzipper(fs::path archive, fs::path destination, const ZAZipArchive::UnzipOptions& options,
             std::uint64_t& bytesLeft, int depth)
        : archive_(std::move(archive)),
          destination_(std::move(destination)),
          options_(options),
          bytesLeft_(bytesLeft),
          depth_(depth) {}

    Result<void> run();

private:
    struct Dated {
        fs::path path;
        std::uint32_t dosDate;
    };

    Result<void> fail(Error error);
    Result<bool> unzipEntry(ZipReader& reader, const Entry& entry);
    Result<void> writeData(ZipReader& reader, const fs::path& path, std::uint64_t declared);
    Result<void> unzipNested(const fs::path& path);
    void finishAttributes(const fs::path& path, const ZAFileInfo& info);

    const fs::path archive_;
    const fs::path destination_;
    const ZAZipArchive::UnzipOptions& options_;
    std::uint64_t& bytesLeft_;
    const int depth_;
    std::vector<Dated> dated_;
    std::vector<std::uint8_t> buffer_;
};

Result<void> Unzipper::fail(Error error) {
    if (options_.completionHandler) {
        options_.completionHandler(std::nullopt, false, error);
    }
    return error;
}

Result<void> Unzipper::run() {
    const std::string archivePath = archive_.string();
    auto opened = ZipReader::open(archive_);
    if (!opened) {
        return fail(zipError(ZAZipArchive::kFailedToOpenZip, "failed to open zip file"));
    }
    ZipReader& reader = *opened;
    std::error_code ec;
    const std::uint64_t total = fs::file_size(archive_, ec);
    const ZAArchiveInfo info = reader.info();
    if (!reader.goToFirstEntry()) {
        return fail(zipError(ZAZipArchive::kFailedToOpenFirstFile,
                             "failed to open first file in zip file"));
    }
    ZAZipArchiveDelegate* delegate = options_.delegate;
    if (delegate != nullptr) {
        delegate->zipArchiveWillUnzipArchiveAtPath(archivePath, info);
        delegate->zipArchiveProgressEvent(0, total);
    }

    Result<void> outcome;
    bool refused = false;
    std::uint64_t position = 0;
    std::uint64_t index = 0;
    for (std::uint64_t seen = 1;; ++seen) {
        if (seen > options_.limits.maxEntries) {
            outcome =
                zipError(ZAZipArchive::kTooLarge,
                         "more than " + std::to_string(options_.limits.maxEntries) + " entries");
            break;
        }
        if (auto entryOpened = reader.openEntry(options_.password); !entryOpened) {
            outcome = zipError(ZAZipArchive::kFailedToReadEntry, entryOpened.error().message);
            break;
        }
        auto entry = reader.currentEntry();
        if (!entry) {
            (void)reader.closeEntry();
            outcome = zipError(ZAZipArchive::kFailedToReadEntry, entry.error().message);
            break;
        }
        const ZAFileInfo& fileInfo = entry->info;
        position += fileInfo.compressedSize;
        if (delegate != nullptr) {
            if (!delegate->zipArchiveShouldUnzipFileAtIndex(index, info.entryCount, archivePath,
                                                            fileInfo)) {
                (void)reader.closeEntry();
                refused = true;
                outcome = zipError(
                    ZAZipArchive::kRefused,
                    "the delegate refused \"" + TQUtils::printableForLog(entry->name) + "\"");
                break;
            }
            delegate->zipArchiveWillUnzipFileAtIndex(index, info.entryCount, archivePath, fileInfo);
            delegate->zipArchiveProgressEvent(position, total);
        }
        auto handled = unzipEntry(reader, *entry);
        (void)reader.closeEntry();
        if (!handled) {
            outcome = handled.error();
            break;
        }
        if (*handled) {
            const fs::path written = destination_ / *relativePathOf(entry->name);
            if (delegate != nullptr && !delegate->zipArchiveDidUnzipFileAtIndex(
                                           index, info.entryCount, archivePath, fileInfo)) {
                delegate->zipArchiveDidUnzipFileAtIndexToPath(index, info.entryCount, archivePath,
                                                              written);
            }
            ++index;
            if (options_.progressHandler) {
                options_.progressHandler(entry->name, fileInfo, index, info.entryCount);
            }
        }
        auto next = reader.goToNextEntry();
        if (!next) {
            outcome = zipError(ZAZipArchive::kFailedToReadEntry, next.error().message);
            break;
        }
        if (!*next) {
            break;
        }
    }
    opened = Error{};  // closes the archive before the dates are set

    // Writing a folder's files moved its date; set it again now that all are written.
    for (const auto& [path, dosDate] : dated_) {
        if (dosDate == 0 || isLink(path) || !fs::exists(path, ec)) {
            continue;
        }
        if (!setModificationDate(path, dosDate)) {
            LG_WARN("[ZAZipArchive] Set attributes failed for directory: %@.", path.string());
        }
    }

    if (!outcome) {
        LG_ERROR("[ZAZipArchive] Error: %@", outcome.error().message);
    } else if (delegate != nullptr) {
        delegate->zipArchiveDidUnzipArchiveAtPath(archivePath, info, destination_);
    }
    if (delegate != nullptr && !refused) {
        delegate->zipArchiveProgressEvent(total, total);
    }
    if (options_.completionHandler) {
        std::optional<Error> error;
        if (!outcome) {
            error = outcome.error();
        }
        options_.completionHandler(archivePath, outcome.ok(), error);
    }
    return outcome;
}

// Whether the entry counts as unzipped (false: a file that exists and is kept).
Result<bool> Unzipper::unzipEntry(ZipReader& reader, const Entry& entry) {
    const ZAFileInfo& info = entry.info;
    const std::string shown = TQUtils::printableForLog(entry.name);
    const bool isFolder = entry.name.ends_with('/') || entry.name.ends_with('\\');
    const auto relative = relativePathOf(entry.name);
    if (!relative) {
        return zipError(ZAZipArchive::kUnsafeEntry, "unsafe entry name \"" + shown + "\"");
    }
    const auto mode = static_cast<std::uint32_t>(info.externalAttributes >> 16);
    if (const auto type = mode & kTypeMask; type != 0 && type != kRegularFile && type != kFolder) {
        return zipError(ZAZipArchive::kUnsafeEntry,
                        "entry \"" + shown + "\" is a symbolic link or a special file");
    }
    if (passesThroughLink(destination_, *relative, isFolder)) {
        return zipError(ZAZipArchive::kUnsafeEntry,
                        "entry \"" + shown + "\" would be written through a symbolic link");
    }
    const fs::path fullPath = destination_ / *relative;
    createFolder(isFolder ? fullPath : fullPath.parent_path(), info.dosDate);
    dated_.push_back({fullPath, info.dosDate});
    if (isFolder) {
        return true;
    }
    std::error_code ec;
    if (!options_.overwrite && fs::exists(fs::symlink_status(fullPath, ec))) {
        return false;
    }
    if (info.uncompressedSize > bytesLeft_) {
        return zipError(ZAZipArchive::kTooLarge, "entry \"" + shown + "\" declares " +
                                                     std::to_string(info.uncompressedSize) +
                                                     " bytes, beyond the " +
                                                     std::to_string(bytesLeft_) + " left");
    }
    if (auto written = writeData(reader, fullPath, info.uncompressedSize); !written) {
        fs::remove(fullPath, ec);
        return written.error();
    }
    bytesLeft_ -= info.uncompressedSize;
    if (isZipName(fullPath)) {
        if (auto nested = unzipNested(fullPath); !nested) {
            return nested.error();
        }
    }
    finishAttributes(fullPath, info);
    return true;
}

Result<void> Unzipper::writeData(ZipReader& reader, const fs::path& path, std::uint64_t declared) {
    // Whatever is there goes first: a link or a hard link is replaced, never written through.
    std::error_code ec;
    fs::remove(path, ec);
    File file(std::fopen(path.c_str(), "wbx"));
    if (!file) {
        return zipError(ZAZipArchive::kFailedToWrite, "cannot write " + path.string());
    }
    buffer_.resize(kReadChunk);
    std::uint64_t total = 0;
    for (;;) {
        auto count = reader.read(buffer_);
        if (!count) {
            return zipError(ZAZipArchive::kFailedToReadEntry, count.error().message);
        }
        if (*count == 0) {
            break;
        }
        total += *count;
        if (total > declared) {
            return zipError(ZAZipArchive::kTooLarge,
                            path.filename().string() + " holds more than the " +
                                std::to_string(declared) + " bytes it declares");
        }
        if (std::fwrite(buffer_.data(), 1, *count, file.get()) != *count) {
            return zipError(ZAZipArchive::kFailedToWrite, "cannot write " + path.string());
        }
    }
    if (total != declared) {
        return zipError(ZAZipArchive::kFailedToReadEntry,
                        path.filename().string() + " ends after " + std::to_string(total) + " of " +
                            std::to_string(declared) + " bytes");
    }
    if (std::fclose(file.release()) != 0) {
        return zipError(ZAZipArchive::kFailedToWrite, "cannot write " + path.string());
    }
    if (auto closed = reader.closeEntry(); !closed) {
        return zipError(ZAZipArchive::kFailedToReadEntry, closed.error().message);
    }
    return {};
}

// A nested archive is unpacked beside itself and removed. One that cannot be read safely fails
// the whole unzip; a file that merely is no archive stays as it is.
Result<void> Unzipper::unzipNested(const fs::path& path) {
    LG_INFO("Unzipping nested .zip file:  %@", path.filename().string());
    if (depth_ >= options_.limits.maxNestingDepth) {
        return zipError(ZAZipArchive::kNestedTooDeep,
                        "archives nested deeper than " +
                            std::to_string(options_.limits.maxNestingDepth) + " levels");
    }
    ZAZipArchive::UnzipOptions nestedOptions;
    nestedOptions.overwrite = options_.overwrite;
    nestedOptions.password = options_.password;
    nestedOptions.limits = options_.limits;
    auto nested = Unzipper(path, path.parent_path(), nestedOptions, bytesLeft_, depth_ + 1).run();
    if (nested) {
        std::error_code ec;
        fs::remove(path, ec);
        return {};
    }
    const long code = nested.error().code;
    if (code == ZAZipArchive::kFailedToOpenZip || code == ZAZipArchive::kFailedToOpenFirstFile) {
        return {};
    }
    return nested;
}

void Unzipper::finishAttributes(const fs::path& path, const ZAFileInfo& info) {
    std::error_code ec;
    if (!fs::exists(fs::symlink_status(path, ec))) {
        return;  // a nested archive, unpacked and gone
    }
    if (info.dosDate != 0 && !setModificationDate(path, info.dosDate)) {
        LG_WARN("[ZAZipArchive] Failed to set attributes - whilst setting modification date");
    }
    if (const auto mode = static_cast<std::uint32_t>(info.externalAttributes >> 16); mode != 0) {
        fs::permissions(path, static_cast<fs::perms>(mode & kUnpackedPermissions),
                        fs::perm_options::replace, ec);
        if (ec) {
            LG_WARN("[ZAZipArchive] Failed to set attributes - whilst setting permissions");
        }
    }
}

struct FileFacts {
    std::uint32_t dosDate = 0;
    std::uint32_t externalAttributes = 0;
};

// The date and mode an entry records of a file or folder: its permissions with the regular-file
// type, as the archives of this system always have.
FileFacts factsOf(const fs::path& path) {
    FileFacts facts;
    std::error_code ec;
    const auto written = fs::last_write_time(path, ec);
    const auto time =
        ec ? platform::archive::Clock::now() : std::chrono::file_clock::to_sys(written);
    facts.dosDate = platform::archive::dosDateFromTime(
        std::chrono::time_point_cast<platform::archive::Clock::duration>(time));
    const auto status = fs::status(path, ec);
    const auto permissions =
        ec ? 0U : static_cast<std::uint32_t>(status.permissions()) & kPermissionBits;
    facts.externalAttributes = (kRegularFile | permissions) << 16;
    return facts;
}

}  // namespace

// ---- unpacking ----

Result<void> ZAZipArchive::unzipFileAtPath(const fs::path& path, const fs::path& destination) {
    return unzipFileAtPath(path, destination, UnzipOptions{});
}

Result<void> ZAZipArchive::unzipFileAtPath(const fs::path& path, const fs::path& destination,
                                           ZAZipArchiveDelegate& delegate) {
    UnzipOptions options;
    options.delegate = &delegate;
    return unzipFileAtPath(path, destination, options);
}

Result<void> ZAZipArchive::unzipFileAtPath(const fs::path& path, const fs::path& destination,
                                           bool overwrite, std::string_view password,
                                           ZAZipArchiveDelegate* delegate) {
    UnzipOptions options;
    options.overwrite = overwrite;
    options.password = password;
    options.delegate = delegate;
    return unzipFileAtPath(path, destination, options);
}

Result<void> ZAZipArchive::unzipFileAtPath(const fs::path& path, const fs::path& destination,
                                           ProgressHandler progressHandler,
                                           CompletionHandler completionHandler) {
    return unzipFileAtPath(path, destination, true, {}, std::move(progressHandler),
                           std::move(completionHandler));
}

Result<void> ZAZipArchive::unzipFileAtPath(const fs::path& path, const fs::path& destination,
                                           bool overwrite, std::string_view password,
                                           ProgressHandler progressHandler,
                                           CompletionHandler completionHandler) {
    UnzipOptions options;
    options.overwrite = overwrite;
    options.password = password;
    options.progressHandler = std::move(progressHandler);
    options.completionHandler = std::move(completionHandler);
    return unzipFileAtPath(path, destination, options);
}

Result<void> ZAZipArchive::unzipFileAtPath(const fs::path& path, const fs::path& destination,
                                           const UnzipOptions& options) {
    std::uint64_t bytesLeft = options.limits.maxTotalBytes;
    return Unzipper(path, destination, options, bytesLeft, 0).run();
}

// ---- writing ----

bool ZAZipArchive::createZipFileAtPath(const fs::path& path, std::span<const fs::path> files) {
    ZAZipArchive zip(path);
    if (!zip.open()) {
        return false;
    }
    for (const auto& file : files) {
        zip.writeFile(file);
    }
    return zip.close();
}

bool ZAZipArchive::createZipFileAtPath(const fs::path& path, const fs::path& folder,
                                       bool keepParentDirectory) {
    ZAZipArchive zip(path);
    if (!zip.open()) {
        return false;
    }
    const fs::path prefix = keepParentDirectory ? folder.filename() : fs::path();
    std::vector<fs::path> found;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec);
         !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        found.push_back(it->path());
    }
    // The walk's order is the file system's; the archive's should not be.
    std::sort(found.begin(), found.end());
    for (const auto& item : found) {
        if (isLink(item)) {
            continue;
        }
        const fs::path relative = item.lexically_relative(folder);
        if (fs::is_regular_file(item, ec)) {
            zip.writeFileAtPath(item, (prefix / relative).generic_string());
        } else if (fs::is_directory(item, ec) && fs::is_empty(item, ec)) {
            // Kept as an empty marker file, without writing one into the folder being read.
            const std::string name = (relative / ".DS_Store").generic_string();
            const FileFacts facts = factsOf(item);
            zip.writeEntry({.name = name,
                            .dosDate = facts.dosDate,
                            .externalAttributes = facts.externalAttributes},
                           {});
        }
    }
    return zip.close();
}

ZAZipArchive::ZAZipArchive(fs::path path) : path_(std::move(path)) {}

bool ZAZipArchive::open() {
    auto created = platform::archive::ZipWriter::create(path_);
    if (!created) {
        LG_ERROR("[ZAZipArchive] Error: %@", created.error().message);
        return false;
    }
    zip_.emplace(std::move(*created));
    return true;
}

bool ZAZipArchive::writeFile(const fs::path& file) {
    return writeFileAtPath(file, std::nullopt);
}

bool ZAZipArchive::writeFileAtPath(const fs::path& file, std::optional<std::string_view> name) {
    if (!zip_) {
        return false;
    }
    File source(std::fopen(file.c_str(), "rb"));
    std::error_code ec;
    if (!source || !fs::is_regular_file(file, ec)) {
        return false;
    }
    const FileFacts facts = factsOf(file);
    const std::string entryName = name ? std::string(*name) : file.filename().string();
    const platform::archive::NewEntry entry{.name = entryName,
                                            .dosDate = facts.dosDate,
                                            .externalAttributes = facts.externalAttributes,
                                            .large = fs::file_size(file, ec) >= kLargeEntry};
    if (!zip_->openEntry(entry)) {
        return false;
    }
    std::vector<std::uint8_t> chunk(kWriteChunk);
    bool ok = true;
    for (;;) {
        const std::size_t count = std::fread(chunk.data(), 1, chunk.size(), source.get());
        if (count > 0 && !zip_->write(std::span(chunk.data(), count))) {
            ok = false;
            break;
        }
        if (count < chunk.size()) {
            ok = std::ferror(source.get()) == 0;
            break;
        }
    }
    return zip_->closeEntry().ok() && ok;
}

bool ZAZipArchive::writeFolderAtPath(const fs::path& folder, std::string_view name) {
    const FileFacts facts = factsOf(folder);
    const std::string entryName = std::string(name) + "/";
    return writeEntry({.name = entryName,
                       .dosDate = facts.dosDate,
                       .externalAttributes = facts.externalAttributes,
                       .level = 0},
                      {});
}

bool ZAZipArchive::writeData(std::span<const std::uint8_t> bytes, std::string_view name) {
    if (bytes.empty()) {
        return false;
    }
    return writeEntry(
        {.name = name,
         .dosDate = platform::archive::dosDateFromTime(platform::archive::Clock::now())},
        bytes);
}

bool ZAZipArchive::writeEntry(const platform::archive::NewEntry& entry,
                              std::span<const std::uint8_t> bytes) {
    if (!zip_ || !zip_->openEntry(entry)) {
        return false;
    }
    const bool written = zip_->write(bytes).ok();
    return zip_->closeEntry().ok() && written;
}

bool ZAZipArchive::close() {
    if (!zip_) {
        return false;
    }
    const bool closed = zip_->close().ok();
    zip_.reset();
    return closed;
}
