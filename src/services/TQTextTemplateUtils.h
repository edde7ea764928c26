#pragma once

#include <string>
#include <string_view>

#include "listener/handlers/TQTextTemplateHandler.h"

class TQAP;

// The two lists of short texts the watch offers, general quick messages and call-rejection
// messages, kept per watch model in the database, seeded with predefined texts and sent whole
// to the watch ("mgr_text_template_db_sync_req" on identifier 1, priority 1). No state.
class TQTextTemplateUtils final : public TQTextTemplateHandler {
public:
    static constexpr int kGeneralMessageNextIndex = 7;
    static constexpr int kCallRejectionNextIndex = 5;

    // Drops the model's list (needToDelete) and seeds it (needToInsertTemplate) in one
    // transaction; a seeded list is then sent. Always resets the list's next free number.
    void initializeGeneralMessageDataToKavo(TQAP& ap, bool needToDelete,
                                            bool needToInsertTemplate) override;
    void initializeCallRejectionDataToKavo(TQAP& ap, bool needToDelete,
                                           bool needToInsertTemplate) override;

    static void sendAllGeneralMessageToKavo(TQAP& ap);
    static void sendAllCallRejectionToKavo(TQAP& ap);

    // A predefined text in the user's language; any other text unchanged.
    [[nodiscard]] static std::string filterPredefinedGeneralMessage(std::string_view text);
    [[nodiscard]] static std::string filterPredefinedCallRejectionMessage(std::string_view text);
    // A stored body as it goes to the watch: filtered, then percent escapes decoded; a body
    // whose escapes do not decode goes as it is.
    [[nodiscard]] static std::string bodyForWatch(std::string_view filtered);
};
