#pragma once

#include <string_view>

#include "platform/foundation/Replaceable.h"
#include "platform/ui/View.h"

namespace platform::ui {

// How large a text is in the system font of a size (points). The pages' geometry was fixed on
// another platform's fonts, so tests measure with exact fake metrics and the application with
// its real font.
class TextMetrics : public Replaceable<TextMetrics> {
public:
    virtual ~TextMetrics() = default;

    // The text wrapped at word boundaries within maxWidth: the widest line and all lines'
    // height. An empty text is 0 x 0.
    [[nodiscard]] virtual Size boundingSize(std::string_view text, double fontSize,
                                            double maxWidth) const = 0;
    // The width of the text on one line.
    [[nodiscard]] virtual double lineWidth(std::string_view text, double fontSize) const = 0;
    // As boundingSize, in the bold system font; metrics without a bold face measure as regular.
    [[nodiscard]] virtual Size boldBoundingSize(std::string_view text, double fontSize,
                                                double maxWidth) const {
        return boundingSize(text, fontSize, maxWidth);
    }

    // The installed metrics, else the application font's.
    static TextMetrics& current();
};

// The application font (QApplication::font's family) at a pixel size equal to the points.
class FontTextMetrics final : public TextMetrics {
public:
    [[nodiscard]] Size boundingSize(std::string_view text, double fontSize,
                                    double maxWidth) const override;
    [[nodiscard]] double lineWidth(std::string_view text, double fontSize) const override;
    [[nodiscard]] Size boldBoundingSize(std::string_view text, double fontSize,
                                        double maxWidth) const override;
};

// Every character (code point) is half the font size wide and a line is the font size × 1.2,
// rounded, tall; lines break at spaces, a word longer than a line at a character.
class FakeTextMetrics final : public TextMetrics {
public:
    [[nodiscard]] Size boundingSize(std::string_view text, double fontSize,
                                    double maxWidth) const override;
    [[nodiscard]] double lineWidth(std::string_view text, double fontSize) const override;
    [[nodiscard]] static double lineHeight(double fontSize);
};

// The system font of a size, as labels and the metrics use it.
[[nodiscard]] QFont systemFont(double size);

// The main screen's bounds in points: the size of the main window, which keeps it current as
// the window is resized, so what sizes itself from the screen follows the window.
class Screen : public Replaceable<Screen> {
public:
    explicit Screen(Size bounds) : bounds_(bounds) {}
    [[nodiscard]] Size bounds() const { return bounds_; }
    void setBounds(Size bounds) { bounds_ = bounds; }
    // The pages' scale: the longer side divided by 736.
    [[nodiscard]] double scaleFactor() const;

    // The installed screen, else 414 x 736 points.
    static Screen& main();

private:
    Size bounds_;
};

}  // namespace platform::ui
