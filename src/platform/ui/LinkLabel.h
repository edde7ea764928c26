#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/View.h"

namespace platform::ui {

// One stretch of a LinkLabel's text in one style; with an action it is a link.
struct TextRun {
    std::string text;
    // Empty: the system font.
    std::string family;
    double size = 17;
    bool bold = false;
    Color color{0, 0, 0, 1};
    bool underline = false;
    std::function<void()> action;
};

// Text in styled runs, wrapped at words and centred vertically; a tap on a run with an action
// runs it, a tap anywhere else does nothing. Positions count UTF-16 code units. Without an
// alignment set, text starts at the leading edge of the locale's direction.
class LinkLabel : public View {
public:
    explicit LinkLabel(QWidget* parent = nullptr);
    ~LinkLabel() override;
    void setRuns(std::vector<TextRun> runs);
    [[nodiscard]] const std::vector<TextRun>& runs() const { return runs_; }
    [[nodiscard]] std::string text() const;
    void setTextAlignment(TextAlignment alignment);
    // The height the text needs at a width.
    [[nodiscard]] double heightForWidth(double width) const;
    // The character drawn under a point of the view; nothing between or beside the lines.
    [[nodiscard]] std::optional<std::size_t> characterIndexAt(Point point) const;
    // The run holding a character.
    [[nodiscard]] std::optional<std::size_t> runAt(std::size_t characterIndex) const;

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    struct Layout;
    void relayout();

    std::vector<TextRun> runs_;
    std::optional<TextAlignment> alignment_;
    std::unique_ptr<Layout> layout_;
    std::optional<std::size_t> pressedRun_;
};

}  // namespace platform::ui
