#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace platform {

// The application's preferences: a dictionary of values kept in memory and persisted as an
// XML property list. Thread-safe. Typed readers apply the phone platform's coercions
// (see Value); an absent key reads as nothing.
//
// Changes are written together: the first change after a write asks for one write
// kWriteDelay later, timed on the main run loop (RunLoop::main() at the time of the change, so
// virtual in tests) and done on the writer queue, off that loop. A crash loses at most the
// changes of that last delay; synchronize() writes at once, and so does the destructor.
class UserDefaults : public Replaceable<UserDefaults> {
public:
    static constexpr double kWriteDelay = 1.0;

    // Loads file when it exists. A file whose contents are not a dictionary is moved aside
    // (to "<file>.unreadable") rather than overwritten, and reported by loadError(). A file
    // that cannot be read at all (permissions, I/O...) stays where it is and is never
    // written: the values live in memory only, and synchronize() reports why.
    // writer: where the delayed writes run, borrowed (it must outlive the defaults); none
    // gives the defaults a serial queue of their own.
    explicit UserDefaults(std::filesystem::path file, DispatchQueue* writer = nullptr);
    // Persists what is not yet written, after any write under way.
    ~UserDefaults();

    UserDefaults(const UserDefaults&) = delete;
    UserDefaults& operator=(const UserDefaults&) = delete;

    // The application's defaults: the installed instance, else one in the current
    // container's Library/Preferences, made on first use.
    static UserDefaults& standard();

    [[nodiscard]] std::optional<Value> object(std::string_view key) const;
    [[nodiscard]] std::optional<bool> boolean(std::string_view key) const;
    [[nodiscard]] std::optional<std::int64_t> integer(std::string_view key) const;
    [[nodiscard]] std::optional<double> real(std::string_view key) const;
    [[nodiscard]] std::optional<std::string> string(std::string_view key) const;
    [[nodiscard]] std::optional<Dictionary> dictionary(std::string_view key) const;
    [[nodiscard]] Dictionary snapshot() const;

    // Setting a null value removes the key. A value that a property list cannot carry (one
    // holding a null, or text that is not UTF-8) is refused: returns false, nothing changes.
    bool set(std::string_view key, Value value);
    void remove(std::string_view key);

    // Writes the values to the file (atomically) now, when anything changed since the last
    // write, and tells how it went. A failed write leaves the changes to be written again.
    Result<void> synchronize();

    [[nodiscard]] const std::optional<Error>& loadError() const { return loadError_; }
    [[nodiscard]] const std::filesystem::path& file() const { return file_; }

private:
    struct Life;
    class DelayedWrite;

    // Called with mutex_ held: whether the caller must ask for a delayed write.
    bool markChangedLocked();
    void requestWrite();
    void writeDelayed();

    std::filesystem::path file_;
    // Held across a whole write, so that writes reach the file in the order of their values.
    std::mutex writeMutex_;
    mutable std::mutex mutex_;
    Dictionary values_;
    bool dirty_ = false;
    bool writeRequested_ = false;
    std::optional<Error> loadError_;
    // Set when the file could not be read: writing would replace settings we never saw.
    bool writesRefused_ = false;
    std::unique_ptr<SerialQueue> ownWriter_;
    DispatchQueue& writer_;
    // What delayed work reaches the defaults through; cut when they go.
    std::shared_ptr<Life> life_;
};

}  // namespace platform
