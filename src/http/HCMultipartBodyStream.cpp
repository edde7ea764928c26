#include "http/HCMultipartBodyStream.h"

#include <algorithm>

#include "platform/net/URLError.h"

HCMultipartBodyStream::HCMultipartBodyStream(std::string stringEncoding)
    : stringEncoding_(std::move(stringEncoding)) {}

HCMultipartBodyStream::~HCMultipartBodyStream() {
    if (pauseTimer_) {
        pauseTimer_->invalidate();
    }
}

void HCMultipartBodyStream::appendHTTPBodyPart(std::unique_ptr<HCHTTPBodyPart> part) {
    parts_.push_back(std::move(part));
}

void HCMultipartBodyStream::setInitialAndFinalBoundaries() {
    if (parts_.empty()) {
        return;
    }
    for (auto& part : parts_) {
        part->hasInitialBoundary = false;
        part->hasFinalBoundary = false;
    }
    parts_.front()->hasInitialBoundary = true;
    parts_.back()->hasFinalBoundary = true;
}

std::uint64_t HCMultipartBodyStream::contentLength() const {
    std::uint64_t length = 0;
    for (const auto& part : parts_) {
        length += part->contentLength();
    }
    return length;
}

void HCMultipartBodyStream::open() {
    if (status_ == Status::open) {
        return;
    }
    status_ = Status::open;
    setInitialAndFinalBoundaries();
    next_ = 0;
    current_ = nullptr;
}

void HCMultipartBodyStream::close() {
    status_ = Status::closed;
}

std::int64_t HCMultipartBodyStream::read(std::uint8_t* buffer, std::size_t length) {
    if (status_ == Status::closed) {
        return 0;
    }
    std::size_t total = 0;
    const std::uint64_t cap = std::min<std::uint64_t>(length, numberOfBytesInPacket);
    while (total < cap) {
        if (current_ == nullptr || !current_->hasBytesAvailable()) {
            if (next_ >= parts_.size()) {
                break;
            }
            current_ = parts_[next_++].get();
            continue;
        }
        const std::int64_t got = current_->read(std::span(buffer + total, length - total));
        if (got < 0) {
            error_ = current_->streamError();
            if (!error_) {
                error_ = platform::Error{platform::net::kURLErrorDomain,
                                         platform::net::urlerror::requestBodyStreamExhausted,
                                         "a part could not be read"};
            }
            return -1;
        }
        total += static_cast<std::size_t>(got);
        if (delay > 0.0) {
            owedPause_ += delay;
        }
    }
    return static_cast<std::int64_t>(total);
}

platform::Result<std::size_t> HCMultipartBodyStream::read(std::span<std::uint8_t> buffer) {
    if (status_ == Status::notOpen) {
        open();
    }
    const std::int64_t got = read(buffer.data(), buffer.size());
    if (got < 0) {
        return *error_;
    }
    return static_cast<std::size_t>(got);
}

std::optional<std::int64_t> HCMultipartBodyStream::length() const {
    return static_cast<std::int64_t>(contentLength());
}

bool HCMultipartBodyStream::readyToRead(std::function<void()> ready) {
    if (owedPause_ <= 0.0) {
        return true;
    }
    platform::RunLoop& loop = timerLoop != nullptr ? *timerLoop : platform::RunLoop::main();
    if (pauseTimer_) {
        pauseTimer_->invalidate();
    }
    pauseTimer_ = loop.scheduleTimer(owedPause_, false, std::move(ready));
    owedPause_ = 0;
    return false;
}

std::unique_ptr<HCMultipartBodyStream> HCMultipartBodyStream::copy() const {
    auto made = std::make_unique<HCMultipartBodyStream>(stringEncoding_);
    made->numberOfBytesInPacket = numberOfBytesInPacket;
    made->delay = delay;
    made->timerLoop = timerLoop;
    for (const auto& part : parts_) {
        made->appendHTTPBodyPart(part->copy());
    }
    made->setInitialAndFinalBoundaries();
    return made;
}
