#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/OperationQueue.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/ServerTrust.h"
#include "platform/net/URLError.h"
#include "platform/net/URLLoader.h"

namespace platform::net {

class URLSession;
class URLSessionTask;

// Names posted on NotificationCenter::defaultCenter() on the thread that called resume() or
// suspend() when the task's state changes by it. The sender is the task; the object is
// {"taskIdentifier", "taskDescription"}.
inline constexpr const char* kTaskDidResumeNotification = "platform.net.task.resume";
inline constexpr const char* kTaskDidSuspendNotification = "platform.net.task.suspend";

struct URLSessionConfiguration {
    // Set for a background session (kept for those who ask; this engine has no background).
    std::optional<std::string> identifier;
    // The anchors server chains are judged against; empty means the machine's trust store.
    std::vector<Bytes> anchorCertificates;
    // Header fields added to every request that lacks them.
    HTTPHeaders additionalHeaders;
    // Where download tasks write before they hand the file over; empty: the system's temporary
    // folder.
    std::filesystem::path temporaryDirectory;

    static URLSessionConfiguration defaultConfiguration() { return {}; }
};

enum class ChallengeDisposition { useCredential = 0, performDefaultHandling = 1, cancel = 2 };
enum class ResponseDisposition { cancel = 0, allow = 1 };

// What a session tells about its tasks. Every callback runs on the session's delegate queue,
// one at a time, except the server-trust one, which the handshake needs at once: it runs on
// the network thread and must not block.
class URLSessionDelegate {
public:
    virtual ~URLSessionDelegate() = default;

    // Network thread. useCredential goes on, cancel refuses the server, default handling
    // judges the chain for its host against the session's anchors.
    virtual ChallengeDisposition didReceiveServerTrustChallenge(URLSessionTask& /*task*/,
                                                                ServerTrust& /*trust*/,
                                                                const std::string& /*host*/) {
        return ChallengeDisposition::performDefaultHandling;
    }
    virtual void willPerformRedirect(URLSessionTask& /*task*/, const URLResponse& /*response*/,
                                     URLRequest proposed,
                                     std::function<void(std::optional<URLRequest>)> completion) {
        completion(std::move(proposed));
    }
    virtual ResponseDisposition didReceiveResponse(URLSessionTask& /*task*/,
                                                   const URLResponse& /*response*/) {
        return ResponseDisposition::allow;
    }
    // Data and upload tasks: body bytes as they arrive (several network reads may come as one).
    virtual void didReceiveData(URLSessionTask& /*task*/, const Bytes& /*data*/) {}
    // Network thread, when the response of a data or upload task arrives: true has the
    // session gather the whole body and hand it over once, through didReceiveBuffer just
    // before didComplete, instead of piece by piece.
    virtual bool gathersWholeBody(URLSessionTask& /*task*/) { return false; }
    // The same bytes, handed over: a delegate that keeps them swaps the buffer out instead of
    // copying it. The default hands them to didReceiveData.
    virtual void didReceiveBuffer(URLSessionTask& task, Bytes& data) { didReceiveData(task, data); }
    virtual void didSendBodyData(URLSessionTask& /*task*/, std::int64_t /*sent*/,
                                 std::int64_t /*totalSent*/, std::int64_t /*totalExpected*/) {}
    // Download tasks.
    virtual void didWriteData(URLSessionTask& /*task*/, std::int64_t /*written*/,
                              std::int64_t /*totalWritten*/, std::int64_t /*totalExpected*/) {}
    // A download made from resume data, when its answer arrives: where the file goes on from
    // (0 when the server sends the whole body again) and the whole length (-1 unknown).
    virtual void didResumeDownload(URLSessionTask& /*task*/, std::int64_t /*fileOffset*/,
                                   std::int64_t /*expectedTotalBytes*/) {}
    // The file is removed when this returns unless it was moved away.
    virtual void didFinishDownloading(URLSessionTask& /*task*/,
                                      const std::filesystem::path& /*location*/) {}
    virtual void didComplete(URLSessionTask& /*task*/, const std::optional<URLError>& /*error*/) {}
    virtual void didBecomeInvalid(URLSession& /*session*/,
                                  const std::optional<URLError>& /*error*/) {}
    // Network thread, before a task's events are handed over: true when the delegate's
    // callbacks for them only keep books and hand work on. The network thread then runs them
    // itself, as the delegate queue's operation, while that queue has nothing to do, instead of
    // waking a thread for them; they still run one at a time and in order.
    virtual bool takesEventsOnNetworkThread(URLSessionTask& /*task*/) { return false; }
};

// One request run by a session: made suspended, started by resume().
class URLSessionTask : public std::enable_shared_from_this<URLSessionTask> {
public:
    enum class Kind { data, upload, download };
    enum class State { running = 0, suspended = 1, canceling = 2, completed = 3 };

    [[nodiscard]] std::uint64_t taskIdentifier() const { return identifier_; }
    [[nodiscard]] Kind kind() const { return kind_; }
    [[nodiscard]] State state() const;
    [[nodiscard]] const URLRequest& originalRequest() const { return request_; }
    // The request being loaded now (after redirects).
    [[nodiscard]] URLRequest currentRequest() const;
    [[nodiscard]] std::optional<URLResponse> response() const;
    [[nodiscard]] std::optional<URLError> error() const;
    [[nodiscard]] std::string taskDescription() const;
    void setTaskDescription(std::string description);
    [[nodiscard]] std::int64_t countOfBytesExpectedToSend() const;
    [[nodiscard]] std::int64_t countOfBytesSent() const;
    [[nodiscard]] std::int64_t countOfBytesReceived() const;
    [[nodiscard]] std::int64_t countOfBytesExpectedToReceive() const;

    // Thread-safe. resume starts or continues the transfer; suspend holds it; cancel ends it
    // with the cancelled error (-999), also a task never resumed.
    void resume();
    void suspend();
    void cancel();
    // Cancels a download and hands the completion, on the delegate queue before didComplete,
    // the resume data URLSession::downloadTaskWithResumeData goes on from: the URL, the
    // request's fields, the bytes written so far, the file holding them and the validator the
    // server gave (a strong ETag, else Last-Modified). Nothing when there is no such data: not
    // a download, nothing written yet, or no validator. The file stays until the resumed task
    // ends or the session's temporary folder is cleared.
    void cancelByProducingResumeData(std::function<void(std::optional<Bytes>)> completion);

private:
    friend class URLSession;
    struct Client;

    URLSessionTask(std::uint64_t identifier, Kind kind, URLRequest request,
                   std::weak_ptr<URLSession> session);
    void announce(const char* name);
    void cancel(bool keepDownload);
    // What cancelByProducingResumeData hands over for the part kept in file.
    std::optional<Bytes> resumeData(const std::filesystem::path& file) const;

    const std::uint64_t identifier_;
    const Kind kind_;
    const URLRequest request_;
    const std::weak_ptr<URLSession> session_;

    mutable std::mutex mutex_;
    State state_ = State::suspended;
    bool started_ = false;
    URLLoader::TransferId transfer_ = 0;
    URLRequest current_;
    std::optional<URLResponse> response_;
    std::optional<URLError> error_;
    std::string description_;
    std::int64_t expectedToSend_ = -1;
    std::int64_t sent_ = 0;
    std::int64_t received_ = 0;
    std::function<void(std::optional<Bytes>)> resumeDataHandler_;
    // Set for a task made from resume data.
    std::optional<std::filesystem::path> resumeFile_;
    std::int64_t resumeOffset_ = 0;
};

// A set of tasks that share a configuration, a delegate and kept-alive connections, on the
// process's URLLoader. The delegate is held weakly: an owner that goes away takes its
// callbacks with it.
class URLSession : public std::enable_shared_from_this<URLSession> {
public:
    // delegateQueue: where the delegate hears events; null makes a serial queue of the
    // session's own.
    static std::shared_ptr<URLSession> make(URLSessionConfiguration configuration,
                                            std::weak_ptr<URLSessionDelegate> delegate,
                                            std::shared_ptr<OperationQueue> delegateQueue = nullptr,
                                            URLLoader* loader = nullptr);
    ~URLSession();
    URLSession(const URLSession&) = delete;
    URLSession& operator=(const URLSession&) = delete;

    // A new suspended task, or the bad-URL error for a request whose URL does not parse
    // (and the unsupported-URL one for a scheme other than http and https), or an error
    // once the session was invalidated.
    Result<std::shared_ptr<URLSessionTask>> dataTask(URLRequest request);
    Result<std::shared_ptr<URLSessionTask>> uploadTask(URLRequest request, Bytes body);
    Result<std::shared_ptr<URLSessionTask>> uploadTask(URLRequest request,
                                                       const std::filesystem::path& file);
    // The body is the request's stream.
    Result<std::shared_ptr<URLSessionTask>> uploadTaskWithStreamedRequest(URLRequest request);
    Result<std::shared_ptr<URLSessionTask>> downloadTask(URLRequest request);
    // A download that goes on where cancelByProducingResumeData stopped, asking the server for
    // the rest only if the resource is unchanged (Range with If-Range). Resume data that cannot
    // be read, or whose file is not in this session's temporary folder, gives the
    // cannot-decode-raw-data error (-1015); a file that is gone or changed size gives
    // cannot-open-file (-3001), now or when the task starts.
    Result<std::shared_ptr<URLSessionTask>> downloadTaskWithResumeData(const Bytes& resumeData);

    // The tasks not yet completed, by kind, in creation order; answered at once.
    [[nodiscard]] std::vector<std::shared_ptr<URLSessionTask>> tasks() const;

    // No new tasks; the running ones finish (or are cancelled), then the delegate hears
    // didBecomeInvalid and is let go.
    void finishTasksAndInvalidate();
    void invalidateAndCancel();

    [[nodiscard]] const URLSessionConfiguration& configuration() const { return configuration_; }
    [[nodiscard]] const std::shared_ptr<OperationQueue>& delegateQueue() const {
        return delegateQueue_;
    }

private:
    friend class URLSessionTask;

    URLSession(URLSessionConfiguration configuration, std::weak_ptr<URLSessionDelegate> delegate,
               std::shared_ptr<OperationQueue> delegateQueue,
               std::shared_ptr<URLLoader::Channel> loader);
    Result<std::shared_ptr<URLSessionTask>> makeTask(URLSessionTask::Kind kind, URLRequest request);
    void start(URLSessionTask& task);
    [[nodiscard]] std::filesystem::path downloadFolder() const;
    // Runs on the delegate queue with the delegate, when there still is one.
    void deliver(std::function<void(URLSessionDelegate&)> event);
    // The same, or otherwise when the delegate is gone by then. hereWhenIdle runs it on the
    // calling thread when the queue has nothing else to do.
    void deliverOr(std::function<void(URLSessionDelegate&)> event, std::function<void()> otherwise,
                   bool hereWhenIdle = false);
    void taskEnded(URLSessionTask& task);
    void invalidateIfDone();

    const URLSessionConfiguration configuration_;
    const std::weak_ptr<URLSessionDelegate> delegate_;
    const std::shared_ptr<OperationQueue> delegateQueue_;
    // Shared, so that a session kept alive by a late callback never reaches a loader that is gone.
    const std::shared_ptr<URLLoader::Channel> loader_;
    const std::uint64_t connectionGroup_;

    mutable std::mutex mutex_;
    std::map<std::uint64_t, std::shared_ptr<URLSessionTask>> live_;
    std::uint64_t nextIdentifier_ = 1;
    bool invalidated_ = false;
    bool invalidationDelivered_ = false;
};

}  // namespace platform::net
