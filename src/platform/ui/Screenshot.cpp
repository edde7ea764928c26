#include "platform/ui/Screenshot.h"

#include <QImage>
#include <QPixmap>
#include <algorithm>
#include <cstdlib>

namespace platform::ui {

namespace {
constexpr const char* kDomain = "platform.ui.screenshot";

QImage render(QWidget& view) {
    view.ensurePolished();
    return view.grab().toImage().convertToFormat(QImage::Format_ARGB32);
}
}  // namespace

Result<void> saveScreenshot(QWidget& view, const std::filesystem::path& file) {
    std::error_code error;
    std::filesystem::create_directories(file.parent_path(), error);
    const QImage image = render(view);
    if (image.isNull() || !image.save(QString::fromStdString(file.string()), "PNG")) {
        return Error{kDomain, 1, "cannot write " + file.string()};
    }
    return {};
}

Result<ImageDifference> compareWithReference(QWidget& view, const std::filesystem::path& reference,
                                             int channelAllowance) {
    QImage expected;
    if (!expected.load(QString::fromStdString(reference.string()), "PNG")) {
        return Error{kDomain, 2, "cannot read " + reference.string()};
    }
    expected = expected.convertToFormat(QImage::Format_ARGB32);
    const QImage actual = render(view);
    ImageDifference difference;
    difference.sameSize = expected.size() == actual.size();
    if (!difference.sameSize) {
        return difference;
    }
    std::int64_t differing = 0;
    int largest = 0;
    for (int y = 0; y < actual.height(); ++y) {
        const auto* a = reinterpret_cast<const QRgb*>(actual.constScanLine(y));
        const auto* b = reinterpret_cast<const QRgb*>(expected.constScanLine(y));
        for (int x = 0; x < actual.width(); ++x) {
            const int delta = std::max({std::abs(qRed(a[x]) - qRed(b[x])),
                                        std::abs(qGreen(a[x]) - qGreen(b[x])),
                                        std::abs(qBlue(a[x]) - qBlue(b[x])),
                                        std::abs(qAlpha(a[x]) - qAlpha(b[x]))});
            largest = std::max(largest, delta);
            if (delta > channelAllowance) {
                ++differing;
            }
        }
    }
    difference.largestDelta = largest;
    difference.differingShare =
        static_cast<double>(differing) / static_cast<double>(actual.width() * actual.height());
    return difference;
}

}  // namespace platform::ui
