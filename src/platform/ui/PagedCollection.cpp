#include "platform/ui/PagedCollection.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "platform/ui/Animator.h"
#include "platform/ui/Controls.h"
#include "platform/ui/InterfaceLocale.h"

namespace platform::ui {

// PageControl

namespace {
constexpr double kDot = 7;
constexpr double kDotSpacing = 9;
}  // namespace

PageControl::PageControl(QWidget* parent) : View(parent) {
    setName("pageControl");
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void PageControl::setNumberOfPages(std::size_t pages) {
    pages_ = pages;
    current_ = pages == 0 ? 0 : std::min(current_, pages - 1);
    refreshVisibility();
    update();
}

void PageControl::setCurrentPage(std::size_t page) {
    current_ = pages_ == 0 ? 0 : std::min(page, pages_ - 1);
    update();
}

void PageControl::setHidesForSinglePage(bool hides) {
    hidesForSinglePage_ = hides;
    refreshVisibility();
}

void PageControl::setColors(const Color& page, const Color& current) {
    page_ = page;
    currentColor_ = current;
    update();
}

void PageControl::refreshVisibility() {
    setVisible(!(hidesForSinglePage_ && pages_ <= 1));
}

void PageControl::paintEvent(QPaintEvent* event) {
    View::paintEvent(event);
    if (pages_ == 0) {
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    const double total = double(pages_) * kDot + double(pages_ - 1) * kDotSpacing;
    const bool mirrored = InterfaceLocale::current().isRightToLeft();
    for (std::size_t i = 0; i < pages_; ++i) {
        const double offset = double(i) * (kDot + kDotSpacing);
        const double x = mirrored ? (width() + total) / 2 - offset - kDot
                                  : (width() - total) / 2 + offset;
        painter.setBrush(toQColor(i == current_ ? currentColor_ : page_));
        painter.drawEllipse(QRectF(x, (height() - kDot) / 2, kDot, kDot));
    }
}

// PagedCollectionView

PagedCollectionView::PagedCollectionView(QWidget* parent) : View(parent), strip_(new View(this)) {
    setName("pagedCollection");
}

void PagedCollectionView::registerItem(std::string identifier, std::function<View*()> make) {
    pool_.registerFactory(std::move(identifier), std::move(make));
}

View& PagedCollectionView::dequeueReusableItem(std::string_view identifier) {
    return pool_.take(identifier, *strip_);
}

void PagedCollectionView::reloadData() {
    for (View* item : items_) {
        pool_.giveBack(*item);
    }
    items_.clear();
    if (model_ != nullptr) {
        const std::size_t count = model_->numberOfItems(*this);
        for (std::size_t i = 0; i < count; ++i) {
            View& item = model_->itemView(*this, i);
            pool_.adopt(item, *strip_);
            item.show();
            items_.push_back(&item);
        }
    }
    layoutSubviews();
}

void PagedCollectionView::setItemWidth(double width) {
    itemWidth_ = width;
    layoutSubviews();
}

void PagedCollectionView::setSpacing(double spacing) {
    spacing_ = spacing;
    layoutSubviews();
}

View* PagedCollectionView::itemView(std::size_t index) const {
    return index < items_.size() ? items_[index] : nullptr;
}

double PagedCollectionView::itemWidth() const {
    return itemWidth_ > 0 ? itemWidth_ : double(width());
}

double PagedCollectionView::contentWidth() const {
    if (items_.empty()) {
        return 0;
    }
    const double n = double(items_.size());
    return n * itemWidth() + (n - 1) * spacing_;
}

double PagedCollectionView::maxOffset() const {
    return std::max(0.0, contentWidth() - width());
}

double PagedCollectionView::itemX(std::size_t index) const {
    const double x = double(index) * (itemWidth() + spacing_);
    return InterfaceLocale::current().isRightToLeft() ? contentWidth() - itemWidth() - x : x;
}

std::size_t PagedCollectionView::numberOfPages() const {
    if (items_.empty() || width() <= 0) {
        return 0;
    }
    return static_cast<std::size_t>(std::ceil(contentWidth() / width() - 1e-9));
}

double PagedCollectionView::offsetOfPage(std::size_t page) const {
    const double fromStart = std::min(double(page) * width(), maxOffset());
    return InterfaceLocale::current().isRightToLeft() ? maxOffset() - fromStart : fromStart;
}

std::size_t PagedCollectionView::currentPage() const {
    if (width() <= 0 || items_.empty()) {
        return 0;
    }
    const double fromStart =
        InterfaceLocale::current().isRightToLeft() ? maxOffset() - offset_ : offset_;
    // The last page may be short: at the end of the content, the last page is in view.
    if (fromStart >= maxOffset() - 0.5 && maxOffset() > 0) {
        return numberOfPages() - 1;
    }
    return static_cast<std::size_t>(std::lround(fromStart / width()));
}

void PagedCollectionView::scrollToPage(std::size_t page, bool animated) {
    scrollTo(offsetOfPage(std::min(page, std::max<std::size_t>(numberOfPages(), 1) - 1)),
             animated);
}

void PagedCollectionView::scrollToItem(std::size_t index, Alignment alignment, bool animated) {
    if (index >= items_.size()) {
        return;
    }
    const double x = itemX(index);
    double target = x;
    if (alignment == Alignment::center) {
        target = x + itemWidth() / 2 - width() / 2.0;
    } else if (alignment == Alignment::right) {
        target = x + itemWidth() - width();
    }
    scrollTo(target, animated);
}

void PagedCollectionView::scrollTo(double offset, bool animated) {
    const double target = std::clamp(offset, 0.0, maxOffset());
    const int generation = ++scrollGeneration_;
    if (!animated) {
        setOffset(target);
        return;
    }
    const double from = offset_;
    ViewGuard<PagedCollectionView> self(this);
    Animator::current().animate(Animation{kScrollDuration, Curve::easeInOut,
                                          [self, from, target, generation](double value) {
                                              // A later scroll takes over.
                                              if (self && self->scrollGeneration_ == generation) {
                                                  self->setOffset(from + (target - from) * value);
                                              }
                                          },
                                          {},
                                          {}});
}

void PagedCollectionView::setOffset(double offset) {
    offset_ = offset;
    strip_->setFrame({-offset_, 0, contentWidth(), double(height())});
    const std::size_t page = currentPage();
    if (pageControl_ != nullptr) {
        pageControl_->setNumberOfPages(numberOfPages());
        pageControl_->setCurrentPage(page);
    }
    if (reportedPage_ != page) {
        reportedPage_ = page;
        if (pageChanged_ && !items_.empty()) {
            pageChanged_(page);
        }
    }
}

void PagedCollectionView::setPageControl(PageControl* control) {
    pageControl_ = control;
    setOffset(offset_);
}

void PagedCollectionView::layoutSubviews() {
    for (std::size_t i = 0; i < items_.size(); ++i) {
        items_[i]->setFrame({itemX(i), 0, itemWidth(), double(height())});
    }
    // A new width or count keeps the page in view, item 0's page in a fresh right-to-left one.
    const double fresh = InterfaceLocale::current().isRightToLeft() ? maxOffset() : 0;
    setOffset(reportedPage_ ? offsetOfPage(*reportedPage_) : fresh);
}

void PagedCollectionView::mousePressEvent(QMouseEvent* event) {
    pressX_ = event->position().x();
    pressOffset_ = offset_;
    ++scrollGeneration_;
    event->accept();
}

void PagedCollectionView::mouseMoveEvent(QMouseEvent* event) {
    if (pressX_) {
        setOffset(std::clamp(pressOffset_ - (event->position().x() - *pressX_), 0.0, maxOffset()));
    }
    event->accept();
}

void PagedCollectionView::mouseReleaseEvent(QMouseEvent* event) {
    if (!pressX_) {
        return;
    }
    const double dx = event->position().x() - *pressX_;
    pressX_.reset();
    // The page the drag began on, found from where the content stood then.
    const double startFromStart = InterfaceLocale::current().isRightToLeft()
                                      ? maxOffset() - pressOffset_
                                      : pressOffset_;
    std::size_t page = static_cast<std::size_t>(std::lround(startFromStart / std::max(1, width())));
    const double forward = InterfaceLocale::current().isRightToLeft() ? dx : -dx;
    if (forward >= kSwipeDistance && page + 1 < numberOfPages()) {
        ++page;
    } else if (forward <= -kSwipeDistance && page > 0) {
        --page;
    }
    scrollToPage(page, true);
    event->accept();
}

}  // namespace platform::ui
