#pragma once

#include <memory>
#include <span>
#include <vector>

#include "screens/TQScreenServices.h"
#include "ui/TQStoryboard.h"

// The application's storyboard, "Main_iPhone": every scene and interface file of the screens
// and every segue between them.
class TQMainStoryboard {
public:
    static constexpr const char* kName = "Main_iPhone";
    static constexpr const char* kHomeScene = "homePageid";
    static constexpr const char* kSetupScene = "setupView";

    // A scene the code asks for by identifier, and the class of its screen.
    struct NamedScene {
        const char* identifier;
        const char* className;
    };

    TQMainStoryboard() = delete;
    // The storyboard over services, which outlive it.
    [[nodiscard]] static std::unique_ptr<TQStoryboard> make(const TQScreenServices& services);

    // The tables make() registers, as they stand, so that they can be checked.
    [[nodiscard]] static std::span<const NamedScene> namedScenes();
    // Interface files and segue-only scenes: the identifier is the class name.
    [[nodiscard]] static std::span<const char* const> classScenes();
    [[nodiscard]] static std::vector<TQSegue> segues();
};
