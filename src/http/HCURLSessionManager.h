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

#include "http/HCError.h"
#include "http/HCSecurityPolicy.h"
#include "http/HCURLResponseSerialization.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Result.h"
#include "platform/net/URLSession.h"

// Notification names. Each is posted on NotificationCenter::defaultCenter() with the task
// (or the session) as sender and {"taskIdentifier", "taskDescription"} as object.
inline constexpr const char* HCNetworkingTaskDidResumeNotification =
    "com.kavo.networking.task.resume";
inline constexpr const char* HCNetworkingTaskDidSuspendNotification =
    "com.kavo.networking.task.suspend";
inline constexpr const char* HCNetworkingTaskDidCompleteNotification =
    "com.kavo.networking.task.complete";
inline constexpr const char* HCURLSessionDidInvalidateNotification =
    "com.kavo.networking.session.invalidate";
inline constexpr const char* HCURLSessionDownloadTaskDidFailToMoveFileNotification =
    "com.kavo.networking.session.download.file-manager-error";

// User-info keys of the task-complete notification.
inline constexpr const char* HCNetworkingTaskDidCompleteResponseSerializerKey =
    "com.kavo.networking.task.complete.responseserializer";
inline constexpr const char* HCNetworkingTaskDidCompleteAssetPathKey =
    "com.kavo.networking.task.complete.assetpath";
inline constexpr const char* HCNetworkingTaskDidCompleteResponseDataKey =
    "com.kavo.networking.complete.finish.responsedata";
inline constexpr const char* HCNetworkingTaskDidCompleteErrorKey =
    "com.kavo.networking.task.complete.error";
inline constexpr const char* HCNetworkingTaskDidCompleteSerializedResponseKey =
    "com.kavo.networking.task.complete.serializedresponse";

// A task's progress: units are bytes. Read from any thread.
struct HCProgress {
    std::atomic<std::int64_t> totalUnitCount{0};
    std::atomic<std::int64_t> completedUnitCount{0};
};

// Owns one URL session, hears all its events on one serial queue and gives each task's
// caller one completion with the response serializer's result. Task creation, progress
// lookup and the task lists may be called from any thread; completions run on the completion
// queue (the main queue when none is set).
class HCURLSessionManager {
public:
    using Task = std::shared_ptr<platform::net::URLSessionTask>;
    using CompletionHandler =
        std::function<void(const std::optional<platform::net::URLResponse>&,
                           const HCResponseObject&, const std::optional<HCError>&)>;
    // (temporary file, response) -> where to move the file, or nothing to leave it.
    using Destination = std::function<std::optional<std::filesystem::path>(
        const std::filesystem::path&, const std::optional<platform::net::URLResponse>&)>;

    // The default configuration when none is given; the process's loader when none is given.
    explicit HCURLSessionManager(
        std::optional<platform::net::URLSessionConfiguration> configuration = std::nullopt,
        platform::net::URLLoader* loader = nullptr);
    // Cancels what still runs; callbacks not yet run are dropped.
    virtual ~HCURLSessionManager();
    HCURLSessionManager(const HCURLSessionManager&) = delete;
    HCURLSessionManager& operator=(const HCURLSessionManager&) = delete;

    [[nodiscard]] const std::shared_ptr<platform::net::URLSession>& session() const;
    // The session's delegate queue: one operation at a time.
    [[nodiscard]] const std::shared_ptr<platform::OperationQueue>& operationQueue() const;

    [[nodiscard]] std::shared_ptr<const HCURLResponseSerialization> responseSerializer() const;
    virtual void setResponseSerializer(
        std::shared_ptr<const HCURLResponseSerialization> serializer);
    [[nodiscard]] HCSecurityPolicy securityPolicy() const;
    void setSecurityPolicy(HCSecurityPolicy policy);
    // Null: the main queue. The queue must outlive the manager's completions.
    void setCompletionQueue(platform::DispatchQueue* queue);
    // Null: one group shared by every manager.
    void setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group);
    bool attemptsToRecreateUploadTasksForBackgroundSessions = false;

    // "%p" of the manager: the description of every task it makes.
    [[nodiscard]] const std::string& taskDescriptionForSessionTasks() const;

    // Task creation: a suspended task, or the reason there is none (nothing is registered then).
    platform::Result<Task> dataTask(platform::net::URLRequest request,
                                    CompletionHandler completion);
    platform::Result<Task> uploadTask(platform::net::URLRequest request,
                                      const std::filesystem::path& file,
                                      std::shared_ptr<HCProgress>* progress,
                                      CompletionHandler completion);
    platform::Result<Task> uploadTask(platform::net::URLRequest request, platform::Bytes body,
                                      std::shared_ptr<HCProgress>* progress,
                                      CompletionHandler completion);
    platform::Result<Task> uploadTaskWithStreamedRequest(platform::net::URLRequest request,
                                                         std::shared_ptr<HCProgress>* progress,
                                                         CompletionHandler completion);
    platform::Result<Task> downloadTask(platform::net::URLRequest request,
                                        std::shared_ptr<HCProgress>* progress,
                                        Destination destination, CompletionHandler completion);
    // Goes on with a download cancelled by URLSessionTask::cancelByProducingResumeData.
    platform::Result<Task> downloadTaskWithResumeData(const platform::Bytes& resumeData,
                                                      std::shared_ptr<HCProgress>* progress,
                                                      Destination destination,
                                                      CompletionHandler completion);

    [[nodiscard]] std::shared_ptr<HCProgress> uploadProgressForTask(const Task& task) const;
    [[nodiscard]] std::shared_ptr<HCProgress> downloadProgressForTask(const Task& task) const;

    // The registered tasks, answered from the manager's own registry.
    [[nodiscard]] std::vector<Task> tasks() const;
    [[nodiscard]] std::vector<Task> dataTasks() const;
    [[nodiscard]] std::vector<Task> uploadTasks() const;
    [[nodiscard]] std::vector<Task> downloadTasks() const;

    // On the main queue, later: cancel everything and invalidate, or let tasks finish first.
    void invalidateSessionCancelingTasks(bool cancelPendingTasks);

    // Blocks that replace a callback's default decision. The trust blocks run on the network
    // thread during the handshake, all others on the operation queue.
    using ChallengeBlock = std::function<platform::net::ChallengeDisposition(
        platform::net::URLSession&, platform::net::ServerTrust&, const std::string& host)>;
    using TaskChallengeBlock = std::function<platform::net::ChallengeDisposition(
        platform::net::URLSession&, platform::net::URLSessionTask&, platform::net::ServerTrust&,
        const std::string& host)>;
    using RedirectBlock = std::function<std::optional<platform::net::URLRequest>(
        platform::net::URLSession&, platform::net::URLSessionTask&,
        const platform::net::URLResponse&, const platform::net::URLRequest&)>;
    using ResponseBlock = std::function<platform::net::ResponseDisposition(
        platform::net::URLSession&, platform::net::URLSessionTask&,
        const platform::net::URLResponse&)>;
    using DataBlock = std::function<void(platform::net::URLSession&, platform::net::URLSessionTask&,
                                         const platform::Bytes&)>;
    using ProgressBlock =
        std::function<void(platform::net::URLSession&, platform::net::URLSessionTask&, std::int64_t,
                           std::int64_t, std::int64_t)>;
    using CompleteBlock = std::function<void(
        platform::net::URLSession&, platform::net::URLSessionTask&, const std::optional<HCError>&)>;
    using InvalidBlock =
        std::function<void(platform::net::URLSession&, const std::optional<HCError>&)>;
    // (session, task, file offset, expected total)
    using ResumeBlock = std::function<void(
        platform::net::URLSession&, platform::net::URLSessionTask&, std::int64_t, std::int64_t)>;
    using FinishDownloadBlock = std::function<std::optional<std::filesystem::path>(
        platform::net::URLSession&, platform::net::URLSessionTask&, const std::filesystem::path&)>;

    void setSessionDidBecomeInvalidBlock(InvalidBlock block);
    void setSessionDidReceiveAuthenticationChallengeBlock(ChallengeBlock block);
    void setTaskDidReceiveAuthenticationChallengeBlock(TaskChallengeBlock block);
    void setTaskWillPerformHTTPRedirectionBlock(RedirectBlock block);
    void setTaskDidSendBodyDataBlock(ProgressBlock block);
    void setTaskDidCompleteBlock(CompleteBlock block);
    void setDataTaskDidReceiveResponseBlock(ResponseBlock block);
    void setDataTaskDidReceiveDataBlock(DataBlock block);
    void setDownloadTaskDidFinishDownloadingBlock(FinishDownloadBlock block);
    void setDownloadTaskDidWriteDataBlock(ProgressBlock block);
    void setDownloadTaskDidResumeBlock(ResumeBlock block);

    // Coding as a property-list dictionary: the session's configuration under
    // "sessionConfiguration". Blocks, serializers, policy and tasks are neither coded nor
    // copied.
    [[nodiscard]] virtual platform::Value encode() const;
    // A manager over the coded configuration (the default one when none was coded).
    static std::unique_ptr<HCURLSessionManager> decode(const platform::Value& coded,
                                                       platform::net::URLLoader* loader = nullptr);
    // A new manager of the same kind over the session's configuration, on the same loader.
    [[nodiscard]] virtual std::unique_ptr<HCURLSessionManager> copy() const;

protected:
    // Where completions run: the completion queue, else the main queue.
    [[nodiscard]] platform::DispatchQueue& completionQueueOrMain() const;
    // The loader given at construction (null: the process's).
    [[nodiscard]] platform::net::URLLoader* loader() const;
    // The identifier, anchors, additional header fields and temporary folder.
    static platform::Value encodeConfiguration(
        const platform::net::URLSessionConfiguration& configuration);
    // Nothing when the value is no coded configuration.
    static std::optional<platform::net::URLSessionConfiguration> decodeConfiguration(
        const platform::Value& coded);

private:
    struct Core;
    std::shared_ptr<Core> core_;
};
