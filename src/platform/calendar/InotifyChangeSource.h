#pragma once

#include <filesystem>

#include "platform/foundation/FolderWatch.h"

namespace platform::calendar {

// A calendar folder's watch: its reader thread is "kavo.calendar".
class InotifyChangeSource final : public platform::InotifyChangeSource {
public:
    InotifyChangeSource(std::filesystem::path folder, RunLoop& loop)
        : platform::InotifyChangeSource(std::move(folder), loop, "calendar") {}
};

}  // namespace platform::calendar
