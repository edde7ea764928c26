#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Value.h"

// Severity flags; a level is a mask of them.
enum LGLogFlag : std::uint64_t {
    LGLogFlagError = 1,
    LGLogFlagWarning = 2,
    LGLogFlagInfo = 4,
    LGLogFlagDebug = 8,
    LGLogFlagVerbose = 16,
};

inline constexpr std::uint64_t LGLogLevelAll = ~std::uint64_t{0};
// The level every caller of the system passes: all five severities.
inline constexpr std::uint64_t LGLogLevelSystem = 31;

// One log record, handed from the hub to every logger. Not changed after construction.
class LGLogMessage {
public:
    // Without them, file and function are borrowed and must be of static storage, as __FILE__
    // and __func__ are: a record costs no copy of either. With them, the record keeps a copy.
    enum Options : std::int64_t { CopyFile = 1, CopyFunction = 2 };

    // A missing timestamp means now; a null file or function reads as empty.
    LGLogMessage(std::string message, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                 const char* file, const char* function, std::uint64_t line,
                 platform::Value tag = {}, std::int64_t options = 0,
                 std::optional<platform::Date> timestamp = std::nullopt);

    [[nodiscard]] const std::string& message() const { return message_; }
    [[nodiscard]] std::uint64_t level() const { return level_; }
    [[nodiscard]] std::uint64_t flag() const { return flag_; }
    [[nodiscard]] std::int64_t context() const { return context_; }
    [[nodiscard]] std::string_view file() const { return file_; }
    // The last path component of file without its extension.
    [[nodiscard]] std::string_view fileName() const;
    [[nodiscard]] std::string_view function() const { return function_; }
    [[nodiscard]] std::uint64_t line() const { return line_; }
    [[nodiscard]] const platform::Value& tag() const { return tag_; }
    [[nodiscard]] std::int64_t options() const { return options_; }
    [[nodiscard]] platform::Date timestamp() const { return timestamp_; }
    // The calling thread's kernel identifier in decimal.
    [[nodiscard]] const std::string& threadID() const { return thread_->id; }
    // The thread's name as it was at the thread's first record: it is read once per thread.
    [[nodiscard]] const std::optional<std::string>& threadName() const { return thread_->name; }
    [[nodiscard]] const std::string& queueLabel() const { return queueLabel_; }

    // A copy with another text, for formatters that chain.
    [[nodiscard]] LGLogMessage withMessage(std::string message) const;

    // Makes this record a new one of the calling thread, now, with borrowed file and function
    // and no options, as the constructor would; the text is swapped in, so message gets the
    // room of the old text. For the hub, which refills the records of its batches: a line then
    // costs no memory of its own once the batches have grown.
    void refill(std::string& message, std::uint64_t level, std::uint64_t flag,
                std::int64_t context, const char* file, const char* function, std::uint64_t line,
                const platform::Value& tag);
    // For a spent record kept to be refilled: lets go of its tag and copied names, and of
    // texts whose room exceeds bytes.
    void release(std::size_t bytes);

    // What a thread's records share: read once per thread, never changed.
    struct Thread {
        std::string id;
        std::optional<std::string> name;
    };

private:
    std::string message_;
    std::uint64_t level_;
    std::uint64_t flag_;
    std::int64_t context_;
    // Static texts, or texts in copies_, which copies of the record share.
    const char* file_;
    const char* function_;
    std::shared_ptr<const std::string> copies_;
    std::uint64_t line_;
    platform::Value tag_;
    std::int64_t options_;
    platform::Date timestamp_;
    // Shared by the thread's records, so a record copies no text of it.
    std::shared_ptr<const Thread> thread_;
    std::string queueLabel_;
};
