#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "platform/net/HTTPMessage.h"

// One part of a multipart body: its boundary, its header lines and its body, read a piece at
// a time on whichever thread reads the body. A part's body comes from bytes in memory, a
// file read as it is sent, or a stream of the caller's.
class HCHTTPBodyPart {
public:
    using Body = std::variant<std::shared_ptr<const platform::Bytes>, std::filesystem::path,
                              std::shared_ptr<platform::net::BodyStream>>;

    HCHTTPBodyPart() = default;
    HCHTTPBodyPart(const HCHTTPBodyPart&) = delete;
    HCHTTPBodyPart& operator=(const HCHTTPBodyPart&) = delete;

    std::string stringEncoding = "utf-8";
    platform::net::HTTPHeaders headers;
    std::string boundary;
    Body body;
    std::uint64_t bodyContentLength = 0;
    bool hasInitialBoundary = false;
    bool hasFinalBoundary = false;

    // The same headers, body and boundary at the first byte; the boundary flags are not
    // copied (the stream that holds the copy sets them).
    [[nodiscard]] std::unique_ptr<HCHTTPBodyPart> copy() const;

    // Boundary, header lines, body and (for the last part) the final boundary.
    [[nodiscard]] std::uint64_t contentLength() const;
    [[nodiscard]] bool hasBytesAvailable() const;
    // Fills the buffer from where the last read stopped: the count given, or -1 when the
    // body could not be read (streamError() says why). A body that ends before its length
    // is such a failure too: the length went into the request's Content-Length.
    std::int64_t read(std::span<std::uint8_t> buffer);
    [[nodiscard]] const std::optional<platform::Error>& streamError() const { return error_; }
    [[nodiscard]] std::string stringForHeaders() const;

private:
    enum class Phase { encapsulationBoundary = 1, header = 2, body = 3, finalBoundary = 4 };
    enum class BodyStatus { notOpen, open, atEnd, error };

    void transitionToNextPhase();
    [[nodiscard]] std::string boundaryText() const;
    [[nodiscard]] std::string finalBoundaryText() const;
    std::size_t copyText(const std::string& text, std::span<std::uint8_t> buffer);
    std::int64_t readBody(std::span<std::uint8_t> buffer);

    Phase phase_ = Phase::encapsulationBoundary;
    std::uint64_t phaseReadOffset_ = 0;
    std::uint64_t bodyRead_ = 0;
    BodyStatus status_ = BodyStatus::notOpen;
    std::shared_ptr<platform::net::BodyStream> input_;
    std::optional<platform::Error> error_;
};
