#pragma once

#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

namespace platform {

// The application's preferences: a dictionary of values kept in memory and persisted as an
// XML property list. Thread-safe. Typed readers apply the phone platform's coercions
// (see Value); an absent key reads as nothing.
class UserDefaults : public Replaceable<UserDefaults> {
public:
    // Loads file when it exists. A file that cannot be read as a dictionary is moved aside
    // (to "<file>.unreadable") rather than overwritten, and reported by loadError().
    explicit UserDefaults(std::filesystem::path file);
    // Persists what is not yet written.
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

    // Writes the values to the file (atomically) when anything changed since the last write.
    Result<void> synchronize();

    [[nodiscard]] const std::optional<Error>& loadError() const { return loadError_; }
    [[nodiscard]] const std::filesystem::path& file() const { return file_; }

private:
    std::filesystem::path file_;
    mutable std::mutex mutex_;
    Dictionary values_;
    bool dirty_ = false;
    std::optional<Error> loadError_;
};

}  // namespace platform
