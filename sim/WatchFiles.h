#pragma once

#include <cstdint>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/Value.h"
#include "platform/foundation/WeakPtr.h"

// The watch's side of the file conversation (messages of priority 3), written apart from the
// phone's code. As receiver it checks every segment the phone sends (sequence, position for
// the announced size, length, CRC) and answers FILE_ACK or FILE_NAK; as sender it announces a
// file and sends its segments, without a CRC, one at a time.
namespace kavowatch {

struct FileCounters {
    int announcements = 0;
    int segmentsTaken = 0;
    int duplicates = 0;  // a copy of the segment taken last, acknowledged again
    int badSequence = 0;
    int badPosition = 0;
    int badLength = 0;
    int badCrc = 0;
    int naksSent = 0;
    int cancelsReceived = 0;
    int resumeRequests = 0;
    int segmentsSent = 0;
    int resends = 0;
};

struct ReceivedFile {
    std::string name;
    std::uint8_t appId = 0;
    platform::Bytes data;
};

// How a file the watch sent ended.
enum class SentFileOutcome {
    delivered,
    rejected,
    cancelled,
    cancelledByPhone,
    resumeRefused,
    gaveUp
};

// What the watch keeps of a file on its way in or out; outside the class so that clang sees
// them complete where the class's optionals are made.
namespace watch_files_detail {

struct Incoming {
    std::string name;
    std::uint8_t appId = 0;
    std::uint32_t size = 0;
    std::uint64_t count = 0;  // segments the phone cuts the size into
    std::uint64_t next = 0;   // sequence expected
    bool accepted = false;
    // Handed on; kept only to acknowledge a copy of the last segment again.
    bool complete = false;
    platform::Bytes data;
};
struct Outgoing {
    std::string name;
    std::uint8_t appId = 0;
    platform::Bytes data;
    std::uint32_t announced = 0;  // the size FILE_INFO and FILE_RESUME_REQUEST name
    std::uint64_t count = 0;
    std::uint64_t index = 0;
    bool accepted = false;
    bool resent = false;  // the segment under way went again on the timer
    int resends = 0;
    platform::Bytes awaiting;
};

}  // namespace watch_files_detail

class WatchFiles {
public:
    // One segment to the phone, on appId, acknowledged by the link.
    using Send = std::function<void(std::uint8_t appId, platform::Bytes segment)>;

    // The watch's send timer: a segment without an answer for this long goes again, at most
    // kMaxResends times.
    static constexpr double kAnswerTimeout = 20;
    static constexpr int kMaxResends = 5;

    WatchFiles(platform::RunLoop& loop, Send send);
    ~WatchFiles();
    WatchFiles(const WatchFiles&) = delete;
    WatchFiles& operator=(const WatchFiles&) = delete;

    // One priority-3 message from the phone, header byte removed.
    void handle(std::span<const std::uint8_t> segment, std::uint8_t appId);
    // The link is gone: timers stop; both files stay for a resume.
    void linkLost();

    // ---- receiving ----

    // Announced files are accepted unless told otherwise.
    void setAccepting(bool accept) { accepting_ = accept; }
    // The next n data segments are answered FILE_NAK and dropped, whatever they hold.
    void nakNext(int n) { nakNext_ = n; }
    // A resume request is answered FILE_RESUME_ACCEPT with this last sequence number instead of
    // the watch's own; what the watch holds beyond it is dropped.
    void answerResumeWith(std::optional<std::uint16_t> last) { resumeWith_ = last; }
    void refuseResume(bool refuse) { refuseResume_ = refuse; }
    // Received files are written here too, under their name when it is a safe one.
    void keepFilesIn(std::filesystem::path folder) { folder_ = std::move(folder); }
    [[nodiscard]] const std::vector<ReceivedFile>& received() const { return received_; }
    // Told of each file once it is whole, after it is kept.
    void observeReceived(std::function<void(const ReceivedFile&)> observer) {
        receivedObserver_ = std::move(observer);
    }
    // Segments of the file being received that the watch holds.
    [[nodiscard]] std::size_t segmentsHeld() const { return isReceiving() ? in_->next : 0; }
    [[nodiscard]] bool isReceiving() const { return in_ && !in_->complete; }

    // ---- sending ----

    // Queued behind any file under way. A fault: announcedSize names another size than the
    // data's in the announcement.
    void sendFile(std::string name, platform::Bytes data, std::uint8_t appId = 1,
                  std::optional<std::uint32_t> announcedSize = std::nullopt);
    // FILE_CANCEL for the file under way.
    void cancelSending();
    // Asks the phone to continue the file under way (after a reconnection).
    void requestResume();
    [[nodiscard]] bool isSending() const { return out_.has_value(); }
    [[nodiscard]] const std::vector<std::pair<std::string, SentFileOutcome>>& sent() const {
        return sent_;
    }

    [[nodiscard]] const FileCounters& counters() const { return counters_; }

private:
    using Incoming = watch_files_detail::Incoming;
    using Outgoing = watch_files_detail::Outgoing;

    void onAnnouncement(std::span<const std::uint8_t> segment, std::uint8_t appId, bool resume);
    void onData(std::span<const std::uint8_t> segment);
    void complete();
    void nak();
    void keep(const ReceivedFile& file);

    void startNext();
    void sendSegment();
    void sendAwaited(platform::Bytes segment);
    void expire();
    void finishSending(SentFileOutcome outcome);
    void onAccepted();
    void onAcknowledged();

    void stopTimer();

    platform::RunLoop& loop_;
    Send send_;
    FileCounters counters_;

    bool accepting_ = true;
    int nakNext_ = 0;
    std::optional<std::uint16_t> resumeWith_;
    bool refuseResume_ = false;
    std::optional<std::filesystem::path> folder_;
    std::optional<Incoming> in_;
    std::vector<ReceivedFile> received_;
    std::function<void(const ReceivedFile&)> receivedObserver_;

    struct Queued {
        std::string name;
        platform::Bytes data;
        std::uint8_t appId;
        std::optional<std::uint32_t> announcedSize;
    };
    std::deque<Queued> queue_;
    std::optional<Outgoing> out_;
    std::vector<std::pair<std::string, SentFileOutcome>> sent_;
    std::shared_ptr<platform::Timer> timer_;
    platform::WeakPtrFactory<WatchFiles> weak_{*this, loop_};
};

}  // namespace kavowatch
