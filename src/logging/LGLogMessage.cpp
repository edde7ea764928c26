#include "logging/LGLogMessage.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "logging/LGClock.h"
#include "platform/foundation/Dispatch.h"

namespace {

const char* orEmpty(const char* text) {
    return text == nullptr ? "" : text;
}

// Both texts in one block, each ending in its NUL, for the options that ask to copy them.
std::shared_ptr<const std::string> copiesOf(const char* file, const char* function,
                                            std::int64_t options) {
    if ((options & (LGLogMessage::CopyFile | LGLogMessage::CopyFunction)) == 0) {
        return nullptr;
    }
    std::string both;
    if ((options & LGLogMessage::CopyFile) != 0) {
        both.append(file).push_back('\0');
    }
    if ((options & LGLogMessage::CopyFunction) != 0) {
        both.append(function).push_back('\0');
    }
    return std::make_shared<const std::string>(std::move(both));
}

std::optional<std::string> currentThreadName() {
    char name[64] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
        return std::nullopt;
    }
    return std::string(name);
}

std::shared_ptr<const LGLogMessage::Thread> identifyThread() {
    return std::make_shared<const LGLogMessage::Thread>(
        LGLogMessage::Thread{std::to_string(static_cast<std::uint64_t>(::syscall(SYS_gettid))),
                             currentThreadName()});
}

// Asking the kernel twice for every record costs more than formatting most of them, so each
// thread asks once, at its first record: a name given to a thread after that is not seen.
// Records share it, as they may outlive their thread. Null once the thread's thread-local
// objects are going, whose destructors may still log (the flag needs no destructor).
thread_local bool keptThreadGone = false;

struct KeptThread {
    std::shared_ptr<const LGLogMessage::Thread> thread = identifyThread();
    ~KeptThread() { keptThreadGone = true; }
};

const std::shared_ptr<const LGLogMessage::Thread>* keptThread() {
    if (keptThreadGone) {
        return nullptr;
    }
    thread_local const KeptThread kept;
    return &kept.thread;
}

std::shared_ptr<const LGLogMessage::Thread> currentThread() {
    const auto* kept = keptThread();
    return kept != nullptr ? *kept : identifyThread();
}

platform::Date now() {
    return platform::Date{LGClock::current().now()};
}

}  // namespace

LGLogMessage::LGLogMessage(std::string message, std::uint64_t level, std::uint64_t flag,
                           std::int64_t context, const char* file, const char* function,
                           std::uint64_t line, platform::Value tag, std::int64_t options,
                           std::optional<platform::Date> timestamp)
    : message_(std::move(message)),
      level_(level),
      flag_(flag),
      context_(context),
      file_(orEmpty(file)),
      function_(orEmpty(function)),
      copies_(copiesOf(file_, function_, options)),
      line_(line),
      tag_(std::move(tag)),
      options_(options),
      timestamp_(timestamp.value_or(now())),
      thread_(currentThread()),
      queueLabel_(platform::DispatchQueue::currentLabel()) {
    if (copies_) {
        const char* copy = copies_->c_str();
        if ((options & CopyFile) != 0) {
            file_ = copy;
            copy += std::string_view(copy).size() + 1;
        }
        if ((options & CopyFunction) != 0) {
            function_ = copy;
        }
    }
}

std::string_view LGLogMessage::fileName() const {
    std::string_view name = file_;
    if (const auto slash = name.find_last_of('/'); slash != std::string_view::npos) {
        name.remove_prefix(slash + 1);
    }
    if (const auto dot = name.find_last_of('.'); dot != std::string_view::npos) {
        name = name.substr(0, dot);
    }
    return name;
}

LGLogMessage LGLogMessage::withMessage(std::string message) const {
    LGLogMessage copy = *this;
    copy.message_ = std::move(message);
    return copy;
}

void LGLogMessage::refill(std::string& message, std::uint64_t level, std::uint64_t flag,
                          std::int64_t context, const char* file, const char* function,
                          std::uint64_t line, const platform::Value& tag) {
    message_.swap(message);
    level_ = level;
    flag_ = flag;
    context_ = context;
    file_ = orEmpty(file);
    function_ = orEmpty(function);
    if (copies_) {
        copies_.reset();
    }
    line_ = line;
    // The system's lines carry no tag: spare the copy of one null over another.
    if (!tag.isNull() || !tag_.isNull()) {
        tag_ = tag;
    }
    options_ = 0;
    timestamp_ = now();
    // Most records of a kept slot come from the thread that logged its last one.
    if (const auto* kept = keptThread(); kept == nullptr) {
        thread_ = identifyThread();
    } else if (thread_ != *kept) {
        thread_ = *kept;
    }
    queueLabel_ = platform::DispatchQueue::currentLabel();
}

void LGLogMessage::release(std::size_t bytes) {
    if (!tag_.isNull()) {
        tag_ = {};
    }
    if (copies_) {
        copies_.reset();
        file_ = "";
        function_ = "";
    }
    if (message_.capacity() > bytes) {
        message_ = std::string();
    }
    if (queueLabel_.capacity() > bytes) {
        queueLabel_ = std::string();
    }
}
