#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>

#include "logging/LGLogMessage.h"
#include "platform/foundation/Dispatch.h"

class LGLogger;

// What LGLogFormatter::appendFormatted did with a record.
enum class LGFormatted { dropped, unchanged, formatted };

// Turns a record into the text a logger writes.
class LGLogFormatter {
public:
    virtual ~LGLogFormatter() = default;
    // The text to write, or nothing to drop the record for this logger.
    virtual std::optional<std::string> formatLogMessage(const LGLogMessage& message) = 0;
    // Appends the text formatLogMessage gives to out: unchanged when it is the record's own
    // text, nothing when it drops the record. Formatters that can write in place override it,
    // so that a logger collecting lines makes no text of each.
    virtual LGFormatted appendFormatted(const LGLogMessage& message, std::string& out);
    virtual void didAddToLogger(LGLogger& /*logger*/) {}
    virtual void willRemoveFromLogger(LGLogger& /*logger*/) {}
};

// A destination of log records. The hub calls every operation on the logger's queue.
// Loggers are owned through std::shared_ptr.
class LGLogger : public std::enable_shared_from_this<LGLogger> {
public:
    virtual ~LGLogger() = default;

    virtual void logMessage(const LGLogMessage& message) = 0;
    // Records the hub hands over together, in order; by default one logMessage each. Loggers
    // that write in bulk override it.
    virtual void logMessages(std::span<const LGLogMessage* const> messages) {
        for (const LGLogMessage* message : messages) {
            logMessage(*message);
        }
    }
    virtual std::shared_ptr<LGLogFormatter> logFormatter() = 0;
    virtual void setLogFormatter(std::shared_ptr<LGLogFormatter> formatter) = 0;

    virtual void didAddLogger() {}
    virtual void willRemoveLogger() {}
    virtual void flush() {}
    // The serial queue the logger's work runs on, owned by the logger; nullptr lets the hub
    // make one.
    virtual platform::SerialQueue* loggerQueue() { return nullptr; }
    virtual std::string loggerName() { return {}; }
};

// The base of the system's loggers: an own serial queue, labelled with the logger's name, and
// a formatter slot that is changed in order with the records being delivered.
class LGAbstractLogger : public LGLogger {
public:
    // name labels the logger's queue; subclasses pass their own.
    explicit LGAbstractLogger(std::string name = "LGAbstractLogger");
    ~LGAbstractLogger() override;

    void logMessage(const LGLogMessage& message) override;
    // Waits on the logging queue, then on this logger's queue; never call it from either.
    std::shared_ptr<LGLogFormatter> logFormatter() override;
    // Takes effect after the records queued before it.
    void setLogFormatter(std::shared_ptr<LGLogFormatter> formatter) override;

    platform::SerialQueue* loggerQueue() override { return queue_.get(); }
    std::string loggerName() override { return name_; }

    [[nodiscard]] bool isOnGlobalLoggingQueue() const;
    [[nodiscard]] bool isOnInternalLoggerQueue() const;

protected:
    // Runs change on this logger's queue in order with the records: through the logging
    // queue, so that it follows every record queued before it, or at once when called on this
    // logger's queue and atOnceHere. A logger gone by then is left alone.
    void runInOrder(std::function<void()> change, bool atOnceHere = true);
    // Runs read on this logger's queue after the records queued before it, and waits for it.
    // Never call it from the logging queue or this logger's queue.
    void readInOrder(const std::function<void()>& read);
    // A field of this logger's queue, read as above.
    template <typename T>
    T readField(const T& field) {
        T value{};
        readInOrder([&] { value = field; });
        return value;
    }

    // Read directly by subclasses while they run on their queue.
    std::shared_ptr<LGLogFormatter> formatter_;

private:
    std::string name_;
    std::unique_ptr<platform::SerialQueue> queue_;
};
