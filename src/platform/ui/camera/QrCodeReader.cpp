#include "platform/ui/camera/QrCodeReader.h"

#include <optional>
#include <utility>

#include "platform/foundation/LoopThread.h"
#include "platform/ui/camera/QrDecoding.h"

namespace platform::camera {

QrCodeReader::QrCodeReader(RunLoop& loop, CodeHandler onCode)
    : loop_(loop), onCode_(std::move(onCode)) {}

QrCodeReader::~QrCodeReader() {
    // The queue, which goes first, then only skips what it still holds.
    liveRound_.store(~std::uint64_t{0});
}

void QrCodeReader::arm() {
    assertOnLoopThread(loop_);
    armed_ = true;
    liveRound_.store(++round_);
}

void QrCodeReader::disarm() {
    assertOnLoopThread(loop_);
    armed_ = false;
    liveRound_.store(++round_);
}

bool QrCodeReader::read(const image::Image& frame) {
    assertOnLoopThread(loop_);
    if (!armed_ || inHand_ >= kFramesInHand || frame.isNull()) {
        return false;
    }
    ++inHand_;
    // The brightness is taken here, so the queue works on bytes of its own and shares no
    // pixels with the loop's thread.
    queue_.async([this, weak = weak_.weakPtr(), &loop = loop_, round = round_,
                  luminance = luminanceOf(frame)]() mutable {
        std::optional<std::string> text;
        if (liveRound_.load() == round) {
            text = decodeQrCode(luminance);
        }
        loop.post([weak, round, text = std::move(text)]() mutable {
            if (QrCodeReader* reader = weak.get()) {
                reader->frameRead(round, std::move(text));
            }
        });
    });
    return true;
}

void QrCodeReader::frameRead(std::uint64_t round, std::optional<std::string> text) {
    --inHand_;
    ++framesRead_;
    if (!text || !armed_ || round != round_) {
        return;
    }
    // Latched before the handler runs: whatever the handler does, this code is told once.
    // The handler may end the reader (its page goes): it runs from a copy.
    disarm();
    if (const CodeHandler handler = onCode_) {
        handler(*text);
    }
}

}  // namespace platform::camera
