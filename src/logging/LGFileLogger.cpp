#include "logging/LGFileLogger.h"

#include "logging/LGLogFileFormatterDefault.h"
#include "logging/LGTime.h"

LGFileLogger::LGFileLogger(std::shared_ptr<LGLogFileManager> manager, const LGClock& clock)
    : LGAbstractLogger("kavo.logging.fileLogger"), manager_(std::move(manager)), clock_(clock) {
    formatter_ = std::make_shared<LGLogFileFormatterDefault>();
}

LGFileLogger::~LGFileLogger() {
    if (rollingTimer_) {
        rollingTimer_->invalidate();
    }
}

std::uint64_t LGFileLogger::maximumFileSize() {
    return readField(maximumFileSize_);
}

double LGFileLogger::rollingFrequency() {
    return readField(rollingFrequency_);
}

void LGFileLogger::setMaximumFileSize(std::uint64_t bytes) {
    runInOrder([this, bytes] {
        maximumFileSize_ = bytes;
        maybeRollLogFileDueToSize();
    });
}

void LGFileLogger::setRollingFrequency(double seconds) {
    runInOrder([this, seconds] {
        rollingFrequency_ = seconds;
        maybeRollLogFileDueToAge();
    });
}

void LGFileLogger::setDoNotReuseLogFiles(bool doNotReuse) {
    runInOrder([this, doNotReuse] { doNotReuseLogFiles_ = doNotReuse; });
}

void LGFileLogger::setAutomaticallyAppendNewlineForCustomFormatters(bool append) {
    runInOrder([this, append] { automaticallyAppendNewline_ = append; });
}

void LGFileLogger::rollLogFile(std::function<void()> completion) {
    runInOrder([this, completion = std::move(completion)] {
        rollLogFileNow();
        if (completion) {
            clock_.loop().post(completion);
        }
    });
}

std::optional<LGLogFileInfo> LGFileLogger::currentLogFileInfo() {
    if (current_) {
        return current_;
    }
    auto infos = manager_->sortedLogFileInfos();
    if (!infos.empty()) {
        LGLogFileInfo& newest = infos.front();
        const bool archived = newest.isArchived();
        const bool full = maximumFileSize_ != 0 && newest.fileSize() >= maximumFileSize_;
        const bool old = rollingFrequency_ > 0 && newest.age(clock_.now()) >= rollingFrequency_;
        const bool toArchive = !archived && (full || old);
        if (!doNotReuseLogFiles_ && !toArchive && !archived) {
            current_ = std::move(newest);
        } else if (toArchive) {
            newest.setIsArchived(true);
            manager_->didArchiveLogFile(newest.filePath());
        }
    }
    if (!current_) {
        current_ = manager_->createNewLogFile();
    }
    return current_;
}

bool LGFileLogger::openCurrentLogFile() {
    if (file_) {
        return true;
    }
    if (!currentLogFileInfo()) {
        return false;
    }
    auto opened = platform::AppendFile::open(current_->filePath());
    if (!opened) {
        // The next line chooses again.
        current_.reset();
        reportError(opened.error().message);
        return false;
    }
    file_ = std::move(opened).value();
    scheduleTimerToRollLogFileDueToAge();
    return true;
}

void LGFileLogger::logMessage(const LGLogMessage& message) {
    std::string text = message.message();
    bool formatted = false;
    if (formatter_) {
        auto result = formatter_->formatLogMessage(message);
        if (!result) {
            return;
        }
        // A formatter that hands the text back unchanged did not format it.
        formatted = *result != message.message();
        text = std::move(*result);
    }
    if ((!formatted || automaticallyAppendNewline_) && !text.ends_with('\n')) {
        text += '\n';
    }
    // A file deleted or renamed from outside is finished; this line starts the next.
    if (file_ && !file_->isStillAt(current_->filePath())) {
        rollLogFileNow();
    }
    if (!openCurrentLogFile()) {
        return;
    }
    if (auto written = file_->write(text); !written) {
        reportError(written.error().message);
        return;
    }
    maybeRollLogFileDueToSize();
}

void LGFileLogger::reportError(const std::string& text) {
    if (errorsReported_ >= 10) {
        return;
    }
    lgReport("LGFileLogger.logMessage: " + text);
    if (++errorsReported_ == 10) {
        lgReport("LGFileLogger.logMessage: Too many exceptions -- will not log any more of them.");
    }
}

void LGFileLogger::maybeRollLogFileDueToSize() {
    if (file_ && maximumFileSize_ != 0 && file_->offset() >= maximumFileSize_) {
        rollLogFileNow();
    }
}

void LGFileLogger::maybeRollLogFileDueToAge() {
    if (current_ && rollingFrequency_ > 0 && current_->age(clock_.now()) >= rollingFrequency_) {
        rollLogFileNow();
    } else {
        scheduleTimerToRollLogFileDueToAge();
    }
}

void LGFileLogger::scheduleTimerToRollLogFileDueToAge() {
    if (rollingTimer_) {
        rollingTimer_->invalidate();
        rollingTimer_.reset();
    }
    if (!current_ || rollingFrequency_ <= 0) {
        return;
    }
    const double delay = std::max(0.0, current_->creationDate() + rollingFrequency_ - clock_.now());
    // The timer fires on the loop; the check runs here, in order with the records.
    std::weak_ptr<LGLogger> weak = weak_from_this();
    rollingTimer_ = clock_.loop().scheduleTimer(delay, false, [weak] {
        if (auto self = std::static_pointer_cast<LGFileLogger>(weak.lock())) {
            self->runInOrder([raw = self.get()] { raw->maybeRollLogFileDueToAge(); }, false);
        }
    });
}

void LGFileLogger::rollLogFileNow() {
    if (!file_) {
        return;
    }
    const bool stillThere = file_->isStillAt(current_->filePath());
    file_->syncAndClose();
    file_.reset();
    if (stillThere) {
        current_->setIsArchived(true);
    }
    manager_->didRollAndArchiveLogFile(current_->filePath());
    current_.reset();
    if (rollingTimer_) {
        rollingTimer_->invalidate();
        rollingTimer_.reset();
    }
}

void LGFileLogger::willRemoveLogger() {
    rollLogFileNow();
}
