#include "services/TQTextTemplateUtils.h"

#include <array>
#include <span>

#include "db/TQDBManagerImpl.h"
#include "db/TQDBRecords.h"
#include "link/TQKMCommand.h"
#include "logging/LGLog.h"
#include "logging/LGRedaction.h"
#include "platform/foundation/UserDefaults.h"
#include "utils/TQLocalization.h"
#include "utils/TQUtils.h"

using platform::Value;

namespace {

constexpr std::array<std::string_view, 7> kGeneralMessages = {
    "How's it going?", "What's up?",        "I'll talk to you soon.", "I'll call you back.",
    "Where are you?",  "When can we meet?", "Call me later."};
constexpr std::array<std::string_view, 5> kCallRejections = {"Sorry, I'm busy. Call back later.",
                                                             "I'm in a meeting.", "I'm driving.",
                                                             "I'm at the cinema.", "I'm in class."};

std::string filter(std::string_view text, std::span<const std::string_view> predefined) {
    for (const std::string_view known : predefined) {
        if (known == text) {
            return TQLocalization::localizedString(text);
        }
    }
    return std::string(text);
}

// One kind of list: its record class, texts, counter and field in the message.
template <typename Record>
struct Kind {
    std::span<const std::string_view> texts;
    const char* counterKey;
    int nextIndex;
    const char* field;
    std::string (*filter)(std::string_view);
};

const Kind<TQDBGeneralMessage> kGeneral{kGeneralMessages, "GENERAL_MESSAGE_TEMPLATES_CURRENT_INDEX",
                                        TQTextTemplateUtils::kGeneralMessageNextIndex, "records",
                                        &TQTextTemplateUtils::filterPredefinedGeneralMessage};
const Kind<TQDBCallRejectionMessage> kCallRejection{
    kCallRejections, "REJECT_MESSAGE_TEMPLATES_CURRENT_INDEX",
    TQTextTemplateUtils::kCallRejectionNextIndex, "records_callreject",
    &TQTextTemplateUtils::filterPredefinedCallRejectionMessage};

template <typename Record>
void sendAll(TQAP& ap, const Kind<Record>& kind) {
    platform::Array records;
    for (const Record& row : Record::getAllForThisModelNumber().value_or(std::vector<Record>())) {
        records.push_back(
            Value{{"checked", row.checked},
                  {"_id", row.templateId},
                  {"body", TQTextTemplateUtils::bodyForWatch(kind.filter(row.body.value_or("")))}});
    }
    const Value message{{"msgId", "mgr_text_template_db_sync_req"},
                        {kind.field, Value(std::move(records))}};
    LG_VERBOSE("TQTextTemplateUtils: %@", lg::redacted(message));
    TQKMCommand::processOutCommand(&ap, message, TQKMCommand::kGeneralAppId,
                                   TQKMCommand::kNormalPriority);
}

template <typename Record>
void initialize(TQAP& ap, const Kind<Record>& kind, bool needToDelete, bool needToInsert) {
    const auto model = currentKavoModelNumber();
    const bool insert = needToInsert && model.has_value();
    if (needToDelete || insert) {
        // The old rows go and the new ones come together, or neither does.
        const bool done = TQDBManagerImpl::getSharedInstance().transaction([&] {
            if (needToDelete && model && !Record::deleteForThisModelNumber()) {
                return false;
            }
            for (std::size_t i = 0; insert && i < kind.texts.size(); ++i) {
                Record record;
                record.checked = static_cast<std::int32_t>(i);
                record.templateId = static_cast<std::int32_t>(i);
                record.body = std::string(kind.texts[i]);
                record.modelNumber = *model;
                if (!record.saveAsNew()) {
                    return false;
                }
            }
            return true;
        });
        if (!done) {
            LG_ERROR("TQTextTemplateUtils: the texts of %@ were not renewed",
                     model.value_or("(null)"));
        } else if (insert) {
            sendAll(ap, kind);
        }
    }
    platform::UserDefaults::standard().set(kind.counterKey, kind.nextIndex);
    TQUtils::synchronizeDefaults("TQTextTemplateUtils");
}

}  // namespace

void TQTextTemplateUtils::initializeGeneralMessageDataToKavo(TQAP& ap, bool needToDelete,
                                                             bool needToInsertTemplate) {
    initialize(ap, kGeneral, needToDelete, needToInsertTemplate);
}

void TQTextTemplateUtils::initializeCallRejectionDataToKavo(TQAP& ap, bool needToDelete,
                                                            bool needToInsertTemplate) {
    initialize(ap, kCallRejection, needToDelete, needToInsertTemplate);
}

void TQTextTemplateUtils::sendAllGeneralMessageToKavo(TQAP& ap) {
    sendAll(ap, kGeneral);
}

void TQTextTemplateUtils::sendAllCallRejectionToKavo(TQAP& ap) {
    sendAll(ap, kCallRejection);
}

std::string TQTextTemplateUtils::filterPredefinedGeneralMessage(std::string_view text) {
    return filter(text, kGeneralMessages);
}

std::string TQTextTemplateUtils::filterPredefinedCallRejectionMessage(std::string_view text) {
    return filter(text, kCallRejections);
}

std::string TQTextTemplateUtils::bodyForWatch(std::string_view filtered) {
    return TQUtils::unescapeString(filtered).value_or(std::string(filtered));
}
