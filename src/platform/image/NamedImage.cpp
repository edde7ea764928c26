#include "platform/image/NamedImage.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QString>
#include <QSvgRenderer>
#include <algorithm>
#include <cmath>
#include <mutex>

#include "platform/foundation/LogSink.h"
#include "platform/image/QtBridge.h"

// The resources live in a static library: without a reference from code that is linked, the
// linker would leave their registration out of the program.
static void registerNamedImages() {
    Q_INIT_RESOURCE(kavo_images);
}

namespace platform::image {
namespace {

constexpr std::string_view kFolder = ":/kavo/images/";
constexpr std::string_view kSuffix = ".svg";
// A picture larger than this on either side is a caller's mistake, not a wish.
constexpr double kMaxPixels = 4096;
constexpr double kMaxScale = 4;

void ensureRegistered() {
    static std::once_flag once;
    std::call_once(once, registerNamedImages);
}

// The name without ".png"; empty when it could name something outside the folder.
std::string baseName(std::string_view name) {
    if (name.ends_with(".png")) {
        name.remove_suffix(4);
    }
    const bool plain = !name.empty() && std::all_of(name.begin(), name.end(), [](char c) {
        return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
               c == '_' || c == '-';
    });
    return plain ? std::string(name) : std::string();
}

QString resourcePath(const std::string& base) {
    return QString::fromUtf8(kFolder.data(), static_cast<qsizetype>(kFolder.size())) +
           QString::fromStdString(base) + QLatin1String(kSuffix.data(), kSuffix.size());
}

// A renderer for the picture; null when the name is unknown or its drawing does not read.
std::unique_ptr<QSvgRenderer> rendererFor(std::string_view name) {
    ensureRegistered();
    const std::string base = baseName(name);
    if (base.empty() || !QFile::exists(resourcePath(base))) {
        PLATFORM_LOG_WARN("No image named \"", name, "\"");
        return nullptr;
    }
    auto renderer = std::make_unique<QSvgRenderer>(resourcePath(base));
    if (!renderer->isValid()) {
        PLATFORM_LOG_ERROR("The image \"", name, "\" does not read as a drawing");
        return nullptr;
    }
    return renderer;
}

bool inRange(double value, double low, double high) {
    return std::isfinite(value) && value > low && value <= high;
}

Image render(QSvgRenderer& renderer, std::string_view name, Size points, double scale) {
    if (!inRange(scale, 0, kMaxScale) || !inRange(points.width * scale, 0, kMaxPixels) ||
        !inRange(points.height * scale, 0, kMaxPixels)) {
        PLATFORM_LOG_WARN("The image \"", name, "\" was asked for at a size it cannot have");
        return {};
    }
    const int width = std::max(1, static_cast<int>(std::lround(points.width * scale)));
    const int height = std::max(1, static_cast<int>(std::lround(points.height * scale)));
    QImage pixels(width, height, QImage::Format_ARGB32_Premultiplied);
    pixels.fill(Qt::transparent);
    {
        QPainter painter(&pixels);
        painter.setRenderHint(QPainter::Antialiasing);
        renderer.render(&painter, QRectF(0, 0, width, height));
    }
    return imageOf(std::move(pixels), scale);
}

// The drawing's own width and height (its view box when it states none).
Size naturalSize(const QSvgRenderer& renderer) {
    const QSize size = renderer.defaultSize();
    return {static_cast<double>(size.width()), static_cast<double>(size.height())};
}

}  // namespace

std::vector<std::string> namedImageNames() {
    ensureRegistered();
    const QDir folder(QString::fromUtf8(kFolder.data(), static_cast<qsizetype>(kFolder.size())));
    std::vector<std::string> names;
    for (const QString& file : folder.entryList({QStringLiteral("*.svg")}, QDir::Files)) {
        names.push_back(file.chopped(static_cast<qsizetype>(kSuffix.size())).toStdString());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::optional<Size> namedImageSize(std::string_view name) {
    const auto renderer = rendererFor(name);
    if (!renderer) {
        return std::nullopt;
    }
    return naturalSize(*renderer);
}

Image namedImage(std::string_view name, double scale) {
    const auto renderer = rendererFor(name);
    return renderer ? render(*renderer, name, naturalSize(*renderer), scale) : Image();
}

Image namedImage(std::string_view name, Size points, double scale) {
    const auto renderer = rendererFor(name);
    return renderer ? render(*renderer, name, points, scale) : Image();
}

namespace {

template <typename DrawFrame>
Image animation(std::string_view name, double duration, DrawFrame&& draw) {
    ensureRegistered();
    const std::string base = baseName(name);
    if (base.empty()) {
        PLATFORM_LOG_WARN("No animation named \"", name, "\"");
        return {};
    }
    std::vector<Image> frames;
    for (int index = 1;; ++index) {
        const std::string frame = base + "_" + std::to_string(index);
        // Only a missing first frame is worth a log line: any other ends the list.
        if (index > 1 && !QFile::exists(resourcePath(frame))) {
            break;
        }
        Image image = draw(frame);
        if (image.isNull()) {
            break;
        }
        frames.push_back(std::move(image));
    }
    return Image::animated(std::move(frames), duration);
}

}  // namespace

Image namedAnimation(std::string_view name, double duration, double scale) {
    return animation(name, duration,
                     [&](const std::string& frame) { return namedImage(frame, scale); });
}

Image namedAnimation(std::string_view name, Size points, double duration, double scale) {
    return animation(name, duration,
                     [&](const std::string& frame) { return namedImage(frame, points, scale); });
}

}  // namespace platform::image
