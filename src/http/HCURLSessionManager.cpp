#include "http/HCURLSessionManager.h"

#include <algorithm>
#include <charconv>
#include <condition_variable>
#include <cstdio>
#include <system_error>

#include "platform/foundation/ContinueHere.h"

using platform::Bytes;
using platform::DispatchQueue;
using platform::Value;
using platform::net::ChallengeDisposition;
using platform::net::ResponseDisposition;
using platform::net::ServerTrust;
using platform::net::URLRequest;
using platform::net::URLResponse;
using platform::net::URLSession;
using platform::net::URLSessionTask;

namespace {

// The group every manager without one of its own completes in.
platform::DispatchGroup& sharedCompletionGroup() {
    static platform::DispatchGroup group;
    return group;
}

Value taskObject(const URLSessionTask& task) {
    return Value{{"taskIdentifier", Value(task.taskIdentifier())},
                 {"taskDescription", Value(task.taskDescription())}};
}

std::int64_t contentLengthOf(const URLRequest& request) {
    const auto header = request.headers.get("Content-Length");
    std::int64_t value = -1;
    if (header) {
        std::from_chars(header->data(), header->data() + header->size(), value);
    }
    return value;
}

// Moves a finished download where its owner wants it.
std::optional<HCError> moveFile(const std::filesystem::path& from,
                                const std::filesystem::path& to) {
    std::error_code error;
    std::filesystem::rename(from, to, error);
    if (error == std::errc::cross_device_link) {
        error.clear();
        std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing,
                                   error);
    }
    if (!error) {
        return std::nullopt;
    }
    HCError failure;
    failure.domain = platform::net::kURLErrorDomain;
    failure.code = platform::net::urlerror::cannotMoveFile;
    failure.localizedDescription =
        "cannot move the downloaded file to " + to.string() + ": " + error.message();
    return failure;
}

struct TaskDelegate {
    HCURLSessionManager::Task task;
    std::shared_ptr<HCProgress> progress = std::make_shared<HCProgress>();
    Bytes mutableData;
    std::optional<std::filesystem::path> downloadFileURL;
    std::optional<HCError> moveError;
    HCURLSessionManager::Destination destination;
    HCURLSessionManager::CompletionHandler completionHandler;
};

}  // namespace

struct HCURLSessionManager::Core final : platform::net::URLSessionDelegate,
                                         std::enable_shared_from_this<Core> {
    std::shared_ptr<URLSession> session;
    platform::net::URLLoader* loader = nullptr;
    std::shared_ptr<platform::OperationQueue> queue;
    std::string description;
    platform::NotificationCenter* center = nullptr;
    // Set when the manager goes: its queue's last callbacks then post nothing more.
    std::atomic<bool> closed{false};
    // Completions between the session's callback and their hand-over to the completion queue.
    // The manager's destruction waits for them: once it returns, nothing of this manager
    // reaches a run loop that its owner may be about to destroy.
    std::mutex inFlightLock;
    std::condition_variable inFlightDone;
    int inFlight = 0;

    // Guards the delegate table, the only state callers' threads share with the queue.
    mutable std::mutex lock;
    std::map<std::uint64_t, std::shared_ptr<TaskDelegate>> delegates;

    mutable std::mutex settingsLock;
    std::shared_ptr<const HCURLResponseSerialization> responseSerializer =
        HCJSONResponseSerializer::serializer();
    HCSecurityPolicy securityPolicy = HCSecurityPolicy::defaultPolicy();
    DispatchQueue* completionQueue = nullptr;
    std::shared_ptr<platform::DispatchGroup> completionGroup;
    InvalidBlock sessionDidBecomeInvalid;
    ChallengeBlock sessionDidReceiveChallenge;
    TaskChallengeBlock taskDidReceiveChallenge;
    RedirectBlock taskWillPerformRedirection;
    ProgressBlock taskDidSendBodyData;
    CompleteBlock taskDidComplete;
    ResponseBlock dataTaskDidReceiveResponse;
    DataBlock dataTaskDidReceiveData;
    FinishDownloadBlock downloadTaskDidFinishDownloading;
    ProgressBlock downloadTaskDidWriteData;
    ResumeBlock downloadTaskDidResume;

    template <typename Member>
    auto read(Member Core::*member) const {
        std::lock_guard guard(settingsLock);
        return this->*member;
    }

    std::shared_ptr<TaskDelegate> delegateFor(const URLSessionTask& task) const {
        std::lock_guard guard(lock);
        const auto found = delegates.find(task.taskIdentifier());
        return found == delegates.end() ? nullptr : found->second;
    }

    std::shared_ptr<TaskDelegate> takeDelegate(const URLSessionTask& task) {
        std::lock_guard guard(lock);
        const auto found = delegates.find(task.taskIdentifier());
        if (found == delegates.end()) {
            return nullptr;
        }
        auto taken = std::move(found->second);
        delegates.erase(found);
        return taken;
    }

    DispatchQueue& completionQueueOrMain() const {
        DispatchQueue* queue = read(&Core::completionQueue);
        return queue != nullptr ? *queue : DispatchQueue::main();
    }

    platform::DispatchGroup& group() const {
        auto made = read(&Core::completionGroup);
        return made ? *made : sharedCompletionGroup();
    }

    // ---- session callbacks ----

    ChallengeDisposition didReceiveServerTrustChallenge(URLSessionTask& task, ServerTrust& trust,
                                                        const std::string& host) override {
        if (const auto block = read(&Core::taskDidReceiveChallenge)) {
            return block(*session, task, trust, host);
        }
        if (const auto block = read(&Core::sessionDidReceiveChallenge)) {
            return block(*session, trust, host);
        }
        return read(&Core::securityPolicy).evaluateServerTrust(trust, host)
                   ? ChallengeDisposition::useCredential
                   : ChallengeDisposition::cancel;
    }

    void willPerformRedirect(URLSessionTask& task, const URLResponse& response, URLRequest proposed,
                             std::function<void(std::optional<URLRequest>)> completion) override {
        if (const auto block = read(&Core::taskWillPerformRedirection)) {
            completion(block(*session, task, response, proposed));
            return;
        }
        completion(std::move(proposed));
    }

    ResponseDisposition didReceiveResponse(URLSessionTask& task,
                                           const URLResponse& response) override {
        if (const auto block = read(&Core::dataTaskDidReceiveResponse)) {
            return block(*session, task, response);
        }
        return ResponseDisposition::allow;
    }

    void didReceiveData(URLSessionTask& task, const Bytes& data) override {
        if (const auto delegate = delegateFor(task)) {
            delegate->mutableData.insert(delegate->mutableData.end(), data.begin(), data.end());
        }
        if (const auto block = read(&Core::dataTaskDidReceiveData)) {
            block(*session, task, data);
        }
    }

    // The callbacks of a data or upload task only keep books and hand the completion on,
    // unless a block of the caller's runs in them; a download moves its file.
    bool takesEventsOnNetworkThread(URLSessionTask& task) override {
        if (task.kind() == URLSessionTask::Kind::download) {
            return false;
        }
        std::lock_guard guard(settingsLock);
        return !taskWillPerformRedirection && !taskDidSendBodyData && !taskDidComplete &&
               !dataTaskDidReceiveResponse && !dataTaskDidReceiveData;
    }

    // Without a block that looks at each piece, nothing needs the body before the end.
    bool gathersWholeBody(URLSessionTask& /*task*/) override {
        return !read(&Core::dataTaskDidReceiveData);
    }

    // The first buffer becomes the gathered body (the session sized it to the announced
    // length); later ones are appended to it.
    void didReceiveBuffer(URLSessionTask& task, Bytes& data) override {
        const auto delegate = delegateFor(task);
        if (!delegate || !delegate->mutableData.empty()) {
            didReceiveData(task, data);
            return;
        }
        delegate->mutableData.swap(data);
        if (const auto block = read(&Core::dataTaskDidReceiveData)) {
            block(*session, task, delegate->mutableData);
        }
    }

    void didSendBodyData(URLSessionTask& task, std::int64_t sent, std::int64_t totalSent,
                         std::int64_t totalExpected) override {
        if (totalExpected < 0) {
            totalExpected = contentLengthOf(task.originalRequest());
        }
        if (const auto delegate = delegateFor(task)) {
            delegate->progress->totalUnitCount = totalExpected;
            delegate->progress->completedUnitCount = totalSent;
        }
        if (const auto block = read(&Core::taskDidSendBodyData)) {
            block(*session, task, sent, totalSent, totalExpected);
        }
    }

    void didWriteData(URLSessionTask& task, std::int64_t written, std::int64_t totalWritten,
                      std::int64_t totalExpected) override {
        if (const auto delegate = delegateFor(task)) {
            delegate->progress->totalUnitCount = totalExpected;
            delegate->progress->completedUnitCount = totalWritten;
        }
        if (const auto block = read(&Core::downloadTaskDidWriteData)) {
            block(*session, task, written, totalWritten, totalExpected);
        }
    }

    void didResumeDownload(URLSessionTask& task, std::int64_t fileOffset,
                           std::int64_t expectedTotalBytes) override {
        if (const auto delegate = delegateFor(task)) {
            delegate->progress->totalUnitCount = expectedTotalBytes;
            delegate->progress->completedUnitCount = fileOffset;
        }
        if (const auto block = read(&Core::downloadTaskDidResume)) {
            block(*session, task, fileOffset, expectedTotalBytes);
        }
    }

    void reportMoveFailure(URLSessionTask& task, TaskDelegate* delegate, const HCError& error) {
        if (delegate != nullptr) {
            delegate->moveError = error;
        }
        if (closed) {
            return;
        }
        center->post(HCURLSessionDownloadTaskDidFailToMoveFileNotification, &task, taskObject(task),
                     error.toValue());
    }

    void didFinishDownloading(URLSessionTask& task,
                              const std::filesystem::path& location) override {
        const auto delegate = delegateFor(task);
        if (const auto block = read(&Core::downloadTaskDidFinishDownloading)) {
            if (const auto destination = block(*session, task, location)) {
                if (delegate) {
                    delegate->downloadFileURL = *destination;
                }
                if (const auto failure = moveFile(location, *destination)) {
                    reportMoveFailure(task, delegate.get(), *failure);
                }
                return;
            }
        }
        if (!delegate) {
            return;
        }
        delegate->downloadFileURL.reset();
        if (!delegate->destination) {
            return;
        }
        delegate->downloadFileURL = delegate->destination(location, task.response());
        if (delegate->downloadFileURL) {
            if (const auto failure = moveFile(location, *delegate->downloadFileURL)) {
                reportMoveFailure(task, delegate.get(), *failure);
            }
        }
    }

    void didComplete(URLSessionTask& task,
                     const std::optional<platform::net::URLError>& error) override {
        const std::optional<HCError> transportError =
            error ? std::optional(HCError::fromURLError(*error)) : std::nullopt;
        const auto block = read(&Core::taskDidComplete);
        // Out of the task list before the completion is handed on: the handler runs on another
        // queue, and whoever it wakes must not find the finished task still listed. The
        // caller's block may let the manager go, which waits for this completion: then it
        // must not wait for this thread.
        if (const auto delegate = takeDelegate(task)) {
            complete(delegate, transportError, !block);
        }
        if (block) {
            block(*session, task, transportError);
        }
    }

    void didBecomeInvalid(URLSession& invalidated,
                          const std::optional<platform::net::URLError>& error) override {
        if (const auto block = read(&Core::sessionDidBecomeInvalid)) {
            block(invalidated, error ? std::optional(HCError::fromURLError(*error)) : std::nullopt);
        }
        {
            std::lock_guard guard(lock);
            delegates.clear();
        }
        if (!closed) {
            center->post(HCURLSessionDidInvalidateNotification, &invalidated);
        }
    }

    // ---- completion of one task ----

    // Counts one completion in flight unless the manager is going.
    bool beginCompletion() {
        std::lock_guard guard(inFlightLock);
        if (closed) {
            return false;
        }
        ++inFlight;
        return true;
    }

    void endCompletion() {
        std::lock_guard guard(inFlightLock);
        if (--inFlight == 0) {
            inFlightDone.notify_all();
        }
    }

    void close() {
        std::unique_lock guard(inFlightLock);
        closed = true;
        inFlightDone.wait(guard, [this] { return inFlight == 0; });
    }

    // mayContinueHere: nothing of the caller's runs on this thread before the delegate queue
    // lets it go.
    void complete(const std::shared_ptr<TaskDelegate>& delegate,
                  const std::optional<HCError>& transportError, bool mayContinueHere) {
        if (!beginCompletion()) {
            return;
        }
        const auto serializer = read(&Core::responseSerializer);
        platform::Dictionary userInfo;
        userInfo.set(HCNetworkingTaskDidCompleteResponseSerializerKey,
                     Value(serializer->className()));
        std::optional<Bytes> body(std::move(delegate->mutableData));
        delegate->mutableData = Bytes{};
        if (delegate->downloadFileURL) {
            userInfo.set(HCNetworkingTaskDidCompleteAssetPathKey,
                         Value(delegate->downloadFileURL->string()));
        }
        const Task task = delegate->task;
        const auto response = task->response();
        DispatchQueue* queue = &completionQueueOrMain();
        platform::DispatchGroup* completionGroup = &group();
        platform::NotificationCenter* notifications = center;
        const auto finish = [this, queue, completionGroup, notifications, task, delegate, response](
                                platform::Dictionary info, Value object,
                                std::optional<HCError> failure) {
            completionGroup->async(*queue, [=] {
                if (delegate->completionHandler) {
                    delegate->completionHandler(response, object, failure);
                }
                DispatchQueue::main().async([=] {
                    notifications->post(HCNetworkingTaskDidCompleteNotification, task.get(),
                                        taskObject(*task), Value(info));
                });
            });
            endCompletion();
        };
        // A download that could not be put where its owner asked is no success.
        const std::optional<HCError> failure =
            transportError ? transportError : delegate->moveError;
        if (failure) {
            if (!delegate->downloadFileURL) {
                userInfo.set(HCNetworkingTaskDidCompleteResponseDataKey, Value(std::move(*body)));
            }
            userInfo.set(HCNetworkingTaskDidCompleteErrorKey, failure->toValue());
            if (delegate->moveError) {
                userInfo.remove(HCNetworkingTaskDidCompleteAssetPathKey);
            }
            finish(std::move(userInfo), Value(), failure);
            return;
        }
        const bool small =
            mayContinueHere && serializer->serializesSmallBodiesQuickly() && smallBody(body);
        auto serialize = [=, userInfo = std::move(userInfo), body = std::move(body)]() mutable {
            std::optional<HCError> serializationError;
            Value object =
                serializer->responseObjectTakingBody(response, body, &serializationError);
            if (!delegate->downloadFileURL) {
                // A serializer that took the body returns it: the notification shares it.
                userInfo.set(HCNetworkingTaskDidCompleteResponseDataKey,
                             body ? Value(std::move(*body)) : object);
            }
            if (delegate->downloadFileURL) {
                object = Value(delegate->downloadFileURL->string());
            }
            if (!object.isNull()) {
                userInfo.set(HCNetworkingTaskDidCompleteSerializedResponseKey, object);
            }
            if (serializationError) {
                userInfo.set(HCNetworkingTaskDidCompleteErrorKey, serializationError->toValue());
            }
            finish(std::move(userInfo), std::move(object), std::move(serializationError));
        };
        // A small answer that serializes quickly is serialized by the thread that leaves the
        // delegate queue next, on the processing queue all the same: cheaper than waking
        // another thread for it.
        if (small) {
            platform::ContinueHereScope::async(DispatchQueue::global(), std::move(serialize));
        } else {
            DispatchQueue::global().async(std::move(serialize));
        }
    }

    static bool smallBody(const std::optional<Bytes>& body) {
        constexpr std::size_t kSmallBody = 16 * 1024;
        return !body || body->size() <= kSmallBody;
    }

    // ---- registration ----

    platform::Result<Task> registerTask(platform::Result<Task> made, CompletionHandler completion,
                                        std::shared_ptr<HCProgress>* progress,
                                        Destination destination) {
        if (!made) {
            return made;
        }
        const Task& task = *made;
        auto delegate = std::make_shared<TaskDelegate>();
        delegate->task = task;
        delegate->completionHandler = std::move(completion);
        if (task->kind() == URLSessionTask::Kind::upload) {
            std::int64_t expected = task->countOfBytesExpectedToSend();
            if (expected < 0) {
                expected = contentLengthOf(task->originalRequest());
            }
            delegate->progress->totalUnitCount = expected;
        }
        delegate->destination = std::move(destination);
        if (progress != nullptr) {
            *progress = delegate->progress;
        }
        task->setTaskDescription(description);
        std::lock_guard guard(lock);
        delegates[task->taskIdentifier()] = std::move(delegate);
        return made;
    }

    std::vector<Task> tasksOf(std::optional<URLSessionTask::Kind> kind) const {
        std::vector<Task> out;
        std::lock_guard guard(lock);
        for (const auto& [identifier, delegate] : delegates) {
            if (!kind || delegate->task->kind() == *kind) {
                out.push_back(delegate->task);
            }
        }
        std::stable_sort(out.begin(), out.end(), [](const Task& a, const Task& b) {
            return static_cast<int>(a->kind()) < static_cast<int>(b->kind());
        });
        return out;
    }
};

HCURLSessionManager::HCURLSessionManager(
    std::optional<platform::net::URLSessionConfiguration> configuration,
    platform::net::URLLoader* loader)
    : core_(std::make_shared<Core>()) {
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    core_->description = address;
    core_->center = &platform::NotificationCenter::defaultCenter();
    core_->loader = loader;
    core_->queue = std::make_shared<platform::OperationQueue>();
    core_->queue->setMaxConcurrentOperationCount(1);
    core_->session = URLSession::make(
        configuration.value_or(platform::net::URLSessionConfiguration::defaultConfiguration()),
        core_, core_->queue, loader);
    // Every task's resume and suspend is announced; this manager re-posts those of its own.
    const std::weak_ptr<Core> weak = core_;
    for (const auto& [internal, external] : {std::pair{platform::net::kTaskDidResumeNotification,
                                                       HCNetworkingTaskDidResumeNotification},
                                             std::pair{platform::net::kTaskDidSuspendNotification,
                                                       HCNetworkingTaskDidSuspendNotification}}) {
        const char* name = external;
        core_->center->addObserver(
            internal,
            [weak, name](const platform::Notification& notification) {
                const auto core = weak.lock();
                if (!core ||
                    notification.object["taskDescription"].stringValue() != core->description) {
                    return;
                }
                platform::NotificationCenter* center = core->center;
                DispatchQueue::main().async([center, name, notification] {
                    center->post(name, notification.sender, notification.object);
                });
            },
            core_.get());
    }
}

HCURLSessionManager::~HCURLSessionManager() {
    core_->close();
    core_->center->removeAll(core_.get());
    core_->session->invalidateAndCancel();
}

const std::shared_ptr<URLSession>& HCURLSessionManager::session() const {
    return core_->session;
}

const std::shared_ptr<platform::OperationQueue>& HCURLSessionManager::operationQueue() const {
    return core_->queue;
}

std::shared_ptr<const HCURLResponseSerialization> HCURLSessionManager::responseSerializer() const {
    return core_->read(&Core::responseSerializer);
}

void HCURLSessionManager::setResponseSerializer(
    std::shared_ptr<const HCURLResponseSerialization> serializer) {
    std::lock_guard guard(core_->settingsLock);
    core_->responseSerializer = std::move(serializer);
}

HCSecurityPolicy HCURLSessionManager::securityPolicy() const {
    return core_->read(&Core::securityPolicy);
}

void HCURLSessionManager::setSecurityPolicy(HCSecurityPolicy policy) {
    std::lock_guard guard(core_->settingsLock);
    core_->securityPolicy = std::move(policy);
}

void HCURLSessionManager::setCompletionQueue(DispatchQueue* queue) {
    std::lock_guard guard(core_->settingsLock);
    core_->completionQueue = queue;
}

void HCURLSessionManager::setCompletionGroup(std::shared_ptr<platform::DispatchGroup> group) {
    std::lock_guard guard(core_->settingsLock);
    core_->completionGroup = std::move(group);
}

DispatchQueue& HCURLSessionManager::completionQueueOrMain() const {
    return core_->completionQueueOrMain();
}

const std::string& HCURLSessionManager::taskDescriptionForSessionTasks() const {
    return core_->description;
}

platform::Result<HCURLSessionManager::Task> HCURLSessionManager::dataTask(
    URLRequest request, CompletionHandler completion) {
    return core_->registerTask(core_->session->dataTask(std::move(request)), std::move(completion),
                               nullptr, nullptr);
}

platform::Result<HCURLSessionManager::Task> HCURLSessionManager::uploadTask(
    URLRequest request, const std::filesystem::path& file, std::shared_ptr<HCProgress>* progress,
    CompletionHandler completion) {
    auto made = core_->session->uploadTask(request, file);
    // A background session may give no task at first; ask again a few times.
    for (int attempt = 0; !made && attemptsToRecreateUploadTasksForBackgroundSessions &&
                          core_->session->configuration().identifier && attempt < 3;
         ++attempt) {
        made = core_->session->uploadTask(request, file);
    }
    return core_->registerTask(std::move(made), std::move(completion), progress, nullptr);
}

platform::Result<HCURLSessionManager::Task> HCURLSessionManager::uploadTask(
    URLRequest request, Bytes body, std::shared_ptr<HCProgress>* progress,
    CompletionHandler completion) {
    return core_->registerTask(core_->session->uploadTask(std::move(request), std::move(body)),
                               std::move(completion), progress, nullptr);
}

platform::Result<HCURLSessionManager::Task> HCURLSessionManager::uploadTaskWithStreamedRequest(
    URLRequest request, std::shared_ptr<HCProgress>* progress, CompletionHandler completion) {
    return core_->registerTask(core_->session->uploadTaskWithStreamedRequest(std::move(request)),
                               std::move(completion), progress, nullptr);
}

platform::Result<HCURLSessionManager::Task> HCURLSessionManager::downloadTask(
    URLRequest request, std::shared_ptr<HCProgress>* progress, Destination destination,
    CompletionHandler completion) {
    return core_->registerTask(core_->session->downloadTask(std::move(request)),
                               std::move(completion), progress, std::move(destination));
}

platform::Result<HCURLSessionManager::Task> HCURLSessionManager::downloadTaskWithResumeData(
    const Bytes& resumeData, std::shared_ptr<HCProgress>* progress, Destination destination,
    CompletionHandler completion) {
    return core_->registerTask(core_->session->downloadTaskWithResumeData(resumeData),
                               std::move(completion), progress, std::move(destination));
}

std::shared_ptr<HCProgress> HCURLSessionManager::uploadProgressForTask(const Task& task) const {
    const auto delegate = task ? core_->delegateFor(*task) : nullptr;
    return delegate ? delegate->progress : nullptr;
}

std::shared_ptr<HCProgress> HCURLSessionManager::downloadProgressForTask(const Task& task) const {
    return uploadProgressForTask(task);
}

platform::net::URLLoader* HCURLSessionManager::loader() const {
    return core_->loader;
}

Value HCURLSessionManager::encodeConfiguration(
    const platform::net::URLSessionConfiguration& configuration) {
    platform::Array anchors;
    for (const Bytes& anchor : configuration.anchorCertificates) {
        anchors.push_back(Value(anchor));
    }
    platform::Dictionary fields;
    for (const auto& [name, value] : configuration.additionalHeaders.fields()) {
        fields.set(name, Value(value));
    }
    Value coded{{"anchorCertificates", Value(std::move(anchors))},
                {"HTTPAdditionalHeaders", Value(std::move(fields))},
                {"temporaryDirectory", Value(configuration.temporaryDirectory.string())}};
    if (configuration.identifier) {
        coded["identifier"] = Value(*configuration.identifier);
    }
    return coded;
}

std::optional<platform::net::URLSessionConfiguration> HCURLSessionManager::decodeConfiguration(
    const Value& coded) {
    if (!coded.isDictionary()) {
        return std::nullopt;
    }
    platform::net::URLSessionConfiguration configuration;
    if (const std::string* identifier = coded["identifier"].stringIf()) {
        configuration.identifier = *identifier;
    }
    if (const platform::Array* anchors = coded["anchorCertificates"].arrayIf()) {
        for (const Value& anchor : *anchors) {
            if (const Bytes* der = anchor.bytesIf()) {
                configuration.anchorCertificates.push_back(*der);
            }
        }
    }
    if (const platform::Dictionary* fields = coded["HTTPAdditionalHeaders"].dictionaryIf()) {
        for (const auto& [name, value] : *fields) {
            if (const std::string* text = value.stringIf()) {
                configuration.additionalHeaders.set(name, *text);
            }
        }
    }
    if (const std::string* folder = coded["temporaryDirectory"].stringIf()) {
        configuration.temporaryDirectory = *folder;
    }
    return configuration;
}

Value HCURLSessionManager::encode() const {
    return Value{{"sessionConfiguration", encodeConfiguration(session()->configuration())}};
}

std::unique_ptr<HCURLSessionManager> HCURLSessionManager::decode(const Value& coded,
                                                                 platform::net::URLLoader* loader) {
    return std::make_unique<HCURLSessionManager>(decodeConfiguration(coded["sessionConfiguration"]),
                                                 loader);
}

std::unique_ptr<HCURLSessionManager> HCURLSessionManager::copy() const {
    return std::make_unique<HCURLSessionManager>(session()->configuration(), core_->loader);
}

std::vector<HCURLSessionManager::Task> HCURLSessionManager::tasks() const {
    return core_->tasksOf(std::nullopt);
}
std::vector<HCURLSessionManager::Task> HCURLSessionManager::dataTasks() const {
    return core_->tasksOf(URLSessionTask::Kind::data);
}
std::vector<HCURLSessionManager::Task> HCURLSessionManager::uploadTasks() const {
    return core_->tasksOf(URLSessionTask::Kind::upload);
}
std::vector<HCURLSessionManager::Task> HCURLSessionManager::downloadTasks() const {
    return core_->tasksOf(URLSessionTask::Kind::download);
}

void HCURLSessionManager::invalidateSessionCancelingTasks(bool cancelPendingTasks) {
    const auto session = core_->session;
    DispatchQueue::main().async([session, cancelPendingTasks] {
        if (cancelPendingTasks) {
            session->invalidateAndCancel();
        } else {
            session->finishTasksAndInvalidate();
        }
    });
}

#define HC_SETTER(Setter, Type, Member)             \
    void HCURLSessionManager::Setter(Type block) {  \
        std::lock_guard guard(core_->settingsLock); \
        core_->Member = std::move(block);           \
    }

HC_SETTER(setSessionDidBecomeInvalidBlock, InvalidBlock, sessionDidBecomeInvalid)
HC_SETTER(setSessionDidReceiveAuthenticationChallengeBlock, ChallengeBlock,
          sessionDidReceiveChallenge)
HC_SETTER(setTaskDidReceiveAuthenticationChallengeBlock, TaskChallengeBlock,
          taskDidReceiveChallenge)
HC_SETTER(setTaskWillPerformHTTPRedirectionBlock, RedirectBlock, taskWillPerformRedirection)
HC_SETTER(setTaskDidSendBodyDataBlock, ProgressBlock, taskDidSendBodyData)
HC_SETTER(setTaskDidCompleteBlock, CompleteBlock, taskDidComplete)
HC_SETTER(setDataTaskDidReceiveResponseBlock, ResponseBlock, dataTaskDidReceiveResponse)
HC_SETTER(setDataTaskDidReceiveDataBlock, DataBlock, dataTaskDidReceiveData)
HC_SETTER(setDownloadTaskDidFinishDownloadingBlock, FinishDownloadBlock,
          downloadTaskDidFinishDownloading)
HC_SETTER(setDownloadTaskDidWriteDataBlock, ProgressBlock, downloadTaskDidWriteData)
HC_SETTER(setDownloadTaskDidResumeBlock, ResumeBlock, downloadTaskDidResume)

#undef HC_SETTER
