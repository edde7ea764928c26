#include "platform/foundation/UserDefaults.h"

#include <system_error>

#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/LogSink.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"

namespace platform {

// The delayed write's way back to the defaults. Its lock is held while a delayed write runs,
// so the destructor, which cuts it, waits for that write.
struct UserDefaults::Life {
    std::mutex mutex;
    UserDefaults* defaults = nullptr;
};

// The task waiting on the run loop. A loop that goes before it is due drops it unrun; then it
// clears the request, so the next change asks again.
class UserDefaults::DelayedWrite {
public:
    explicit DelayedWrite(std::weak_ptr<Life> life) : life_(std::move(life)) {}
    DelayedWrite(const DelayedWrite&) = delete;
    DelayedWrite& operator=(const DelayedWrite&) = delete;
    ~DelayedWrite() {
        if (fired_) {
            return;
        }
        if (const auto life = life_.lock()) {
            std::lock_guard lock(life->mutex);
            if (life->defaults != nullptr) {
                std::lock_guard values(life->defaults->mutex_);
                life->defaults->writeRequested_ = false;
            }
        }
    }

    void fire() {
        fired_ = true;
        const auto life = life_.lock();
        if (!life) {
            return;
        }
        std::lock_guard lock(life->mutex);
        if (life->defaults != nullptr) {
            life->defaults->writer_.async([life] {
                std::lock_guard lock(life->mutex);
                if (life->defaults != nullptr) {
                    life->defaults->writeDelayed();
                }
            });
        }
    }

private:
    std::weak_ptr<Life> life_;
    bool fired_ = false;
};

UserDefaults::UserDefaults(std::filesystem::path file, DispatchQueue* writer)
    : file_(std::move(file)),
      ownWriter_(writer == nullptr ? std::make_unique<SerialQueue>("kavo.defaults") : nullptr),
      writer_(writer == nullptr ? *ownWriter_ : *writer),
      life_(std::make_shared<Life>()) {
    life_->defaults = this;
    std::error_code ec;
    // Only a file known to be absent starts empty: one whose presence cannot be told goes on to
    // the read, whose failure keeps it.
    if (!std::filesystem::exists(file_, ec) && !ec) {
        return;
    }
    auto loaded = plist::readFile(file_);
    if (loaded && loaded->isDictionary()) {
        values_ = *loaded->dictionaryIf();
        return;
    }
    loadError_ = loaded ? Error{plist::kErrorDomain, 0, file_.string() + " is not a dictionary"}
                        : loaded.error();
    if (!loaded && fs::isReadFailure(loaded.error())) {
        writesRefused_ = true;
        PLATFORM_LOG_ERROR("UserDefaults: ", loaded.error().message,
                           "; the file is kept and not written");
        return;
    }
    // Keep the unreadable file for inspection instead of overwriting it at the next write.
    auto aside = file_;
    aside += ".unreadable";
    std::filesystem::rename(file_, aside, ec);
}

UserDefaults::~UserDefaults() {
    {
        std::lock_guard lock(life_->mutex);
        life_->defaults = nullptr;
    }
    ownWriter_.reset();
    (void)synchronize();
}

UserDefaults& UserDefaults::standard() {
    return installedOr([]() -> UserDefaults& {
        static UserDefaults fromContainer(Container::current().preferences() /
                                          (std::string(kBundleIdentifier) + ".plist"));
        return fromContainer;
    });
}

std::optional<Value> UserDefaults::object(std::string_view key) const {
    std::lock_guard lock(mutex_);
    if (const Value* value = values_.find(key)) {
        return *value;
    }
    return std::nullopt;
}

std::optional<bool> UserDefaults::boolean(std::string_view key) const {
    const auto value = object(key);
    return value ? value->boolValue() : std::nullopt;
}

std::optional<std::int64_t> UserDefaults::integer(std::string_view key) const {
    const auto value = object(key);
    return value ? value->intValue() : std::nullopt;
}

std::optional<double> UserDefaults::real(std::string_view key) const {
    const auto value = object(key);
    return value ? value->doubleValue() : std::nullopt;
}

std::optional<std::string> UserDefaults::string(std::string_view key) const {
    const auto value = object(key);
    return value ? value->stringValue() : std::nullopt;
}

std::optional<Dictionary> UserDefaults::dictionary(std::string_view key) const {
    const auto value = object(key);
    if (value && value->isDictionary()) {
        return *value->dictionaryIf();
    }
    return std::nullopt;
}

Dictionary UserDefaults::snapshot() const {
    std::lock_guard lock(mutex_);
    return values_;
}

bool UserDefaults::set(std::string_view key, Value value) {
    if (value.isNull()) {
        remove(key);
        return true;
    }
    if (!plist::write(Value{{std::string(key), value}})) {
        return false;
    }
    bool request = false;
    {
        std::lock_guard lock(mutex_);
        values_.set(std::string(key), std::move(value));
        request = markChangedLocked();
    }
    if (request) {
        requestWrite();
    }
    return true;
}

void UserDefaults::remove(std::string_view key) {
    bool request = false;
    {
        std::lock_guard lock(mutex_);
        if (values_.remove(key)) {
            request = markChangedLocked();
        }
    }
    if (request) {
        requestWrite();
    }
}

bool UserDefaults::markChangedLocked() {
    dirty_ = true;
    if (writeRequested_) {
        return false;
    }
    writeRequested_ = true;
    return true;
}

// Outside mutex_: a loop that refuses the task destroys it here, and it takes the lock.
void UserDefaults::requestWrite() {
    RunLoop::main().postDelayed(kWriteDelay,
                                [write = std::make_shared<DelayedWrite>(life_)] { write->fire(); });
}

void UserDefaults::writeDelayed() {
    {
        std::lock_guard lock(mutex_);
        writeRequested_ = false;
    }
    if (const auto written = synchronize(); !written) {
        PLATFORM_LOG_WARN("UserDefaults: ", file_.string(),
                          " not written: ", written.error().message);
    }
}

Result<void> UserDefaults::synchronize() {
    std::lock_guard writing(writeMutex_);
    if (writesRefused_) {
        return Error{
            fs::kErrorDomain, loadError_->code,
            file_.string() + " not written: it could not be read (" + loadError_->message + ")"};
    }
    Value snapshot;
    {
        std::lock_guard lock(mutex_);
        if (!dirty_) {
            return {};
        }
        snapshot = Value(values_);
        dirty_ = false;
    }
    auto written = plist::writeFile(file_, snapshot);
    if (!written) {
        std::lock_guard lock(mutex_);
        dirty_ = true;
    }
    return written;
}

}  // namespace platform
