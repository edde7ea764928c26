#include "logging/LGLog.h"
#include "logging/LGLogger.h"

LGAbstractLogger::LGAbstractLogger(std::string name)
    : name_(std::move(name)), queue_(std::make_unique<platform::SerialQueue>(name_)) {}

LGAbstractLogger::~LGAbstractLogger() = default;

void LGAbstractLogger::logMessage(const LGLogMessage& /*message*/) {}

std::shared_ptr<LGLogFormatter> LGAbstractLogger::logFormatter() {
    std::shared_ptr<LGLogFormatter> result;
    LGLog::loggingQueue().sync([&] { queue_->sync([&] { result = formatter_; }); });
    return result;
}

void LGAbstractLogger::setLogFormatter(std::shared_ptr<LGLogFormatter> formatter) {
    // The change travels through both queues so that it lands between the records queued
    // before and after it; a logger gone by then needs no formatter. The logging queue waits
    // for the change so that its reference is never the last one dropped on our own queue.
    std::weak_ptr<LGLogger> weak = weak_from_this();
    LGLog::loggingQueue().async([weak, formatter = std::move(formatter)]() mutable {
        auto self = std::static_pointer_cast<LGAbstractLogger>(weak.lock());
        if (!self) {
            return;
        }
        self->queue_->sync([&self, &formatter] {
            if (formatter == self->formatter_) {
                return;
            }
            if (self->formatter_) {
                self->formatter_->willRemoveFromLogger(*self);
            }
            self->formatter_ = std::move(formatter);
            if (self->formatter_) {
                self->formatter_->didAddToLogger(*self);
            }
        });
    });
}

bool LGAbstractLogger::isOnGlobalLoggingQueue() const {
    return LGLog::loggingQueue().isCurrent();
}

bool LGAbstractLogger::isOnInternalLoggerQueue() const {
    return queue_->isCurrent();
}
