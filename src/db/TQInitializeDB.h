#pragma once

#include <optional>
#include <string>

#include "listener/TQHandlers.h"
#include "listener/handlers/TQDatabaseSetup.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Value.h"

class TQAP;

// Whether the per-model data held for the connected watch is still valid, and its
// initialisation. The defaults' "device_history" keeps one entry per watch model:
// {"model_number", "device_uuid"}, with "pending_delete" and "pending_insert" while the data
// of a watch new to its model has not been set up yet. So the decision holds, unchanged, for
// every caller until the initialisation has run; an entry without them is set up.
class TQInitializeDB final : public TQDatabaseSetup {
public:
    // handlers: the template and weather services, borrowed; a missing one is logged and its
    // part left undone (and the entry left pending). The tables are the shared engine's.
    TQInitializeDB(platform::UserDefaults& defaults, const TQHandlers& handlers);

    // {"needDeleteForThisModelNumber", "needToInsertTemplateData"}: a model never seen gets its
    // entry and insert; another watch of a known model takes over its entry, delete and insert;
    // the watch of the entry, what is still pending. Empty without a model or device UUID.
    platform::Dictionary checkIfNeedToDeleteOrInsertTemplateData() override;

    // Creates the per-watch tables and runs the template, buddy and weather initialisation of
    // the decision, then marks the model's entry set up. Nothing without a model or device UUID.
    void checkAndDoInitializeWithKavoManager(TQAP& ap);

    // Whether the connected watch's model still waits for checkAndDoInitializeWithKavoManager
    // (no entry, or one pending or of another watch).
    [[nodiscard]] bool needsInitialization() const;

private:
    struct Watch {
        std::string modelNumber;
        std::string deviceUUID;
    };
    [[nodiscard]] std::optional<Watch> connectedWatch() const;
    [[nodiscard]] platform::Array history() const;
    void markSetUp(const Watch& watch);

    platform::UserDefaults& defaults_;
    const TQHandlers& handlers_;
};
