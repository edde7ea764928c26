#include "platform/archive/Zip.h"

#include <unzip.h>
#include <zip.h>

#include <algorithm>
#include <climits>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

namespace platform::archive {

namespace {

Error failure(ErrorCode code, std::string message, int status) {
    return Error{kErrorDomain, code,
                 std::move(message) + " (minizip " + std::to_string(status) + ")"};
}

// minizip takes its lengths as unsigned int.
unsigned chunkLength(std::size_t size) {
    return static_cast<unsigned>(std::min<std::size_t>(size, UINT_MAX));
}

}  // namespace

// ---- reading ----

struct ZipReader::Handle {
    unzFile file = nullptr;
    bool entryOpen = false;
    ~Handle() {
        if (entryOpen) {
            unzCloseCurrentFile(file);
        }
        if (file != nullptr) {
            unzClose(file);
        }
    }
};

ZipReader::ZipReader(std::unique_ptr<Handle> handle, ArchiveInfo info)
    : handle_(std::move(handle)), info_(info) {}
ZipReader::ZipReader(ZipReader&&) noexcept = default;
ZipReader& ZipReader::operator=(ZipReader&&) noexcept = default;
ZipReader::~ZipReader() = default;

Result<ZipReader> ZipReader::open(const std::filesystem::path& path) {
    auto handle = std::make_unique<Handle>();
    handle->file = unzOpen64(path.c_str());
    if (handle->file == nullptr) {
        return Error{kErrorDomain, kOpen, "cannot open " + path.string() + " as a zip archive"};
    }
    unz_global_info64 global{};
    if (const int status = unzGetGlobalInfo64(handle->file, &global); status != UNZ_OK) {
        return failure(kOpen, "cannot read the archive record of " + path.string(), status);
    }
    return ZipReader(std::move(handle), ArchiveInfo{global.number_entry, global.size_comment});
}

Result<void> ZipReader::goToFirstEntry() {
    if (const int status = unzGoToFirstFile(handle_->file); status != UNZ_OK) {
        return failure(kNoEntry, "no first entry", status);
    }
    return {};
}

Result<bool> ZipReader::goToNextEntry() {
    const int status = unzGoToNextFile(handle_->file);
    if (status == UNZ_END_OF_LIST_OF_FILE) {
        return false;
    }
    if (status != UNZ_OK) {
        return failure(kNoEntry, "cannot reach the next entry", status);
    }
    return true;
}

Result<Entry> ZipReader::currentEntry() {
    unz_file_info64 raw{};
    int status = unzGetCurrentFileInfo64(handle_->file, &raw, nullptr, 0, nullptr, 0, nullptr, 0);
    if (status != UNZ_OK) {
        return failure(kEntry, "cannot read an entry's record", status);
    }
    // The name's length is a 16-bit field of the record, so this is bounded.
    std::vector<char> name(raw.size_filename + 1, '\0');
    status = unzGetCurrentFileInfo64(handle_->file, &raw, name.data(),
                                     static_cast<uLong>(name.size()), nullptr, 0, nullptr, 0);
    if (status != UNZ_OK) {
        return failure(kEntry, "cannot read an entry's name", status);
    }
    Entry entry;
    entry.name.assign(name.data(), raw.size_filename);
    EntryInfo& info = entry.info;
    info.version = raw.version;
    info.versionNeeded = raw.version_needed;
    info.flags = raw.flag;
    info.compressionMethod = raw.compression_method;
    info.dosDate = static_cast<std::uint32_t>(raw.dosDate);
    info.crc = static_cast<std::uint32_t>(raw.crc);
    info.compressedSize = raw.compressed_size;
    info.uncompressedSize = raw.uncompressed_size;
    info.nameSize = raw.size_filename;
    info.extraSize = raw.size_file_extra;
    info.commentSize = raw.size_file_comment;
    info.diskStart = raw.disk_num_start;
    info.internalAttributes = raw.internal_fa;
    info.externalAttributes = raw.external_fa;
    return entry;
}

Result<void> ZipReader::openEntry(std::string_view password) {
    const std::string secret(password);
    const int status = secret.empty() ? unzOpenCurrentFile(handle_->file)
                                      : unzOpenCurrentFilePassword(handle_->file, secret.c_str());
    if (status != UNZ_OK) {
        return failure(kEntry, "cannot open an entry", status);
    }
    handle_->entryOpen = true;
    return {};
}

Result<std::size_t> ZipReader::read(std::span<std::uint8_t> buffer) {
    const int count = unzReadCurrentFile(handle_->file, buffer.data(), chunkLength(buffer.size()));
    if (count < 0) {
        return failure(kEntry, "cannot read an entry's data", count);
    }
    return static_cast<std::size_t>(count);
}

Result<void> ZipReader::closeEntry() {
    if (!handle_->entryOpen) {
        return {};
    }
    handle_->entryOpen = false;
    const int status = unzCloseCurrentFile(handle_->file);
    if (status == UNZ_CRCERROR) {
        return failure(kChecksum, "an entry's data does not match its checksum", status);
    }
    if (status != UNZ_OK) {
        return failure(kEntry, "cannot close an entry", status);
    }
    return {};
}

// ---- writing ----

struct ZipWriter::Handle {
    zipFile file = nullptr;
    bool entryOpen = false;
    ~Handle() {
        if (file != nullptr) {
            if (entryOpen) {
                zipCloseFileInZip(file);
            }
            zipClose(file, nullptr);
        }
    }
};

ZipWriter::ZipWriter(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
ZipWriter::ZipWriter(ZipWriter&&) noexcept = default;
ZipWriter& ZipWriter::operator=(ZipWriter&&) noexcept = default;
ZipWriter::~ZipWriter() = default;

Result<ZipWriter> ZipWriter::create(const std::filesystem::path& path) {
    auto handle = std::make_unique<Handle>();
    handle->file = zipOpen64(path.c_str(), APPEND_STATUS_CREATE);
    if (handle->file == nullptr) {
        return Error{kErrorDomain, kCreate, "cannot create the zip archive " + path.string()};
    }
    return ZipWriter(std::move(handle));
}

Result<void> ZipWriter::openEntry(const NewEntry& entry) {
    if (handle_->file == nullptr) {
        return Error{kErrorDomain, kWrite, "the archive is closed"};
    }
    const std::string name(entry.name);
    if (name.empty() || name.find('\0') != std::string::npos) {
        return Error{kErrorDomain, kWrite, "an entry needs a name without NUL"};
    }
    zip_fileinfo info{};
    info.dosDate = entry.dosDate;
    info.external_fa = entry.externalAttributes;
    const int status =
        zipOpenNewFileInZip64(handle_->file, name.c_str(), &info, nullptr, 0, nullptr, 0, nullptr,
                              entry.method, entry.level, entry.large ? 1 : 0);
    if (status != ZIP_OK) {
        return failure(kWrite, "cannot add the entry " + name, status);
    }
    handle_->entryOpen = true;
    return {};
}

Result<void> ZipWriter::write(std::span<const std::uint8_t> bytes) {
    while (!bytes.empty()) {
        const unsigned length = chunkLength(bytes.size());
        if (const int status = zipWriteInFileInZip(handle_->file, bytes.data(), length);
            status != ZIP_OK) {
            return failure(kWrite, "cannot write an entry's data", status);
        }
        bytes = bytes.subspan(length);
    }
    return {};
}

Result<void> ZipWriter::closeEntry() {
    if (!handle_->entryOpen) {
        return {};
    }
    handle_->entryOpen = false;
    if (const int status = zipCloseFileInZip(handle_->file); status != ZIP_OK) {
        return failure(kWrite, "cannot close an entry", status);
    }
    return {};
}

Result<void> ZipWriter::close() {
    if (handle_->file == nullptr) {
        return {};
    }
    auto entryClosed = closeEntry();
    const int status = zipClose(std::exchange(handle_->file, nullptr), nullptr);
    if (!entryClosed) {
        return entryClosed;
    }
    if (status != ZIP_OK) {
        return failure(kWrite, "cannot write the central directory", status);
    }
    return {};
}

// ---- dates ----

Clock::time_point timeFromDosDate(std::uint32_t dosDate) {
    std::tm fields{};
    fields.tm_year = static_cast<int>((dosDate >> 25) & 0x7F) + 80;
    fields.tm_mon = static_cast<int>((dosDate >> 21) & 0x0F) - 1;
    fields.tm_mday = static_cast<int>((dosDate >> 16) & 0x1F);
    fields.tm_hour = static_cast<int>((dosDate >> 11) & 0x1F);
    fields.tm_min = static_cast<int>((dosDate >> 5) & 0x3F);
    fields.tm_sec = static_cast<int>(dosDate & 0x1F) * 2;
    fields.tm_isdst = -1;
    return Clock::from_time_t(std::mktime(&fields));
}

std::uint32_t dosDateFromTime(Clock::time_point time) {
    const std::time_t seconds = Clock::to_time_t(time);
    std::tm fields{};
    if (localtime_r(&seconds, &fields) == nullptr || fields.tm_year < 80) {
        return (1U << 21) | (1U << 16);  // 1980-01-01 00:00:00
    }
    const auto year = static_cast<std::uint32_t>(std::min(fields.tm_year - 80, 127));
    return year << 25 | static_cast<std::uint32_t>(fields.tm_mon + 1) << 21 |
           static_cast<std::uint32_t>(fields.tm_mday) << 16 |
           static_cast<std::uint32_t>(fields.tm_hour) << 11 |
           static_cast<std::uint32_t>(fields.tm_min) << 5 |
           static_cast<std::uint32_t>(fields.tm_sec / 2);
}

}  // namespace platform::archive
