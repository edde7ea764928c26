#include "platform/net/URLSession.h"

#include <algorithm>
#include <system_error>

#include "platform/foundation/HugePages.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/net/URL.h"

namespace platform::net {

namespace {
// What an announced length may reserve at once; a larger body grows past it.
constexpr std::int64_t kMaxReservedBody = std::int64_t{256} << 20;
}  // namespace

// ---- the engine's client of one task ----

struct URLSessionTask::Client final : TransferClient, std::enable_shared_from_this<Client> {
    // onNetworkThread: the engine reports (not a caller ending a task it never started).
    Client(std::weak_ptr<URLSessionTask> task, std::weak_ptr<URLSession> session,
           bool onNetworkThread = true)
        : task_(std::move(task)), session_(std::move(session)), onNetworkThread_(onNetworkThread) {}

    bool judgeServerTrust(ServerTrust& trust, const std::string& host) override {
        const auto task = task_.lock();
        const auto session = session_.lock();
        const auto delegate = session ? session->delegate_.lock() : nullptr;
        ChallengeDisposition disposition = ChallengeDisposition::performDefaultHandling;
        if (task && delegate) {
            disposition = delegate->didReceiveServerTrustChallenge(*task, trust, host);
        }
        switch (disposition) {
            case ChallengeDisposition::useCredential:
                return true;
            case ChallengeDisposition::cancel:
                return false;
            case ChallengeDisposition::performDefaultHandling:
                break;
        }
        return TransferClient::judgeServerTrust(trust, host);
    }

    void willRedirect(const URLResponse& response, URLRequest proposed,
                      std::function<void(std::optional<URLRequest>)> decide) override {
        auto task = task_.lock();
        auto session = session_.lock();
        if (!task || !session) {
            decide(std::move(proposed));
            return;
        }
        // Without a delegate the redirect is followed, as the default callback does.
        auto shared =
            std::make_shared<std::function<void(std::optional<URLRequest>)>>(std::move(decide));
        hold(
            [task, response, proposed, shared](URLSessionDelegate& delegate) mutable {
                delegate.willPerformRedirect(*task, response, std::move(proposed),
                                             [task, shared](std::optional<URLRequest> decision) {
                                                 if (decision) {
                                                     std::lock_guard lock(task->mutex_);
                                                     task->current_ = *decision;
                                                 }
                                                 (*shared)(std::move(decision));
                                             });
            },
            [proposed, shared]() mutable { (*shared)(std::move(proposed)); });
        // The transfer waits for the decision: no reason to wait for the turn's end.
        handOver(*session);
    }

    void didReceiveResponse(const URLResponse& response) override {
        auto task = task_.lock();
        auto session = session_.lock();
        if (!task || !session) {
            return;
        }
        const auto delegate = session->delegate_.lock();
        const bool whole =
            task->kind() != Kind::download && delegate && delegate->gathersWholeBody(*task);
        {
            std::lock_guard lock(mutex_);
            announced_ = response.expectedContentLength;
            wholeBody_ = whole;
        }
        bool resumed = false;
        std::int64_t offset = 0;
        {
            std::lock_guard lock(task->mutex_);
            task->response_ = response;
            resumed = task->resumeFile_.has_value();
            offset = response.statusCode == 206 ? task->resumeOffset_ : 0;
        }
        hold([task, response](URLSessionDelegate& delegate) {
            if (delegate.didReceiveResponse(*task, response) == ResponseDisposition::cancel) {
                task->cancel();
            }
        });
        // The engine refuses any other answer to a resumed download.
        if (resumed && (response.statusCode == 200 || response.statusCode == 206)) {
            const std::int64_t length = response.expectedContentLength;
            const std::int64_t total = length < 0 ? -1 : offset + length;
            hold([task, offset, total](URLSessionDelegate& delegate) {
                delegate.didResumeDownload(*task, offset, total);
            });
        }
    }

    void didReceiveData(std::span<const std::uint8_t> bytes) override {
        auto task = task_.lock();
        auto session = session_.lock();
        if (!task || !session) {
            return;
        }
        bool schedule = false;
        {
            std::lock_guard lock(mutex_);
            // The first buffer is sized for the whole announced body: a delegate that keeps
            // it then gathers the body without growing it.
            if (!sized_ && announced_ > 0) {
                sized_ = true;
                pending_.reserve(
                    static_cast<std::size_t>(std::min<std::int64_t>(announced_, kMaxReservedBody)));
                adviseHugePages(pending_.data(), pending_.capacity());
            }
            pending_.insert(pending_.end(), bytes.begin(), bytes.end());
            schedule = !drainScheduled_ && !wholeBody_;
            drainScheduled_ = drainScheduled_ || schedule;
        }
        {
            std::lock_guard lock(task->mutex_);
            task->received_ += static_cast<std::int64_t>(bytes.size());
        }
        // Reads that arrive while a hand-over waits join it: one delivery per turn of the
        // delegate queue, however small the network's reads.
        if (schedule) {
            auto self = shared_from_this();
            hold([self, task](URLSessionDelegate& delegate) {
                Bytes data;
                {
                    std::lock_guard lock(self->mutex_);
                    data.swap(self->pending_);
                    self->pending_.swap(self->spare_);
                    self->drainScheduled_ = false;
                }
                delegate.didReceiveBuffer(*task, data);
                // Two buffers take turns, so a long body does not allocate afresh per read.
                data.clear();
                std::lock_guard lock(self->mutex_);
                if (self->spare_.capacity() < data.capacity()) {
                    self->spare_.swap(data);
                }
            });
        }
    }

    void didWriteData(std::int64_t written, std::int64_t totalWritten,
                      std::int64_t totalExpected) override {
        auto task = task_.lock();
        auto session = session_.lock();
        if (!task || !session) {
            return;
        }
        {
            std::lock_guard lock(task->mutex_);
            task->received_ = totalWritten;
        }
        hold([task, written, totalWritten, totalExpected](URLSessionDelegate& delegate) {
            delegate.didWriteData(*task, written, totalWritten, totalExpected);
        });
    }

    void didSendBodyData(std::int64_t sent, std::int64_t totalSent,
                         std::int64_t totalExpected) override {
        auto task = task_.lock();
        auto session = session_.lock();
        if (!task || !session) {
            return;
        }
        {
            std::lock_guard lock(task->mutex_);
            task->sent_ = totalSent;
        }
        hold([task, sent, totalSent, totalExpected](URLSessionDelegate& delegate) {
            delegate.didSendBodyData(*task, sent, totalSent, totalExpected);
        });
    }

    void didComplete(const std::optional<URLError>& error,
                     const std::optional<std::filesystem::path>& file) override {
        auto task = task_.lock();
        auto session = session_.lock();
        std::function<void(std::optional<Bytes>)> resumeDataHandler;
        if (task) {
            std::lock_guard lock(task->mutex_);
            task->error_ = error;
            resumeDataHandler = std::move(task->resumeDataHandler_);
        }
        // A body gathered whole goes over once, before the end.
        auto wholeBody = std::make_shared<Bytes>();
        {
            std::lock_guard lock(mutex_);
            if (wholeBody_) {
                wholeBody->swap(pending_);
            }
        }
        // A file beside an error is the part a cancel kept for resuming.
        std::optional<std::filesystem::path> downloadedFile = file;
        std::optional<Bytes> resumeData;
        if (error && file) {
            downloadedFile.reset();
            if (task && resumeDataHandler) {
                resumeData = task->resumeData(*file);
            }
            if (!resumeData) {
                removeFile(file);
            }
        }
        if (!task || !session) {
            removeFile(downloadedFile);
            if (resumeDataHandler) {
                resumeDataHandler(std::move(resumeData));
            }
            return;
        }
        if (resumeDataHandler) {
            const auto hand = [resumeDataHandler = std::move(resumeDataHandler),
                               resumeData =
                                   std::make_shared<std::optional<Bytes>>(std::move(resumeData))] {
                resumeDataHandler(std::move(*resumeData));
            };
            hold([hand](URLSessionDelegate&) { hand(); }, hand);
        }
        // The queue belongs to the session: what waits on it holds the session weakly.
        const std::weak_ptr<URLSession> weakSession = session;
        const auto ended = [task, weakSession] {
            {
                std::lock_guard lock(task->mutex_);
                task->state_ = State::completed;
            }
            if (const auto owner = weakSession.lock()) {
                owner->taskEnded(*task);
            }
        };
        hold(
            [task, error, downloadedFile, ended, wholeBody](URLSessionDelegate& delegate) {
                if (!wholeBody->empty()) {
                    delegate.didReceiveBuffer(*task, *wholeBody);
                }
                if (downloadedFile) {
                    delegate.didFinishDownloading(*task, *downloadedFile);
                    removeFile(downloadedFile);
                }
                {
                    std::lock_guard lock(task->mutex_);
                    task->state_ = State::completed;
                }
                delegate.didComplete(*task, error);
                ended();
            },
            [downloadedFile, ended] {
                removeFile(downloadedFile);
                ended();
            });
        handOver(*session);
    }

    static void removeFile(const std::optional<std::filesystem::path>& file) {
        if (file) {
            std::error_code ignored;
            std::filesystem::remove(*file, ignored);
        }
    }

    // The task's events wait here in order; one turn of the delegate queue runs all that
    // arrived by then, so a small answer (response, body, end) is one hand-over, not three.
    // Those of the network thread are handed over at the end of its turn or at the task's end.
    void hold(std::function<void(URLSessionDelegate&)> event,
              std::function<void()> otherwise = {}) {
        std::lock_guard lock(mutex_);
        events_.push_back({std::move(event), std::move(otherwise)});
    }

    void didEndTurn() override {
        if (const auto session = session_.lock()) {
            handOver(*session);
        }
    }

    void handOver(URLSession& session) {
        {
            std::lock_guard lock(mutex_);
            if (events_.empty() || eventsScheduled_) {
                return;
            }
            eventsScheduled_ = true;
        }
        bool here = false;
        if (onNetworkThread_) {
            const auto task = task_.lock();
            const auto delegate = session.delegate_.lock();
            here = task && delegate && delegate->takesEventsOnNetworkThread(*task);
        }
        auto self = shared_from_this();
        session.deliverOr([self](URLSessionDelegate& delegate) { self->runEvents(&delegate); },
                          [self] { self->runEvents(nullptr); }, here);
    }

    void runEvents(URLSessionDelegate* delegate) {
        std::vector<Event> batch;
        {
            std::lock_guard lock(mutex_);
            batch.swap(events_);
            eventsScheduled_ = false;
        }
        for (Event& event : batch) {
            if (delegate != nullptr) {
                event.withDelegate(*delegate);
            } else if (event.otherwise) {
                event.otherwise();
            }
        }
    }

    struct Event {
        std::function<void(URLSessionDelegate&)> withDelegate;
        std::function<void()> otherwise;
    };

    const std::weak_ptr<URLSessionTask> task_;
    const std::weak_ptr<URLSession> session_;
    const bool onNetworkThread_;
    std::mutex mutex_;
    std::vector<Event> events_;
    bool eventsScheduled_ = false;
    Bytes pending_;
    Bytes spare_;
    // Network thread: the body's announced length, and whether a buffer was sized for it.
    std::int64_t announced_ = -1;
    bool sized_ = false;
    // The delegate asked for the body whole: pending_ gathers it all, delivered at the end.
    bool wholeBody_ = false;
    bool drainScheduled_ = false;
};

// ---- URLSessionTask ----

URLSessionTask::URLSessionTask(std::uint64_t identifier, Kind kind, URLRequest request,
                               std::weak_ptr<URLSession> session)
    : identifier_(identifier),
      kind_(kind),
      request_(std::move(request)),
      session_(std::move(session)),
      current_(request_) {
    if (request_.body) {
        expectedToSend_ = static_cast<std::int64_t>(request_.body->size());
    } else if (request_.bodyFile) {
        std::error_code error;
        const auto size = std::filesystem::file_size(*request_.bodyFile, error);
        expectedToSend_ = error ? -1 : static_cast<std::int64_t>(size);
    } else if (!request_.hasBody()) {
        expectedToSend_ = 0;
    }
}

URLSessionTask::State URLSessionTask::state() const {
    std::lock_guard lock(mutex_);
    return state_;
}

URLRequest URLSessionTask::currentRequest() const {
    std::lock_guard lock(mutex_);
    return current_;
}

std::optional<URLResponse> URLSessionTask::response() const {
    std::lock_guard lock(mutex_);
    return response_;
}

std::optional<URLError> URLSessionTask::error() const {
    std::lock_guard lock(mutex_);
    return error_;
}

std::string URLSessionTask::taskDescription() const {
    std::lock_guard lock(mutex_);
    return description_;
}

void URLSessionTask::setTaskDescription(std::string description) {
    std::lock_guard lock(mutex_);
    description_ = std::move(description);
}

std::int64_t URLSessionTask::countOfBytesExpectedToSend() const {
    std::lock_guard lock(mutex_);
    return expectedToSend_;
}

std::int64_t URLSessionTask::countOfBytesSent() const {
    std::lock_guard lock(mutex_);
    return sent_;
}

std::int64_t URLSessionTask::countOfBytesReceived() const {
    std::lock_guard lock(mutex_);
    return received_;
}

std::int64_t URLSessionTask::countOfBytesExpectedToReceive() const {
    std::lock_guard lock(mutex_);
    return response_ ? response_->expectedContentLength : -1;
}

void URLSessionTask::announce(const char* name) {
    NotificationCenter::defaultCenter().post(name, this,
                                             Value{{"taskIdentifier", Value(identifier_)},
                                                   {"taskDescription", Value(taskDescription())}});
}

void URLSessionTask::resume() {
    const auto session = session_.lock();
    bool start = false;
    bool unpause = false;
    URLLoader::TransferId transfer = 0;
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::suspended) {
            return;
        }
        state_ = State::running;
        start = !started_;
        started_ = true;
        unpause = !start;
        transfer = transfer_;
    }
    if (session && start) {
        session->start(*this);
    } else if (session && unpause) {
        session->loader_->unpause(transfer);
    }
    announce(kTaskDidResumeNotification);
}

void URLSessionTask::suspend() {
    const auto session = session_.lock();
    URLLoader::TransferId transfer = 0;
    {
        std::lock_guard lock(mutex_);
        if (state_ != State::running) {
            return;
        }
        state_ = State::suspended;
        transfer = transfer_;
    }
    if (session && transfer != 0) {
        session->loader_->pause(transfer);
    }
    announce(kTaskDidSuspendNotification);
}

void URLSessionTask::cancel() {
    cancel(false);
}

void URLSessionTask::cancelByProducingResumeData(
    std::function<void(std::optional<Bytes>)> completion) {
    bool ending = false;
    {
        std::lock_guard lock(mutex_);
        ending = state_ == State::canceling || state_ == State::completed;
        if (!ending) {
            resumeDataHandler_ = std::move(completion);
        }
    }
    if (ending) {
        // Already ending: there is nothing to resume.
        completion(std::nullopt);
        return;
    }
    cancel(kind_ == Kind::download);
}

std::optional<Bytes> URLSessionTask::resumeData(const std::filesystem::path& file) const {
    std::error_code error;
    const auto size = std::filesystem::file_size(file, error);
    std::lock_guard lock(mutex_);
    if (error || size == 0 || kind_ != Kind::download || !response_ ||
        (response_->statusCode != 200 && response_->statusCode != 206)) {
        return std::nullopt;
    }
    Dictionary resume;
    const auto etag = response_->headers.get("ETag");
    if (etag && !etag->starts_with("W/")) {
        resume.set("entityTag", Value(*etag));
    } else if (const auto modified = response_->headers.get("Last-Modified")) {
        resume.set("lastModified", Value(*modified));
    } else {
        return std::nullopt;
    }
    Dictionary fields;
    for (const auto& [name, value] : current_.headers.fields()) {
        if (name != "Range" && name != "If-Range") {
            fields.set(name, Value(value));
        }
    }
    resume.set("URL", Value(current_.url));
    resume.set("requestHeaders", Value(std::move(fields)));
    resume.set("bytesReceived", Value(static_cast<std::int64_t>(size)));
    resume.set("temporaryFile", Value(file.string()));
    const auto text = plist::write(Value(std::move(resume)));
    if (!text) {
        return std::nullopt;
    }
    return Bytes(text->begin(), text->end());
}

void URLSessionTask::cancel(bool keepDownload) {
    const auto session = session_.lock();
    bool neverStarted = false;
    URLLoader::TransferId transfer = 0;
    {
        std::lock_guard lock(mutex_);
        if (state_ == State::canceling || state_ == State::completed) {
            return;
        }
        state_ = State::canceling;
        neverStarted = !started_;
        started_ = true;
        transfer = transfer_;
    }
    if (!session) {
        return;
    }
    if (neverStarted) {
        // Nothing on the wire: the end comes through the same road as an engine's would.
        auto client = std::make_shared<Client>(weak_from_this(), session_, false);
        client->didComplete(
            URLError{kURLErrorDomain, urlerror::cancelled, "cancelled", request_.url},
            std::nullopt);
        return;
    }
    if (keepDownload) {
        session->loader_->cancelKeepingDownload(transfer);
    } else {
        session->loader_->cancel(transfer);
    }
}

// ---- URLSession ----

std::shared_ptr<URLSession> URLSession::make(URLSessionConfiguration configuration,
                                             std::weak_ptr<URLSessionDelegate> delegate,
                                             std::shared_ptr<OperationQueue> delegateQueue,
                                             URLLoader* loader) {
    if (!delegateQueue) {
        delegateQueue = std::make_shared<OperationQueue>();
        delegateQueue->setMaxConcurrentOperationCount(1);
    }
    return std::shared_ptr<URLSession>(
        new URLSession(std::move(configuration), std::move(delegate), std::move(delegateQueue),
                       (loader ? *loader : URLLoader::shared()).channel()));
}

URLSession::URLSession(URLSessionConfiguration configuration,
                       std::weak_ptr<URLSessionDelegate> delegate,
                       std::shared_ptr<OperationQueue> delegateQueue,
                       std::shared_ptr<URLLoader::Channel> loader)
    : configuration_(std::move(configuration)),
      delegate_(std::move(delegate)),
      delegateQueue_(std::move(delegateQueue)),
      loader_(std::move(loader)),
      connectionGroup_(loader_->makeConnectionGroup()) {}

URLSession::~URLSession() {
    for (const auto& [identifier, task] : live_) {
        std::lock_guard lock(task->mutex_);
        if (task->transfer_ != 0) {
            loader_->cancel(task->transfer_);
        }
    }
    loader_->releaseConnectionGroup(connectionGroup_);
}

Result<std::shared_ptr<URLSessionTask>> URLSession::makeTask(URLSessionTask::Kind kind,
                                                             URLRequest request) {
    const auto url = URL::parse(request.url);
    if (!url) {
        return Error{kURLErrorDomain, urlerror::badURL, "bad URL: " + request.url};
    }
    const std::string scheme = url->scheme();
    if (scheme != "http" && scheme != "https") {
        return Error{kURLErrorDomain, urlerror::unsupportedURL, "unsupported URL: " + request.url};
    }
    std::lock_guard lock(mutex_);
    if (invalidated_) {
        return Error{kURLErrorDomain, urlerror::cancelled, "the session was invalidated"};
    }
    const std::uint64_t identifier = nextIdentifier_++;
    std::shared_ptr<URLSessionTask> task(
        new URLSessionTask(identifier, kind, std::move(request), weak_from_this()));
    live_.emplace(identifier, task);
    return task;
}

namespace {

// A task that may be suspended for long, or whose body may take long, has no overall
// deadline: the engine's keeps running while a transfer is paused. The floor still ends a
// stuck one.
URLRequest withoutDeadline(URLRequest request) {
    request.limits.deadline = 0;
    return request;
}

}  // namespace

Result<std::shared_ptr<URLSessionTask>> URLSession::dataTask(URLRequest request) {
    return makeTask(URLSessionTask::Kind::data, std::move(request));
}

Result<std::shared_ptr<URLSessionTask>> URLSession::uploadTask(URLRequest request, Bytes body) {
    request.body = std::move(body);
    request.bodyFile.reset();
    request.bodyStream = nullptr;
    return makeTask(URLSessionTask::Kind::upload, std::move(request));
}

Result<std::shared_ptr<URLSessionTask>> URLSession::uploadTask(URLRequest request,
                                                               const std::filesystem::path& file) {
    request.body.reset();
    request.bodyFile = file.string();
    request.bodyStream = nullptr;
    return makeTask(URLSessionTask::Kind::upload, withoutDeadline(std::move(request)));
}

Result<std::shared_ptr<URLSessionTask>> URLSession::uploadTaskWithStreamedRequest(
    URLRequest request) {
    return makeTask(URLSessionTask::Kind::upload, withoutDeadline(std::move(request)));
}

Result<std::shared_ptr<URLSessionTask>> URLSession::downloadTask(URLRequest request) {
    return makeTask(URLSessionTask::Kind::download, withoutDeadline(std::move(request)));
}

Result<std::shared_ptr<URLSessionTask>> URLSession::downloadTaskWithResumeData(
    const Bytes& resumeData) {
    const Error unreadable{kURLErrorDomain, urlerror::cannotDecodeRawData,
                           "the resume data cannot be read"};
    const auto parsed = plist::parse(
        std::string_view(reinterpret_cast<const char*>(resumeData.data()), resumeData.size()));
    if (!parsed || !parsed->isDictionary()) {
        return unreadable;
    }
    const Value& resume = *parsed;
    const std::string* url = resume["URL"].stringIf();
    const std::string* file = resume["temporaryFile"].stringIf();
    const std::int64_t offset =
        resume["bytesReceived"].isNumber() ? resume["bytesReceived"].intValue().value_or(0) : 0;
    const std::string* validator = resume["entityTag"].stringIf();
    if (validator == nullptr) {
        validator = resume["lastModified"].stringIf();
    }
    // Only a file this session's downloads left may be written to again.
    if (url == nullptr || file == nullptr || offset <= 0 || validator == nullptr ||
        validator->empty() || std::filesystem::path(*file).parent_path() != downloadFolder()) {
        return unreadable;
    }
    std::error_code error;
    const auto size = std::filesystem::file_size(*file, error);
    if (error || static_cast<std::int64_t>(size) != offset) {
        return Error{kURLErrorDomain, urlerror::cannotOpenFile,
                     "the partial download is gone or changed"};
    }
    URLRequest request;
    request.url = *url;
    if (const Dictionary* fields = resume["requestHeaders"].dictionaryIf()) {
        for (const auto& [name, value] : *fields) {
            if (const std::string* text = value.stringIf()) {
                request.headers.set(name, *text);
            }
        }
    }
    request.headers.set("Range", "bytes=" + std::to_string(offset) + "-");
    request.headers.set("If-Range", *validator);
    auto made = makeTask(URLSessionTask::Kind::download, std::move(request));
    if (made) {
        URLSessionTask& task = **made;
        std::lock_guard lock(task.mutex_);
        task.resumeFile_ = *file;
        task.resumeOffset_ = offset;
        task.received_ = offset;
    }
    return made;
}

std::filesystem::path URLSession::downloadFolder() const {
    return configuration_.temporaryDirectory.empty() ? std::filesystem::temp_directory_path()
                                                     : configuration_.temporaryDirectory;
}

void URLSession::start(URLSessionTask& task) {
    TransferOptions options;
    options.anchorCertificates = configuration_.anchorCertificates;
    options.connectionGroup = connectionGroup_;
    options.additionalHeaders = configuration_.additionalHeaders;
    if (task.kind() == URLSessionTask::Kind::download) {
        options.downloadFolder = downloadFolder();
    }
    auto client = std::make_shared<URLSessionTask::Client>(task.weak_from_this(), weak_from_this());
    // The identifier is stored before the engine can report, under the task's lock.
    std::lock_guard lock(task.mutex_);
    options.resumeFile = task.resumeFile_;
    options.resumeOffset = task.resumeOffset_;
    task.transfer_ = loader_->start(task.request_, std::move(options), std::move(client));
}

void URLSession::deliver(std::function<void(URLSessionDelegate&)> event) {
    deliverOr(std::move(event), [] {});
}

void URLSession::deliverOr(std::function<void(URLSessionDelegate&)> event,
                           std::function<void()> otherwise, bool hereWhenIdle) {
    auto operation = [delegate = delegate_, event = std::move(event),
                      otherwise = std::move(otherwise)] {
        if (const auto strong = delegate.lock()) {
            event(*strong);
        } else {
            otherwise();
        }
    };
    if (hereWhenIdle) {
        delegateQueue_->addOperationHereWhenIdle(std::move(operation));
    } else {
        delegateQueue_->addOperation(std::move(operation));
    }
}

std::vector<std::shared_ptr<URLSessionTask>> URLSession::tasks() const {
    std::vector<std::shared_ptr<URLSessionTask>> out;
    {
        std::lock_guard lock(mutex_);
        for (const auto& [identifier, task] : live_) {
            out.push_back(task);
        }
    }
    std::stable_sort(out.begin(), out.end(), [](const auto& a, const auto& b) {
        return static_cast<int>(a->kind()) < static_cast<int>(b->kind());
    });
    return out;
}

void URLSession::taskEnded(URLSessionTask& task) {
    {
        std::lock_guard lock(mutex_);
        live_.erase(task.taskIdentifier());
    }
    invalidateIfDone();
}

void URLSession::finishTasksAndInvalidate() {
    {
        std::lock_guard lock(mutex_);
        invalidated_ = true;
    }
    invalidateIfDone();
}

void URLSession::invalidateAndCancel() {
    std::vector<std::shared_ptr<URLSessionTask>> running;
    {
        std::lock_guard lock(mutex_);
        invalidated_ = true;
        for (const auto& [identifier, task] : live_) {
            running.push_back(task);
        }
    }
    for (const auto& task : running) {
        task->cancel();
    }
    invalidateIfDone();
}

void URLSession::invalidateIfDone() {
    {
        std::lock_guard lock(mutex_);
        if (!invalidated_ || !live_.empty() || invalidationDelivered_) {
            return;
        }
        invalidationDelivered_ = true;
    }
    // The queue belongs to the session: what waits on it holds the session weakly.
    const std::weak_ptr<URLSession> weak = weak_from_this();
    deliver([weak](URLSessionDelegate& delegate) {
        if (const auto self = weak.lock()) {
            delegate.didBecomeInvalid(*self, std::nullopt);
        }
    });
}

}  // namespace platform::net
