#pragma once

#include <QScrollArea>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/ReusePool.h"
#include "platform/ui/Table.h"
#include "platform/ui/View.h"

namespace platform::ui {

struct IndexPath {
    std::size_t section = 0;
    std::size_t row = 0;
    friend bool operator==(const IndexPath&, const IndexPath&) = default;
    friend auto operator<=>(const IndexPath&, const IndexPath&) = default;
};

enum class EditingStyle { none, remove };

class DataTableView;

// What a table shows and what it is told. Only the row count and the cells must be given.
class TableModel {
public:
    virtual ~TableModel() = default;
    [[nodiscard]] virtual std::size_t numberOfSections(DataTableView& /*table*/) { return 1; }
    [[nodiscard]] virtual std::size_t numberOfRows(DataTableView& table, std::size_t section) = 0;
    // A cell from table.dequeueReusableCell, filled for the row; its rowHeight is the row's.
    virtual TableCell& cellForRow(DataTableView& table, IndexPath path) = 0;
    // A new view each time, which the table then owns; nothing for none.
    virtual View* headerView(DataTableView& /*table*/, std::size_t /*section*/) { return nullptr; }
    [[nodiscard]] virtual double headerHeight(DataTableView& /*table*/, std::size_t /*section*/) {
        return 0;
    }
    virtual View* footerView(DataTableView& /*table*/, std::size_t /*section*/) { return nullptr; }
    [[nodiscard]] virtual double footerHeight(DataTableView& /*table*/, std::size_t /*section*/) {
        return 0;
    }
    virtual void didSelectRow(DataTableView& /*table*/, IndexPath /*path*/) {}

    // Editing: the delete control a row shows, and the confirmed delete.
    [[nodiscard]] virtual EditingStyle editingStyle(DataTableView& /*table*/, IndexPath /*path*/) {
        return EditingStyle::remove;
    }
    [[nodiscard]] virtual bool shouldIndentWhileEditing(DataTableView& /*table*/,
                                                        IndexPath /*path*/) {
        return true;
    }
    virtual void commitDelete(DataTableView& /*table*/, IndexPath /*path*/) {}

    // Reordering while editing. A drag asks where its row would land for each new position
    // (from is where the drag began) and may answer another place; the drop tells from and
    // to, also when the row came back to where it was.
    [[nodiscard]] virtual bool canMoveRow(DataTableView& /*table*/, IndexPath /*path*/) {
        return false;
    }
    [[nodiscard]] virtual IndexPath targetForMove(DataTableView& /*table*/, IndexPath /*from*/,
                                                  IndexPath proposed) {
        return proposed;
    }
    virtual void moveRow(DataTableView& /*table*/, IndexPath /*from*/, IndexPath /*to*/) {}
};

// A table of sections and rows asked of a model: header, rows and footer per section on one
// scrolling canvas. Cells are made by registered factories and reused across reloads. Rows
// are inserted and deleted with an animation through the animator. In editing mode rows show
// a delete control (then a confirm button) and, where the model lets them move, a grip to
// drag; out of editing a swipe to the left shows the confirm button. A right-to-left locale
// mirrors the controls.
class DataTableView : public Framed<QScrollArea> {
public:
    static constexpr double kAnimationDuration = 0.3;
    static constexpr double kEditingIndent = 38;
    static constexpr double kGripWidth = 44;
    static constexpr double kConfirmWidth = 82;

    explicit DataTableView(QWidget* parent = nullptr);
    ~DataTableView() override;

    // The model outlives the table's use of it; nothing is asked until reloadData.
    void setModel(TableModel* model) { model_ = model; }
    void setBackgroundColor(const Color& color);

    void registerCell(std::string identifier, std::function<TableCell*()> make);
    // A cell no row shows now, else a new one (a plain TableCell for an unknown identifier).
    [[nodiscard]] TableCell& dequeueReusableCell(std::string_view identifier);

    // Asks the model for everything again; the cells shown go back for reuse.
    void reloadData();
    // The model already holds the change. A count that does not match what it tells reloads
    // everything instead, so the table never shows rows the model has not got; so does a
    // change during a drag, which ends the drag without a move.
    void insertRows(const std::vector<IndexPath>& paths, bool animated);
    void deleteRows(const std::vector<IndexPath>& paths, bool animated);
    void reloadRows(const std::vector<IndexPath>& paths);

    [[nodiscard]] std::size_t numberOfSections() const { return sections_.size(); }
    [[nodiscard]] std::size_t numberOfRows(std::size_t section) const;
    [[nodiscard]] TableCell* cell(IndexPath path) const;
    [[nodiscard]] std::optional<IndexPath> indexPathOf(const TableCell& cell) const;
    [[nodiscard]] double contentHeight() const { return contentHeight_; }

    void setEditing(bool editing, bool animated);
    [[nodiscard]] bool isEditing() const { return editing_; }
    void setAllowsSelectionDuringEditing(bool allows) { selectionWhileEditing_ = allows; }

    // The row whose confirm button shows, if any; what a delete control or a swipe does.
    [[nodiscard]] std::optional<IndexPath> confirmingRow() const { return confirming_; }
    void showDeleteConfirmation(IndexPath path);
    void hideDeleteConfirmation();
    // The confirm button of the row that shows one.
    [[nodiscard]] Button* deleteConfirmButton() const { return confirm_; }
    // The delete control and the grip of a row while editing; null where it shows none.
    [[nodiscard]] Button* deleteControl(IndexPath path) const;
    [[nodiscard]] View* reorderGrip(IndexPath path) const;

    // A drag of a row's grip, in the canvas's coordinates (what the grip's mouse does).
    void beginDrag(IndexPath path, double y);
    void dragTo(double y);
    void endDrag();
    [[nodiscard]] bool isDragging() const { return drag_.has_value(); }

    // Places everything for the table's width now.
    void layoutNow();

protected:
    void resizeEvent(QResizeEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Row {
        TableCell* cell = nullptr;
        Button* deleteControl = nullptr;
        View* grip = nullptr;
        EditingStyle style = EditingStyle::remove;
        bool indents = true;
        bool movable = false;
    };
    struct Section {
        View* header = nullptr;
        double headerHeight = 0;
        View* footer = nullptr;
        double footerHeight = 0;
        std::vector<Row> rows;
    };
    struct Drag {
        IndexPath from;
        IndexPath at;
        double grabOffset = 0;
        double y = 0;
        std::optional<IndexPath> lastProposed;
    };

    Row makeRow(IndexPath path);
    void recycle(Row& row);
    void takeHeadersAndFooters(Section& section, std::size_t index);
    void dropHeaderAndFooter(Section& section);
    void updateRowControls(Row& row, IndexPath path);
    // Where every header, row and footer goes, by view, for the table's width now.
    [[nodiscard]] std::map<QWidget*, Rect> plannedFrames() const;
    void animateTo(const std::map<QWidget*, Rect>& before, std::vector<Row> leaving,
                   const std::vector<TableCell*>& arriving, bool animated);
    bool changedUnderDrag();
    [[nodiscard]] bool modelCountsAre(const std::vector<std::size_t>& expected) const;
    [[nodiscard]] std::vector<std::size_t> shownCounts() const;
    [[nodiscard]] std::optional<IndexPath> pathAtCanvasY(double y) const;
    void rowTouched(TableCell* cell);

    TableModel* model_ = nullptr;
    View* canvas_;
    std::vector<Section> sections_;
    ReusePool<TableCell> pool_;
    bool editing_ = false;
    bool selectionWhileEditing_ = false;
    std::optional<IndexPath> confirming_;
    Button* confirm_ = nullptr;
    std::optional<Drag> drag_;
    std::optional<Point> pressAt_;
    bool swallowTouch_ = false;
    double contentHeight_ = 0;
};

}  // namespace platform::ui
