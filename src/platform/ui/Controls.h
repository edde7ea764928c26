#pragma once

#include <QAbstractButton>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPointer>
#include <QTextEdit>
#include <array>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/image/Image.h"
#include "platform/ui/EditMenu.h"
#include "platform/ui/View.h"

class QPainter;

namespace platform {
class Timer;
}

namespace platform::ui {

// A guard that reads null once its view is gone: what a posted task or an animation keeps.
template <typename T>
using ViewGuard = QPointer<T>;

enum class TextAlignment { left, center, right };

class Label : public Framed<QLabel> {
public:
    explicit Label(QWidget* parent = nullptr);
    void setText(std::string_view text);
    [[nodiscard]] std::string text() const;
    // The system font of this size (points).
    void setFontSize(double size);
    // A named family at a size; the system font when the family is missing.
    void setFont(std::string_view family, double size);
    void setTextColor(const Color& color);
    void setBold(bool bold);
    // 0: as many lines as the text needs, wrapping at words; 1: one line; n: at most n lines.
    // What does not fit (the line limit, the width, or the height for wrapped text) ends in
    // "…" on the last line shown, so text is shortened visibly, never cut off.
    void setNumberOfLines(int lines);
    [[nodiscard]] int numberOfLines() const { return lines_; }
    void setTextAlignment(TextAlignment alignment);
    void setEnabled(bool enabled);
    // The lines as drawn in the label's frame, the last one elided when the text is cut short.
    [[nodiscard]] std::vector<std::string> shownLines() const;
    [[nodiscard]] bool isTruncated() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    struct Layout {
        QStringList lines;
        bool truncated = false;
    };
    [[nodiscard]] Layout layoutText() const;

    int lines_ = 1;
};

// A button with a title and an image per state; the action fires on release inside (the
// default) or as soon as the button is pressed.
class Button : public Framed<QAbstractButton> {
public:
    enum class State { normal = 0, highlighted = 1, disabled = 2, selected = 3 };

    explicit Button(QWidget* parent = nullptr);
    void setTitle(std::string_view title);
    [[nodiscard]] std::string title() const;
    void setTitleColor(const Color& color);
    void setFont(std::string_view family, double size);
    void setBackgroundColor(const Color& color);
    void setImage(State state, image::Image image);
    // The image the button shows now: its state's, else the normal one.
    [[nodiscard]] const image::Image& currentImage() const;
    [[nodiscard]] State state() const;
    void setSelectedState(bool selected);
    void setActionOnTouchDown(bool onTouchDown);
    void onAction(std::function<void()> action);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::array<image::Image, 4> images_{};
    std::optional<Color> background_;
    Color titleColor_{0, 0.48, 1, 1};
    bool selected_ = false;
    bool onTouchDown_ = false;
    std::function<void()> action_;
};

// An on/off switch, painted.
class Switch : public Framed<QAbstractButton> {
public:
    explicit Switch(QWidget* parent = nullptr);
    [[nodiscard]] bool isOn() const { return isChecked(); }
    void setOn(bool on) { setChecked(on); }
    // Called when the user changes the value, not when code sets it.
    void onValueChanged(std::function<void(bool on)> changed);
    [[nodiscard]] QSize sizeHint() const override { return {51, 31}; }

protected:
    void paintEvent(QPaintEvent* event) override;
};

// One text field. Positions and lengths count UTF-16 code units, as the pages' limits do.
class TextField : public Framed<QLineEdit> {
public:
    struct Range {
        std::size_t location = 0;
        std::size_t length = 0;
    };
    // Asked before each change by the user, whichever way the text comes (typing, keys, the
    // edit menu, a drop, the selection paste, an input method's commit, undo and redo): the
    // range it replaces and what it puts there; false refuses it.
    using ShouldChange = std::function<bool(Range range, std::string_view replacement)>;

    explicit TextField(QWidget* parent = nullptr);
    void setText(std::string_view text);
    [[nodiscard]] std::string text() const;
    // The text's length in UTF-16 code units.
    [[nodiscard]] std::size_t length() const;
    void setPlaceholder(std::string_view text);
    void setFontSize(double size);
    void setShouldChange(ShouldChange shouldChange) { shouldChange_ = std::move(shouldChange); }
    // After every change by the user.
    void onEditingChanged(std::function<void()> changed);
    // The return key: never inserts anything; the handler is told.
    void onReturn(std::function<void()> pressed) { onReturn_ = std::move(pressed); }

    // Runs an edit command as the menu and the keys do; false when it changed nothing.
    bool perform(EditAction action);
    // The menu a long press or right click shows, in the installed InterfaceLocale's words.
    [[nodiscard]] std::unique_ptr<QMenu> createEditMenu();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void inputMethodEvent(QInputMethodEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    [[nodiscard]] Range selectionOrCursor() const;
    bool allowed(Range range, const QString& replacement) const;
    // Puts the text over the range when allowed, as one change the user made.
    bool replace(Range range, const QString& replacement);
    // Undo or redo, kept only when the change it makes is allowed.
    bool stepHistory(bool undo);
    void edited();

    ShouldChange shouldChange_;
    std::function<void()> onReturn_;
    std::vector<std::function<void()>> onEdited_;
    bool quiet_ = false;
};

// A text view for fixed texts: read-only, no caret and no edit menu.
class TextView : public Framed<QTextEdit> {
public:
    explicit TextView(QWidget* parent = nullptr);
    void setText(std::string_view text);
    [[nodiscard]] std::string text() const;
    void setFontSize(double size);
    // Whether an edit action (copy, select, paste) may run: never.
    [[nodiscard]] static bool canPerformAction(std::string_view /*action*/) { return false; }
    // The caret's rectangle: empty, so nothing shows.
    [[nodiscard]] static Rect caretRect() { return {}; }
};

// A bar that fills with progress from 0 to 1.
class ProgressBar : public View {
public:
    explicit ProgressBar(QWidget* parent = nullptr);
    ~ProgressBar() override;
    void setProgress(double progress, bool animated);
    // The value set last (the target of a running animation).
    [[nodiscard]] double progress() const { return progress_; }
    [[nodiscard]] double shownProgress() const { return shown_; }
    void setTrackColor(const Color& color) { track_ = color; }
    void setProgressColor(const Color& color) { fill_ = color; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    double progress_ = 0;
    double shown_ = 0;
    int generation_ = 0;
    Color track_{0.85, 0.85, 0.87, 1};
    Color fill_{0, 0.48, 1, 1};
};

// A painted activity indicator: twelve spokes turning on the main run loop's clock.
class Spinner : public View {
public:
    explicit Spinner(QWidget* parent = nullptr);
    ~Spinner() override;
    void setColor(const Color& color);
    [[nodiscard]] const Color& color() const { return color_; }
    void setHidesWhenStopped(bool hides);
    void startAnimating();
    void stopAnimating();
    [[nodiscard]] bool isAnimating() const { return timer_ != nullptr; }
    // The spoke drawn brightest, 0 to 11.
    [[nodiscard]] int phase() const { return phase_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Color color_{0.5, 0.5, 0.5, 1};
    bool hidesWhenStopped_ = true;
    int phase_ = 0;
    std::shared_ptr<Timer> timer_;
};

// Shows an image, or plays frames on the main run loop's clock.
class ImageView : public View {
public:
    enum class ContentMode { scaleToFill, aspectFit, aspectFill, center };

    explicit ImageView(QWidget* parent = nullptr);
    ~ImageView() override;
    void setImage(image::Image image);
    [[nodiscard]] const image::Image& image() const { return image_; }
    void setContentMode(ContentMode mode);
    // Frames shown in turn, each for an equal share of the duration; repeatCount 0 repeats
    // until stopped.
    void setAnimationImages(std::vector<image::Image> frames);
    [[nodiscard]] std::size_t animationImageCount() const { return frames_.size(); }
    void setAnimationDuration(double seconds) { duration_ = seconds; }
    [[nodiscard]] double animationDuration() const { return duration_; }
    void setAnimationRepeatCount(int count) { repeatCount_ = count; }
    void startAnimating();
    void stopAnimating();
    [[nodiscard]] bool isAnimating() const { return timer_ != nullptr; }
    // The frame on show while animating.
    [[nodiscard]] std::size_t currentFrame() const { return frame_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    // Turns or moves what is drawn of the image; nothing here.
    virtual void transformContent(QPainter& /*painter*/) const {}

private:
    void advance();

    image::Image image_;
    ContentMode mode_ = ContentMode::scaleToFill;
    std::vector<image::Image> frames_;
    double duration_ = 0;
    int repeatCount_ = 0;
    std::size_t frame_ = 0;
    int rounds_ = 0;
    std::shared_ptr<Timer> timer_;
};

}  // namespace platform::ui
