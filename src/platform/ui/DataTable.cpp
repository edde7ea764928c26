#include "platform/ui/DataTable.h"

#include <QMouseEvent>
#include <QPainter>
#include <QPointer>
#include <algorithm>
#include <cmath>
#include <utility>

#include "platform/ui/Animator.h"
#include "platform/ui/InterfaceLocale.h"

namespace platform::ui {

namespace {
constexpr Color kDeleteRed{1, 0.23, 0.19, 1};
constexpr double kSwipeDistance = 30;
constexpr double kDeleteControlSide = 22;

// The three lines of a reorder handle; its mouse drags the row.
class Grip : public View {
public:
    Grip(QWidget* canvas, std::function<void(double)> pressed, std::function<void(double)> moved,
         std::function<void()> released)
        : View(canvas),
          canvas_(canvas),
          pressed_(std::move(pressed)),
          moved_(std::move(moved)),
          released_(std::move(released)) {
        setName("reorderGrip");
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.setPen(QPen(QColor(199, 199, 204), 2));
        const double middle = height() / 2.0;
        for (int i = -1; i <= 1; ++i) {
            const double y = middle + i * 5.0;
            painter.drawLine(QPointF(width() / 2.0 - 9, y), QPointF(width() / 2.0 + 9, y));
        }
    }
    void mousePressEvent(QMouseEvent* event) override {
        pressed_(canvasY(*event));
        event->accept();
    }
    void mouseMoveEvent(QMouseEvent* event) override {
        moved_(canvasY(*event));
        event->accept();
    }
    void mouseReleaseEvent(QMouseEvent* event) override {
        released_();
        event->accept();
    }

private:
    double canvasY(const QMouseEvent& event) const {
        return mapTo(canvas_, event.position()).y();
    }

    QWidget* canvas_;
    std::function<void(double)> pressed_;
    std::function<void(double)> moved_;
    std::function<void()> released_;
};

Rect lerp(const Rect& a, const Rect& b, double t) {
    return {a.x + (b.x - a.x) * t, a.y + (b.y - a.y) * t, a.width + (b.width - a.width) * t,
            a.height + (b.height - a.height) * t};
}

void place(QWidget* widget, const Rect& frame) {
    if (auto* view = dynamic_cast<View*>(widget)) {
        view->setFrame(frame);
    } else if (auto* button = dynamic_cast<Button*>(widget)) {
        button->setFrame(frame);
    } else {
        widget->setGeometry(static_cast<int>(std::lround(frame.x)),
                            static_cast<int>(std::lround(frame.y)),
                            static_cast<int>(std::lround(frame.width)),
                            static_cast<int>(std::lround(frame.height)));
    }
}

// A control may be taken away from inside its own event (a drop that reloads the table):
// it goes once the event is over.
template <typename T>
void discard(T*& control) {
    if (control != nullptr) {
        control->hide();
        control->deleteLater();
        control = nullptr;
    }
}

void setAlphaOf(QWidget* widget, double alpha) {
    if (auto* view = dynamic_cast<View*>(widget)) {
        view->setAlpha(alpha);
    }
}
}  // namespace

DataTableView::DataTableView(QWidget* parent) : Framed<QScrollArea>(parent), canvas_(new View) {
    setFrameShape(QFrame::NoFrame);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    canvas_->setBackgroundColor(Color{1, 1, 1, 1});
    setWidget(canvas_);
    setWidgetResizable(false);
}

DataTableView::~DataTableView() {
    // The cells go with the canvas; the filter must not outlive them as a dangling watcher.
    for (auto& section : sections_) {
        for (Row& row : section.rows) {
            row.cell->removeEventFilter(this);
        }
    }
}

void DataTableView::setBackgroundColor(const Color& color) {
    canvas_->setBackgroundColor(color);
}

void DataTableView::registerCell(std::string identifier, std::function<TableCell*()> make) {
    pool_.registerFactory(std::move(identifier), std::move(make));
}

TableCell& DataTableView::dequeueReusableCell(std::string_view identifier) {
    return pool_.take(identifier, *canvas_);
}

std::size_t DataTableView::numberOfRows(std::size_t section) const {
    return section < sections_.size() ? sections_[section].rows.size() : 0;
}

TableCell* DataTableView::cell(IndexPath path) const {
    if (path.section >= sections_.size() || path.row >= sections_[path.section].rows.size()) {
        return nullptr;
    }
    return sections_[path.section].rows[path.row].cell;
}

std::optional<IndexPath> DataTableView::indexPathOf(const TableCell& cell) const {
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        for (std::size_t r = 0; r < sections_[s].rows.size(); ++r) {
            if (sections_[s].rows[r].cell == &cell) {
                return IndexPath{s, r};
            }
        }
    }
    return std::nullopt;
}

Button* DataTableView::deleteControl(IndexPath path) const {
    return cell(path) == nullptr ? nullptr : sections_[path.section].rows[path.row].deleteControl;
}

View* DataTableView::reorderGrip(IndexPath path) const {
    return cell(path) == nullptr ? nullptr : sections_[path.section].rows[path.row].grip;
}

DataTableView::Row DataTableView::makeRow(IndexPath path) {
    TableCell& cell = model_->cellForRow(*this, path);
    pool_.adopt(cell, *canvas_);
    cell.setAlpha(1);
    cell.installEventFilter(this);
    cell.onTouched([this, target = &cell] { rowTouched(target); });
    cell.show();
    Row row{&cell};
    updateRowControls(row, path);
    return row;
}

void DataTableView::recycle(Row& row) {
    discard(row.deleteControl);
    discard(row.grip);
    row.cell->removeEventFilter(this);
    pool_.giveBack(*row.cell);
}

void DataTableView::updateRowControls(Row& row, IndexPath path) {
    row.style = model_->editingStyle(*this, path);
    row.indents = model_->shouldIndentWhileEditing(*this, path);
    row.movable = model_->canMoveRow(*this, path);
    const bool showsDelete = editing_ && row.style == EditingStyle::remove;
    if (showsDelete && row.deleteControl == nullptr) {
        auto* control = new Button(canvas_);
        control->setName("deleteControl");
        control->setTitle("\u2212");
        control->setTitleColor(Color{1, 1, 1, 1});
        control->setBackgroundColor(kDeleteRed);
        control->onAction([this, cell = row.cell] {
            const auto at = indexPathOf(*cell);
            if (!at) {
                return;
            }
            if (confirming_ == at) {
                hideDeleteConfirmation();
            } else {
                showDeleteConfirmation(*at);
            }
        });
        control->show();
        row.deleteControl = control;
    } else if (!showsDelete) {
        discard(row.deleteControl);
    }
    const bool showsGrip = editing_ && row.movable;
    if (showsGrip && row.grip == nullptr) {
        TableCell* cell = row.cell;
        row.grip = new Grip(
            canvas_,
            [this, cell](double y) {
                if (const auto at = indexPathOf(*cell)) {
                    beginDrag(*at, y);
                }
            },
            [this](double y) { dragTo(y); }, [this] { endDrag(); });
        row.grip->show();
    } else if (!showsGrip) {
        discard(row.grip);
    }
}

void DataTableView::takeHeadersAndFooters(Section& section, std::size_t index) {
    section.header = model_->headerView(*this, index);
    section.headerHeight = model_->headerHeight(*this, index);
    section.footer = model_->footerView(*this, index);
    section.footerHeight = model_->footerHeight(*this, index);
    for (View* view : {section.header, section.footer}) {
        if (view != nullptr) {
            view->setParent(canvas_);
            view->show();
        }
    }
}

void DataTableView::dropHeaderAndFooter(Section& section) {
    discard(section.header);
    discard(section.footer);
}

void DataTableView::reloadData() {
    hideDeleteConfirmation();
    drag_.reset();
    for (Section& section : sections_) {
        for (Row& row : section.rows) {
            recycle(row);
        }
        dropHeaderAndFooter(section);
    }
    sections_.clear();
    if (model_ != nullptr) {
        const std::size_t count = model_->numberOfSections(*this);
        sections_.resize(count);
        for (std::size_t s = 0; s < count; ++s) {
            takeHeadersAndFooters(sections_[s], s);
            const std::size_t rows = model_->numberOfRows(*this, s);
            for (std::size_t r = 0; r < rows; ++r) {
                sections_[s].rows.push_back(makeRow({s, r}));
            }
        }
    }
    layoutNow();
}

// During a drag the rows stand in the order the pointer made, which the model has not heard of
// yet: its paths name other rows. The drag ends without a move and the table shows the model.
bool DataTableView::changedUnderDrag() {
    if (!drag_) {
        return false;
    }
    reloadData();
    return true;
}

bool DataTableView::modelCountsAre(const std::vector<std::size_t>& expected) const {
    auto& self = const_cast<DataTableView&>(*this);
    if (model_ == nullptr || model_->numberOfSections(self) != expected.size()) {
        return false;
    }
    for (std::size_t s = 0; s < expected.size(); ++s) {
        if (model_->numberOfRows(self, s) != expected[s]) {
            return false;
        }
    }
    return true;
}

std::vector<std::size_t> DataTableView::shownCounts() const {
    std::vector<std::size_t> counts;
    for (const Section& section : sections_) {
        counts.push_back(section.rows.size());
    }
    return counts;
}

void DataTableView::insertRows(const std::vector<IndexPath>& paths, bool animated) {
    hideDeleteConfirmation();
    if (changedUnderDrag()) {
        return;
    }
    std::vector<IndexPath> sorted = paths;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    // The model is asked for no row before its counts agree with the change.
    std::vector<std::size_t> expected = shownCounts();
    for (const IndexPath& path : sorted) {
        if (path.section >= expected.size() || path.row > expected[path.section]) {
            reloadData();
            return;
        }
        ++expected[path.section];
    }
    if (!modelCountsAre(expected)) {
        reloadData();
        return;
    }
    const auto before = plannedFrames();
    std::vector<TableCell*> arriving;
    for (const IndexPath& path : sorted) {
        auto& rows = sections_[path.section].rows;
        rows.insert(rows.begin() + static_cast<std::ptrdiff_t>(path.row), makeRow(path));
        arriving.push_back(rows[path.row].cell);
    }
    animateTo(before, {}, arriving, animated);
}

void DataTableView::deleteRows(const std::vector<IndexPath>& paths, bool animated) {
    hideDeleteConfirmation();
    if (changedUnderDrag()) {
        return;
    }
    std::vector<IndexPath> sorted = paths;
    std::sort(sorted.begin(), sorted.end(), std::greater<>());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    std::vector<std::size_t> expected = shownCounts();
    for (const IndexPath& path : sorted) {
        if (cell(path) == nullptr) {
            reloadData();
            return;
        }
        --expected[path.section];
    }
    if (!modelCountsAre(expected)) {
        reloadData();
        return;
    }
    const auto before = plannedFrames();
    std::vector<Row> leaving;
    for (const IndexPath& path : sorted) {
        auto& rows = sections_[path.section].rows;
        Row row = rows[path.row];
        rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(path.row));
        discard(row.deleteControl);
        discard(row.grip);
        leaving.push_back(row);
    }
    animateTo(before, std::move(leaving), {}, animated);
}

void DataTableView::reloadRows(const std::vector<IndexPath>& paths) {
    hideDeleteConfirmation();
    if (changedUnderDrag()) {
        return;
    }
    for (const IndexPath& path : paths) {
        if (cell(path) != nullptr) {
            Row& row = sections_[path.section].rows[path.row];
            recycle(row);
            row = makeRow(path);
        }
    }
    layoutNow();
}

void DataTableView::setEditing(bool editing, bool animated) {
    hideDeleteConfirmation();
    const auto before = plannedFrames();
    editing_ = editing;
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        for (std::size_t r = 0; r < sections_[s].rows.size(); ++r) {
            updateRowControls(sections_[s].rows[r], {s, r});
        }
    }
    animateTo(before, {}, {}, animated);
}

void DataTableView::showDeleteConfirmation(IndexPath path) {
    hideDeleteConfirmation();
    if (cell(path) == nullptr || sections_[path.section].rows[path.row].style !=
                                     EditingStyle::remove) {
        return;
    }
    confirming_ = path;
    confirm_ = new Button(canvas_);
    confirm_->setName("deleteConfirmButton");
    confirm_->setTitle(InterfaceLocale::current().deleteTitle());
    confirm_->setTitleColor(Color{1, 1, 1, 1});
    confirm_->setBackgroundColor(kDeleteRed);
    confirm_->onAction([this] {
        const auto confirmed = confirming_;
        hideDeleteConfirmation();
        if (confirmed && model_ != nullptr) {
            model_->commitDelete(*this, *confirmed);
        }
    });
    confirm_->show();
    layoutNow();
}

void DataTableView::hideDeleteConfirmation() {
    if (confirm_ == nullptr) {
        return;
    }
    discard(confirm_);
    confirming_.reset();
    layoutNow();
}

std::map<QWidget*, Rect> DataTableView::plannedFrames() const {
    std::map<QWidget*, Rect> frames;
    const double width = viewport()->width();
    const bool mirrored = InterfaceLocale::current().isRightToLeft();
    const auto put = [&](QWidget* widget, const Rect& frame) {
        if (widget != nullptr) {
            frames[widget] = mirroredIf(mirrored, frame, width);
        }
    };
    double y = 0;
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        const Section& section = sections_[s];
        put(section.header, {0, y, width, section.headerHeight});
        y += section.headerHeight;
        for (std::size_t r = 0; r < section.rows.size(); ++r) {
            const Row& row = section.rows[r];
            const double height = row.cell->rowHeight();
            const double x = editing_ && row.indents ? kEditingIndent : 0;
            const double trailing = row.grip != nullptr ? kGripWidth : 0;
            const bool confirming = confirming_ == IndexPath{s, r};
            // A swiped row slides aside for the button; in editing mode the button covers
            // the grip and the row stays.
            const double shift = confirming && !editing_ ? kConfirmWidth : 0;
            double top = y;
            if (drag_ && drag_->at == IndexPath{s, r}) {
                top = drag_->y - drag_->grabOffset;
            }
            put(row.cell, {x - shift, top, width - x - trailing, height});
            put(row.deleteControl, {8 - shift, top + (height - kDeleteControlSide) / 2,
                                    kDeleteControlSide, kDeleteControlSide});
            put(row.grip, {width - kGripWidth - shift, top, kGripWidth, height});
            if (confirming) {
                put(confirm_, {width - kConfirmWidth, top, kConfirmWidth, height});
            }
            y += height;
        }
        put(section.footer, {0, y, width, section.footerHeight});
        y += section.footerHeight;
    }
    return frames;
}

void DataTableView::layoutNow() {
    for (const auto& [widget, frame] : plannedFrames()) {
        place(widget, frame);
    }
    double height = 0;
    for (const Section& section : sections_) {
        height += section.headerHeight + section.footerHeight;
        for (const Row& row : section.rows) {
            height += row.cell->rowHeight();
        }
    }
    contentHeight_ = height;
    canvas_->setFrame(
        {0, 0, double(viewport()->width()), std::max(height, double(viewport()->height()))});
    if (drag_) {
        if (TableCell* dragged = cell(drag_->at)) {
            dragged->raise();
        }
    }
    if (confirm_ != nullptr) {
        confirm_->raise();
    }
}

void DataTableView::animateTo(const std::map<QWidget*, Rect>& before, std::vector<Row> leaving,
                              const std::vector<TableCell*>& arriving, bool animated) {
    if (!animated) {
        for (Row& row : leaving) {
            recycle(row);
        }
        layoutNow();
        return;
    }
    struct Move {
        QPointer<QWidget> widget;
        Rect from;
        Rect to;
    };
    std::vector<Move> moves;
    for (const auto& [widget, to] : plannedFrames()) {
        const auto was = before.find(widget);
        moves.push_back({widget, was != before.end() ? was->second : to, to});
    }
    std::vector<QPointer<QWidget>> fading;
    for (const Row& row : leaving) {
        fading.emplace_back(row.cell);
    }
    std::vector<QPointer<QWidget>> appearing(arriving.begin(), arriving.end());
    ViewGuard<DataTableView> self(this);
    const auto step = [moves, fading, appearing](double value) {
        for (const Move& move : moves) {
            if (move.widget) {
                place(move.widget, lerp(move.from, move.to, value));
            }
        }
        for (const auto& widget : fading) {
            if (widget) {
                setAlphaOf(widget, 1 - value);
            }
        }
        for (const auto& widget : appearing) {
            if (widget) {
                setAlphaOf(widget, value);
            }
        }
    };
    step(0);
    Animator::current().animate(Animation{
        kAnimationDuration, Curve::easeInOut, step,
        [self, leaving = std::move(leaving)](bool) mutable {
            if (!self) {
                return;
            }
            for (Row& row : leaving) {
                row.cell->setAlpha(1);
                self->recycle(row);
            }
            self->layoutNow();
        },
        {}});
}

std::optional<IndexPath> DataTableView::pathAtCanvasY(double y) const {
    if (sections_.empty()) {
        return std::nullopt;
    }
    double top = 0;
    for (std::size_t s = 0; s < sections_.size(); ++s) {
        const Section& section = sections_[s];
        top += section.headerHeight;
        std::size_t k = 0;
        for (std::size_t r = 0; r < section.rows.size(); ++r) {
            if (drag_ && drag_->at == IndexPath{s, r}) {
                continue;
            }
            const double height = section.rows[r].cell->rowHeight();
            if (y < top + height / 2) {
                return IndexPath{s, k};
            }
            top += height;
            ++k;
        }
        if (y < top + section.footerHeight || s + 1 == sections_.size()) {
            return IndexPath{s, k};
        }
        top += section.footerHeight;
    }
    return std::nullopt;
}

void DataTableView::beginDrag(IndexPath path, double y) {
    TableCell* dragged = cell(path);
    if (!editing_ || dragged == nullptr || !sections_[path.section].rows[path.row].movable ||
        model_ == nullptr) {
        return;
    }
    hideDeleteConfirmation();
    drag_ = Drag{path, path, y - dragged->frame().y, y, std::nullopt};
    layoutNow();
}

void DataTableView::dragTo(double y) {
    if (!drag_) {
        return;
    }
    drag_->y = y;
    const TableCell* dragged = cell(drag_->at);
    const double middle = y - drag_->grabOffset + dragged->rowHeight() / 2;
    const auto proposed = pathAtCanvasY(middle);
    if (proposed && proposed != drag_->lastProposed) {
        drag_->lastProposed = proposed;
        const IndexPath target = model_->targetForMove(*this, drag_->from, *proposed);
        // A target outside the table leaves the row where it is.
        const bool sameSection = target.section == drag_->at.section;
        const bool valid = target.section < sections_.size() &&
                           target.row < sections_[target.section].rows.size() + (sameSection ? 0 : 1);
        if (valid && target != drag_->at) {
            auto& source = sections_[drag_->at.section].rows;
            const Row row = source[drag_->at.row];
            source.erase(source.begin() + static_cast<std::ptrdiff_t>(drag_->at.row));
            auto& destination = sections_[target.section].rows;
            destination.insert(destination.begin() + static_cast<std::ptrdiff_t>(target.row), row);
            drag_->at = target;
        }
    }
    layoutNow();
}

void DataTableView::endDrag() {
    if (!drag_) {
        return;
    }
    const Drag finished = *drag_;
    drag_.reset();
    layoutNow();
    if (model_ != nullptr) {
        model_->moveRow(*this, finished.from, finished.at);
    }
}

void DataTableView::rowTouched(TableCell* touched) {
    if (std::exchange(swallowTouch_, false)) {
        return;
    }
    if (model_ == nullptr || (editing_ && !selectionWhileEditing_)) {
        return;
    }
    if (const auto path = indexPathOf(*touched)) {
        model_->didSelectRow(*this, *path);
    }
}

bool DataTableView::eventFilter(QObject* watched, QEvent* event) {
    auto* touched = dynamic_cast<TableCell*>(watched);
    if (touched == nullptr) {
        return false;
    }
    if (event->type() == QEvent::MouseButtonPress) {
        pressAt_ = Point{static_cast<QMouseEvent*>(event)->globalPosition().x(),
                         static_cast<QMouseEvent*>(event)->globalPosition().y()};
        swallowTouch_ = false;
        // A touch anywhere while a confirm button shows only takes it away.
        if (confirming_) {
            hideDeleteConfirmation();
            pressAt_.reset();
            swallowTouch_ = true;
        }
        return false;
    }
    if (event->type() == QEvent::MouseButtonRelease && pressAt_) {
        const QPointF at = static_cast<QMouseEvent*>(event)->globalPosition();
        const double dx = at.x() - pressAt_->x;
        const double dy = at.y() - pressAt_->y;
        pressAt_.reset();
        const double towardsLeading = InterfaceLocale::current().isRightToLeft() ? dx : -dx;
        if (!editing_ && towardsLeading >= kSwipeDistance && std::abs(dx) > std::abs(dy)) {
            if (const auto path = indexPathOf(*touched)) {
                showDeleteConfirmation(*path);
            }
            // The cell still sees the release, to drop its highlight, but selects nothing.
            swallowTouch_ = true;
        }
    }
    return false;
}

void DataTableView::resizeEvent(QResizeEvent* event) {
    QScrollArea::resizeEvent(event);
    layoutNow();
}

}  // namespace platform::ui
