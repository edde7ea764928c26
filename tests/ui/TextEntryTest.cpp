#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QDropEvent>
#include <QInputMethodEvent>
#include <QMimeData>
#include <QTest>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui/EditMenu.h"
#include "ui/TQInterfaceLocale.h"
#include "ui/TQInputTextTableViewCell.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::EditAction;
using platform::ui::TextField;
using ui_test::UiWorld;

QAction* menuAction(QMenu& menu, EditAction action) {
    for (QAction* item : menu.actions()) {
        if (!item->isSeparator() && item->data().toInt() == static_cast<int>(action)) {
            return item;
        }
    }
    return nullptr;
}

// A drag from another application that enters the field and is let go at its end.
void drop(TextField& field, const QString& text) {
    QMimeData data;
    data.setText(text);
    const QPoint at(field.width() - 2, field.height() / 2);
    QDragEnterEvent enter(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&field, &enter);
    QDropEvent event(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&field, &event);
}

void commit(TextField& field, const QString& text) {
    QInputMethodEvent event;
    event.setCommitString(text);
    QApplication::sendEvent(&field, &event);
}

class TextEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        cell.setFrame({0, 0, 414, 44});
        cell.setInputCellType(1);
    }
    TextField& field() { return cell.titleInput(); }
    // A field holding `units` characters with the caret at the end, its counter current.
    void fill(std::size_t units) {
        field().setText(std::string(units, 'a'));
        field().setCursorPosition(static_cast<int>(units));
        cell.textFieldDidChange();
    }

    UiWorld world;
    TQInputTextTableViewCell cell;
};

TEST_F(TextEntryTest, TheLimitHoldsForEveryWayTextComesIn) {
    const struct {
        const char* route;
        std::function<void(TextField&)> enter;
        std::size_t from199;  // typing goes a character at a time, the rest at once
    } routes[] = {
        {"typing", [](TextField& f) { QTest::keyClicks(&f, "xy"); }, 200},
        {"paste keys",
         [](TextField& f) {
             QApplication::clipboard()->setText("xy");
             QTest::keySequence(&f, QKeySequence::Paste);
         },
         201},
        {"menu paste",
         [](TextField& f) {
             QApplication::clipboard()->setText("xy");
             auto menu = f.createEditMenu();
             QAction* paste = menuAction(*menu, EditAction::paste);
             ASSERT_NE(paste, nullptr);
             ASSERT_TRUE(paste->isEnabled());
             paste->trigger();
         },
         201},
        {"drop", [](TextField& f) { drop(f, "xy"); }, 201},
        {"input method", [](TextField& f) { commit(f, "xy"); }, 201},
    };
    for (const auto& r : routes) {
        SCOPED_TRACE(r.route);
        fill(200);
        r.enter(field());
        EXPECT_EQ(field().length(), 200U) << "at 200 nothing more goes in";
        EXPECT_EQ(cell.countingLabel().text(), "(200/200)");

        fill(199);
        r.enter(field());
        EXPECT_EQ(field().length(), r.from199) << "below 200 an insertion goes in whole";
        EXPECT_EQ(cell.countingLabel().text(), "(" + std::to_string(r.from199) + "/200)")
            << "the counter follows";
    }
}

TEST_F(TextEntryTest, AMenuPasteOverASelectionMayPassTheLimitAndCutAsksToo) {
    fill(200);
    QApplication::clipboard()->setText(QString(31, 'p'));
    field().setSelection(10, 1);
    auto menu = field().createEditMenu();
    menuAction(*menu, EditAction::paste)->trigger();
    EXPECT_EQ(field().length(), 230U);
    EXPECT_EQ(cell.countingLabel().text(), "(230/200)");

    std::vector<std::pair<std::size_t, std::size_t>> asked;
    field().setShouldChange([&asked](TextField::Range range, std::string_view) {
        asked.emplace_back(range.location, range.length);
        return false;
    });
    field().setSelection(0, 5);
    EXPECT_FALSE(field().perform(EditAction::cut));
    EXPECT_FALSE(field().perform(EditAction::erase));
    EXPECT_EQ(field().length(), 230U) << "a refused cut or delete leaves the text";
    EXPECT_EQ(asked, (std::vector<std::pair<std::size_t, std::size_t>>{{0, 5}, {0, 5}}));
}

TEST_F(TextEntryTest, TheMenuSpeaksTheApplicationsWords) {
    fill(3);
    field().setSelection(0, 1);
    const auto english = field().createEditMenu();
    TQInterfaceLocale localized;
    platform::ScopedInstall<platform::ui::InterfaceLocale> install(&localized);
    const auto menu = field().createEditMenu();
    std::vector<std::string> titles;
    for (QAction* item : menu->actions()) {
        if (!item->isSeparator()) {
            titles.push_back(item->text().toStdString());
        }
    }
    EXPECT_EQ(titles, (std::vector<std::string>{"Undo", "Redo", "Cut", "Copy", "Paste", "Delete",
                                                "Select all"}));
    EXPECT_EQ(menuAction(*english, EditAction::selectAll)->text(), "Select All")
        << "without the application's table the layer's own words stand";
    EXPECT_EQ(localized.deleteTitle(), menuAction(*menu, EditAction::erase)->text().toStdString())
        << "a row's delete says what the menu's says";
    EXPECT_FALSE(menuAction(*menu, EditAction::undo)->isEnabled()) << "nothing to undo yet";
    EXPECT_TRUE(menuAction(*menu, EditAction::cut)->isEnabled());
    menu->setFixedWidth(180);
    UiWorld::shoot(*menu, "text_field_edit_menu");
}

}  // namespace
