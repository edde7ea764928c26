#pragma once

#include "logging/LGLogger.h"

// Writes each record's text (or its formatter's text) as one line on standard error.
class LGStderrLogger : public LGAbstractLogger {
public:
    LGStderrLogger() : LGAbstractLogger("kavo.stderr") {}
    void logMessage(const LGLogMessage& message) override;
};
