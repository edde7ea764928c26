#pragma once

#include <optional>
#include <string>
#include <string_view>

// The small decisions the pairing pages share, as plain functions of their inputs.
namespace pairing {

// A watch name as the pairing pages show it: "Kavo R5 (1A2B)" whether the third word came
// with its parentheses or without; a name of fewer than three words is shown trimmed of the
// blanks around it, as it stands.
[[nodiscard]] std::string displayedWatchName(std::string_view name);

// The phone models of the device model table by number, as the refusal message names them;
// nothing for a number the table does not hold.
[[nodiscard]] std::optional<std::string_view> phoneModelName(int model);
// Whether the welcome page refuses the phone: a model the table names that is not one of
// the supported phones (5 to 11). Model 0 is what the table gives for every machine it does
// not know, this computer included, and is never refused.
[[nodiscard]] bool refusesPhoneModel(int model);

// The pairing pages that go on once the watch's initial settings are synchronised.
enum class SetupPage { welcome, scanList, connecting };

// Where a page goes on once the watch's initial settings are synchronised: the segue, and
// whether the page itself is its sender (the permissions page is reached with none).
struct NextSetupStep {
    std::string_view segue;
    bool senderIsPage = true;
    friend bool operator==(const NextSetupStep&, const NextSetupStep&) = default;
};
// isReconnecting: the handshake found the known watch coming back; noPermissionLeft: no
// permission is left to ask. The welcome page decides by the permissions alone, the
// connecting page by the handshake alone, the scan list by both.
[[nodiscard]] NextSetupStep nextStepAfterSync(SetupPage page, bool isReconnecting,
                                              bool noPermissionLeft);

}  // namespace pairing
