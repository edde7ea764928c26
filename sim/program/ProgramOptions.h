#pragma once

#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "platform/bluetooth/Uuid.h"
#include "platform/foundation/Result.h"
#include "sim/LinkProfile.h"
#include "sim/WatchState.h"

// The kavowatch program's command line.
namespace kavowatch {

inline const Uuid kProgramIdentifier = *Uuid::parse("5A7C0E11-2B3D-4F50-8A61-7B8C9D0E1F20");

enum class StartState {
    fresh,         // "new": a factory watch that asks to be set up
    reconnecting,  // set up before; looks for its phone
};

struct ProgramOptions {
    bool help = false;
    // Where the air is; SocketAir::defaultDirectory() when not given.
    std::optional<std::filesystem::path> air;
    Uuid identifier = kProgramIdentifier;
    // The advertising name; the model name follows it unless given.
    std::string name = AdvertisingIdentity{}.name;
    WatchIdentity identity;
    // What the watch starts as, whatever it remembers; without it, what it remembers.
    std::optional<StartState> state;
    // The watch's own folder, where it remembers being set up; without one it remembers nothing.
    std::optional<std::filesystem::path> home;
    // Overrides the purpose the state advertises.
    std::optional<Purpose> advertise;
    bool locked = false;
    std::optional<std::filesystem::path> script;
    // Where the files the phone sends are kept, under their names.
    std::optional<std::filesystem::path> files;
    // A URL to fetch through the phone's web proxy once paired; the program ends after it.
    std::optional<std::string> fetch;
    // Where the fetched body goes; without it the whole answer goes to standard output.
    std::optional<std::filesystem::path> fetchTo;
    // Set: no watch but a plain device that advertises this name and nothing else.
    std::optional<std::string> device;

    friend bool operator==(const ProgramOptions&, const ProgramOptions&) = default;
};

// The highest number --instance takes: each one its own name, address and identifier.
inline constexpr int kMaxInstance = 99;

// Watch number n (1 to kMaxInstance) of several on one air: "Kavo R5 (1A2B)" and its address
// token, identifier and serial for 1 (the defaults), the token counting up from there for the
// others, so that each one is a watch of its own to the phone.
void applyInstance(ProgramOptions& options, int n);

// The arguments after the program's name. "--option value" and "--option=value" both work; a
// later option replaces an earlier one.
platform::Result<ProgramOptions> parseArguments(std::span<const std::string_view> arguments);

[[nodiscard]] std::string_view usage();

// What the watch starts as: the state the options name, else the remembered setup, else a
// factory watch.
[[nodiscard]] WatchState initialState(const ProgramOptions& options,
                                      std::optional<SetupState> remembered = std::nullopt);
// What it advertises while in that setup state.
[[nodiscard]] Purpose advertisingPurpose(const ProgramOptions& options, SetupState setup);

}  // namespace kavowatch
