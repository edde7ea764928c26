#include "link/TQOutgoingFile.h"

#include <algorithm>
#include <utility>

#include "logging/LGLog.h"

namespace fs = file_segment;

TQOutgoingFile::TQOutgoingFile(platform::RunLoop& loop, Send send, std::function<void()> over)
    : loop_(loop), send_(std::move(send)), over_(std::move(over)) {}

TQOutgoingFile::~TQOutgoingFile() {
    stopTimer();
}

void TQOutgoingFile::start(std::string name, std::uint32_t appId, platform::Bytes data,
                           TQFileSendEvent event) {
    clear();
    name_ = std::move(name);
    appId_ = appId;
    data_ = std::move(data);
    event_ = std::move(event);
    state_ = State::announced;
    sendAnnouncement(fs::kInfo);
    LG_VERBOSE("TQFileHandler - File request sent -- File name: %@ -- File size: %u", name_,
               data_.size());
}

void TQOutgoingFile::clear() {
    stopTimer();
    state_ = State::idle;
    name_.clear();
    appId_ = 0;
    data_ = {};
    count_ = 0;
    index_ = 0;
    sent_ = 0;
    paused_ = false;
    awaiting_.clear();
}

void TQOutgoingFile::sendAnnouncement(fs::Code code) {
    expiries_ = 0;
    sendAwaited(fs::announcement(code, name_, static_cast<std::uint32_t>(data_.size())));
}

void TQOutgoingFile::sendSegment() {
    LG_VERBOSE("TQFileHandler - sendData");
    if (index_ >= count_) {
        return;
    }
    const auto position = fs::positionFor(index_, count_);
    const auto sequence = static_cast<std::uint16_t>(index_);
    platform::Bytes segment = fs::dataSegment(position, sequence, fs::piece(data_, index_));
    LG_VERBOSE("TQFileHandler - File chunk index - %d - seq: %d", index_, sequence);
    sent_ = std::max(sent_, index_ + 1);
    expiries_ = 0;
    sendAwaited(std::move(segment));
}

void TQOutgoingFile::sendAwaited(platform::Bytes segment) {
    awaiting_ = std::move(segment);
    stopTimer();
    LG_VERBOSE("TQFileHandler - Start Chunk T_SEND");
    timer_ = loop_.scheduleTimer(kAnswerTimeout, false, [weak = weak_.weakPtr()] {
        if (weak) {
            weak->expire();
        }
    });
    send_(awaiting_, appId_);
}

void TQOutgoingFile::stopTimer() {
    if (timer_) {
        LG_VERBOSE("TQFileHandler - Stop Chunk T_SEND");
        timer_->invalidate();
        timer_.reset();
    }
}

void TQOutgoingFile::expire() {
    LG_VERBOSE("TQFileHandler - Expire Chunk T_SEND");
    timer_.reset();
    if (++expiries_ < 2) {
        // Lost on the way, or its answer was: the watch answers a copy again.
        sendAwaited(awaiting_);
        return;
    }
    LG_VERBOSE("TQFileHandler - File chunk T_SEND timer expires %u times", expiries_);
    fail();
}

void TQOutgoingFile::fail() {
    raise(5, platform::Value{
                 {"fileName", name_}, {"errorCode", 8}, {"errorDesc", "File sending failed"}});
    cancel();
}

void TQOutgoingFile::cancel() {
    if (state_ == State::idle) {
        return;
    }
    send_(fs::control(fs::kCancel), appId_);
    clear();
    over_();
}

void TQOutgoingFile::finish() {
    LG_VERBOSE("TQFileHandler - Current file transfer finished");
    clear();
    over_();
}

void TQOutgoingFile::raise(int code, platform::Value info) {
    // A copy: the event may cancel, or start another file.
    if (const TQFileSendEvent event = event_) {
        event(code, info);
    }
}

platform::Value TQOutgoingFile::failure(const std::string& name) {
    return platform::Value{
        {"fileName", name}, {"errorCode", 8}, {"errorDesc", "File sending failed"}};
}

platform::Value TQOutgoingFile::named() const {
    return platform::Value{{"fileName", name_}};
}

void TQOutgoingFile::onAccept() {
    if (state_ != State::announced) {
        return;  // a late copy: the file is under way, or gone
    }
    stopTimer();
    raise(1, named());
    if (state_ != State::announced) {
        return;
    }
    count_ = fs::pieceCount(data_.size());
    index_ = 0;
    state_ = State::sending;
    LG_VERBOSE("TQFileHandler - Start Sending File - File size: %d - Total segment count: %d",
               data_.size(), count_);
    if (!paused_) {
        sendSegment();
    }
}

void TQOutgoingFile::onReject() {
    refused(2);
}

void TQOutgoingFile::refused(int code) {
    if (state_ == State::idle) {
        return;
    }
    raise(code, named());
    clear();
    over_();
}

void TQOutgoingFile::onAck() {
    LG_VERBOSE("TQFileHandler - Control Segment Received - FILE_ACK currentSendSegmentIndex: %d",
               index_);
    if (state_ != State::sending || index_ >= count_) {
        return;
    }
    stopTimer();
    ++index_;
    raise(3, platform::Value{{"fileName", name_},
                             {"progress", static_cast<double>(static_cast<float>(index_) /
                                                              static_cast<float>(count_) * 100)}});
    if (state_ != State::sending) {
        return;
    }
    if (index_ == count_) {
        finish();
    } else if (!paused_) {
        sendSegment();
    }
}

void TQOutgoingFile::onNak() {
    LG_VERBOSE("TQFileHandler - Control Segment Received - FILE_NAK. currentSendSegmentIndex: %d",
               index_);
    if (state_ == State::sending && index_ < count_ && !paused_) {
        sendSegment();
    }
}

void TQOutgoingFile::onResumeAccept(std::uint16_t lastAccepted) {
    LG_VERBOSE("TQFileHandler - Control Segment Received - FILE_RESUME_ACCEPT - resumeSeq: %d",
               lastAccepted);
    if (state_ == State::idle) {
        return;
    }
    stopTimer();
    raise(6, named());
    if (state_ == State::idle) {
        return;
    }
    const std::uint64_t next = lastAccepted == fs::kNothingAccepted ? 0 : lastAccepted + 1U;
    if (count_ == 0) {
        count_ = fs::pieceCount(data_.size());
    }
    if (next > sent_) {
        LG_WARN("TQFileHandler - resume at %d, but only %d segments went out", next, sent_);
        fail();
        return;
    }
    index_ = next;
    if (index_ >= count_) {
        raise(3, platform::Value{{"fileName", name_}, {"progress", 100.0}});
        if (state_ != State::idle) {
            finish();
        }
        return;
    }
    state_ = State::sending;
    paused_ = false;
    sendSegment();
}

void TQOutgoingFile::onResumeReject() {
    refused(7);
}

void TQOutgoingFile::pause() {
    if (state_ == State::idle) {
        return;
    }
    paused_ = true;
    stopTimer();
    LG_VERBOSE("TQFileHandler - FILE SENDING PAUSED");
}

void TQOutgoingFile::resumeRequest() {
    paused_ = false;
    if (state_ == State::idle) {
        return;
    }
    state_ = State::resuming;
    sendAnnouncement(fs::kResumeRequest);
    LG_VERBOSE("TQFileHandler - Resume request sent -- File name: %@ -- File size: %u", name_,
               data_.size());
}
