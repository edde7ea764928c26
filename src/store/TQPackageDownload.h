#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

class HCHTTPRequestOperation;
namespace platform::net {
class URLLoader;
}

// Brings one watch package into a file. The body goes into a file of its own beside the
// destination while it arrives (named as the atomic writer's temporaries, so the same sweep
// takes what a crash leaves), never past the bound (the size the store put in the URL when it did,
// else kMaxPackageBytes), and takes the destination's place only once it is whole and of that size.
// A package the store names comes only over HTTPS; one the user named may come over plain
// HTTP. The transfer's time is bounded by the package's size. Main loop: the answer comes
// there, once, a cancelled download's too.
class TQPackageDownload : public std::enable_shared_from_this<TQPackageDownload> {
public:
    // The largest package taken, and read back to send to the watch.
    static constexpr std::uint64_t kMaxPackageBytes = std::uint64_t{64} << 20;
    static constexpr double kSilenceTimeout = 60;
    static constexpr const char* kErrorDomain = "TQPackageDownload";
    enum ErrorCode : long { insecureURL = 1, tooLarge = 2, sizeMismatch = 3, notSaved = 4 };

    enum class Source { store, user };
    struct Request {
        std::string url;
        std::filesystem::path destination;
        Source source = Source::store;
        // The anchors the server's chain is judged against; empty: the machine's.
        std::vector<platform::Bytes> anchors = {};
        // The process's when null.
        platform::net::URLLoader* loader = nullptr;
    };
    // Bytes so far and the length the answer announced (-1 unknown).
    using Progress = std::function<void(std::uint64_t received, std::int64_t expected)>;
    // The destination, or why the package is not there.
    using Completion = std::function<void(platform::Result<std::filesystem::path>)>;

    static std::shared_ptr<TQPackageDownload> start(Request request, Progress progress,
                                                    Completion completion);
    ~TQPackageDownload();
    TQPackageDownload(const TQPackageDownload&) = delete;
    TQPackageDownload& operator=(const TQPackageDownload&) = delete;

    void cancel();

    // The size the store gave in the URL ("&bsize=" a number above 0).
    [[nodiscard]] static std::optional<std::uint64_t> announcedSize(std::string_view url);
    // Where the body goes while it arrives: a file of its own, so that downloads to one
    // destination never share it; empty before the download starts and once it ended.
    [[nodiscard]] std::filesystem::path partialPath() const { return partial_; }

private:
    TQPackageDownload(Request request, Progress progress, Completion completion);
    // Why the request is not even sent.
    [[nodiscard]] std::optional<platform::Error> refusal() const;
    void begin();
    void onProgress(std::uint64_t received, std::int64_t expected);
    void onTransferEnd(std::optional<platform::Error> error);
    void end(platform::Result<std::filesystem::path> result);

    const Request request_;
    const std::optional<std::uint64_t> announced_;
    const std::uint64_t bound_;
    Progress progress_;
    Completion completion_;
    std::shared_ptr<HCHTTPRequestOperation> operation_;
    std::filesystem::path partial_;
};
