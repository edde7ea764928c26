#include "http/HCHTTPRequestOperation.h"

#include <string>

using platform::DispatchGroup;
using platform::DispatchQueue;

namespace {

platform::DispatchGroup& httpCompletionGroup() {
    static platform::DispatchGroup group;
    return group;
}

}  // namespace

std::shared_ptr<HCHTTPRequestOperation> HCHTTPRequestOperation::make(
    platform::net::URLRequest request, platform::net::URLLoader* loader) {
    return std::shared_ptr<HCHTTPRequestOperation>(
        new HCHTTPRequestOperation(std::move(request), loader));
}

std::shared_ptr<HCHTTPRequestOperation> HCHTTPRequestOperation::copy() const {
    std::shared_ptr<HCHTTPRequestOperation> made = make(request(), loader());
    copyInto(*made);
    made->setResponseSerializer(responseSerializer()->copy());
    return made;
}

std::shared_ptr<const HCURLResponseSerialization> HCHTTPRequestOperation::responseSerializer()
    const {
    std::lock_guard lock(lock_);
    return serializer_;
}

void HCHTTPRequestOperation::setResponseSerializer(
    std::shared_ptr<const HCURLResponseSerialization> serializer) {
    std::lock_guard lock(lock_);
    serializer_ = std::move(serializer);
    responseObject_.reset();
    serializationError_.reset();
}

std::optional<HCError> HCHTTPRequestOperation::error() const {
    std::lock_guard lock(lock_);
    if (serializationError_) {
        return serializationError_;
    }
    return HCURLConnectionOperation::error();
}

HCResponseObject HCHTTPRequestOperation::responseObject() {
    std::lock_guard lock(lock_);
    if (!responseObject_ && isFinished() && !error() && serializer_) {
        std::optional<HCError> failure;
        HCResponseObject made = serializer_->responseObject(response(), responseData(), &failure);
        if (failure) {
            serializationError_ = std::move(failure);
            responseObject_ = std::move(made);
        } else if (!made.isNull()) {
            responseObject_ = std::move(made);
        }
    }
    if (responseObject_) {
        return *responseObject_;
    }
    return {};
}

void HCHTTPRequestOperation::setCompletionBlockWithSuccess(Success success, Failure failure) {
    auto self = std::static_pointer_cast<HCHTTPRequestOperation>(shared_from_this());
    // Holds the operation until the base releases the block once it ran.
    setCompletionBlock([self, success = std::move(success), failure = std::move(failure)] {
        const std::shared_ptr<DispatchGroup> group = self->completionGroup();
        if (group) {
            group->enter();
        }
        DispatchQueue::global().async([self, group, success, failure] {
            DispatchQueue& queue = self->completionQueue() != nullptr ? *self->completionQueue()
                                                                      : DispatchQueue::main();
            DispatchGroup resultGroup = group ? *group : httpCompletionGroup();
            std::optional<HCError> error = self->error();
            HCResponseObject object;
            if (!error) {
                object = self->responseObject();
                error = self->error();
            }
            if (error) {
                if (failure) {
                    resultGroup.async(queue,
                                      [self, failure, error = *error] { failure(self, error); });
                }
            } else if (success) {
                resultGroup.async(queue, [self, success, object] { success(self, object); });
            }
            if (group) {
                group->leave();
            }
        });
    });
}

void HCHTTPRequestOperation::pause() {
    HCURLConnectionOperation::pause();
    std::lock_guard lock(lock_);
    std::uint64_t offset = 0;
    {
        const std::shared_ptr<platform::net::OutputStream> stream = outputStream();
        if (const auto position = stream->fileCurrentOffset()) {
            offset = *position;
        } else if (const platform::Bytes* data = stream->dataWrittenToMemory()) {
            offset = data->size();
        }
    }
    platform::net::URLRequest resumed = request();
    if (const auto response = this->response()) {
        if (const auto etag = response->headers.get("ETag")) {
            resumed.headers.set("If-Range", *etag);
        }
    }
    resumed.headers.set("Range", "bytes=" + std::to_string(offset) + "-");
    setRequest(std::move(resumed));
}
