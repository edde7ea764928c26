#pragma once

#include <memory>

#include "screens/TQScreenServices.h"
#include "ui/TQStoryboard.h"

// The application's storyboard, "Main_iPhone": every scene and interface file of the screens
// and every segue between them.
class TQMainStoryboard {
public:
    static constexpr const char* kName = "Main_iPhone";
    static constexpr const char* kHomeScene = "homePageid";
    static constexpr const char* kSetupScene = "setupView";

    TQMainStoryboard() = delete;
    // The storyboard over services, which outlive it.
    [[nodiscard]] static std::unique_ptr<TQStoryboard> make(const TQScreenServices& services);
};
