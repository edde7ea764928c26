#include "platform/permissions/Permissions.h"

#include <string>
#include <utility>

namespace platform {

std::string_view featureName(Feature feature) {
    switch (feature) {
        case Feature::location:
            return "location";
        case Feature::contacts:
            return "contacts";
        case Feature::calendars:
            return "calendars";
        case Feature::photos:
            return "photos";
        case Feature::bluetooth:
            return "bluetooth";
        case Feature::camera:
            return "camera";
    }
    return "unknown";
}

void ScriptedPermissionPrompt::ask(Feature feature, std::function<void(bool granted)> answer) {
    ++asked_;
    answer(answers_[static_cast<std::size_t>(feature)].value_or(false));
}

Permissions::Permissions(UserDefaults& defaults, PermissionPrompt& prompt,
                         std::function<bool()> locationServicePresent)
    : defaults_(defaults),
      prompt_(prompt),
      locationServicePresent_(std::move(locationServicePresent)) {}

std::string Permissions::defaultsKey(Feature feature) {
    return "kavo.permission." + std::string(featureName(feature));
}

Decision Permissions::decision(Feature feature) const {
    if (feature == Feature::location && !locationServicePresent_()) {
        return Decision::restricted;
    }
    const auto stored = defaults_.integer(defaultsKey(feature));
    if (stored == static_cast<std::int64_t>(Decision::granted)) {
        return Decision::granted;
    }
    if (stored == static_cast<std::int64_t>(Decision::denied)) {
        return Decision::denied;
    }
    return Decision::notDetermined;
}

void Permissions::request(Feature feature, const std::function<void(Decision)>& done) {
    const Decision now = decision(feature);
    if (now != Decision::notDetermined) {
        done(now);
        return;
    }
    prompt_.ask(feature, [this, feature, done](bool granted) {
        const Decision answer = granted ? Decision::granted : Decision::denied;
        defaults_.set(defaultsKey(feature), static_cast<int>(answer));
        done(answer);
    });
}

bool Permissions::setDecision(Feature feature, Decision decision) {
    if (decision == Decision::restricted || this->decision(feature) == Decision::restricted) {
        return false;
    }
    if (decision == Decision::notDetermined) {
        defaults_.remove(defaultsKey(feature));
    } else {
        defaults_.set(defaultsKey(feature), static_cast<int>(decision));
    }
    return true;
}

int Permissions::undecidedCount() const {
    int count = 0;
    for (const Feature feature : kFeatures) {
        count += decision(feature) == Decision::notDetermined ? 1 : 0;
    }
    return count;
}

Permissions& Permissions::current() {
    return installedOr([]() -> Permissions& {
        static ScriptedPermissionPrompt declines;
        static Permissions permissions(UserDefaults::standard(), declines, [] { return false; });
        return permissions;
    });
}

}  // namespace platform
