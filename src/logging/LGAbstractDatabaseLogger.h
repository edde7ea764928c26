#pragma once

#include <cstdint>
#include <memory>

#include "logging/LGClock.h"
#include "logging/LGLogger.h"
#include "platform/foundation/RunLoop.h"

// The base of loggers that keep records in a database: it batches what db_log takes, saves
// once saveThreshold records wait or saveInterval seconds after the first of them, and deletes
// records older than maxAge every deleteInterval seconds. Timers run on the clock's run loop;
// the four storage operations always run on the logger's queue, never side by side.
class LGAbstractDatabaseLogger : public LGAbstractLogger {
public:
    // The clock must outlive the logger.
    explicit LGAbstractDatabaseLogger(std::string name = "LGAbstractDatabaseLogger",
                                      const LGClock& clock = LGClock::current());
    ~LGAbstractDatabaseLogger() override;

    // Read after the records queued before; never from the logging or this logger's queue.
    [[nodiscard]] std::uint64_t saveThreshold();
    [[nodiscard]] double saveInterval();
    [[nodiscard]] double maxAge();
    [[nodiscard]] double deleteInterval();
    [[nodiscard]] bool deleteOnEverySave();
    // Applied in order with the records (at once on this logger's queue).
    void setSaveThreshold(std::uint64_t count);
    void setSaveInterval(double seconds);
    void setMaxAge(double seconds);
    void setDeleteInterval(double seconds);
    void setDeleteOnEverySave(bool both);

    void savePendingLogEntries();
    void deleteOldLogEntries();

    void logMessage(const LGLogMessage& message) override;
    void didAddLogger() override;
    void willRemoveLogger() override;
    void flush() override;

protected:
    // The storage, provided by a subclass; on the logger's queue.
    virtual bool db_log(const LGLogMessage& /*message*/) { return false; }
    virtual void db_save() {}
    virtual void db_delete() {}
    virtual void db_saveAndDelete() {}

private:
    void performSaveAndSuspendSaveTimer();
    void performDelete();
    void createSuspendedSaveTimer();
    void updateAndResumeSaveTimer();
    void suspendSaveTimer();
    void destroySaveTimer();
    void createAndStartDeleteTimer();
    void updateDeleteTimer();
    void destroyDeleteTimer();
    // A one-shot timer on the loop whose firing runs `then` on this logger's queue.
    std::shared_ptr<platform::Timer> schedule(double delay,
                                              void (LGAbstractDatabaseLogger::*then)());
    void saveTimerFired();
    void deleteTimerFired();

    const LGClock& clock_;
    // Touched only on the logger's queue.
    std::uint64_t saveThreshold_ = 500;
    double saveInterval_ = 60;
    double maxAge_ = 604800;
    double deleteInterval_ = 300;
    bool deleteOnEverySave_ = false;
    std::uint64_t unsavedCount_ = 0;
    double unsavedTime_ = 0;
    double lastDeleteTime_ = 0;
    // The save timer exists from registration; it runs (is scheduled) only while records wait.
    bool saveTimerExists_ = false;
    std::shared_ptr<platform::Timer> saveTimer_;
    std::shared_ptr<platform::Timer> deleteTimer_;
};
