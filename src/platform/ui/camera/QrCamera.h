#pragma once

#include <QPointer>
#include <functional>

#include "platform/foundation/Result.h"
#include "platform/foundation/RunLoop.h"
#include "platform/image/Image.h"
#include "platform/ui/Controls.h"
#include "platform/ui/camera/QrCodeReader.h"

namespace platform::camera {

// The errors of the cameras, in the domain "camera".
inline constexpr const char* kErrorDomain = "camera";
enum class CameraError : long {
    // No camera to film with.
    unavailable = 1,
    // The camera would not film, or stopped filming by itself.
    failed = 2,
    // The picture given to film cannot be read.
    unreadable = 3,
};
[[nodiscard]] Error cameraError(CameraError code, std::string message);

// A camera filming for the QR code reader. What it films shows in the preview, if there is
// one, and goes to the reader; the first code found after start() reaches the handler once,
// on the loop (the reader latches). Loop thread.
class QrCamera {
public:
    struct Handlers {
        QrCodeReader::CodeHandler code;
        // The camera stopped by itself after it had started (unplugged, taken by another
        // program): it is stopped and reads nothing more.
        std::function<void(const Error&)> failure;
    };

    virtual ~QrCamera();
    QrCamera(const QrCamera&) = delete;
    QrCamera& operator=(const QrCamera&) = delete;

    // Whether there is a camera to film with.
    [[nodiscard]] virtual bool isAvailable() const = 0;

    // Starts filming (when not yet filming) and reading afresh, re-arming a reader that
    // latched. Fails, starting nothing, when there is no camera or it will not film.
    Result<void> start(Handlers handlers);
    // Stops filming and reading: a frame still being read delivers nothing, and the preview
    // goes blank.
    void stop();
    [[nodiscard]] bool isRunning() const { return running_; }

    // The view that shows what the camera films; borrowed, and it may go first.
    void setPreview(ui::ImageView* preview);
    [[nodiscard]] const QrCodeReader& reader() const { return reader_; }

protected:
    explicit QrCamera(RunLoop& loop);

    virtual Result<void> startFilming() = 0;
    virtual void stopFilming() = 0;
    // A frame filmed: shown and read while the camera runs. False when the reader let it go
    // (or the camera is stopped).
    bool frameFilmed(const image::Image& frame);
    // Filming ended by itself: the camera stops and says why.
    void filmingFailed(const Error& error);

private:
    Handlers handlers_;
    bool running_ = false;
    QPointer<ui::ImageView> preview_;
    QrCodeReader reader_;
};

}  // namespace platform::camera
