#include "sim/WatchFiles.h"

#include <algorithm>
#include <string_view>

#include "logging/LGLog.h"
#include "platform/foundation/FileSystem.h"
#include "sim/WireFormat.h"

namespace kavowatch {

namespace {

// Segment codes and positions, as the watch knows them.
constexpr std::uint8_t kInfo = 0x00;
constexpr std::uint8_t kAccept = 0x01;
constexpr std::uint8_t kCancel = 0x02;
constexpr std::uint8_t kReject = 0x04;
constexpr std::uint8_t kAck = 0x08;
constexpr std::uint8_t kNak = 0x09;
constexpr std::uint8_t kResumeReject = 0x0C;
constexpr std::uint8_t kResumeAccept = 0x0E;
constexpr std::uint8_t kResumeRequest = 0x0F;
constexpr std::uint8_t kFirst = 0x10;
constexpr std::uint8_t kOnly = 0x20;
constexpr std::uint8_t kMiddle = 0x40;
constexpr std::uint8_t kLast = 0x80;

constexpr std::size_t kPiece = 5120;
constexpr std::size_t kAnnouncementSize = 147;
constexpr std::size_t kNameOffset = 5;

std::uint8_t positionOf(std::uint64_t index, std::uint64_t count) {
    if (count == 1) {
        return kOnly;
    }
    if (index == 0) {
        return kFirst;
    }
    return index + 1 == count ? kLast : kMiddle;
}

std::size_t pieceLength(std::uint64_t size, std::uint64_t index) {
    const std::uint64_t start = index * kPiece;
    return start >= size ? 0
                         : static_cast<std::size_t>(std::min<std::uint64_t>(kPiece, size - start));
}

std::uint16_t little16(std::span<const std::uint8_t> bytes) {
    return static_cast<std::uint16_t>(bytes[0] | bytes[1] << 8);
}

Bytes announcement(std::uint8_t code, std::string_view name, std::uint32_t size) {
    Bytes segment(kAnnouncementSize, 0);
    segment[0] = code;
    for (int i = 0; i < 4; ++i) {
        segment[1 + i] = static_cast<std::uint8_t>(size >> (8 * i));
    }
    std::copy_n(name.begin(), std::min(name.size(), kAnnouncementSize - kNameOffset - 1),
                segment.begin() + kNameOffset);
    return segment;
}

}  // namespace

WatchFiles::WatchFiles(platform::RunLoop& loop, Send send) : loop_(loop), send_(std::move(send)) {}

WatchFiles::~WatchFiles() {
    stopTimer();
}

void WatchFiles::handle(std::span<const std::uint8_t> segment, std::uint8_t appId) {
    if (segment.empty()) {
        return;
    }
    switch (segment[0]) {
        case kFirst:
        case kOnly:
        case kMiddle:
        case kLast:
            onData(segment);
            return;
        case kInfo:
            onAnnouncement(segment, appId, false);
            return;
        case kResumeRequest:
            onAnnouncement(segment, appId, true);
            return;
        case kCancel:
            ++counters_.cancelsReceived;
            // The phone cancels the file it takes in, or, when it takes none, the one it is
            // given.
            if (isReceiving() || !out_) {
                in_.reset();
            } else {
                finishSending(SentFileOutcome::cancelledByPhone);
            }
            return;
        case kAccept:
            onAccepted();
            return;
        case kReject:
            if (out_ && !out_->accepted) {
                finishSending(SentFileOutcome::rejected);
            }
            return;
        case kAck:
            onAcknowledged();
            return;
        case kNak:
            if (out_ && out_->accepted) {
                // After a resend on the timer the phone refusing the copy means it took the
                // first one and its acknowledgement was lost.
                if (out_->resent) {
                    onAcknowledged();
                } else {
                    sendSegment();
                }
            }
            return;
        case kResumeAccept:
            if (out_ && segment.size() >= 3) {
                const std::uint16_t last = little16(segment.subspan(1));
                out_->index = last == 0xFFFF ? 0 : last + 1U;
                out_->accepted = true;
                if (out_->index >= out_->count) {
                    finishSending(SentFileOutcome::delivered);
                } else {
                    sendSegment();
                }
            }
            return;
        case kResumeReject:
            if (out_) {
                finishSending(SentFileOutcome::resumeRefused);
            }
            return;
        default:
            return;
    }
}

void WatchFiles::linkLost() {
    stopTimer();
}

// ---- receiving ----

void WatchFiles::onAnnouncement(std::span<const std::uint8_t> segment, std::uint8_t appId,
                                bool resume) {
    if (segment.size() != kAnnouncementSize) {
        LG_WARN("kavowatch: announcement of %zu bytes refused", segment.size());
        send_(appId, Bytes{resume ? kResumeReject : kReject});
        return;
    }
    std::uint32_t size = 0;
    for (int i = 0; i < 4; ++i) {
        size |= std::uint32_t{segment[1 + i]} << (8 * i);
    }
    const auto field = segment.subspan(kNameOffset);
    const auto end = std::find(field.begin(), field.end(), std::uint8_t{0});
    std::string name(field.begin(), end);
    if (end == field.end()) {
        LG_WARN("kavowatch: file name without its NUL");
    }
    if (resume) {
        ++counters_.resumeRequests;
        if (refuseResume_ || !in_ || in_->name != name || in_->size != size) {
            in_.reset();
            send_(appId, Bytes{kResumeReject});
            return;
        }
        std::uint64_t last = in_->next == 0 ? 0xFFFF : in_->next - 1;
        if (resumeWith_) {
            last = *resumeWith_;
            in_->next = last == 0xFFFF ? 0 : last + 1U;
            in_->data.resize(std::min<std::size_t>(in_->data.size(), in_->next * kPiece));
        }
        in_->accepted = true;
        in_->appId = appId;
        Bytes answer{kResumeAccept, static_cast<std::uint8_t>(last),
                     static_cast<std::uint8_t>(last >> 8)};
        send_(appId, std::move(answer));
        return;
    }
    ++counters_.announcements;
    // A new file: whatever an earlier one left is gone.
    in_.emplace();
    in_->name = std::move(name);
    in_->appId = appId;
    in_->size = size;
    in_->count = size / kPiece + 1;
    in_->accepted = accepting_;
    LG_INFO("kavowatch: the phone offers \"%s\" (%u bytes)", in_->name, size);
    if (!accepting_) {
        in_.reset();
        send_(appId, Bytes{kReject});
        return;
    }
    send_(appId, Bytes{kAccept});
}

void WatchFiles::nak() {
    ++counters_.naksSent;
    send_(in_->appId, Bytes{kNak});
}

void WatchFiles::onData(std::span<const std::uint8_t> segment) {
    if (!in_ || !in_->accepted) {
        return;
    }
    if (nakNext_ > 0) {
        --nakNext_;
        nak();
        return;
    }
    if (segment.size() < 5) {
        ++counters_.badLength;
        nak();
        return;
    }
    const auto body = segment.first(segment.size() - 2);
    if (crc16(body) != little16(segment.last(2))) {
        ++counters_.badCrc;
        nak();
        return;
    }
    const std::uint16_t sequence = little16(segment.subspan(1));
    const std::uint16_t expected = static_cast<std::uint16_t>(in_->next);
    if (in_->next > 0 && sequence == static_cast<std::uint16_t>(expected - 1)) {
        ++counters_.duplicates;
        send_(in_->appId, Bytes{kAck});
        return;
    }
    if (sequence != expected || in_->next >= in_->count) {
        ++counters_.badSequence;
        nak();
        return;
    }
    if (segment[0] != positionOf(in_->next, in_->count)) {
        ++counters_.badPosition;
        nak();
        return;
    }
    const auto content = body.subspan(3);
    if (content.size() != pieceLength(in_->size, in_->next)) {
        ++counters_.badLength;
        nak();
        return;
    }
    in_->data.insert(in_->data.end(), content.begin(), content.end());
    ++in_->next;
    ++counters_.segmentsTaken;
    const std::uint8_t appId = in_->appId;
    if (in_->next == in_->count) {
        complete();
    }
    send_(appId, Bytes{kAck});
}

void WatchFiles::complete() {
    ReceivedFile file{std::move(in_->name), in_->appId, std::move(in_->data)};
    // Kept for a copy of the last segment, whose acknowledgement may be lost.
    const std::uint64_t taken = in_->next;
    in_.emplace();
    in_->appId = file.appId;
    in_->next = taken;
    in_->count = taken;
    in_->accepted = true;
    in_->complete = true;
    LG_INFO("kavowatch: received the file \"%s\" (%zu bytes)", file.name, file.data.size());
    keep(file);
    received_.push_back(std::move(file));
    if (receivedObserver_) {
        receivedObserver_(received_.back());
    }
}

void WatchFiles::keep(const ReceivedFile& file) {
    if (!folder_) {
        return;
    }
    if (!platform::fs::isSafePathComponent(file.name)) {
        LG_WARN("kavowatch: not keeping a file under the unsafe name \"%s\"", file.name);
        return;
    }
    const std::string_view bytes(reinterpret_cast<const char*>(file.data.data()), file.data.size());
    if (const auto written = platform::fs::writeFileAtomically(*folder_ / file.name, bytes);
        !written) {
        LG_WARN("kavowatch: cannot keep %s: %s", file.name, written.error().message);
    }
}

// ---- sending ----

void WatchFiles::sendFile(std::string name, Bytes data, std::uint8_t appId,
                          std::optional<std::uint32_t> announcedSize) {
    queue_.push_back({std::move(name), std::move(data), appId, announcedSize});
    if (!out_) {
        startNext();
    }
}

void WatchFiles::startNext() {
    if (queue_.empty()) {
        return;
    }
    Queued next = std::move(queue_.front());
    queue_.pop_front();
    const std::uint64_t size = next.data.size();
    out_.emplace();
    out_->name = std::move(next.name);
    out_->appId = next.appId;
    out_->data = std::move(next.data);
    out_->announced = next.announcedSize.value_or(static_cast<std::uint32_t>(size));
    out_->count = std::max<std::uint64_t>(1, (size + kPiece - 1) / kPiece);
    sendAwaited(announcement(kInfo, out_->name, out_->announced));
}

void WatchFiles::sendSegment() {
    Bytes segment{positionOf(out_->index, out_->count), static_cast<std::uint8_t>(out_->index),
                  static_cast<std::uint8_t>(out_->index >> 8)};
    const std::size_t start = out_->index * kPiece;
    const std::size_t length = pieceLength(out_->data.size(), out_->index);
    segment.insert(segment.end(), out_->data.begin() + static_cast<std::ptrdiff_t>(start),
                   out_->data.begin() + static_cast<std::ptrdiff_t>(start + length));
    ++counters_.segmentsSent;
    out_->resent = false;
    out_->resends = 0;
    sendAwaited(std::move(segment));
}

void WatchFiles::sendAwaited(Bytes segment) {
    out_->awaiting = std::move(segment);
    stopTimer();
    timer_ = loop_.scheduleTimer(kAnswerTimeout, false, [weak = weak_.weakPtr()] {
        if (weak) {
            weak->expire();
        }
    });
    send_(out_->appId, out_->awaiting);
}

void WatchFiles::expire() {
    timer_.reset();
    if (!out_) {
        return;
    }
    if (out_->resends == kMaxResends) {
        LG_WARN("kavowatch: no answer for \"%s\"; giving it up", out_->name);
        send_(out_->appId, Bytes{kCancel});
        finishSending(SentFileOutcome::gaveUp);
        return;
    }
    const int resends = out_->resends + 1;
    ++counters_.resends;
    sendAwaited(out_->awaiting);
    out_->resends = resends;
    out_->resent = out_->accepted;
}

void WatchFiles::onAccepted() {
    if (!out_ || out_->accepted) {
        return;
    }
    out_->accepted = true;
    out_->index = 0;
    sendSegment();
}

void WatchFiles::onAcknowledged() {
    if (!out_ || !out_->accepted) {
        return;
    }
    ++out_->index;
    if (out_->index >= out_->count) {
        finishSending(SentFileOutcome::delivered);
    } else {
        sendSegment();
    }
}

void WatchFiles::cancelSending() {
    if (out_) {
        send_(out_->appId, Bytes{kCancel});
        finishSending(SentFileOutcome::cancelled);
    }
}

void WatchFiles::requestResume() {
    if (out_) {
        out_->resends = 0;
        sendAwaited(announcement(kResumeRequest, out_->name, out_->announced));
    }
}

void WatchFiles::finishSending(SentFileOutcome outcome) {
    stopTimer();
    sent_.emplace_back(out_->name, outcome);
    out_.reset();
    startNext();
}

void WatchFiles::stopTimer() {
    if (timer_) {
        timer_->invalidate();
        timer_.reset();
    }
}

}  // namespace kavowatch
