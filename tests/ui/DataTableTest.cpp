#include <gtest/gtest.h>

#include <QTest>
#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/DataTable.h"
#include "support/TestLocale.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::DataTableView;
using platform::ui::EditingStyle;
using platform::ui::IndexPath;
using platform::ui::TableCell;
using ui_test::UiWorld;

// Rows of text per section; records what the table tells it. Section 0 of a two-section
// model is fixed, as a header row that neither moves nor deletes.
class ListModel : public platform::ui::TableModel {
public:
    std::size_t numberOfSections(DataTableView&) override { return rows.size(); }
    std::size_t numberOfRows(DataTableView&, std::size_t section) override {
        return rows[section].size();
    }
    TableCell& cellForRow(DataTableView& table, IndexPath path) override {
        TableCell& cell = table.dequeueReusableCell("row");
        cell.textLabel().setText(rows[path.section][path.row]);
        return cell;
    }
    // As the screens do, the table is reloaded from inside its own callbacks.
    void didSelectRow(DataTableView& table, IndexPath path) override {
        selected.push_back(path);
        table.reloadData();
    }
    EditingStyle editingStyle(DataTableView&, IndexPath path) override {
        return fixedFirstSection && path.section == 0 ? EditingStyle::none : EditingStyle::remove;
    }
    void commitDelete(DataTableView&, IndexPath path) override { deleted.push_back(path); }
    bool canMoveRow(DataTableView&, IndexPath path) override {
        return !(fixedFirstSection && path.section == 0);
    }
    IndexPath targetForMove(DataTableView&, IndexPath from, IndexPath proposed) override {
        proposals.push_back(proposed);
        return proposed.section != from.section ? from : proposed;
    }
    void moveRow(DataTableView& table, IndexPath from, IndexPath to) override {
        moves.emplace_back(from, to);
        auto moved = rows[from.section][from.row];
        rows[from.section].erase(rows[from.section].begin() + long(from.row));
        rows[to.section].insert(rows[to.section].begin() + long(to.row), moved);
        table.reloadData();
    }

    std::vector<std::vector<std::string>> rows;
    bool fixedFirstSection = false;
    std::vector<IndexPath> selected;
    std::vector<IndexPath> deleted;
    std::vector<IndexPath> proposals;
    std::vector<std::pair<IndexPath, IndexPath>> moves;
};

class DataTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        table = std::make_unique<DataTableView>();
        table->setName("dataTable");
        table->registerCell("row", [this] {
            ++made;
            return new TableCell;
        });
        table->setModel(&model);
    }

    void show(std::vector<std::vector<std::string>> rows) {
        model.rows = std::move(rows);
        table->setFrame({0, 0, 320, 400});
        table->reloadData();
    }
    std::string textAt(IndexPath path) { return table->cell(path)->textLabel().text(); }
    double yOf(IndexPath path) { return table->cell(path)->frame().y; }

    UiWorld world;
    ui_test::TestLocale locale;
    platform::ScopedInstall<platform::ui::InterfaceLocale> installLocale{&locale};
    ListModel model;
    int made = 0;
    std::unique_ptr<DataTableView> table;
};

TEST_F(DataTableTest, ReloadAsksTheModelAndReusesTheCellsItShowed) {
    show({{"a", "b", "c"}});
    ASSERT_EQ(table->numberOfRows(0), 3u);
    EXPECT_EQ(textAt({0, 2}), "c");
    EXPECT_DOUBLE_EQ(yOf({0, 1}), 44);
    const std::vector<TableCell*> before{table->cell({0, 0}), table->cell({0, 1}),
                                         table->cell({0, 2})};

    model.rows = {{"x", "y"}};
    table->reloadData();
    EXPECT_EQ(made, 3) << "two rows of the three cells: nothing new made";
    EXPECT_EQ(textAt({0, 0}), "x");
    EXPECT_EQ(textAt({0, 1}), "y");
    EXPECT_EQ(std::count_if(before.begin(), before.end(), [](TableCell* c) { return c->isHidden(); }),
              1);
    EXPECT_DOUBLE_EQ(table->contentHeight(), 88);
}

TEST_F(DataTableTest, DeletingRowsFadesThemAndSlidesTheRestUpOnTheAnimator) {
    show({{"a", "b", "c", "d"}});
    TableCell* b = table->cell({0, 1});
    model.rows[0].erase(model.rows[0].begin() + 1);
    table->deleteRows({{0, 1}}, true);

    ASSERT_EQ(table->numberOfRows(0), 3u);
    EXPECT_EQ(textAt({0, 1}), "c");
    EXPECT_DOUBLE_EQ(yOf({0, 1}), 88) << "still where it was when the animation starts";
    EXPECT_FALSE(b->isHidden()) << "the deleted row shows while it fades";
    EXPECT_DOUBLE_EQ(b->alpha(), 1);

    world.loop.advance(DataTableView::kAnimationDuration);
    EXPECT_DOUBLE_EQ(yOf({0, 1}), 44);
    EXPECT_TRUE(b->isHidden());
    EXPECT_DOUBLE_EQ(table->contentHeight(), 132);
    ASSERT_EQ(world.animator.records().size(), 1u);
    EXPECT_TRUE(world.animator.records()[0].finished);
}

TEST_F(DataTableTest, InsertedRowsFadeInBetweenTheirNeighbours) {
    show({{"a", "c"}});
    model.rows[0].insert(model.rows[0].begin() + 1, "b");
    table->insertRows({{0, 1}}, true);
    EXPECT_EQ(textAt({0, 1}), "b");
    EXPECT_DOUBLE_EQ(table->cell({0, 1})->alpha(), 0);
    EXPECT_DOUBLE_EQ(yOf({0, 2}), 44) << "c starts where it stood";
    world.loop.advance(DataTableView::kAnimationDuration);
    EXPECT_DOUBLE_EQ(table->cell({0, 1})->alpha(), 1);
    EXPECT_DOUBLE_EQ(yOf({0, 2}), 88);
}

TEST_F(DataTableTest, AChangeTheModelDoesNotHoldReloadsInsteadOfShowingWrongRows) {
    struct Case {
        const char* name;
        bool insert;
        IndexPath path;
    };
    for (const Case& c : {Case{"delete the model kept", false, {0, 0}},
                          Case{"insert the model lacks", true, {0, 1}},
                          Case{"delete past the end", false, {0, 9}},
                          Case{"insert in no section", true, {3, 0}}}) {
        SCOPED_TRACE(c.name);
        show({{"a", "b"}});
        if (c.insert) {
            table->insertRows({c.path}, true);
        } else {
            table->deleteRows({c.path}, true);
        }
        world.loop.advance(1);
        ASSERT_EQ(table->numberOfRows(0), 2u);
        EXPECT_EQ(textAt({0, 0}), "a");
        EXPECT_EQ(textAt({0, 1}), "b");
    }
}

TEST_F(DataTableTest, ASwipeTowardsTheLeadingEdgeOffersDeleteAndTheButtonCommitsIt) {
    for (const bool rightToLeft : {false, true}) {
        SCOPED_TRACE(rightToLeft ? "right-to-left" : "left-to-right");
        locale.rightToLeft = rightToLeft;
        model.deleted.clear();
        model.selected.clear();
        show({{"a", "b"}});
        TableCell* b = table->cell({0, 1});
        const QPoint start(rightToLeft ? 60 : 260, 20);
        const QPoint end(rightToLeft ? 200 : 120, 24);
        QTest::mousePress(b, Qt::LeftButton, {}, start);
        QTest::mouseRelease(b, Qt::LeftButton, {}, end);
        ASSERT_EQ(table->confirmingRow(), (IndexPath{0, 1}));
        EXPECT_TRUE(model.selected.empty()) << "a swipe selects nothing";
        platform::ui::Button* confirm = table->deleteConfirmButton();
        ASSERT_NE(confirm, nullptr);
        EXPECT_EQ(confirm->title(), "Delete");
        EXPECT_DOUBLE_EQ(confirm->frame().x, rightToLeft ? 0 : 320 - DataTableView::kConfirmWidth);
        EXPECT_DOUBLE_EQ(b->frame().x, rightToLeft ? DataTableView::kConfirmWidth
                                                   : -DataTableView::kConfirmWidth);
        QTest::mouseClick(confirm, Qt::LeftButton);
        EXPECT_EQ(model.deleted, (std::vector<IndexPath>{{0, 1}}));
        EXPECT_FALSE(table->confirmingRow());
        UiWorld::flushDeletes();
    }
}

TEST_F(DataTableTest, ATouchWhileDeleteIsOfferedOnlyWithdrawsTheOffer) {
    show({{"a", "b"}});
    table->showDeleteConfirmation({0, 0});
    QTest::mouseClick(table->cell({0, 1}), Qt::LeftButton);
    EXPECT_FALSE(table->confirmingRow());
    EXPECT_TRUE(model.selected.empty());
    QTest::mouseClick(table->cell({0, 1}), Qt::LeftButton);
    EXPECT_EQ(model.selected, (std::vector<IndexPath>{{0, 1}}));
}

TEST_F(DataTableTest, EditingShowsControlsWhereTheModelAllowsThemAndGatesSelection) {
    model.fixedFirstSection = true;
    show({{"recent"}, {"a", "b"}});
    EXPECT_EQ(table->deleteControl({1, 0}), nullptr);
    table->setEditing(true, false);
    EXPECT_EQ(table->deleteControl({0, 0}), nullptr);
    EXPECT_EQ(table->reorderGrip({0, 0}), nullptr);
    ASSERT_NE(table->deleteControl({1, 0}), nullptr);
    ASSERT_NE(table->reorderGrip({1, 1}), nullptr);
    EXPECT_DOUBLE_EQ(table->cell({1, 0})->frame().x, DataTableView::kEditingIndent);
    EXPECT_DOUBLE_EQ(table->cell({1, 0})->frame().width,
                     320 - DataTableView::kEditingIndent - DataTableView::kGripWidth);

    QTest::mouseClick(table->cell({1, 0}), Qt::LeftButton);
    EXPECT_TRUE(model.selected.empty()) << "no selection while editing unless allowed";
    table->setAllowsSelectionDuringEditing(true);
    QTest::mouseClick(table->cell({1, 0}), Qt::LeftButton);
    EXPECT_EQ(model.selected.size(), 1u);

    QTest::mouseClick(table->deleteControl({1, 1}), Qt::LeftButton);
    EXPECT_EQ(table->confirmingRow(), (IndexPath{1, 1}));
    UiWorld::shoot(*table, "data_table_editing");
    QTest::mouseClick(table->deleteControl({1, 1}), Qt::LeftButton);
    EXPECT_FALSE(table->confirmingRow()) << "the control again withdraws the offer";

    table->setEditing(false, true);
    world.loop.advance(DataTableView::kAnimationDuration);
    EXPECT_EQ(table->deleteControl({1, 0}), nullptr);
    EXPECT_DOUBLE_EQ(table->cell({1, 0})->frame().x, 0);
}

TEST_F(DataTableTest, ADragAsksForEachNewPlaceFromItsStartAndTellsTheDrop) {
    model.fixedFirstSection = true;
    show({{"recent"}, {"a", "b", "c", "d"}});
    table->setEditing(true, false);
    // Section 1 begins at 44; rows at 44, 88, 132, 176.
    table->beginDrag({1, 0}, 60);
    // A row changes places once the dragged row's middle passes its middle.
    table->dragTo(60 + 30);
    EXPECT_EQ(model.proposals, (std::vector<IndexPath>{{1, 1}}));
    EXPECT_EQ(textAt({1, 1}), "a");
    EXPECT_DOUBLE_EQ(yOf({1, 1}), 74) << "the dragged row follows the pointer";
    EXPECT_DOUBLE_EQ(yOf({1, 0}), 44) << "b took a's place";
    table->dragTo(60 + 31);
    EXPECT_EQ(model.proposals.size(), 1u) << "the same place is not asked again";
    table->dragTo(60 + 80);
    EXPECT_EQ(model.proposals.back(), (IndexPath{1, 2}));
    table->dragTo(0);
    EXPECT_EQ(model.proposals.back(), (IndexPath{0, 0}));
    EXPECT_EQ(textAt({1, 0}), "a") << "refused: back where it began";
    table->dragTo(60 + 80);
    table->endDrag();
    ASSERT_EQ(model.moves.size(), 1u);
    EXPECT_EQ(model.moves[0], std::make_pair(IndexPath{1, 0}, IndexPath{1, 2}));
    EXPECT_EQ(textAt({1, 2}), "a");
    EXPECT_DOUBLE_EQ(yOf({1, 2}), 132);
    EXPECT_EQ(model.rows[1], (std::vector<std::string>{"b", "c", "a", "d"}));
}

TEST_F(DataTableTest, TheGripDragsItsRowWithTheMouse) {
    show({{"a", "b", "c"}});
    table->setEditing(true, false);
    platform::ui::View* grip = table->reorderGrip({0, 2});
    ASSERT_NE(grip, nullptr);
    QTest::mousePress(grip, Qt::LeftButton, {}, QPoint(20, 20));
    EXPECT_TRUE(table->isDragging());
    QMouseEvent move(QEvent::MouseMove, QPointF(20, -70), grip->mapToGlobal(QPointF(20, -70)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(grip, &move);
    QTest::mouseRelease(grip, Qt::LeftButton, {}, QPoint(20, -70));
    EXPECT_FALSE(table->isDragging());
    ASSERT_EQ(model.moves.size(), 1u);
    EXPECT_EQ(model.moves[0], std::make_pair(IndexPath{0, 2}, IndexPath{0, 0}));
}

TEST_F(DataTableTest, RightToLeftPutsTheEditingControlsOnTheOtherSide) {
    locale.rightToLeft = true;
    show({{"a"}});
    table->setEditing(true, false);
    EXPECT_DOUBLE_EQ(table->cell({0, 0})->frame().x, DataTableView::kGripWidth);
    EXPECT_DOUBLE_EQ(table->reorderGrip({0, 0})->frame().x, 0);
    EXPECT_DOUBLE_EQ(table->deleteControl({0, 0})->frame().x, 320 - 8 - 22);
}

// A row the watch removes while a person drags another one: the model's paths no longer name
// the rows as they stand under the pointer, so the drag ends without moving anything.
TEST_F(DataTableTest, AChangeFromTheModelDuringADragEndsItWithoutAMove) {
    struct Case {
        const char* change;
        std::function<void(ListModel&, DataTableView&)> apply;
        std::vector<std::string> shown;
    };
    const Case cases[] = {
        {"deleted below", [](ListModel& m, DataTableView& t) {
             m.rows[0].resize(2);
             t.deleteRows({{0, 2}, {0, 3}}, false);
         }, {"a", "b"}},
        {"inserted above", [](ListModel& m, DataTableView& t) {
             m.rows[0].insert(m.rows[0].begin(), "new");
             t.insertRows({{0, 0}}, true);
         }, {"new", "a", "b", "c", "d"}},
        {"reloaded", [](ListModel& m, DataTableView& t) {
             m.rows[0][1] = "B";
             t.reloadRows({{0, 1}});
         }, {"a", "B", "c", "d"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.change);
        show({{"a", "b", "c", "d"}});
        model.moves.clear();
        table->setEditing(true, false);
        table->beginDrag({0, 3}, 150);
        table->dragTo(150 - 90);  // d now stands second
        c.apply(model, *table);
        EXPECT_FALSE(table->isDragging());
        table->dragTo(10);
        table->endDrag();
        EXPECT_TRUE(model.moves.empty());
        std::vector<std::string> shown;
        for (std::size_t r = 0; r < table->numberOfRows(0); ++r) {
            shown.push_back(textAt({0, r}));
        }
        EXPECT_EQ(shown, c.shown);
        world.loop.advance(DataTableView::kAnimationDuration);
    }
}

}  // namespace
