#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "link/TQFileSegments.h"
#include "link/TQFileTransferDelegate.h"
#include "platform/foundation/Value.h"

// The file coming from the watch: announced, answered from above, then gathered segment by
// segment in sequence, each answered with FILE_ACK, or FILE_NAK when it is not the one
// expected. Data segments count only once the file was accepted or resumed. A segment that
// would take the file past its announced size cancels it: FILE_CANCEL to the watch and the
// cancel above.
class TQIncomingFile {
public:
    using Send = std::function<void(platform::Bytes segment, std::uint32_t appId)>;

    TQIncomingFile(TQFileTransferDelegate& delegate, Send send);

    // FILE_INFO starts a new file: whatever was gathered before is dropped.
    void onInfo(std::span<const std::uint8_t> segment, std::uint32_t appId);
    // FILE_RESUME_REQUEST keeps what was gathered.
    void onResumeRequest(std::span<const std::uint8_t> segment, std::uint32_t appId);
    void onData(std::span<const std::uint8_t> segment, std::uint32_t appId);
    void onCancel();

    void accept();
    void reject();
    // FILE_RESUME_ACCEPT with the last sequence number taken (0xFFFF for none).
    void resumeAccept();
    void resumeReject();
    void clear();

    [[nodiscard]] bool isGathering() const { return state_ == State::gathering; }
    [[nodiscard]] std::uint16_t acceptingSeq() const { return acceptingSeq_; }
    [[nodiscard]] std::size_t gathered() const { return data_.size(); }

private:
    enum class State { idle, announced, gathering };

    void announce(std::span<const std::uint8_t> segment, std::uint32_t appId);
    void complete(platform::Bytes whole, std::uint32_t appId);
    void overflow(std::uint16_t sequence);

    TQFileTransferDelegate& delegate_;
    Send send_;
    State state_ = State::idle;
    platform::Bytes data_;
    std::uint16_t acceptingSeq_ = 0;
    std::uint16_t segmentCount_ = 0;
    std::uint32_t size_ = 0;  // announced
    std::uint32_t appId_ = 0;
    std::string name_;
};
