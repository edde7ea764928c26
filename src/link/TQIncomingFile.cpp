#include "link/TQIncomingFile.h"

#include <algorithm>
#include <utility>

#include "logging/LGLog.h"

namespace fs = file_segment;

TQIncomingFile::TQIncomingFile(TQFileTransferDelegate& delegate, Send send)
    : delegate_(delegate), send_(std::move(send)) {}

void TQIncomingFile::clear() {
    state_ = State::idle;
    acceptingSeq_ = 0;
    segmentCount_ = 0;
    data_ = {};
}

void TQIncomingFile::announce(std::span<const std::uint8_t> segment, std::uint32_t appId) {
    const auto announced = fs::readAnnouncement(segment);
    if (!announced) {
        LG_WARN("TQFileHandler - announcement of %u bytes ignored", segment.size());
        return;
    }
    appId_ = appId;
    name_ = announced->name;
    size_ = announced->size;
    segmentCount_ = fs::announcedCount(announced->size);
    state_ = State::announced;
    if (segment[0] == fs::kInfo) {
        delegate_.onFileInfoReceive(name_, announced->size);
    } else {
        delegate_.onFileResumeRequestReceive(name_, announced->size);
    }
}

void TQIncomingFile::onInfo(std::span<const std::uint8_t> segment, std::uint32_t appId) {
    LG_VERBOSE("TQFileHandler - Control Segment Received - FILE_INFO");
    if (fs::readAnnouncement(segment)) {
        clear();
    }
    announce(segment, appId);
}

void TQIncomingFile::onResumeRequest(std::span<const std::uint8_t> segment, std::uint32_t appId) {
    LG_VERBOSE("TQFileHandler - Control Segment Received - FILE_RESUME_REQUEST");
    announce(segment, appId);
}

void TQIncomingFile::onData(std::span<const std::uint8_t> segment, std::uint32_t appId) {
    const auto data = fs::readData(segment);
    if (!data) {
        return;
    }
    if (state_ != State::gathering) {
        LG_WARN("TQFileHandler - data segment %d without an accepted file ignored", data->sequence);
        return;
    }
    LG_VERBOSE("TQFileHandler - acceptingSeq = %d -- receivingSeq = %d", acceptingSeq_,
               data->sequence);
    if (data->sequence != acceptingSeq_) {
        send_(fs::control(fs::kNak), appId_);
        return;
    }
    if (data->content.size() > size_ - std::min<std::size_t>(size_, data_.size())) {
        overflow(data->sequence);
        return;
    }
    switch (data->position) {
        case fs::kFirst:
        case fs::kMiddle:
            data_.insert(data_.end(), data->content.begin(), data->content.end());
            ++acceptingSeq_;
            break;
        case fs::kOnly:
            complete(platform::Bytes(data->content.begin(), data->content.end()), appId);
            break;
        case fs::kLast:
            data_.insert(data_.end(), data->content.begin(), data->content.end());
            complete(std::move(data_), appId);
            break;
    }
    const float progress = segmentCount_ == 0 ? 0.0F
                                              : static_cast<float>(acceptingSeq_) /
                                                    static_cast<float>(segmentCount_) * 100;
    delegate_.onFileReceiveProgress(progress);
    send_(fs::control(fs::kAck), appId_);
}

void TQIncomingFile::complete(platform::Bytes whole, std::uint32_t appId) {
    const std::uint32_t answerTo = appId_;
    clear();
    appId_ = answerTo;
    delegate_.onFileReceiveCompleted(whole, appId);
}

void TQIncomingFile::overflow(std::uint16_t sequence) {
    // The watch sends more than it announced: nothing it says of this file can be trusted, and
    // what we hold for it must not grow past what the announcement let us expect.
    LG_WARN("TQFileHandler - segment %d goes past the announced %u bytes of %@; file cancelled",
            sequence, size_, name_);
    send_(fs::control(fs::kCancel), appId_);
    delegate_.onFileCancel(name_);
    clear();
}

void TQIncomingFile::onCancel() {
    LG_VERBOSE("TQFileHandler - Control Segment Received - FILE_CANCEL");
    delegate_.onFileCancel(name_);
    clear();
}

void TQIncomingFile::accept() {
    if (state_ != State::announced) {
        LG_WARN("TQFileHandler - acceptFile without an announced file ignored");
        return;
    }
    state_ = State::gathering;
    send_(fs::control(fs::kAccept), appId_);
}

void TQIncomingFile::reject() {
    send_(fs::control(fs::kReject), appId_);
    clear();
}

void TQIncomingFile::resumeAccept() {
    state_ = State::gathering;
    send_(fs::resumeAccept(static_cast<std::uint16_t>(acceptingSeq_ - 1)), appId_);
}

void TQIncomingFile::resumeReject() {
    send_(fs::control(fs::kResumeReject), appId_);
    clear();
}
