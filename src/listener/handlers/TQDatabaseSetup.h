#pragma once

#include "platform/foundation/Value.h"

// Whether the per-model data held for the connected watch is still valid (TQInitializeDB).
class TQDatabaseSetup {
public:
    virtual ~TQDatabaseSetup() = default;

    // {"needDeleteForThisModelNumber", "needToInsertTemplateData"} as Booleans; empty when no
    // watch model or device identifier is known yet.
    virtual platform::Dictionary checkIfNeedToDeleteOrInsertTemplateData() = 0;
};
