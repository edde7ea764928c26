#include "link/TQFileSendQueue.h"

#include <chrono>
#include <limits>
#include <string_view>

#include "logging/LGLog.h"
#include "platform/foundation/FileSystem.h"

namespace {

constexpr unsigned kNameNumbers = 1000;

}  // namespace

TQFileSendQueue::TQFileSendQueue(std::filesystem::path folder)
    : folder_(std::move(folder)), random_(std::random_device{}()) {}

std::string TQFileSendQueue::freshName() {
    const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(
                             std::chrono::system_clock::now().time_since_epoch())
                             .count();
    const std::string stem = std::to_string(seconds) + "_";
    const unsigned start = static_cast<unsigned>(random_() % kNameNumbers);
    // Past the thousand numbers of one second, the numbers go on above 999.
    for (unsigned step = 0;; ++step) {
        const unsigned number = step < kNameNumbers ? (start + step) % kNameNumbers : step;
        std::string name = stem + std::to_string(number);
        std::error_code error;
        if (!inUse_.contains(name) && !std::filesystem::exists(folder_ / name, error)) {
            return name;
        }
    }
}

bool TQFileSendQueue::enqueue(std::span<const std::uint8_t> data, std::string fileName,
                              std::uint32_t appId, TQFileSendEvent event) {
    std::string dataFileName = freshName();
    const std::string_view bytes(reinterpret_cast<const char*>(data.data()), data.size());
    if (const auto written = platform::fs::writeFileAtomically(folder_ / dataFileName, bytes);
        !written) {
        LG_VERBOSE("TQFileHandler - Unable to enqueue file: %@", fileName);
        return false;
    }
    inUse_.insert(dataFileName);
    entries_.push_back({appId, std::move(fileName), std::move(event), std::move(dataFileName)});
    return true;
}

std::optional<TQFileSendQueue::Taken> TQFileSendQueue::takeNext() {
    if (entries_.empty()) {
        return std::nullopt;
    }
    Taken taken{std::move(entries_.front()), platform::Bytes{}};
    entries_.pop_front();
    const auto path = folder_ / taken.entry.dataFileName;
    // The size field of the announcement is 32 bits.
    auto text = platform::fs::readFile(path, std::numeric_limits<std::uint32_t>::max());
    if (text) {
        taken.data = platform::Bytes(text->begin(), text->end());
    } else {
        taken.data = text.error();
    }
    std::error_code error;
    std::filesystem::remove(path, error);
    inUse_.erase(taken.entry.dataFileName);
    return taken;
}

void TQFileSendQueue::clear() {
    entries_.clear();
    inUse_.clear();
    std::error_code error;
    std::filesystem::remove_all(folder_, error);
    std::filesystem::create_directory(folder_, error);
}
