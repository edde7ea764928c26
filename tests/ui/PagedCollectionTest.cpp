#include <gtest/gtest.h>

#include <QTest>
#include <string>
#include <vector>

#include "platform/ui/PagedCollection.h"
#include "support/TestLocale.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::PagedCollectionView;
using platform::ui::PageControl;
using platform::ui::View;
using ui_test::UiWorld;

// Items coloured by their number, so a screenshot shows the order.
class NumberedItems : public platform::ui::CollectionModel {
public:
    std::size_t numberOfItems(PagedCollectionView&) override { return count; }
    View& itemView(PagedCollectionView& view, std::size_t index) override {
        View& item = view.dequeueReusableItem("page");
        const double shade = 0.3 + 0.7 * double(index) / double(std::max<std::size_t>(count, 1));
        item.setBackgroundColor({shade, 0.4, 1 - shade, 1});
        return item;
    }
    std::size_t count = 0;
};

class PagedCollectionTest : public ::testing::Test {
protected:
    PagedCollectionView& make(std::size_t items, double itemWidth = 0) {
        model.count = items;
        collection = std::make_unique<PagedCollectionView>();
        collection->setModel(&model);
        collection->setItemWidth(itemWidth);
        collection->setFrame({0, 0, 320, 168});
        collection->setPageControl(&dots);
        collection->onPageChanged([this](std::size_t page) { changes.push_back(page); });
        collection->reloadData();
        return *collection;
    }

    UiWorld world;
    ui_test::TestLocale locale;
    platform::ScopedInstall<platform::ui::InterfaceLocale> installLocale{&locale};
    NumberedItems model;
    PageControl dots;
    std::vector<std::size_t> changes;
    std::unique_ptr<PagedCollectionView> collection;
};

TEST_F(PagedCollectionTest, ScrollsToAPageOnTheAnimatorAndKeepsThePageControlInStep) {
    PagedCollectionView& view = make(3);
    EXPECT_EQ(view.numberOfPages(), 3u);
    EXPECT_EQ(dots.numberOfPages(), 3u);
    view.scrollToPage(2, true);
    EXPECT_EQ(view.currentPage(), 0u);
    world.loop.advance(PagedCollectionView::kScrollDuration);
    EXPECT_DOUBLE_EQ(view.contentOffset(), 640);
    EXPECT_EQ(view.currentPage(), 2u);
    EXPECT_EQ(dots.currentPage(), 2u);
    EXPECT_EQ(changes.back(), 2u);
    view.scrollToPage(9, false);
    EXPECT_EQ(view.currentPage(), 2u) << "past the end: the last page";
}

TEST_F(PagedCollectionTest, ADragTurnsOnePageOrSnapsBack) {
    struct Case {
        const char* name;
        int from;
        int to;
        std::size_t page;
    };
    for (const Case& c : {Case{"long drag left: next", 200, 100, 1},
                          Case{"short drag: back", 200, 180, 0},
                          Case{"drag right on the first page: stays", 100, 250, 0}}) {
        SCOPED_TRACE(c.name);
        PagedCollectionView& view = make(3);
        QTest::mousePress(&view, Qt::LeftButton, {}, QPoint(c.from, 80));
        QMouseEvent move(QEvent::MouseMove, QPointF(c.to, 80), view.mapToGlobal(QPointF(c.to, 80)),
                         Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&view, &move);
        EXPECT_DOUBLE_EQ(view.contentOffset(), std::max(0, c.from - c.to)) << "follows the finger";
        QTest::mouseRelease(&view, Qt::LeftButton, {}, QPoint(c.to, 80));
        world.loop.advance(PagedCollectionView::kScrollDuration);
        EXPECT_EQ(view.currentPage(), c.page);
        EXPECT_DOUBLE_EQ(view.contentOffset(), 320.0 * double(c.page));
    }
}

TEST_F(PagedCollectionTest, NarrowItemsScrollToAnEdgeWithinTheContent) {
    PagedCollectionView& view = make(8, 168);
    view.scrollToItem(5, PagedCollectionView::Alignment::right, false);
    EXPECT_DOUBLE_EQ(view.contentOffset(), 6 * 168 - 320);
    view.scrollToItem(7, PagedCollectionView::Alignment::left, false);
    EXPECT_DOUBLE_EQ(view.contentOffset(), 8 * 168 - 320) << "clamped to the content's end";
    view.scrollToItem(0, PagedCollectionView::Alignment::center, false);
    EXPECT_DOUBLE_EQ(view.contentOffset(), 0);
    EXPECT_EQ(view.numberOfPages(), 5u);
}

TEST_F(PagedCollectionTest, RightToLeftStartsWithTheFirstItemAtTheRightEnd) {
    locale.rightToLeft = true;
    PagedCollectionView& view = make(3);
    EXPECT_DOUBLE_EQ(view.itemView(0)->frame().x, 640);
    EXPECT_DOUBLE_EQ(view.contentOffset(), 640);
    EXPECT_EQ(view.currentPage(), 0u);
    view.scrollToPage(1, false);
    EXPECT_DOUBLE_EQ(view.contentOffset(), 320);
    EXPECT_EQ(view.currentPage(), 1u);
}

TEST_F(PagedCollectionTest, ReloadReusesItemsAndThePageControlClampsAndHides) {
    PagedCollectionView& view = make(3);
    View* first = view.itemView(0);
    model.count = 1;
    view.reloadData();
    EXPECT_EQ(view.numberOfItems(), 1u);
    EXPECT_TRUE(view.itemView(0) != nullptr);
    EXPECT_TRUE(first == view.itemView(0) || first->isHidden());
    dots.setHidesForSinglePage(true);
    EXPECT_TRUE(dots.isHidden()) << "one page";
    dots.setNumberOfPages(4);
    dots.setCurrentPage(7);
    EXPECT_EQ(dots.currentPage(), 3u);
    EXPECT_FALSE(dots.isHidden());

    // A screen that puts up a new page control frees the old one first.
    auto* replaced = new PageControl;
    view.setPageControl(replaced);
    delete replaced;
    model.count = 3;
    view.reloadData();
    view.scrollToPage(2, false);
    EXPECT_EQ(view.currentPage(), 2u) << "the pages turn without the control that went";
}

TEST_F(PagedCollectionTest, Screenshot) {
    View host;
    host.setFrame({0, 0, 320, 200});
    host.setBackgroundColor({0.937, 0.937, 0.957, 1});
    PagedCollectionView& view = make(5, 140);
    view.setParent(&host);
    view.setSpacing(10);
    dots.setParent(&host);
    dots.setFrame({0, 170, 320, 30});
    view.scrollToPage(1, false);
    UiWorld::shoot(host, "paged_collection");
    view.setParent(nullptr);
    dots.setParent(nullptr);
}

}  // namespace
