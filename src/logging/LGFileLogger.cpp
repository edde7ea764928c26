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
    const LGLogMessage* const one[] = {&message};
    logMessages(one);
}

void LGFileLogger::logMessages(std::span<const LGLogMessage* const> messages) {
    // A file deleted or renamed from outside is finished; these lines start the next.
    if (file_ && !file_->isStillAt(current_->filePath())) {
        rollLogFileNow();
    }
    for (const LGLogMessage* message : messages) {
        if (!appendLine(*message)) {
            continue;
        }
        // The file ends with the line that takes it to the limit, as if written line by line.
        if (maximumFileSize_ != 0 && file_->offset() + lines_.size() >= maximumFileSize_) {
            writeLines();
            maybeRollLogFileDueToSize();
        }
    }
    writeLines();
}

bool LGFileLogger::appendLine(const LGLogMessage& message) {
    const std::size_t start = lines_.size();
    LGFormatted formatted = LGFormatted::unchanged;
    if (formatter_) {
        formatted = formatter_->appendFormatted(message, lines_);
        if (formatted == LGFormatted::dropped) {
            return false;
        }
    } else {
        lines_ += message.message();
    }
    const bool endsLine = lines_.size() > start && lines_.back() == '\n';
    if ((formatted != LGFormatted::formatted || automaticallyAppendNewline_) && !endsLine) {
        lines_ += '\n';
    }
    if (!openCurrentLogFile()) {
        lines_.resize(start);
        return false;
    }
    return true;
}

void LGFileLogger::writeLines() {
    if (lines_.empty() || !file_) {
        return;
    }
    if (auto written = file_->write(lines_); !written) {
        reportError(written.error().message);
    }
    lines_.clear();
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
