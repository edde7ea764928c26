#include "platform/image/Canvas.h"
#include "utils/TQUtils.h"

using platform::image::Canvas;
using platform::image::Image;
using platform::image::Rect;

std::optional<Image> TQUtils::imageByCombiningImage(const Image& first, const Image& second,
                                                    double scale) {
    auto canvas = Canvas::create(first.size(), scale, false);
    if (!canvas) {
        return std::nullopt;
    }
    canvas->draw(first, Rect{0, 0, first.size().width, first.size().height});
    canvas->draw(second, Rect{0, 0, second.size().width, second.size().height});
    return canvas->image();
}
