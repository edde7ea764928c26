#pragma once

#include <cstdint>
#include <filesystem>

#include "platform/net/HTTPMessage.h"

namespace platform::net {

// A file read a piece at a time as a body: it is opened on the first read, and a read that
// fails is an error, never an early end.
class FileBodyStream final : public BodyStream {
public:
    explicit FileBodyStream(std::filesystem::path path);
    ~FileBodyStream() override;
    FileBodyStream(const FileBodyStream&) = delete;
    FileBodyStream& operator=(const FileBodyStream&) = delete;

    Result<std::size_t> read(std::span<std::uint8_t> buffer) override;
    [[nodiscard]] std::optional<std::int64_t> length() const override;

private:
    std::filesystem::path path_;
    int fd_ = -1;
};

}  // namespace platform::net
