#include "logging/LGAbstractDatabaseLogger.h"

#include <algorithm>

LGAbstractDatabaseLogger::LGAbstractDatabaseLogger(std::string name, const LGClock& clock)
    : LGAbstractLogger(std::move(name)), clock_(clock) {}

LGAbstractDatabaseLogger::~LGAbstractDatabaseLogger() {
    destroySaveTimer();
    destroyDeleteTimer();
}

std::uint64_t LGAbstractDatabaseLogger::saveThreshold() {
    return readField(saveThreshold_);
}

double LGAbstractDatabaseLogger::saveInterval() {
    return readField(saveInterval_);
}

double LGAbstractDatabaseLogger::maxAge() {
    return readField(maxAge_);
}

double LGAbstractDatabaseLogger::deleteInterval() {
    return readField(deleteInterval_);
}

bool LGAbstractDatabaseLogger::deleteOnEverySave() {
    return readField(deleteOnEverySave_);
}

void LGAbstractDatabaseLogger::setSaveThreshold(std::uint64_t count) {
    runInOrder([this, count] {
        if (count == saveThreshold_) {
            return;
        }
        saveThreshold_ = count;
        if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) {
            performSaveAndSuspendSaveTimer();
        }
    });
}

void LGAbstractDatabaseLogger::setSaveInterval(double seconds) {
    runInOrder([this, seconds] {
        if (seconds == saveInterval_) {
            return;
        }
        saveInterval_ = seconds;
        if (saveInterval_ > 0) {
            createSuspendedSaveTimer();
            updateAndResumeSaveTimer();
        } else {
            destroySaveTimer();
        }
    });
}

void LGAbstractDatabaseLogger::setMaxAge(double seconds) {
    runInOrder([this, seconds] {
        if (seconds == maxAge_) {
            return;
        }
        const double old = maxAge_;
        maxAge_ = seconds;
        if (old > 0 && maxAge_ <= 0) {
            destroyDeleteTimer();
        }
        if (maxAge_ > 0 && (old <= 0 || maxAge_ < old)) {
            performDelete();
            if (deleteTimer_) {
                updateDeleteTimer();
            } else {
                createAndStartDeleteTimer();
            }
        }
    });
}

void LGAbstractDatabaseLogger::setDeleteInterval(double seconds) {
    runInOrder([this, seconds] {
        if (seconds == deleteInterval_) {
            return;
        }
        deleteInterval_ = seconds;
        if (deleteInterval_ > 0) {
            if (deleteTimer_) {
                updateDeleteTimer();
            } else {
                createAndStartDeleteTimer();
            }
        } else {
            destroyDeleteTimer();
        }
    });
}

void LGAbstractDatabaseLogger::setDeleteOnEverySave(bool both) {
    runInOrder([this, both] { deleteOnEverySave_ = both; });
}

void LGAbstractDatabaseLogger::savePendingLogEntries() {
    runInOrder([this] { performSaveAndSuspendSaveTimer(); });
}

void LGAbstractDatabaseLogger::deleteOldLogEntries() {
    runInOrder([this] { performDelete(); });
}

void LGAbstractDatabaseLogger::logMessage(const LGLogMessage& message) {
    if (!db_log(message)) {
        return;
    }
    ++unsavedCount_;
    if (saveThreshold_ != 0 && unsavedCount_ >= saveThreshold_) {
        performSaveAndSuspendSaveTimer();
    } else if (unsavedCount_ == 1) {
        unsavedTime_ = clock_.now();
        updateAndResumeSaveTimer();
    }
}

void LGAbstractDatabaseLogger::didAddLogger() {
    createSuspendedSaveTimer();
    createAndStartDeleteTimer();
}

void LGAbstractDatabaseLogger::willRemoveLogger() {
    performSaveAndSuspendSaveTimer();
    destroySaveTimer();
    destroyDeleteTimer();
}

void LGAbstractDatabaseLogger::flush() {
    performSaveAndSuspendSaveTimer();
}

void LGAbstractDatabaseLogger::performSaveAndSuspendSaveTimer() {
    if (unsavedCount_ > 0) {
        if (deleteOnEverySave_) {
            db_saveAndDelete();
        } else {
            db_save();
        }
    }
    unsavedCount_ = 0;
    unsavedTime_ = 0;
    suspendSaveTimer();
}

void LGAbstractDatabaseLogger::performDelete() {
    if (maxAge_ > 0) {
        db_delete();
        lastDeleteTime_ = clock_.now();
    }
}

std::shared_ptr<platform::Timer> LGAbstractDatabaseLogger::schedule(
    double delay, void (LGAbstractDatabaseLogger::*then)()) {
    std::weak_ptr<LGLogger> weak = weak_from_this();
    return clock_.loop().scheduleTimer(std::max(0.0, delay), false, [weak, then] {
        if (auto self = std::static_pointer_cast<LGAbstractDatabaseLogger>(weak.lock())) {
            self->runInOrder([raw = self.get(), then] { (raw->*then)(); }, false);
        }
    });
}

void LGAbstractDatabaseLogger::createSuspendedSaveTimer() {
    if (saveInterval_ > 0) {
        saveTimerExists_ = true;
    }
}

void LGAbstractDatabaseLogger::updateAndResumeSaveTimer() {
    if (!saveTimerExists_ || saveInterval_ <= 0 || unsavedTime_ == 0) {
        return;
    }
    suspendSaveTimer();
    // Due saveInterval after the first waiting record; every save stops it again.
    saveTimer_ = schedule(unsavedTime_ + saveInterval_ - clock_.now(),
                          &LGAbstractDatabaseLogger::saveTimerFired);
}

void LGAbstractDatabaseLogger::saveTimerFired() {
    saveTimer_.reset();
    performSaveAndSuspendSaveTimer();
}

void LGAbstractDatabaseLogger::suspendSaveTimer() {
    if (saveTimer_) {
        saveTimer_->invalidate();
        saveTimer_.reset();
    }
}

void LGAbstractDatabaseLogger::destroySaveTimer() {
    suspendSaveTimer();
    saveTimerExists_ = false;
}

void LGAbstractDatabaseLogger::createAndStartDeleteTimer() {
    if (deleteTimer_ || deleteInterval_ <= 0 || maxAge_ <= 0) {
        return;
    }
    updateDeleteTimer();
}

void LGAbstractDatabaseLogger::updateDeleteTimer() {
    if (deleteInterval_ <= 0 || maxAge_ <= 0) {
        return;
    }
    if (deleteTimer_) {
        deleteTimer_->invalidate();
    }
    // Before the first deletion the interval counts from now.
    const double now = clock_.now();
    const double from = lastDeleteTime_ == 0 ? now : lastDeleteTime_;
    deleteTimer_ =
        schedule(from + deleteInterval_ - now, &LGAbstractDatabaseLogger::deleteTimerFired);
}

void LGAbstractDatabaseLogger::deleteTimerFired() {
    if (!deleteTimer_) {
        return;
    }
    performDelete();
    deleteTimer_ = schedule(deleteInterval_, &LGAbstractDatabaseLogger::deleteTimerFired);
}

void LGAbstractDatabaseLogger::destroyDeleteTimer() {
    if (deleteTimer_) {
        deleteTimer_->invalidate();
        deleteTimer_.reset();
    }
}
