#include "link/TQFileHandler.h"

#include <utility>

#include "link/TQFileSegments.h"
#include "logging/LGLog.h"
#include "platform/foundation/LoopThread.h"

namespace fs = file_segment;

TQFileHandler::TQFileHandler(TQFileDelegate& segments, TQFileTransferDelegate& files,
                             platform::RunLoop& loop, std::filesystem::path queueFolder)
    : segments_(segments),
      loop_(loop),
      queue_(std::move(queueFolder)),
      outgoing_(
          loop,
          [this](platform::Bytes segment, std::uint32_t appId) {
              segments_.onSendDataRequest(segment, kPriority, appId, true);
          },
          [this] { sendNext(); }),
      incoming_(files, [this](platform::Bytes segment, std::uint32_t appId) {
          segments_.onSendDataRequest(segment, kPriority, appId, true);
      }) {
    resetFileHandler();
}

void TQFileHandler::resetFileHandler() {
    platform::assertOnLoopThread(loop_);
    LG_VERBOSE("TQFileHandler - Resetting File Handler...");
    queue_.clear();
    outgoing_.clear();
    incoming_.clear();
}

void TQFileHandler::processFileData(platform::Bytes data, std::string name, std::uint32_t appId,
                                    TQFileSendEvent event) {
    platform::assertOnLoopThread(loop_);
    if (!queue_.enqueue(data, std::move(name), appId, std::move(event))) {
        return;
    }
    if (!outgoing_.isCurrent() && !outgoing_.isPaused()) {
        sendNext();
    }
}

void TQFileHandler::sendNext() {
    // A file that cannot be read back fails, and the one behind it gets its turn.
    while (auto taken = queue_.takeNext()) {
        if (taken->data) {
            outgoing_.start(std::move(taken->entry.fileName), taken->entry.appId,
                            std::move(taken->data).value(), std::move(taken->entry.event));
            return;
        }
        LG_WARN("TQFileHandler - queued file %@ unreadable: %@", taken->entry.fileName,
                taken->data.error().message);
        if (taken->entry.event) {
            taken->entry.event(5, TQOutgoingFile::failure(taken->entry.fileName));
        }
        if (outgoing_.isCurrent()) {
            return;  // the event handed in a file that is now under way
        }
    }
    LG_VERBOSE("TQFileHandler - File queue is empty.");
}

void TQFileHandler::processFileSegment(std::span<const std::uint8_t> segment, std::uint32_t appId) {
    platform::assertOnLoopThread(loop_);
    if (segment.empty()) {
        return;
    }
    if (fs::isDataSegment(segment)) {
        incoming_.onData(segment, appId);
    } else {
        onControl(segment, appId);
    }
}

void TQFileHandler::onControl(std::span<const std::uint8_t> segment, std::uint32_t appId) {
    switch (segment[0]) {
        case fs::kInfo:
            incoming_.onInfo(segment, appId);
            break;
        case fs::kResumeRequest:
            incoming_.onResumeRequest(segment, appId);
            break;
        case fs::kCancel:
            incoming_.onCancel();
            break;
        case fs::kAccept:
            LG_VERBOSE("TQFileHandler - Control Segment Received - FILE_ACCEPT");
            outgoing_.onAccept();
            break;
        case fs::kReject:
            LG_VERBOSE("TQFileHandler - Control Segment Received - FILE_REJECT");
            outgoing_.onReject();
            break;
        case fs::kAck:
            outgoing_.onAck();
            break;
        case fs::kNak:
            outgoing_.onNak();
            break;
        case fs::kResumeAccept:
            if (const auto last = fs::readResumeAccept(segment)) {
                outgoing_.onResumeAccept(*last);
            }
            break;
        case fs::kResumeReject:
            LG_VERBOSE("TQFileHandler - Control Segment Received - FILE_RESUME_REJECT");
            outgoing_.onResumeReject();
            break;
        default:
            break;
    }
}
