#include "services/TQNotificationApps.h"

#include <optional>
#include <string>

#include "link/TQKMCommand.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "platform/foundation/UserDefaults.h"
#include "services/TQNotificationObject.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

constexpr const char* kBlockedApps = "BLOCKED_APPS_LIST";
constexpr const char* kPhoneApplication = "com.apple.mobilephone";
constexpr std::uint32_t kNotificationAppId = 7;

std::optional<std::string> textOf(const Value& message, std::string_view key) {
    if (const std::string* text = message[key].stringIf()) {
        return *text;
    }
    return std::nullopt;
}

Value orNull(const std::optional<std::string>& text) {
    return text ? Value(*text) : Value();
}

}  // namespace

void TQNotificationApps::processUpdateBlockApplicationList(const Value& message) {
    LG_VERBOSE("TQCommandListener dict: %@", lg::redacted(message));
    if (textOf(message, "msgId") != "msg_notification_block_info_req") {
        return;
    }
    TQNotificationObject entry;
    entry.name = textOf(message, "app_name");
    entry.identifier = textOf(message, "bundle_id");
    entry.categoryid = textOf(message, "category_id");
    if (entry.categoryid && entry.identifier == kPhoneApplication) {
        if (*entry.categoryid == "1") {
            entry.name = "Incoming Call";
        } else if (*entry.categoryid == "2") {
            entry.name = "Missed Call";
        } else if (*entry.categoryid == "3") {
            entry.name = "Voice Mail";
        }
        LG_VERBOSE("App Name Changed with Cat ID: %@", orNull(entry.name));
    }

    auto& defaults = platform::UserDefaults::standard();
    platform::Array list;
    if (const auto stored = defaults.object(kBlockedApps); stored && stored->arrayIf() != nullptr) {
        list = *stored->arrayIf();
    }
    bool matched = false;
    for (const Value& item : list) {
        const auto known = TQNotificationObject::decodedWithObject(item);
        if (!known) {
            LG_WARN("TQNotificationApps: an entry of %@ does not decode, kept as it is",
                    kBlockedApps);
            continue;
        }
        if (known->identifier == entry.identifier &&
            (!entry.categoryid || known->categoryid == entry.categoryid)) {
            matched = true;
            break;
        }
    }
    if (!matched) {
        list.emplace_back(entry.encoded());
        defaults.set(kBlockedApps, Value(std::move(list)));
        TQUtils::synchronizeDefaults("TQNotificationApps");
    }

    Value answer{{"msgId", "msg_notification_block_info_res"},
                 {"bundle_id", orNull(entry.identifier)}};
    if (entry.categoryid) {
        answer["category_id"] = *entry.categoryid;
    }
    TQKMCommand::processOutCommand(&kavoManager_, answer, kNotificationAppId,
                                   TQKMCommand::kNormalPriority);
}
