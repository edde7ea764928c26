#include "sim/program/WatchMemory.h"

#include <system_error>

#include "platform/foundation/PropertyList.h"

namespace kavowatch {

namespace {

constexpr const char* kSetupKey = "setup";
constexpr const char* kConfigured = "configured";
constexpr const char* kFactory = "factory";

}  // namespace

std::optional<SetupState> WatchMemory::setup() const {
    const auto stored = platform::plist::readFile(folder_ / kFileName);
    if (!stored) {
        return std::nullopt;
    }
    const platform::Value& setup = (*stored)[kSetupKey];
    if (setup == platform::Value(kConfigured)) {
        return SetupState::configured;
    }
    if (setup == platform::Value(kFactory)) {
        return SetupState::factory;
    }
    return std::nullopt;
}

platform::Result<void> WatchMemory::remember(SetupState setup) const {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    if (ec) {
        return platform::Error{"kavowatch.memory", ec.value(),
                               "cannot create " + folder_.string() + ": " + ec.message()};
    }
    return platform::plist::writeFile(
        folder_ / kFileName,
        platform::Value{{kSetupKey, setup == SetupState::configured ? kConfigured : kFactory}});
}

}  // namespace kavowatch
