#pragma once

#include <memory>
#include <string>

#include "platform/foundation/WeakPtr.h"
#include "platform/ui/camera/NewestOnly.h"
#include "platform/ui/camera/QrCamera.h"

class QVideoFrame;

namespace platform::camera {

// The machine's camera through Qt Multimedia. Frames arrive on the multimedia backend's
// thread; the newest one waiting is taken to the loop, so a busy loop skips frames instead of
// piling them up. Where there is no camera it reports itself unavailable and never starts.
class SystemCamera final : public QrCamera {
public:
    // The video input of that identifier; an empty one, or one that is not plugged in, is no
    // camera.
    SystemCamera(RunLoop& loop, std::string deviceId);
    ~SystemCamera() override;

    // The identifier of the desktop's default video input; empty when there is none.
    [[nodiscard]] static std::string defaultDeviceId();

    [[nodiscard]] bool isAvailable() const override;

private:
    struct Filming;

    Result<void> startFilming() override;
    void stopFilming() override;
    void takeFrame(const QVideoFrame& frame);

    RunLoop& loop_;
    const std::string deviceId_;
    // The backend's frames, newest only, for the loop.
    NewestOnly<QVideoFrame> frames_;
    std::unique_ptr<Filming> filming_;
    WeakPtrFactory<SystemCamera> weak_{*this, loop_};
};

}  // namespace platform::camera
