#include "sim/program/WatchProgram.h"

#include <filesystem>

#include "logging/LGLog.h"

namespace kavowatch {

namespace {

WatchConfig configFor(const ProgramOptions& options) {
    WatchConfig config;
    config.identifier = options.identifier;
    config.advertising.name = options.name;
    return config;
}

}  // namespace

WatchProgram::WatchProgram(platform::RunLoop& loop, RadioFactory radios,
                           const ProgramOptions& options, const Script& script)
    : options_(options),
      memory_(options.home ? std::optional<WatchMemory>(*options.home) : std::nullopt),
      watch_(loop, std::move(radios), configFor(options)),
      responder_(watch_, initialState(options, memory_ ? memory_->setup() : std::nullopt)),
      apps_(watch_, responder_.state(), std::filesystem::temp_directory_path()) {
    applyScript(script, watch_, responder_);
    if (options.files) {
        watch_.files().keepFilesIn(*options.files);
    }
    if (memory_) {
        responder_.onSetupChanged([this](SetupState setup) {
            if (const auto kept = memory_->remember(setup); !kept) {
                LG_WARN("kavowatch: cannot remember the set-up: %s", kept.error().message);
            }
        });
    }
    watch_.observeLink([this](bool up) { linkChanged(up); });
}

void WatchProgram::start() {
    watch_.powerOn();
    advertise();
}

void WatchProgram::linkChanged(bool up) {
    // A linked watch is found through its link, as a real one stops advertising.
    if (up) {
        watch_.stopAdvertising();
    } else {
        advertise();
    }
}

void WatchProgram::advertise() {
    const Purpose purpose = advertisingPurpose(options_, responder_.state().setup);
    LG_INFO("kavowatch: advertising as \"%s\" for %s", options_.name,
            purpose == Purpose::setupWizard ? "the setup wizard" : "an automatic connection");
    watch_.advertise(static_cast<std::uint8_t>(purpose));
}

}  // namespace kavowatch
