#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"
#include "platform/image/Image.h"

namespace platform::camera {

// Reads QR codes in the frames a camera takes: each frame is decoded on a serial queue of its
// own ("myQueue"), and the text of the first code found comes back on the loop, once. Then the
// reader latches: nothing more is delivered, neither from later frames nor from frames that
// were still being read, until it is armed again. A camera's frames come faster than they are
// decoded, so only a few are in hand at a time and the rest are let go.
//
// Loop thread, but for the decoding.
class QrCodeReader {
public:
    using CodeHandler = std::function<void(const std::string& text)>;

    // How many frames may be handed to the queue and not yet be back.
    static constexpr int kFramesInHand = 2;

    // The handler hears each delivered code on the loop, which outlives the reader.
    QrCodeReader(RunLoop& loop, CodeHandler onCode);
    ~QrCodeReader();
    QrCodeReader(const QrCodeReader&) = delete;
    QrCodeReader& operator=(const QrCodeReader&) = delete;

    // Reading starts afresh: the next code found in a frame handed in from now on is delivered.
    void arm();
    // Reading ends: frames are refused and what is still being read is dropped.
    void disarm();
    [[nodiscard]] bool isArmed() const { return armed_; }

    // Hands a frame to the queue; false when it was let go: the reader is not armed (or latched
    // after a code), it already has kFramesInHand frames in hand, or the frame has no pixels.
    bool read(const image::Image& frame);

    // Frames whose reading ended and came back to the loop, with a code or without.
    [[nodiscard]] std::uint64_t framesRead() const { return framesRead_; }
    [[nodiscard]] int framesInHand() const { return inHand_; }

private:
    void frameRead(std::uint64_t round, std::optional<std::string> text);

    RunLoop& loop_;
    CodeHandler onCode_;
    bool armed_ = false;
    // Raised by every arm and disarm, so that a frame read in an earlier round delivers nothing.
    std::uint64_t round_ = 0;
    int inHand_ = 0;
    std::uint64_t framesRead_ = 0;
    // The round the queue still decodes for; frames of another are skipped unread.
    std::atomic<std::uint64_t> liveRound_{0};
    // Waits for the frame it is decoding when the reader goes.
    SerialQueue queue_{"myQueue"};
    WeakPtrFactory<QrCodeReader> weak_{*this, loop_};
};

}  // namespace platform::camera
