#pragma once

#include <QPointer>
#include <cstddef>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ui/ReusePool.h"
#include "platform/ui/View.h"

namespace platform::ui {

// Dots for the pages, the current one solid.
class PageControl : public View {
public:
    explicit PageControl(QWidget* parent = nullptr);
    void setNumberOfPages(std::size_t pages);
    [[nodiscard]] std::size_t numberOfPages() const { return pages_; }
    // Kept within the pages.
    void setCurrentPage(std::size_t page);
    [[nodiscard]] std::size_t currentPage() const { return current_; }
    void setHidesForSinglePage(bool hides);
    void setColors(const Color& page, const Color& current);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void refreshVisibility();

    std::size_t pages_ = 0;
    std::size_t current_ = 0;
    bool hidesForSinglePage_ = false;
    Color page_{0.78, 0.78, 0.8, 1};
    Color currentColor_{0.4, 0.4, 0.4, 1};
};

class PagedCollectionView;

// The items of a paged collection: how many, and each one's view.
class CollectionModel {
public:
    virtual ~CollectionModel() = default;
    [[nodiscard]] virtual std::size_t numberOfItems(PagedCollectionView& view) = 0;
    // A view from view.dequeueReusableItem, filled for the item.
    virtual View& itemView(PagedCollectionView& view, std::size_t index) = 0;
};

// Items side by side in one row that scrolls sideways, a page at a time: each item is
// itemWidth wide (the view's width unless set) with spacing between, and a page is the view's
// width. A drag of kSwipeDistance or more moves one page; scrolling clamps to the content. A
// right-to-left locale puts item 0 at the right end and starts there.
class PagedCollectionView : public View {
public:
    static constexpr double kSwipeDistance = 30;
    static constexpr double kScrollDuration = 0.3;
    enum class Alignment { left, center, right };

    explicit PagedCollectionView(QWidget* parent = nullptr);
    void setModel(CollectionModel* model) { model_ = model; }
    void registerItem(std::string identifier, std::function<View*()> make);
    [[nodiscard]] View& dequeueReusableItem(std::string_view identifier);
    // Nothing is asked of the model until this runs.
    void reloadData();

    // 0 (or less) is the view's width.
    void setItemWidth(double width);
    void setSpacing(double spacing);

    [[nodiscard]] std::size_t numberOfItems() const { return items_.size(); }
    [[nodiscard]] View* itemView(std::size_t index) const;
    [[nodiscard]] std::size_t numberOfPages() const;
    // The page most in view, counted from item 0's end.
    [[nodiscard]] std::size_t currentPage() const;
    // How far the content has moved left from its left end.
    [[nodiscard]] double contentOffset() const { return offset_; }
    void scrollToPage(std::size_t page, bool animated);
    // Brings the item in with its left edge, centre or right edge at the view's.
    void scrollToItem(std::size_t index, Alignment alignment, bool animated);

    // Told when the current page changes, by scrolling or a drag.
    void onPageChanged(std::function<void(std::size_t page)> changed) {
        pageChanged_ = std::move(changed);
    }
    // A page control kept in step with the pages while it lives; the collection does not own
    // it.
    void setPageControl(PageControl* control);

    void layoutSubviews() override;

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    [[nodiscard]] double itemWidth() const;
    [[nodiscard]] double contentWidth() const;
    [[nodiscard]] double maxOffset() const;
    [[nodiscard]] double itemX(std::size_t index) const;
    [[nodiscard]] double offsetOfPage(std::size_t page) const;
    void scrollTo(double offset, bool animated);
    void setOffset(double offset);

    CollectionModel* model_ = nullptr;
    View* strip_;
    std::vector<View*> items_;
    ReusePool<View> pool_;
    double itemWidth_ = 0;
    double spacing_ = 0;
    double offset_ = 0;
    int scrollGeneration_ = 0;
    std::optional<double> pressX_;
    double pressOffset_ = 0;
    std::optional<std::size_t> reportedPage_;
    QPointer<PageControl> pageControl_;
    std::function<void(std::size_t)> pageChanged_;
};

}  // namespace platform::ui
