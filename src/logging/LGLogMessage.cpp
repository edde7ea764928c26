#include "logging/LGLogMessage.h"

#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "logging/LGClock.h"
#include "platform/foundation/Dispatch.h"

namespace {

std::string fileNameOf(std::string_view path) {
    const auto slash = path.find_last_of('/');
    std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const auto dot = name.find_last_of('.');
    if (dot != std::string_view::npos) {
        name = name.substr(0, dot);
    }
    return std::string(name);
}

std::optional<std::string> currentThreadName() {
    char name[64] = {};
    if (pthread_getname_np(pthread_self(), name, sizeof name) != 0 || name[0] == '\0') {
        return std::nullopt;
    }
    return std::string(name);
}

struct ThreadIdentity {
    std::string id;
    std::optional<std::string> name;
};

// Asking the kernel twice for every record costs more than formatting most of them, so each
// thread asks once, at its first record: a name given to a thread after that is not seen.
const ThreadIdentity& currentThread() {
    thread_local const ThreadIdentity identity{
        std::to_string(static_cast<std::uint64_t>(::syscall(SYS_gettid))), currentThreadName()};
    return identity;
}

platform::Date now() {
    return platform::Date{LGClock::current().now()};
}

}  // namespace

LGLogMessage::LGLogMessage(std::string message, std::uint64_t level, std::uint64_t flag,
                           std::int64_t context, std::string file, std::string function,
                           std::uint64_t line, platform::Value tag, std::int64_t options,
                           std::optional<platform::Date> timestamp)
    : message_(std::move(message)),
      level_(level),
      flag_(flag),
      context_(context),
      file_(std::move(file)),
      fileName_(fileNameOf(file_)),
      function_(std::move(function)),
      line_(line),
      tag_(std::move(tag)),
      options_(options),
      timestamp_(timestamp.value_or(now())),
      threadID_(currentThread().id),
      threadName_(currentThread().name),
      queueLabel_(platform::DispatchQueue::currentLabel()) {}

LGLogMessage LGLogMessage::withMessage(std::string message) const {
    LGLogMessage copy = *this;
    copy.message_ = std::move(message);
    return copy;
}
