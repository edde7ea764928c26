#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "http/HCHTTPBodyPart.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/HTTPMessage.h"

// The body of a multipart request, produced part by part while it is sent; nothing is read
// before the transfer asks for it. Read by one thread at a time (the network thread).
class HCMultipartBodyStream final : public platform::net::BodyStream {
public:
    enum class Status { notOpen, open, closed };

    explicit HCMultipartBodyStream(std::string stringEncoding = "utf-8");

    // Throttling: a read stops starting part reads once it has this many bytes, and each part
    // read owes a pause of `delay` seconds when above 0. The pause is taken before the next
    // read without holding the reading thread: readyToRead holds the body back that long.
    std::uint64_t numberOfBytesInPacket = std::numeric_limits<std::int64_t>::max();
    double delay = 0;
    // The loop whose clock times the pauses; null: the main loop.
    platform::RunLoop* timerLoop = nullptr;

    void appendHTTPBodyPart(std::unique_ptr<HCHTTPBodyPart> part);
    // The first part opens the body and the last one closes it.
    void setInitialAndFinalBoundaries();
    [[nodiscard]] bool isEmpty() const { return parts_.empty(); }
    [[nodiscard]] std::uint64_t contentLength() const;
    [[nodiscard]] const std::vector<std::unique_ptr<HCHTTPBodyPart>>& HTTPBodyParts() const {
        return parts_;
    }

    void open();
    void close();
    [[nodiscard]] Status streamStatus() const { return status_; }
    [[nodiscard]] bool hasBytesAvailable() const { return status_ == Status::open; }
    // The count read, 0 at the end of the body (or once closed), or -1 when a part could not
    // be read: streamError() then holds that part's error.
    std::int64_t read(std::uint8_t* buffer, std::size_t length);
    [[nodiscard]] const std::optional<platform::Error>& streamError() const { return error_; }

    // As a request body: opened on the first read; a failed part is an error, never an end.
    platform::Result<std::size_t> read(std::span<std::uint8_t> buffer) override;
    [[nodiscard]] std::optional<std::int64_t> length() const override;
    // False while a pause is owed: `ready` runs once it has passed.
    bool readyToRead(std::function<void()> ready) override;
    // The pause the reads so far owe, in seconds.
    [[nodiscard]] double owedPause() const { return owedPause_; }

    HCMultipartBodyStream(const HCMultipartBodyStream&) = delete;
    HCMultipartBodyStream& operator=(const HCMultipartBodyStream&) = delete;
    ~HCMultipartBodyStream() override;

    // A new stream over copies of the parts, from the first byte.
    [[nodiscard]] std::unique_ptr<HCMultipartBodyStream> copy() const;

private:
    std::string stringEncoding_;
    std::vector<std::unique_ptr<HCHTTPBodyPart>> parts_;
    std::size_t next_ = 0;
    HCHTTPBodyPart* current_ = nullptr;
    Status status_ = Status::notOpen;
    std::optional<platform::Error> error_;
    double owedPause_ = 0;
    std::shared_ptr<platform::Timer> pauseTimer_;
};
