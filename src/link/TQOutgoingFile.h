#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>

#include "link/TQFileHandlerInterface.h"
#include "link/TQFileSegments.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"

// The file going to the watch: announced, then sent one segment at a time, each answered by
// FILE_ACK or FILE_NAK. The whole file stays until it is over, and a segment is cut from it
// whenever it is to go, so a resend or a resume sends exactly the bytes of its sequence number.
//
// Whatever waits for an answer (announcement, segment, resume request) runs a timer of 150 s:
// the first expiry sends it once more, the second fails the file (event 5 and FILE_CANCEL).
// When a file is over, however it ended, `over` is called and the next one may start.
//
// Data segments go acknowledged, like the control segments: a segment is some 35 packets, and
// without the link's windows one lost packet loses the whole segment, which only the timer
// would notice.
class TQOutgoingFile {
public:
    using Send = std::function<void(platform::Bytes segment, std::uint32_t appId)>;

    static constexpr double kAnswerTimeout = 150;
    // What event 5 carries.
    [[nodiscard]] static platform::Value failure(const std::string& name);

    TQOutgoingFile(platform::RunLoop& loop, Send send, std::function<void()> over);
    ~TQOutgoingFile();
    TQOutgoingFile(const TQOutgoingFile&) = delete;
    TQOutgoingFile& operator=(const TQOutgoingFile&) = delete;

    // Announces a file with FILE_INFO; any current one is dropped without a word.
    void start(std::string name, std::uint32_t appId, platform::Bytes data, TQFileSendEvent event);
    [[nodiscard]] bool isCurrent() const { return state_ != State::idle; }
    [[nodiscard]] bool isPaused() const { return paused_; }
    [[nodiscard]] std::uint64_t index() const { return index_; }
    [[nodiscard]] std::uint64_t segmentCount() const { return count_; }

    void onAccept();
    void onReject();
    void onAck();
    void onNak();
    void onResumeAccept(std::uint16_t lastAccepted);
    void onResumeReject();

    // FILE_CANCEL, then the next file.
    void cancel();
    // The link is gone: no timer, no further segment until a resume.
    void pause();
    // Announces the current file again with FILE_RESUME_REQUEST.
    void resumeRequest();
    // Forgets the current file without a word.
    void clear();

private:
    enum class State { idle, announced, sending, resuming };

    void sendAnnouncement(file_segment::Code code);
    void sendSegment();
    // Sends what waits for an answer and starts the timer afresh.
    void sendAwaited(platform::Bytes segment);
    void stopTimer();
    void expire();
    void fail();
    // Rejected (2) or resume refused (7): the next file.
    void refused(int code);
    void finish();
    void raise(int code, platform::Value info);
    [[nodiscard]] platform::Value named() const;

    platform::RunLoop& loop_;
    Send send_;
    std::function<void()> over_;

    State state_ = State::idle;
    std::string name_;
    std::uint32_t appId_ = 0;
    platform::Bytes data_;
    TQFileSendEvent event_;
    std::uint64_t count_ = 0;
    std::uint64_t index_ = 0;
    // Segments that went out at least once: those a resume may go back to.
    std::uint64_t sent_ = 0;
    bool paused_ = false;
    int expiries_ = 0;
    // What the timer resends on its first expiry.
    platform::Bytes awaiting_;
    std::shared_ptr<platform::Timer> timer_;
    platform::WeakPtrFactory<TQOutgoingFile> weak_{*this, loop_};
};
