#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <random>
#include <set>
#include <span>
#include <string>

#include "link/TQFileHandlerInterface.h"
#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"

// Files waiting for their turn to go to the watch, first in first out. Each one's data waits
// in a file of its own in the queue folder, so the memory holds only the file being sent.
class TQFileSendQueue {
public:
    struct Entry {
        std::uint32_t appId = 0;
        std::string fileName;
        TQFileSendEvent event;
        std::string dataFileName;
    };
    // The head entry and its data, or why the data could not be read back.
    struct Taken {
        Entry entry;
        platform::Result<platform::Bytes> data;
    };

    explicit TQFileSendQueue(std::filesystem::path folder);

    // Writes the data into the folder and appends the entry; false when it cannot be written.
    bool enqueue(std::span<const std::uint8_t> data, std::string fileName, std::uint32_t appId,
                 TQFileSendEvent event);
    // Removes the head entry and its data file.
    std::optional<Taken> takeNext();
    [[nodiscard]] bool empty() const { return entries_.empty(); }
    [[nodiscard]] std::size_t size() const { return entries_.size(); }
    // Forgets every entry, and deletes the folder and makes it again.
    void clear();

    [[nodiscard]] const std::filesystem::path& folder() const { return folder_; }

private:
    // "<seconds since 1970>_<0-999>", never the name of a waiting file or one on disk.
    std::string freshName();

    std::filesystem::path folder_;
    std::deque<Entry> entries_;
    std::set<std::string> inUse_;
    std::minstd_rand random_;
};
