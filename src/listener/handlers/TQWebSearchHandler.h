#pragma once

#include "platform/foundation/Value.h"

// A web search handed over from the watch ("context-websearch-req").
class TQWebSearchHandler {
public:
    virtual ~TQWebSearchHandler() = default;
    virtual void processContextWebsearch(const platform::Value& message) = 0;
};
