#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/net/URLError.h"

namespace platform::net {

// Where a transfer's body bytes go while they arrive. Written by one thread at a time; the
// owner serialises writes with reads of the position.
class OutputStream {
public:
    enum class Status { notOpen, open, closed, error };

    virtual ~OutputStream() = default;
    // Opening an open stream does nothing.
    virtual void open() = 0;
    virtual void close() = 0;
    [[nodiscard]] virtual bool hasSpaceAvailable() const = 0;
    // Writes some of the bytes and gives their count, or -1 with streamError() set.
    virtual std::int64_t write(std::span<const std::uint8_t> bytes) = 0;

    [[nodiscard]] Status status() const { return status_; }
    [[nodiscard]] const std::optional<Error>& streamError() const { return error_; }
    // The bytes an in-memory stream holds; nothing for other streams.
    [[nodiscard]] virtual const Bytes* dataWrittenToMemory() const { return nullptr; }
    // Where the next byte of a file stream goes; nothing for other streams.
    [[nodiscard]] virtual std::optional<std::uint64_t> fileCurrentOffset() const {
        return std::nullopt;
    }

protected:
    void setStatus(Status status) { status_ = status; }
    // -1 for a write to a stream that is not open (and an error once, when it had none).
    std::int64_t refuseWrite() {
        return status_ == Status::error ? -1
                                        : fail(Error{kURLErrorDomain, urlerror::cannotWriteToFile,
                                                     "the stream is not open"});
    }
    std::int64_t fail(Error error) {
        error_ = std::move(error);
        status_ = Status::error;
        return -1;
    }

private:
    Status status_ = Status::notOpen;
    std::optional<Error> error_;
};

// Gathers the body in memory; it always has space.
class MemoryOutputStream final : public OutputStream {
public:
    void open() override;
    void close() override;
    [[nodiscard]] bool hasSpaceAvailable() const override { return status() == Status::open; }
    std::int64_t write(std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] const Bytes* dataWrittenToMemory() const override { return &data_; }

private:
    Bytes data_;
};

// Writes the body into a file, replacing it unless appending. With a bound, a write that would
// take the file past it fails (dataLengthExceedsMaximum) and writes nothing.
class FileOutputStream final : public OutputStream {
public:
    FileOutputStream(std::filesystem::path path, bool append,
                     std::optional<std::uint64_t> maxBytes = std::nullopt);
    ~FileOutputStream() override;
    FileOutputStream(const FileOutputStream&) = delete;
    FileOutputStream& operator=(const FileOutputStream&) = delete;

    void open() override;
    void close() override;
    [[nodiscard]] bool hasSpaceAvailable() const override { return status() == Status::open; }
    std::int64_t write(std::span<const std::uint8_t> bytes) override;
    [[nodiscard]] std::optional<std::uint64_t> fileCurrentOffset() const override;

private:
    std::filesystem::path path_;
    bool append_;
    std::optional<std::uint64_t> maxBytes_;
    int fd_ = -1;
    std::uint64_t offset_ = 0;
};

}  // namespace platform::net
