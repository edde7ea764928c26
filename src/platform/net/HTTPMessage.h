#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace platform::net {

// Header fields in the order they were set; names compare without regard to letter case, as
// HTTP wants, and keep the case they were first given.
class HTTPHeaders {
public:
    using Field = std::pair<std::string, std::string>;

    [[nodiscard]] std::optional<std::string> get(std::string_view name) const;
    [[nodiscard]] bool contains(std::string_view name) const { return get(name).has_value(); }
    // Replaces the value of a field of the same name (any case), else appends.
    void set(std::string_view name, std::string_view value);
    // Appends another field of that name (a response may repeat one).
    void add(std::string_view name, std::string_view value);
    void remove(std::string_view name);
    [[nodiscard]] const std::vector<Field>& fields() const { return fields_; }
    [[nodiscard]] bool empty() const { return fields_.empty(); }

private:
    std::vector<Field> fields_;
};

// A body produced while it is sent. read fills the buffer and gives the count written, 0 at
// the end, or an error; it runs on the network thread.
class BodyStream {
public:
    virtual ~BodyStream() = default;
    virtual Result<std::size_t> read(std::span<std::uint8_t> buffer) = 0;
    // The whole length when known beforehand; otherwise the body goes chunked.
    [[nodiscard]] virtual std::optional<std::int64_t> length() const { return std::nullopt; }
    // Whether the next bytes may be read now. A body that holds them back for a while (a
    // throttled one) answers false and calls `ready` once, from any thread, when they may;
    // its transfer sends nothing meanwhile, and the others go on.
    virtual bool readyToRead(std::function<void()> /*ready*/) { return true; }
};

// A stream over bytes in memory; the usual body of a streamed upload.
class BytesBodyStream final : public BodyStream {
public:
    explicit BytesBodyStream(Bytes bytes, bool announceLength = false)
        : bytes_(std::move(bytes)), announceLength_(announceLength) {}
    Result<std::size_t> read(std::span<std::uint8_t> buffer) override;
    [[nodiscard]] std::optional<std::int64_t> length() const override;

private:
    Bytes bytes_;
    std::size_t offset_ = 0;
    bool announceLength_;
};

// How long a transfer may take in all and how slowly it may go, beside the request's silence
// limit. The defaults add nothing to that limit; callers set them per kind of request.
struct TransferLimits {
    // Seconds from an attempt's start to its last byte (a redirect starts another); 0: none.
    double deadline = 0;
    // Fewer bytes a second than this, on average for floorWindow seconds, fail the transfer
    // as timed out. The window is never longer than the request's timeoutInterval, which is
    // also the window when it is 0.
    std::int64_t floorBytesPerSecond = 1;
    double floorWindow = 0;

    // The speed below which a connection is taken as stuck rather than slow.
    static constexpr std::int64_t kFloorBytesPerSecond = 1024;
    static constexpr double kFloorWindow = 30;
    // The speed a download of known size is given time for, beyond a call's minute.
    static constexpr std::int64_t kExpectedBytesPerSecond = 16 * 1024;

    // A call whose answer is a page or a document: a minute at most.
    [[nodiscard]] static TransferLimits call();
    // A file of about this many bytes: a call's minute and the time they take at the expected
    // speed.
    [[nodiscard]] static TransferLimits download(std::uint64_t bytes);
};

// One request: what goes on the wire and how long the transfer may stay silent.
struct URLRequest {
    std::string url;
    std::string method = "GET";
    HTTPHeaders headers;
    // At most one of the three bodies; a stream is made anew for every attempt (a redirect
    // that keeps the body asks again).
    std::optional<Bytes> body;
    std::optional<std::string> bodyFile;
    std::function<std::unique_ptr<BodyStream>()> bodyStream;
    // Seconds without progress before the transfer fails as timed out (connecting included).
    // One that is no positive number is a minute; any time here is at most a week.
    double timeoutInterval = 60;
    TransferLimits limits;

    [[nodiscard]] bool hasBody() const { return body || bodyFile || bodyStream; }
};

struct URLResponse {
    std::string url;
    int statusCode = 0;
    HTTPHeaders headers;
    // From Content-Type, lower-cased type and subtype; the charset parameter when given.
    std::string mimeType;
    std::string textEncodingName;
    // Content-Length, or -1 when the server did not say.
    std::int64_t expectedContentLength = -1;
};

// A request's time limits as the engine applies them: whole milliseconds and seconds.
struct TransferTimeouts {
    long connectMilliseconds = 0;
    // 0: none.
    long totalMilliseconds = 0;
    long floorBytesPerSecond = 1;
    long floorSeconds = 1;

    friend bool operator==(const TransferTimeouts&, const TransferTimeouts&) = default;
};
[[nodiscard]] TransferTimeouts transferTimeouts(const URLRequest& request);

// Fills mimeType, textEncodingName and expectedContentLength from the header fields.
void deriveContentFields(URLResponse& response);

}  // namespace platform::net
