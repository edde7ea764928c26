#include "platform/ui/TextMetrics.h"

#include <QApplication>
#include <QFontMetricsF>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace platform::ui {

QFont systemFont(double size) {
    QFont font = QApplication::font();
    font.setPixelSize(std::max(1, static_cast<int>(std::lround(size))));
    return font;
}

TextMetrics& TextMetrics::current() {
    return installedOr([]() -> TextMetrics& {
        static FontTextMetrics metrics;
        return metrics;
    });
}

namespace {

Size measured(const QFont& font, std::string_view text, double maxWidth) {
    if (text.empty()) {
        return {};
    }
    const QFontMetricsF metrics(font);
    const QRectF bounds = metrics.boundingRect(
        QRectF(0, 0, maxWidth, std::numeric_limits<int>::max()),
        Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, toQString(text));
    return {bounds.width(), bounds.height()};
}

}  // namespace

Size FontTextMetrics::boundingSize(std::string_view text, double fontSize, double maxWidth) const {
    return measured(systemFont(fontSize), text, maxWidth);
}

Size FontTextMetrics::boldBoundingSize(std::string_view text, double fontSize,
                                       double maxWidth) const {
    QFont font = systemFont(fontSize);
    font.setBold(true);
    return measured(font, text, maxWidth);
}

double FontTextMetrics::lineWidth(std::string_view text, double fontSize) const {
    return QFontMetricsF(systemFont(fontSize)).horizontalAdvance(toQString(text));
}

namespace {

double widthOf(std::u32string_view text, double fontSize) {
    return static_cast<double>(text.size()) * fontSize / 2;
}

}  // namespace

double FakeTextMetrics::lineHeight(double fontSize) {
    return std::round(fontSize * 1.2);
}

double FakeTextMetrics::lineWidth(std::string_view text, double fontSize) const {
    return widthOf(toQString(text).toStdU32String(), fontSize);
}

Size FakeTextMetrics::boundingSize(std::string_view text, double fontSize, double maxWidth) const {
    if (text.empty()) {
        return {};
    }
    const std::u32string all = toQString(text).toStdU32String();
    const auto perLine = static_cast<std::size_t>(
        std::max(1.0, std::floor(maxWidth / (fontSize / 2))));
    std::vector<std::size_t> lines;  // characters on each line
    std::size_t current = 0;
    std::size_t i = 0;
    while (i < all.size()) {
        if (all[i] == U'\n') {
            lines.push_back(current);
            current = 0;
            ++i;
            continue;
        }
        std::size_t end = i;
        while (end < all.size() && all[end] != U' ' && all[end] != U'\n') {
            ++end;
        }
        std::size_t word = end - i;
        const std::size_t space = current > 0 ? 1 : 0;
        if (current + space + word <= perLine) {
            current += space + word;
        } else {
            if (current > 0) {
                lines.push_back(current);
                current = 0;
            }
            while (word > perLine) {
                lines.push_back(perLine);
                word -= perLine;
            }
            current = word;
        }
        i = end;
        while (i < all.size() && all[i] == U' ') {
            ++i;
        }
    }
    lines.push_back(current);
    const std::size_t widest = *std::max_element(lines.begin(), lines.end());
    return {static_cast<double>(widest) * fontSize / 2,
            static_cast<double>(lines.size()) * lineHeight(fontSize)};
}

double Screen::scaleFactor() const {
    return std::max(bounds_.width, bounds_.height) / 736.0;
}

Screen& Screen::main() {
    return installedOr([]() -> Screen& {
        static Screen screen(Size{414, 736});
        return screen;
    });
}

}  // namespace platform::ui
