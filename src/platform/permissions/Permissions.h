#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <optional>
#include <string_view>

#include "platform/foundation/Replaceable.h"
#include "platform/foundation/UserDefaults.h"

namespace platform {

// What the application may use only with the user's leave. The desktop asks nobody before an
// application reads the user's data or uses a device, so the application keeps a decision of
// its own for each. Bluetooth stands for the phone's "Bluetooth sharing", camera for the
// camera the voucher reader films with.
enum class Feature {
    location = 0,
    contacts = 1,
    calendars = 2,
    photos = 3,
    bluetooth = 4,
    camera = 5
};
// The user's data that watch features copy to the watch: what the set-up asks about.
inline constexpr std::array kFeatures{Feature::location, Feature::contacts, Feature::calendars,
                                      Feature::photos};
// Every feature, in the order a page of the application's permissions lists them.
inline constexpr std::array kAllFeatures{Feature::location, Feature::contacts,  Feature::calendars,
                                         Feature::photos,   Feature::bluetooth, Feature::camera};

// The phone platform's authorisation values; restricted: nothing to decide (no such service).
enum class Decision { notDetermined = 0, restricted = 1, denied = 2, granted = 3 };

[[nodiscard]] std::string_view featureName(Feature feature);

// Asks the user about one feature and hears the answer once, on the main thread. The screens
// show a question; a program without screens answers from a script.
class PermissionPrompt {
public:
    virtual ~PermissionPrompt() = default;
    virtual void ask(Feature feature, std::function<void(bool granted)> answer) = 0;
};

// The prompt of a program without screens: answers at once from its script, and declines what
// the script leaves out, as a user who grants no optional consent would.
class ScriptedPermissionPrompt final : public PermissionPrompt {
public:
    void setAnswer(Feature feature, std::optional<bool> granted) {
        answers_[static_cast<std::size_t>(feature)] = granted;
    }
    void ask(Feature feature, std::function<void(bool granted)> answer) override;
    [[nodiscard]] int questionsAsked() const { return asked_; }

private:
    std::array<std::optional<bool>, kAllFeatures.size()> answers_{};
    int asked_ = 0;
};

// The decisions, kept in the user defaults so they last across launches. Location reads as
// restricted, and is never asked, while no location service is present. Main thread.
class Permissions : public Replaceable<Permissions> {
public:
    // Both borrowed: they outlive the permissions.
    Permissions(UserDefaults& defaults, PermissionPrompt& prompt,
                std::function<bool()> locationServicePresent);

    [[nodiscard]] Decision decision(Feature feature) const;
    // Asks the user when the feature is not determined yet, keeps the answer, and tells it;
    // otherwise tells the decision at once.
    void request(Feature feature, const std::function<void(Decision)>& done);
    // The user's own decision, taken in the application's settings page: granted or denied
    // (notDetermined forgets it, so the next request asks again). A restricted feature keeps
    // no decision: false, and nothing changes.
    bool setDecision(Feature feature, Decision decision);
    // How many of the watch-data features (kFeatures) are still to be asked.
    [[nodiscard]] int undecidedCount() const;

    // The user-defaults key of a feature's decision.
    [[nodiscard]] static std::string defaultsKey(Feature feature);

    // The installed permissions, else ones over the standard defaults with a scripted prompt
    // that declines, on a machine without a location service.
    static Permissions& current();

private:
    UserDefaults& defaults_;
    PermissionPrompt& prompt_;
    std::function<bool()> locationServicePresent_;
};

}  // namespace platform
