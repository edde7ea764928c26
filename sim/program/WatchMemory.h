#pragma once

#include <filesystem>
#include <optional>

#include "platform/foundation/Result.h"
#include "sim/WatchState.h"

namespace kavowatch {

// What the simulated watch keeps across runs in a folder of its own, as a real watch keeps it
// in its flash: whether it was set up. The phone keeps its side in its own folder, so the two
// programs meet again as they would in life.
class WatchMemory {
public:
    static constexpr const char* kFileName = "watch.plist";

    explicit WatchMemory(std::filesystem::path folder) : folder_(std::move(folder)) {}

    // Nothing when the watch never remembered anything here, or the file is unreadable.
    [[nodiscard]] std::optional<SetupState> setup() const;
    platform::Result<void> remember(SetupState setup) const;

private:
    std::filesystem::path folder_;
};

}  // namespace kavowatch
