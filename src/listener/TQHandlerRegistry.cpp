#include "listener/TQHandlerRegistry.h"

#include "logging/LGLog.h"

TQHandlerRegistry& TQHandlerRegistry::current() {
    return installedOr([]() -> TQHandlerRegistry& {
        static TQHandlerRegistry process;
        return process;
    });
}

void TQHandlerRegistry::logMissing(std::string_view name, std::string_view work) {
    LG_WARN("TQHandlerRegistry: no %@ yet, %@ not done", name, work);
}
