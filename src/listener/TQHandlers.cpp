#include "listener/TQHandlers.h"

#include "logging/LGLog.h"

void TQHandlers::logMissing(std::string_view name, std::string_view work) {
    LG_WARN("TQHandlers: no %@ yet, %@ not done", name, work);
}
