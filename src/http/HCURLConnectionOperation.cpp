#include "http/HCURLConnectionOperation.h"

#include <algorithm>
#include <cstdio>

#include "http/HCURLResponseSerialization.h"
#include "platform/foundation/NotificationCenter.h"

using platform::DispatchGroup;
using platform::DispatchQueue;
using platform::net::OutputStream;
using platform::net::URLError;
using platform::net::URLRequest;
using platform::net::URLResponse;

namespace {

using State = HCURLConnectionOperation::State;

platform::DispatchGroup& operationCompletionGroup() {
    static platform::DispatchGroup group;
    return group;
}

const char* keyPathOf(State state) {
    switch (state) {
        case State::paused:
            return "isPaused";
        case State::ready:
            return "isReady";
        case State::executing:
            return "isExecuting";
        case State::finished:
            return "isFinished";
    }
    return "state";
}

bool transitionAllowed(State from, State to, bool cancelled) {
    switch (from) {
        case State::paused:
            return to == State::ready;
        case State::ready:
            return to == State::paused || to == State::executing ||
                   (to == State::finished && cancelled);
        case State::executing:
            return to == State::paused || to == State::finished;
        case State::finished:
            return false;
    }
    return true;
}

HCError outputStreamError(const OutputStream& stream, const char* fallback) {
    if (const auto& error = stream.streamError()) {
        return HCError::fromError(*error);
    }
    return HCError::fromError(platform::Error{
        platform::net::kURLErrorDomain, platform::net::urlerror::cannotWriteToFile, fallback});
}

}  // namespace

// What the engine tells one transfer of an operation; it keeps the operation alive until the
// transfer ended, as a connection keeps its delegate.
class HCURLConnectionOperation::Client final : public platform::net::TransferClient {
public:
    Client(std::shared_ptr<HCURLConnectionOperation> operation, std::uint64_t generation)
        : operation_(std::move(operation)), generation_(generation) {}

    bool judgeServerTrust(platform::net::ServerTrust& trust, const std::string& host) override {
        std::shared_ptr<const ChallengeBlock> block;
        HCSecurityPolicy policy;
        {
            std::lock_guard lock(operation_->lock_);
            block = operation_->challenge_;
            policy = operation_->securityPolicy_;
        }
        if (block) {
            return (*block)(trust, host);
        }
        return policy.evaluateServerTrust(trust, host);
    }

    void willRedirect(const URLResponse& response, URLRequest proposed,
                      std::function<void(std::optional<URLRequest>)> decide) override {
        std::shared_ptr<const RedirectBlock> block;
        {
            std::lock_guard lock(operation_->lock_);
            block = operation_->redirect_;
        }
        decide(block ? (*block)(proposed, response) : std::optional(std::move(proposed)));
    }

    void didReceiveResponse(const URLResponse& response) override {
        operation_->transferReceivedResponse(generation_, response);
    }
    void didReceiveData(std::span<const std::uint8_t> bytes) override {
        operation_->transferReceivedData(generation_, bytes);
    }
    void didSendBodyData(std::int64_t sent, std::int64_t total, std::int64_t expected) override {
        operation_->transferSentBody(sent, total, expected);
    }
    void didComplete(const std::optional<URLError>& error,
                     const std::optional<std::filesystem::path>& /*file*/) override {
        operation_->transferCompleted(generation_, error);
    }

private:
    std::shared_ptr<HCURLConnectionOperation> operation_;
    const std::uint64_t generation_;
};

// ---- creation ----

std::shared_ptr<HCURLConnectionOperation> HCURLConnectionOperation::make(
    URLRequest request, platform::net::URLLoader* loader) {
    std::shared_ptr<HCURLConnectionOperation> made(
        new HCURLConnectionOperation(std::move(request), loader));
    return made;
}

HCURLConnectionOperation::HCURLConnectionOperation(URLRequest request,
                                                   platform::net::URLLoader* loader)
    : platform::Operation(/*asynchronous=*/true),
      request_(std::move(request)),
      securityPolicy_(HCSecurityPolicy::defaultPolicy()),
      loader_(loader) {
    // A queue that drops a cancelled operation without running it still ends it, so that its
    // completion is heard.
    platform::Operation::setCompletionBlock([this] {
        if (!isFinished()) {
            cancel();
            start();
        }
    });
}

HCURLConnectionOperation::~HCURLConnectionOperation() {
    if (spacePoll_) {
        spacePoll_->invalidate();
    }
    if (outputStream_) {
        outputStream_->close();
    }
}

void HCURLConnectionOperation::copyInto(HCURLConnectionOperation& copy) const {
    std::lock_guard lock(lock_);
    copy.uploadProgress_ = uploadProgress_;
    copy.downloadProgress_ = downloadProgress_;
    copy.challenge_ = challenge_;
    copy.redirect_ = redirect_;
    copy.completionQueue_ = completionQueue_;
    copy.completionGroup_ = completionGroup_;
}

// ---- state ----

HCURLConnectionOperation::State HCURLConnectionOperation::state() const {
    std::lock_guard lock(lock_);
    return state_;
}

void HCURLConnectionOperation::setState(State state) {
    std::lock_guard lock(lock_);
    if (!transitionAllowed(state_, state, isCancelled())) {
        return;
    }
    state_ = state;
}

void HCURLConnectionOperation::main() {
    {
        std::lock_guard lock(lock_);
        if (state_ != State::finished) {
            start();
            return;
        }
    }
    // Started directly and already done: the queue's slot is all that is left.
    platform::Operation::finish();
}

void HCURLConnectionOperation::start() {
    std::lock_guard lock(lock_);
    if (isCancelled()) {
        if (state_ == State::finished) {
            return;
        }
        if (transfer_ != 0) {
            channel_->cancel(transfer_);
        } else {
            finishCancelled();
        }
        return;
    }
    if (state_ != State::ready) {
        return;
    }
    setState(State::executing);
    startTransfer();
}

void HCURLConnectionOperation::startTransfer() {
    if (!channel_) {
        channel_ = (loader_ != nullptr ? *loader_ : platform::net::URLLoader::shared()).channel();
    }
    {
        std::lock_guard streamLock(streamMutex_);
        if (!outputStream_) {
            outputStream_ = std::make_shared<platform::net::MemoryOutputStream>();
        }
        outputStream_->open();
    }
    platform::net::TransferOptions options;
    options.anchorCertificates = anchors_;
    auto self = std::static_pointer_cast<HCURLConnectionOperation>(shared_from_this());
    transfer_ =
        channel_->start(request_, std::move(options), std::make_shared<Client>(self, generation_));
    postNotification(HCNetworkingOperationDidStartNotification);
}

void HCURLConnectionOperation::cancel() {
    std::shared_ptr<HCURLConnectionOperation> released;
    std::lock_guard lock(lock_);
    if (state_ == State::finished || isCancelled()) {
        return;
    }
    platform::Operation::cancel();
    if (state_ != State::executing || transfer_ == 0) {
        return;
    }
    bool transferOver = false;
    {
        // A transfer that ended while its last bytes waited for space hears no cancel.
        std::lock_guard streamLock(streamMutex_);
        transferOver = endHeld_;
        if (transferOver) {
            ++generation_;
            released = dropHeldBytes();
        }
    }
    if (transferOver) {
        finishCancelled();
    } else {
        channel_->cancel(transfer_);
    }
}

void HCURLConnectionOperation::finishCancelled() {
    URLError cancelled;
    cancelled.code = platform::net::urlerror::cancelled;
    cancelled.message = "cancelled";
    cancelled.failingURL = request_.url;
    error_ = HCError::fromURLError(cancelled);
    finish();
}

void HCURLConnectionOperation::pause() {
    std::shared_ptr<HCURLConnectionOperation> released;
    std::lock_guard lock(lock_);
    if (state_ == State::paused || state_ == State::finished || isCancelled()) {
        return;
    }
    if (state_ == State::executing) {
        {
            // No byte of the stopped transfer is written after this.
            std::lock_guard streamLock(streamMutex_);
            ++generation_;
            released = dropHeldBytes();
        }
        if (transfer_ != 0) {
            channel_->cancel(transfer_);
            transfer_ = 0;
        }
        postNotification(HCNetworkingOperationDidFinishNotification);
    }
    setState(State::paused);
}

void HCURLConnectionOperation::resume() {
    std::lock_guard lock(lock_);
    if (state_ != State::paused) {
        return;
    }
    setState(State::ready);
    start();
}

void HCURLConnectionOperation::finish() {
    {
        std::lock_guard lock(lock_);
        setState(State::finished);
        transfer_ = 0;
        postNotification(HCNetworkingOperationDidFinishNotification);
        dispatchCompletion();
    }
    platform::Operation::finish();
}

void HCURLConnectionOperation::postNotification(const char* name) {
    auto self = std::static_pointer_cast<HCURLConnectionOperation>(shared_from_this());
    DispatchQueue::main().async(
        [self, name] { platform::NotificationCenter::defaultCenter().post(name, self.get()); });
}

void HCURLConnectionOperation::dispatchCompletion() {
    if (!completion_) {
        return;
    }
    DispatchGroup group = completionGroup_ ? *completionGroup_ : operationCompletionGroup();
    DispatchQueue& queue = completionQueue_ != nullptr ? *completionQueue_ : DispatchQueue::main();
    group.async(queue, completion_);
    // What the block holds (often this operation) goes once the group ran it.
    std::weak_ptr<platform::Operation> weak = weak_from_this();
    group.notify(DispatchQueue::global(), [weak] {
        if (const auto operation = weak.lock()) {
            std::static_pointer_cast<HCURLConnectionOperation>(operation)->setCompletionBlock(
                nullptr);
        }
    });
}

// ---- the transfer ----

void HCURLConnectionOperation::transferReceivedResponse(std::uint64_t generation,
                                                        const URLResponse& response) {
    bool wholeBodyAgain = false;
    std::optional<std::uint64_t> maximum;
    {
        std::lock_guard lock(lock_);
        if (generation != generation_) {
            return;
        }
        response_ = response;
        maximum = maximumContentLength_;
        // A resumed download whose server ignores the range sends the whole body again, which
        // would follow the part already written and corrupt what the caller gets.
        const auto range = request_.headers.get("Range");
        wholeBodyAgain = range && range->starts_with("bytes=") && !range->starts_with("bytes=0-") &&
                         response.statusCode == 200;
    }
    if (wholeBodyAgain) {
        failWithStreamError(
            generation,
            HCError::fromError(platform::Error{
                platform::net::kURLErrorDomain, platform::net::urlerror::badServerResponse,
                "the server sent the whole body instead of the range asked for"}));
        return;
    }
    if (maximum && response.expectedContentLength > 0 &&
        static_cast<std::uint64_t>(response.expectedContentLength) > *maximum) {
        failWithStreamError(
            generation,
            HCError::fromError(platform::Error{
                platform::net::kURLErrorDomain, platform::net::urlerror::dataLengthExceedsMaximum,
                "the answer announces " + std::to_string(response.expectedContentLength) +
                    " bytes, more than " + std::to_string(*maximum)}));
    }
}

void HCURLConnectionOperation::transferReceivedData(std::uint64_t generation,
                                                    std::span<const std::uint8_t> bytes) {
    Written written;
    bool startedHolding = false;
    {
        std::lock_guard streamLock(streamMutex_);
        if (generation != generation_ || !outputStream_) {
            return;
        }
        const bool wasHolding = !held_.empty();
        written = writeOrHold(bytes);
        startedHolding = !wasHolding && !held_.empty() && !written.failure;
    }
    if (written.failure) {
        failWithStreamError(generation, std::move(*written.failure));
        return;
    }
    if (startedHolding) {
        std::weak_ptr<platform::Operation> weak = weak_from_this();
        std::shared_ptr<platform::Timer> poll = platform::RunLoop::main().scheduleTimer(
            kOutputSpacePollSeconds, true, [weak, generation] {
                if (const auto operation = weak.lock()) {
                    std::static_pointer_cast<HCURLConnectionOperation>(operation)->writeHeldBytes(
                        generation);
                }
            });
        std::lock_guard lock(lock_);
        std::lock_guard streamLock(streamMutex_);
        if (generation != generation_ || held_.empty()) {
            poll->invalidate();
        } else {
            spacePoll_ = std::move(poll);
            // The engine lets go of its client when the transfer ends, which may be before the
            // held bytes are written; nothing else need hold an operation started directly.
            heldSelf_ = std::static_pointer_cast<HCURLConnectionOperation>(shared_from_this());
            channel_->pause(transfer_);
        }
    }
    reportBytesRead(written.count);
}

HCURLConnectionOperation::Written HCURLConnectionOperation::writeOrHold(
    std::span<const std::uint8_t> bytes) {
    Written result;
    // Later bytes never overtake held ones.
    if (held_.empty()) {
        result = writeWhileSpace(bytes);
        bytes = bytes.subspan(static_cast<std::size_t>(result.count));
        if (result.failure || bytes.empty()) {
            return result;
        }
        if (outputStream_->streamError()) {
            result.failure = outputStreamError(*outputStream_, "");
            return result;
        }
        if (outputSpaceWait_.count() <= 0) {
            result.failure =
                outputStreamError(*outputStream_, "the output stream had no space in time");
            return result;
        }
        heldSince_ = platform::RunLoop::main().now();
    }
    held_.insert(held_.end(), bytes.begin(), bytes.end());
    return result;
}

HCURLConnectionOperation::Written HCURLConnectionOperation::writeWhileSpace(
    std::span<const std::uint8_t> bytes) {
    Written result;
    std::size_t offset = 0;
    while (offset < bytes.size() && outputStream_->hasSpaceAvailable()) {
        const std::int64_t written = outputStream_->write(bytes.subspan(offset));
        if (written <= 0) {
            // A body cut short is a failure, never a success with fewer bytes.
            result.failure = outputStreamError(*outputStream_, "the output stream took no bytes");
            break;
        }
        offset += static_cast<std::size_t>(written);
    }
    result.count = static_cast<std::int64_t>(offset);
    return result;
}

void HCURLConnectionOperation::writeHeldBytes(std::uint64_t generation) {
    std::shared_ptr<HCURLConnectionOperation> released;
    std::optional<HCError> failure;
    std::size_t offset = 0;
    bool drained = false;
    bool ended = false;
    {
        std::lock_guard streamLock(streamMutex_);
        if (generation != generation_ || held_.empty() || !outputStream_) {
            return;
        }
        Written written = writeWhileSpace(held_);
        failure = std::move(written.failure);
        offset = static_cast<std::size_t>(written.count);
        held_.erase(held_.begin(), held_.begin() + static_cast<std::ptrdiff_t>(offset));
        const double now = platform::RunLoop::main().now();
        if (offset > 0) {
            heldSince_ = now;
        }
        const double waited = now - heldSince_;
        if (!failure && held_.empty()) {
            drained = true;
            ended = endHeld_;
            released = dropHeldBytes();
        } else if (!failure && outputStream_->streamError()) {
            failure = outputStreamError(*outputStream_, "");
        } else if (!failure && waited >= std::chrono::duration<double>(outputSpaceWait_).count()) {
            failure = outputStreamError(*outputStream_, "the output stream had no space in time");
        }
    }
    if (failure) {
        failWithStreamError(generation, std::move(*failure));
        return;
    }
    reportBytesRead(static_cast<std::int64_t>(offset));
    if (ended) {
        transferCompleted(generation, std::nullopt);
    } else if (drained) {
        std::lock_guard lock(lock_);
        if (generation == generation_ && transfer_ != 0) {
            channel_->unpause(transfer_);
        }
    }
}

std::shared_ptr<HCURLConnectionOperation> HCURLConnectionOperation::dropHeldBytes() {
    held_.clear();
    endHeld_ = false;
    if (spacePoll_) {
        spacePoll_->invalidate();
        spacePoll_.reset();
    }
    return std::move(heldSelf_);
}

void HCURLConnectionOperation::reportBytesRead(std::int64_t count) {
    if (count <= 0) {
        return;
    }
    std::shared_ptr<const ProgressBlock> block;
    std::int64_t expected = -1;
    {
        std::lock_guard lock(lock_);
        block = downloadProgress_;
        if (response_) {
            expected = response_->expectedContentLength;
        }
    }
    auto self = std::static_pointer_cast<HCURLConnectionOperation>(shared_from_this());
    DispatchQueue::main().async([self, block, count, expected] {
        const std::int64_t total = self->totalBytesRead_.fetch_add(count) + count;
        if (block) {
            (*block)(static_cast<std::uint64_t>(count), total, expected);
        }
    });
}

void HCURLConnectionOperation::failWithStreamError(std::uint64_t generation, HCError error) {
    std::shared_ptr<HCURLConnectionOperation> released;
    std::lock_guard lock(lock_);
    if (generation != generation_ || state_ == State::finished) {
        return;
    }
    {
        std::lock_guard streamLock(streamMutex_);
        ++generation_;
        released = dropHeldBytes();
        if (outputStream_) {
            outputStream_->close();
        }
    }
    if (transfer_ != 0) {
        channel_->cancel(transfer_);
    }
    error_ = std::move(error);
    finish();
}

void HCURLConnectionOperation::transferSentBody(std::int64_t sent, std::int64_t total,
                                                std::int64_t expected) {
    std::shared_ptr<const ProgressBlock> block;
    {
        std::lock_guard lock(lock_);
        block = uploadProgress_;
    }
    if (block) {
        DispatchQueue::main().async([block, sent, total, expected] {
            (*block)(static_cast<std::uint64_t>(sent), total, expected);
        });
    }
}

void HCURLConnectionOperation::transferCompleted(std::uint64_t generation,
                                                 const std::optional<URLError>& error) {
    std::shared_ptr<HCURLConnectionOperation> released;
    std::lock_guard lock(lock_);
    if (generation != generation_ || state_ == State::finished) {
        return;
    }
    if (error) {
        error_ = HCError::fromURLError(*error);
    }
    {
        std::lock_guard streamLock(streamMutex_);
        if (error) {
            released = dropHeldBytes();
        } else if (!held_.empty()) {
            // The body is whole only once the held bytes are written.
            endHeld_ = true;
            return;
        }
        if (outputStream_) {
            if (const platform::Bytes* data = outputStream_->dataWrittenToMemory();
                data && !error) {
                responseData_ = *data;
            }
            outputStream_->close();
            // A file stream stays attached, closed; the in-memory one has given its bytes.
            if (responseData_) {
                outputStream_.reset();
            }
        }
    }
    finish();
}

// ---- accessors ----

URLRequest HCURLConnectionOperation::request() const {
    std::lock_guard lock(lock_);
    return request_;
}

void HCURLConnectionOperation::setRequest(URLRequest request) {
    std::lock_guard lock(lock_);
    request_ = std::move(request);
}

std::optional<URLResponse> HCURLConnectionOperation::response() const {
    std::lock_guard lock(lock_);
    return response_;
}

std::optional<HCError> HCURLConnectionOperation::error() const {
    std::lock_guard lock(lock_);
    return error_;
}

std::optional<platform::Bytes> HCURLConnectionOperation::responseData() const {
    std::lock_guard lock(lock_);
    return responseData_;
}

void HCURLConnectionOperation::setResponseData(std::optional<platform::Bytes> data) {
    std::lock_guard lock(lock_);
    responseData_ = std::move(data);
}

std::string HCURLConnectionOperation::responseStringEncoding() const {
    std::lock_guard lock(lock_);
    if (!responseStringEncoding_ && response_) {
        const std::string& named = response_->textEncodingName;
        responseStringEncoding_ =
            !named.empty() && HCIsKnownStringEncoding(named) ? named : std::string("utf-8");
    }
    return responseStringEncoding_.value_or("utf-8");
}

std::optional<std::string> HCURLConnectionOperation::responseString() const {
    std::lock_guard lock(lock_);
    if (!responseString_ && response_ && responseData_) {
        responseString_ = HCStringFromData(*responseData_, responseStringEncoding());
    }
    return responseString_;
}

std::shared_ptr<OutputStream> HCURLConnectionOperation::outputStream() {
    std::lock_guard streamLock(streamMutex_);
    if (!outputStream_) {
        outputStream_ = std::make_shared<platform::net::MemoryOutputStream>();
    }
    return outputStream_;
}

void HCURLConnectionOperation::setOutputStream(std::shared_ptr<OutputStream> stream) {
    std::lock_guard lock(lock_);
    std::lock_guard streamLock(streamMutex_);
    if (stream == outputStream_) {
        return;
    }
    if (outputStream_) {
        outputStream_->close();
    }
    outputStream_ = std::move(stream);
}

void HCURLConnectionOperation::setOutputSpaceWait(std::chrono::milliseconds wait) {
    std::lock_guard streamLock(streamMutex_);
    outputSpaceWait_ = wait;
}

void HCURLConnectionOperation::setMaximumContentLength(std::optional<std::uint64_t> bytes) {
    std::lock_guard lock(lock_);
    maximumContentLength_ = bytes;
}

HCSecurityPolicy HCURLConnectionOperation::securityPolicy() const {
    std::lock_guard lock(lock_);
    return securityPolicy_;
}

void HCURLConnectionOperation::setSecurityPolicy(HCSecurityPolicy policy) {
    std::lock_guard lock(lock_);
    securityPolicy_ = std::move(policy);
}

void HCURLConnectionOperation::setAnchorCertificates(std::vector<platform::Bytes> anchors) {
    std::lock_guard lock(lock_);
    anchors_ = std::move(anchors);
}

void HCURLConnectionOperation::setCompletionQueue(DispatchQueue* queue) {
    std::lock_guard lock(lock_);
    completionQueue_ = queue;
}

DispatchQueue* HCURLConnectionOperation::completionQueue() const {
    std::lock_guard lock(lock_);
    return completionQueue_;
}

void HCURLConnectionOperation::setCompletionGroup(std::shared_ptr<DispatchGroup> group) {
    std::lock_guard lock(lock_);
    completionGroup_ = std::move(group);
}

std::shared_ptr<DispatchGroup> HCURLConnectionOperation::completionGroup() const {
    std::lock_guard lock(lock_);
    return completionGroup_;
}

void HCURLConnectionOperation::setCompletionBlock(std::function<void()> block) {
    std::function<void()> released;
    std::lock_guard lock(lock_);
    released.swap(completion_);
    completion_ = std::move(block);
}

std::function<void()> HCURLConnectionOperation::completionBlock() const {
    std::lock_guard lock(lock_);
    return completion_;
}

void HCURLConnectionOperation::setUploadProgressBlock(ProgressBlock block) {
    std::lock_guard lock(lock_);
    uploadProgress_ = block ? std::make_shared<const ProgressBlock>(std::move(block)) : nullptr;
}

void HCURLConnectionOperation::setDownloadProgressBlock(ProgressBlock block) {
    std::lock_guard lock(lock_);
    downloadProgress_ = block ? std::make_shared<const ProgressBlock>(std::move(block)) : nullptr;
}

void HCURLConnectionOperation::setWillSendRequestForAuthenticationChallengeBlock(
    ChallengeBlock block) {
    std::lock_guard lock(lock_);
    challenge_ = block ? std::make_shared<const ChallengeBlock>(std::move(block)) : nullptr;
}

void HCURLConnectionOperation::setRedirectResponseBlock(RedirectBlock block) {
    std::lock_guard lock(lock_);
    redirect_ = block ? std::make_shared<const RedirectBlock>(std::move(block)) : nullptr;
}

std::string HCURLConnectionOperation::description() const {
    std::lock_guard lock(lock_);
    char address[32];
    std::snprintf(address, sizeof address, "%p", static_cast<const void*>(this));
    return std::string("<HCURLConnectionOperation: ") + address + ", state: " + keyPathOf(state_) +
           ", cancelled: " + (isCancelled() ? "YES" : "NO") + " request: " + request_.method + " " +
           request_.url + ", response: " +
           (response_ ? std::to_string(response_->statusCode) + " " + response_->url : "(null)") +
           ">";
}

// ---- batches ----

std::vector<std::shared_ptr<platform::Operation>>
HCURLConnectionOperation::batchOfRequestOperations(
    const std::vector<std::shared_ptr<HCURLConnectionOperation>>& operations,
    std::function<void(std::size_t, std::size_t)> progress,
    std::function<void(const std::vector<std::shared_ptr<HCURLConnectionOperation>>&)> completion) {
    if (operations.empty()) {
        return {std::make_shared<platform::BlockOperation>([completion] {
            DispatchQueue::main().async([completion] {
                if (completion) {
                    completion({});
                }
            });
        })};
    }
    auto group = std::make_shared<DispatchGroup>();
    std::vector<std::shared_ptr<platform::Operation>> batch;
    for (const auto& operation : operations) {
        operation->setCompletionGroup(group);
        std::function<void()> kept = operation->completionBlock();
        // Runs in the group (the operation's completion goes there); leaves its own entry.
        operation->setCompletionBlock([kept, group, operations, progress] {
            if (kept) {
                kept();
            }
            const auto finished = static_cast<std::size_t>(
                std::count_if(operations.begin(), operations.end(),
                              [](const auto& each) { return each->isFinished(); }));
            if (progress) {
                progress(finished, operations.size());
            }
            group->leave();
        });
        group->enter();
        batch.push_back(operation);
    }
    batch.push_back(std::make_shared<platform::BlockOperation>([group, operations, completion] {
        group->notify(DispatchQueue::main(), [operations, completion] {
            if (completion) {
                completion(operations);
            }
        });
    }));
    return batch;
}
