#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"

// What every fuzz target defines: one input, no state kept from earlier ones.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace fuzz {

// Cuts an input into records: a flags byte, a length byte, then that many bytes (fewer when
// the input ends first). Targets that take a sequence of packets or PDUs read them this way,
// so the fuzzer can change one record without shifting the others.
class Records {
public:
    struct Record {
        std::uint8_t flags = 0;
        std::span<const std::uint8_t> bytes;
    };

    explicit Records(std::span<const std::uint8_t> data) : data_(data) {}
    std::optional<Record> next();

    // The record form of bytes, for writing seeds; at most 255 bytes are kept.
    static void append(platform::Bytes& out, std::uint8_t flags,
                       std::span<const std::uint8_t> bytes);

private:
    std::span<const std::uint8_t> data_;
};

// A folder of this process for files the code under test insists on writing, removed at exit.
// In memory where the machine offers it, since the defaults are written atomically (with a
// sync) for every input that changes them.
const std::filesystem::path& scratchFolder();

// A fresh world for one input: a virtual-clock main loop and standard defaults of its own, both
// installed for the input's lifetime, and a second set of defaults for the code that takes
// them as an argument. Nothing of it outlives the input.
class World {
public:
    World();
    ~World();
    World(const World&) = delete;
    World& operator=(const World&) = delete;

    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop{loop};
    platform::UserDefaults defaults{scratchFolder() / "defaults.plist"};
    platform::UserDefaults standardDefaults{scratchFolder() / "standard.plist"};
    platform::ScopedInstall<platform::UserDefaults> installedDefaults{&standardDefaults};
};

}  // namespace fuzz
