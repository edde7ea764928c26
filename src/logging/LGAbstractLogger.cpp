#include "logging/LGLog.h"
#include "logging/LGLogger.h"

LGFormatted LGLogFormatter::appendFormatted(const LGLogMessage& message, std::string& out) {
    auto text = formatLogMessage(message);
    if (!text) {
        return LGFormatted::dropped;
    }
    const bool formatted = *text != message.message();
    out += *text;
    return formatted ? LGFormatted::formatted : LGFormatted::unchanged;
}

LGAbstractLogger::LGAbstractLogger(std::string name)
    : name_(std::move(name)), queue_(std::make_unique<platform::SerialQueue>(name_)) {}

LGAbstractLogger::~LGAbstractLogger() = default;

void LGAbstractLogger::logMessage(const LGLogMessage& /*message*/) {}

std::shared_ptr<LGLogFormatter> LGAbstractLogger::logFormatter() {
    std::shared_ptr<LGLogFormatter> result;
    readInOrder([&] { result = formatter_; });
    return result;
}

void LGAbstractLogger::setLogFormatter(std::shared_ptr<LGLogFormatter> formatter) {
    runInOrder(
        [this, formatter = std::move(formatter)]() mutable {
            if (formatter == formatter_) {
                return;
            }
            if (formatter_) {
                formatter_->willRemoveFromLogger(*this);
            }
            formatter_ = std::move(formatter);
            if (formatter_) {
                formatter_->didAddToLogger(*this);
            }
        },
        false);
}

void LGAbstractLogger::runInOrder(std::function<void()> change, bool atOnceHere) {
    if (atOnceHere && queue_->isCurrent()) {
        change();
        return;
    }
    // The logging queue waits for the change so that its reference is never the last one
    // dropped on our own queue.
    std::weak_ptr<LGLogger> weak = weak_from_this();
    LGLog::loggingQueue().async([weak, change = std::move(change)] {
        auto self = std::static_pointer_cast<LGAbstractLogger>(weak.lock());
        if (self) {
            self->queue_->sync(change);
        }
    });
}

void LGAbstractLogger::readInOrder(const std::function<void()>& read) {
    LGLog::syncOnLoggingQueue([&] { queue_->sync(read); });
}

bool LGAbstractLogger::isOnGlobalLoggingQueue() const {
    return LGLog::loggingQueue().isCurrent();
}

bool LGAbstractLogger::isOnInternalLoggerQueue() const {
    return queue_->isCurrent();
}
