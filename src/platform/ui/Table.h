#pragma once

#include <QScrollArea>
#include <functional>
#include <optional>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/View.h"

namespace platform::ui {

// One row of a grouped table: a built-in text label and a content view for what a cell type
// adds, an accessory on the trailing side and a look when selected.
class TableCell : public View {
public:
    enum class Accessory { none, disclosureIndicator, checkmark };
    enum class SelectionStyle { none, gray };

    explicit TableCell(QWidget* parent = nullptr);
    // Made when first asked for: most cells never show it.
    [[nodiscard]] Label& textLabel();
    void setTextLabelEnabled(bool enabled);
    [[nodiscard]] View& contentView() { return *content_; }
    void setAccessory(Accessory accessory);
    [[nodiscard]] Accessory accessory() const { return accessory_; }
    void setSelectionStyle(SelectionStyle style) { selectionStyle_ = style; }
    [[nodiscard]] SelectionStyle selectionStyle() const { return selectionStyle_; }
    // A page's own look for the selected row and the hairline under the row; unset, the
    // appearance's and the system's.
    void setSelectedBackgroundColor(std::optional<Color> color) { selectedBackground_ = color; }
    void setSeparatorColor(std::optional<Color> color) { separator_ = color; }
    [[nodiscard]] double rowHeight() const { return rowHeight_; }
    void setRowHeight(double height) { rowHeight_ = height; }
    // The leading space the cell's content keeps from its edge.
    [[nodiscard]] static constexpr double leftLayoutMargin() { return 16; }
    // Places the content view and the accessory; subclasses place their parts after this.
    void layoutSubviews() override;
    void layoutIfNeeded() { layoutSubviews(); }
    void onTouched(std::function<void()> touched) { touched_ = std::move(touched); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    [[nodiscard]] double accessoryWidth() const;

private:
    Label* textLabel_ = nullptr;
    bool textLabelEnabled_ = true;
    View* content_;
    Accessory accessory_ = Accessory::none;
    SelectionStyle selectionStyle_ = SelectionStyle::gray;
    double rowHeight_ = 44;
    bool highlighted_ = false;
    std::optional<Color> selectedBackground_;
    std::optional<Color> separator_;
    std::function<void()> touched_;
};

struct TableSection {
    View* header = nullptr;
    double headerHeight = 0;
    std::vector<TableCell*> cells;
    View* footer = nullptr;
    double footerHeight = 0;
};

// A grouped table: sections of a header, rows and a footer on a grey ground, scrolling.
class TableView : public Framed<QScrollArea> {
public:
    explicit TableView(QWidget* parent = nullptr);
    // Takes the views of every section; the table owns them from now on.
    void setSections(std::vector<TableSection> sections);
    [[nodiscard]] const std::vector<TableSection>& sections() const { return sections_; }
    [[nodiscard]] TableCell* cell(std::size_t section, std::size_t row) const;
    // Places every header, row and footer for the table's width now.
    void layoutNow();
    [[nodiscard]] double contentHeight() const { return contentHeight_; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    View* canvas_;
    std::vector<TableSection> sections_;
    double contentHeight_ = 0;
};

}  // namespace platform::ui
