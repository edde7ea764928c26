#include "utils/DataGZip.h"

#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <optional>
#include <string>
#include <system_error>
#include <utility>

#include "utils/ZlibBuffer.h"
#include "platform/foundation/FileSystem.h"

namespace gzip {

namespace {

using platform::Error;
using platform::Result;

constexpr std::size_t kDeflateGrowth = 1024;
constexpr std::size_t kFileChunk = 4096;

Error zlibError(int status, std::string message) {
    return Error{kErrorDomain, status, std::move(message)};
}

Error fileError(int error, const std::string& what, const std::filesystem::path& path) {
    return Error{platform::fs::kErrorDomain, error,
                 what + " " + path.string() + ": " + std::strerror(error)};
}

std::optional<Error> checkSource(const std::filesystem::path& source) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(source, ec);
    if (ec) {
        return fileError(ec.value(), "cannot read the attributes of", source);
    }
    if (size == 0) {
        return fileError(ENODATA, "nothing to code in", source);
    }
    return std::nullopt;
}

// Opening the destination for writing would empty the source before it is read.
std::optional<Error> sameFile(const std::filesystem::path& source,
                              const std::filesystem::path& destination) {
    std::error_code ec;
    if (std::filesystem::equivalent(source, destination, ec)) {
        return fileError(EINVAL, "cannot code a file onto itself:", source);
    }
    return std::nullopt;
}

Error gzipFileError(gzFile file, const std::string& what, const std::filesystem::path& path) {
    int status = Z_OK;
    const char* text = gzerror(file, &status);
    if (status == Z_ERRNO) {
        return fileError(errno, what, path);
    }
    return zlibError(status, what + " " + path.string() + ": " + text);
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

std::optional<Error> copyIntoGzip(std::FILE* in, gzFile out, const std::filesystem::path& source,
                                  const std::filesystem::path& destination) {
    std::array<char, kFileChunk> chunk;
    for (;;) {
        const std::size_t got = std::fread(chunk.data(), 1, chunk.size(), in);
        if (got > 0 &&
            gzwrite(out, chunk.data(), static_cast<unsigned>(got)) != static_cast<int>(got)) {
            return gzipFileError(out, "cannot write", destination);
        }
        if (got < chunk.size()) {
            if (std::ferror(in) != 0) {
                return fileError(EIO, "cannot read", source);
            }
            return std::nullopt;
        }
    }
}

std::optional<Error> copyOutOfGzip(gzFile in, std::FILE* out, const std::filesystem::path& source,
                                   const std::filesystem::path& destination) {
    std::array<char, kFileChunk> chunk;
    for (;;) {
        const int got = gzread(in, chunk.data(), static_cast<unsigned>(chunk.size()));
        if (got < 0) {
            return gzipFileError(in, "cannot inflate", source);
        }
        const auto length = static_cast<std::size_t>(got);
        if (std::fwrite(chunk.data(), 1, length, out) != length) {
            return fileError(errno, "cannot write", destination);
        }
        // A short read is the end, but an early end of the stream reads short too.
        if (length < chunk.size()) {
            int status = Z_OK;
            gzerror(in, &status);
            if (status != Z_OK) {
                return gzipFileError(in, "cannot inflate", source);
            }
            return std::nullopt;
        }
    }
}

std::optional<Error> finishFile(File file, const std::filesystem::path& path) {
    const bool written = std::fflush(file.get()) == 0 && ::fsync(::fileno(file.get())) == 0;
    const int writeError = errno;
    if (std::fclose(file.release()) != 0 || !written) {
        return fileError(written ? errno : writeError, "cannot write", path);
    }
    return std::nullopt;
}

Result<void> failWithoutDestination(Error error, const std::filesystem::path& destination) {
    std::error_code ignored;
    std::filesystem::remove(destination, ignored);
    return error;
}

}  // namespace

Result<Bytes> compress(std::span<const std::uint8_t> input, int level, int windowBits, int memLevel,
                       int strategy) {
    if (input.empty()) {
        return Bytes();
    }
    if (!zlib_buffer::fits(input.size())) {
        return zlibError(Z_BUF_ERROR, "Error deflating payload");
    }
    z_stream stream{};
    int status = deflateInit2(&stream, level, Z_DEFLATED, windowBits, memLevel, strategy);
    if (status != Z_OK) {
        return zlibError(status, "Failed deflateInit");
    }
    stream.next_in = input.data();
    stream.avail_in = static_cast<uInt>(input.size());
    Bytes out(kDeflateGrowth);
    std::size_t produced = 0;
    do {
        if (produced == out.size() || status == Z_BUF_ERROR) {
            zlib_buffer::grow(out, kDeflateGrowth, out.max_size());
        }
        const uInt room = zlib_buffer::roomAfter(out, produced);
        stream.next_out = out.data() + produced;
        stream.avail_out = room;
        status = deflate(&stream, Z_FINISH);
        produced += room - stream.avail_out;
    } while (status == Z_OK || status == Z_BUF_ERROR);
    deflateEnd(&stream);
    if (status != Z_STREAM_END) {
        return zlibError(status, "Error deflating payload");
    }
    out.resize(produced);
    return out;
}

Result<Bytes> decompress(std::span<const std::uint8_t> input, int windowBits,
                         std::size_t maxOutput) {
    if (input.empty()) {
        return Bytes();
    }
    if (!zlib_buffer::fits(input.size())) {
        return zlibError(Z_BUF_ERROR, "Error inflating payload");
    }
    z_stream stream{};
    stream.next_in = input.data();
    stream.avail_in = static_cast<uInt>(input.size());
    int status = inflateInit2(&stream, windowBits);
    if (status != Z_OK) {
        return zlibError(status, "Failed inflateInit");
    }
    const std::size_t initial = input.size() + input.size() / 2;
    const std::size_t step = std::max<std::size_t>(initial / 2, 1);
    Bytes out(std::min(initial, maxOutput));
    std::size_t produced = 0;
    std::uint8_t nowhere = 0;  // zlib wants a valid pointer even when there is no room
    for (;;) {
        if (produced == out.size()) {
            zlib_buffer::grow(out, step, maxOutput);
        }
        const uInt room = zlib_buffer::roomAfter(out, produced);
        const uInt unread = stream.avail_in;
        stream.next_out = room > 0 ? out.data() + produced : &nowhere;
        stream.avail_out = room;
        status = inflate(&stream, Z_FINISH);
        const uInt made = room - stream.avail_out;
        produced += made;
        if (status != Z_OK && status != Z_BUF_ERROR) {
            break;
        }
        // No progress: the input ended before the stream did, or the bound is reached.
        if (made == 0 && stream.avail_in == unread) {
            status = Z_BUF_ERROR;
            break;
        }
    }
    inflateEnd(&stream);
    if (status != Z_STREAM_END) {
        return zlibError(status, "Error inflating payload");
    }
    out.resize(produced);
    return out;
}

Result<void> compressFile(const std::filesystem::path& source,
                          const std::filesystem::path& destination, int level) {
    if (level < Z_DEFAULT_COMPRESSION || level > Z_BEST_COMPRESSION) {
        return zlibError(Z_STREAM_ERROR, "no compression level " + std::to_string(level));
    }
    if (auto error = checkSource(source)) {
        return *error;
    }
    if (auto error = sameFile(source, destination)) {
        return *error;
    }
    const File in(std::fopen(source.c_str(), "rb"));
    if (!in) {
        return fileError(errno, "cannot open", source);
    }
    const std::string mode =
        level == Z_DEFAULT_COMPRESSION ? std::string("wb") : "wb" + std::to_string(level);
    gzFile out = gzopen(destination.c_str(), mode.c_str());
    if (out == nullptr) {
        return fileError(errno == 0 ? ENOMEM : errno, "cannot create", destination);
    }
    auto error = copyIntoGzip(in.get(), out, source, destination);
    if (const int closed = gzclose(out); !error && closed != Z_OK) {
        error = closed == Z_ERRNO ? fileError(errno, "cannot write", destination)
                                  : zlibError(closed, "cannot finish " + destination.string());
    }
    if (error) {
        return failWithoutDestination(std::move(*error), destination);
    }
    return {};
}

Result<void> decompressFile(const std::filesystem::path& source,
                            const std::filesystem::path& destination) {
    if (auto error = checkSource(source)) {
        return *error;
    }
    if (auto error = sameFile(source, destination)) {
        return *error;
    }
    gzFile in = gzopen(source.c_str(), "rb");
    if (in == nullptr) {
        return fileError(errno == 0 ? ENOMEM : errno, "cannot open", source);
    }
    // Plain files would otherwise be copied through as if they had been inflated.
    if (gzdirect(in) != 0) {
        gzclose(in);
        return zlibError(Z_DATA_ERROR, source.string() + " is not a gzip file");
    }
    // Truncating matters: an older, longer destination must not keep its tail.
    File out(std::fopen(destination.c_str(), "wb"));
    if (!out) {
        const int openError = errno;
        gzclose(in);
        return fileError(openError, "cannot create", destination);
    }
    auto error = copyOutOfGzip(in, out.get(), source, destination);
    if (const int closed = gzclose(in); !error && closed != Z_OK) {
        error = closed == Z_ERRNO ? fileError(errno, "cannot close", source)
                                  : zlibError(closed, "cannot finish " + source.string());
    }
    if (!error) {
        error = finishFile(std::move(out), destination);
    }
    if (error) {
        return failWithoutDestination(std::move(*error), destination);
    }
    return {};
}

}  // namespace gzip
