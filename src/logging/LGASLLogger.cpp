#include "logging/LGASLLogger.h"

#include <charconv>

#include "logging/LGClock.h"
#include "logging/LGLog.h"
#include "logging/LGTime.h"

namespace {

constexpr const char* kCaptureFile = "LGASLLogCapture";

std::uint64_t flagForPriority(const std::string* priority) {
    int level = 0;
    if (priority == nullptr ||
        std::from_chars(priority->data(), priority->data() + priority->size(), level).ec !=
            std::errc()) {
        return LGLogFlagError;
    }
    switch (level) {
        case 0:
        case 1:
        case 2:
            return LGLogFlagError;
        case 3:
            return LGLogFlagWarning;
        case 4:
            return LGLogFlagInfo;
        case 5:
            return LGLogFlagDebug;
        default:
            return LGLogFlagVerbose;
    }
}

}  // namespace

int lgSystemLogPriority(std::uint64_t flag) {
    switch (flag) {
        case LGLogFlagError:
            return 2;
        case LGLogFlagWarning:
            return 3;
        case LGLogFlagInfo:
            return 4;
        default:
            return 5;
    }
}

LGASLLogger::LGASLLogger(std::unique_ptr<platform::SystemLog> log, unsigned readUID,
                         std::function<void(const std::string&)> warn)
    : LGAbstractLogger("kavo.logging.aslLogger"),
      log_(std::move(log)),
      readUID_(std::to_string(readUID)),
      warn_(warn ? std::move(warn) : std::function<void(const std::string&)>(lgReport)) {}

void LGASLLogger::logMessage(const LGLogMessage& message) {
    if (message.fileName() == kCaptureFile || (message.flag() & ~kLevel) != 0 ||
        message.flag() == 0) {
        return;
    }
    if (!log_) {
        if (!warned_) {
            warned_ = true;
            warn_(
                "LGASLLogger: no system log on this machine (neither the journal nor syslog); "
                "its lines are not sent");
        }
        return;
    }
    std::optional<std::string> text = message.message();
    if (formatter_) {
        text = formatter_->formatLogMessage(message);
        if (!text) {
            return;
        }
    }
    const platform::SystemLogField fields[] = {
        {"PRIORITY", std::to_string(lgSystemLogPriority(message.flag()))},
        {"MESSAGE", std::move(*text)},
        {"READUID", readUID_},
        {kMarkField, "1"},
    };
    log_->send(fields);
}

LGASLLogCapture::LGASLLogCapture(std::unique_ptr<platform::SystemLogReader> reader)
    : reader_(std::move(reader)) {}

LGASLLogCapture::~LGASLLogCapture() {
    stop();
}

platform::Result<std::unique_ptr<LGASLLogCapture>> LGASLLogCapture::forJournal() {
    auto reader = platform::openJournalReader();
    if (!reader) {
        return reader.error();
    }
    return std::make_unique<LGASLLogCapture>(std::move(reader).value());
}

void LGASLLogCapture::start() {
    if (thread_.joinable()) {
        return;
    }
    thread_ = std::thread([this] {
        while (reader_->wait(60)) {
            captureOnce();
        }
    });
}

void LGASLLogCapture::stop() {
    if (!thread_.joinable()) {
        return;
    }
    reader_->interrupt();
    thread_.join();
}

std::optional<LGLogMessage> LGASLLogCapture::messageFor(
    const platform::SystemLogEntry& entry) const {
    const std::string* mark = entry.field(LGASLLogger::kMarkField);
    const std::string* text = entry.field("MESSAGE");
    if ((mark != nullptr && *mark == "1") || text == nullptr) {
        return std::nullopt;
    }
    const std::string* priority = entry.field("PRIORITY");
    int number = 0;
    if (priority != nullptr &&
        std::from_chars(priority->data(), priority->data() + priority->size(), number).ec ==
            std::errc() &&
        number > 7) {
        return std::nullopt;
    }
    const std::uint64_t flag = flagForPriority(priority);
    const std::uint64_t level = captureLevel();
    if ((flag & level) == 0) {
        return std::nullopt;
    }
    const double time = entry.realtimeMicros ? static_cast<double>(*entry.realtimeMicros) / 1e6
                                             : LGClock::current().now();
    return LGLogMessage(*text, level, flag, 0, kCaptureFile, "", 0, {}, 0, platform::Date{time});
}

void LGASLLogCapture::captureOnce() {
    for (const auto& entry : reader_->readNew()) {
        if (auto message = messageFor(entry)) {
            const bool asynchronous = message->flag() != LGLogFlagError;
            LGLog::log(asynchronous, std::move(*message));
        }
    }
}
