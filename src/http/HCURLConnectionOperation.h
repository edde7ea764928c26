#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "http/HCError.h"
#include "http/HCSecurityPolicy.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/OutputStream.h"
#include "platform/net/URLLoader.h"

// Posted on NotificationCenter::defaultCenter(), on the main queue, with the operation as
// sender: once its transfer was handed to the network thread, and once it finished (or an
// executing operation was paused).
inline constexpr const char* HCNetworkingOperationDidStartNotification =
    "com.kavo.networking.operation.start";
inline constexpr const char* HCNetworkingOperationDidFinishNotification =
    "com.kavo.networking.operation.finish";

// One URL request run as an asynchronous operation of an OperationQueue (or started directly).
// Every operation's transfer runs on the URL loader's one network thread; the body goes into
// an output stream (in memory unless the caller gives one), progress and notifications reach
// the main queue, and the completion block runs on the completion queue in the completion
// group. Thread-safe: start, cancel, pause, resume and the setters may come from any thread.
//
// start, isReady, isExecuting, isFinished and setCompletionBlock stand in for the base
// operation's: a queue's start and a direct one lead to one transfer, and a paused operation
// keeps its queue slot until it finishes.
class HCURLConnectionOperation : public platform::Operation {
public:
    enum class State : std::int64_t { paused = -1, ready = 1, executing = 2, finished = 3 };

    using ProgressBlock =
        std::function<void(std::uint64_t bytes, std::int64_t totalBytes, std::int64_t expected)>;
    // Judges the server's chain alone when set (network thread).
    using ChallengeBlock =
        std::function<bool(platform::net::ServerTrust& trust, const std::string& host)>;
    // The request to follow, or nothing to take the redirect answer itself (network thread).
    using RedirectBlock = std::function<std::optional<platform::net::URLRequest>(
        const platform::net::URLRequest& proposed, const platform::net::URLResponse& redirect)>;

    // How long a chunk waits for an output stream with no space before the operation fails,
    // on the main run loop's clock; the transfer is paused meanwhile.
    static constexpr std::chrono::milliseconds kDefaultOutputSpaceWait{10'000};
    // How often a stream without space is asked again.
    static constexpr double kOutputSpacePollSeconds = 0.01;

    // The process's loader when none is given; the loader must outlive the operation's start.
    static std::shared_ptr<HCURLConnectionOperation> make(
        platform::net::URLRequest request, platform::net::URLLoader* loader = nullptr);
    ~HCURLConnectionOperation() override;

    void start();
    // Also through a platform::Operation pointer (a queue's cancelAllOperations): the running
    // transfer stops.
    void cancel() override;
    // Virtual so that a subclass's own pause (the HTTP operation's resume range) runs through a
    // pointer to this class too.
    virtual void pause();
    void resume();

    [[nodiscard]] State state() const;
    [[nodiscard]] bool isPaused() const { return state() == State::paused; }
    [[nodiscard]] bool isReady() const { return state() == State::ready; }
    [[nodiscard]] bool isExecuting() const { return state() == State::executing; }
    [[nodiscard]] bool isFinished() const { return state() == State::finished; }

    [[nodiscard]] platform::net::URLRequest request() const;
    void setRequest(platform::net::URLRequest request);
    [[nodiscard]] std::optional<platform::net::URLResponse> response() const;
    // The transfer's failure (the cancelled error -999 included), or the output stream's.
    [[nodiscard]] virtual std::optional<HCError> error() const;
    // The body, when it went to the in-memory stream.
    [[nodiscard]] std::optional<platform::Bytes> responseData() const;
    void setResponseData(std::optional<platform::Bytes> data);
    // The body as text in the response's charset (UTF-8 when it names none or an unknown one).
    [[nodiscard]] std::optional<std::string> responseString() const;
    [[nodiscard]] std::string responseStringEncoding() const;
    // Body bytes received so far, as counted on the main queue.
    [[nodiscard]] std::int64_t totalBytesRead() const { return totalBytesRead_.load(); }

    // The in-memory stream is made on first read when none was set.
    std::shared_ptr<platform::net::OutputStream> outputStream();
    // Closes the current stream when the new one differs; the new one opens at start.
    void setOutputStream(std::shared_ptr<platform::net::OutputStream> stream);
    void setOutputSpaceWait(std::chrono::milliseconds wait);
    // An answer that announces a longer body fails (dataLengthExceedsMaximum) before any of its
    // bytes are written.
    void setMaximumContentLength(std::optional<std::uint64_t> bytes);

    [[nodiscard]] HCSecurityPolicy securityPolicy() const;
    void setSecurityPolicy(HCSecurityPolicy policy);
    // The anchors server chains are judged against; empty: the machine's.
    void setAnchorCertificates(std::vector<platform::Bytes> anchors);
    // Kept for callers that read them back: the engine keeps no credential store.
    bool shouldUseCredentialStorage = true;
    std::optional<std::string> credential;
    platform::Value userInfo;

    // Null: the main queue. The queue must outlive the completion.
    void setCompletionQueue(platform::DispatchQueue* queue);
    [[nodiscard]] platform::DispatchQueue* completionQueue() const;
    // Null: the process-wide operation completion group.
    void setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group);
    [[nodiscard]] std::shared_ptr<platform::DispatchGroup> completionGroup() const;

    // Runs once the operation finished, on the completion queue in the completion group; it
    // is released once the group has run it.
    void setCompletionBlock(std::function<void()> block);
    [[nodiscard]] std::function<void()> completionBlock() const;
    void setUploadProgressBlock(ProgressBlock block);
    void setDownloadProgressBlock(ProgressBlock block);
    void setWillSendRequestForAuthenticationChallengeBlock(ChallengeBlock block);
    void setRedirectResponseBlock(RedirectBlock block);

    // The operations with one more that reports, on the main queue, once every one of them
    // has completed; progress hears each completion. Nothing is started.
    static std::vector<std::shared_ptr<platform::Operation>> batchOfRequestOperations(
        const std::vector<std::shared_ptr<HCURLConnectionOperation>>& operations,
        std::function<void(std::size_t finished, std::size_t total)> progress,
        std::function<void(const std::vector<std::shared_ptr<HCURLConnectionOperation>>&)>
            completion);

    [[nodiscard]] std::string description() const;

protected:
    HCURLConnectionOperation(platform::net::URLRequest request, platform::net::URLLoader* loader);
    // Made of the same request and loader, with the blocks, queue and group of this one.
    void copyInto(HCURLConnectionOperation& copy) const;
    [[nodiscard]] platform::net::URLLoader* loader() const { return loader_; }

    // Guards state and the fields the accessors read; recursive because they call one another.
    mutable std::recursive_mutex lock_;

private:
    class Client;
    friend class Client;

    void main() override;
    void setState(State state);
    void startTransfer();
    void finishCancelled();
    void finish();
    void postNotification(const char* name);
    void dispatchCompletion();

    // Network thread, for the transfer of this generation only.
    void transferReceivedResponse(std::uint64_t generation,
                                  const platform::net::URLResponse& response);
    void transferReceivedData(std::uint64_t generation, std::span<const std::uint8_t> bytes);
    void transferSentBody(std::int64_t sent, std::int64_t total, std::int64_t expected);
    void transferCompleted(std::uint64_t generation,
                           const std::optional<platform::net::URLError>& error);
    void failWithStreamError(std::uint64_t generation, HCError error);
    // Main loop: writes the bytes held while the stream had no space, as far as it has now.
    void writeHeldBytes(std::uint64_t generation);
    // Under streamMutex_: as much of the bytes as the stream takes now, the rest held.
    struct Written {
        std::int64_t count = 0;
        std::optional<HCError> failure;
    };
    Written writeOrHold(std::span<const std::uint8_t> bytes);
    // Under streamMutex_: as much of the bytes as the stream takes now.
    Written writeWhileSpace(std::span<const std::uint8_t> bytes);
    // Returns the operation's hold on itself, for the caller to let go of once its locks are.
    [[nodiscard]] std::shared_ptr<HCURLConnectionOperation> dropHeldBytes();
    void reportBytesRead(std::int64_t count);

    std::shared_ptr<platform::net::URLLoader::Channel> channel_;
    platform::net::URLRequest request_;
    std::optional<platform::net::URLResponse> response_;
    std::optional<HCError> error_;
    std::optional<platform::Bytes> responseData_;
    mutable std::optional<std::string> responseString_;
    mutable std::optional<std::string> responseStringEncoding_;
    State state_ = State::ready;
    // The transfer whose events count; changed under both locks, so either one reads it.
    std::uint64_t generation_ = 0;
    platform::net::URLLoader::TransferId transfer_ = 0;
    std::atomic<std::int64_t> totalBytesRead_{0};

    // Writes to the output stream and reads of its position; never held with lock_ waiting.
    std::mutex streamMutex_;
    std::shared_ptr<platform::net::OutputStream> outputStream_;
    std::chrono::milliseconds outputSpaceWait_ = kDefaultOutputSpaceWait;
    std::optional<std::uint64_t> maximumContentLength_;
    // Body bytes that came while the stream had no space, written before any later ones; the
    // transfer is paused meanwhile, so that the network thread serves the other transfers.
    platform::Bytes held_;
    double heldSince_ = 0;
    std::shared_ptr<platform::Timer> spacePoll_;
    // Keeps the operation alive while bytes are held, whoever else lets go of it.
    std::shared_ptr<HCURLConnectionOperation> heldSelf_;
    // The transfer ended well while bytes were still held: it finishes once they are written.
    bool endHeld_ = false;

    HCSecurityPolicy securityPolicy_;
    std::vector<platform::Bytes> anchors_;
    platform::DispatchQueue* completionQueue_ = nullptr;
    std::shared_ptr<platform::DispatchGroup> completionGroup_;
    std::function<void()> completion_;
    std::shared_ptr<const ProgressBlock> uploadProgress_;
    std::shared_ptr<const ProgressBlock> downloadProgress_;
    std::shared_ptr<const ChallengeBlock> challenge_;
    std::shared_ptr<const RedirectBlock> redirect_;
    platform::net::URLLoader* loader_;
};
