#include <gtest/gtest.h>

#include <QString>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/Navigation.h"
#include "platform/ui/Table.h"
#include "ui/TQHeaderFooterUtils.h"
#include "ui/UiWorld.h"

namespace {

using platform::ui::Label;
using ui_test::UiWorld;

const std::string kEllipsis = "\xE2\x80\xA6";

std::string joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) {
        all += (all.empty() ? "" : " ") + line;
    }
    return all;
}

bool endsWithEllipsis(const std::string& line) {
    return line.size() >= kEllipsis.size() &&
           line.compare(line.size() - kEllipsis.size(), kEllipsis.size(), kEllipsis) == 0;
}

// Measured with the test font, not the fake metrics: what a person reads.
class TextFittingTest : public ::testing::Test {
protected:
    UiWorld world;
    platform::ui::FontTextMetrics real;
    platform::ScopedInstall<platform::ui::TextMetrics> installReal{&real};
};

TEST_F(TextFittingTest, SectionTextsWrapToTheLinesTheyNeed) {
    const std::string texts[] = {
        "Notifications",
        "Allow notifications from the applications you choose to appear on your watch.",
        "Turn on the applications whose notifications you want to see on the watch. When the "
        "phone is in use, notifications still go to the watch so that nothing is missed.",
        "Wi-Fi, mobile networks, Bluetooth, location, battery and storage of the watch",
    };
    for (const auto& text : texts) {
        SCOPED_TRACE(text);
        const std::unique_ptr<platform::ui::View> views[] = {
            std::unique_ptr<platform::ui::View>(TQHeaderFooterUtils::generateHeaderViewForText(text)),
            std::unique_ptr<platform::ui::View>(TQHeaderFooterUtils::generateFirstHeaderViewForText(text)),
            std::unique_ptr<platform::ui::View>(TQHeaderFooterUtils::generateFooterViewForText(text)),
        };
        for (const auto& view : views) {
            auto* label = view->findChild<Label*>("sectionText");
            ASSERT_NE(label, nullptr);
            EXPECT_FALSE(label->isTruncated());
            EXPECT_EQ(joined(label->shownLines()), text) << "every word on show";
            EXPECT_LE(label->frame().y + label->frame().height, view->frame().height);
        }
    }
    platform::ui::TableView table;
    table.setFrame({0, 0, 414, 330});
    table.setSections({{TQHeaderFooterUtils::generateFirstHeaderViewForText(texts[2]),
                        TQHeaderFooterUtils::getHeightForFirstHeaderViewWithText(texts[2]),
                        {},
                        TQHeaderFooterUtils::generateFooterViewForText(texts[1]),
                        TQHeaderFooterUtils::getHeightForFooterViewWithText(texts[1])}});
    UiWorld::shoot(table, "section_texts_real_font");
}

TEST_F(TextFittingTest, WhatDoesNotFitEndsInAnEllipsis) {
    const std::string longText =
        "Keep the watch close to the phone while the application is installed on it";
    const struct {
        const char* name;
        int lines;
        double width, height;
        std::size_t shown;
        bool truncated;
    } cases[] = {
        {"one line, fits", 1, 900, 24, 1, false},
        {"one line, too long", 1, 200, 24, 1, true},
        {"two lines, too long", 2, 200, 60, 2, true},
        {"two lines, fits in two", 2, 400, 60, 2, false},
        {"unlimited, height for two", 0, 200, 45, 2, true},
        {"unlimited, room for all", 0, 200, 400, 0, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Label label;
        label.setFontSize(17);
        label.setNumberOfLines(c.lines);
        label.setText(longText);
        label.setFrame({0, 0, c.width, c.height});
        const auto lines = label.shownLines();
        EXPECT_EQ(label.isTruncated(), c.truncated);
        if (c.shown > 0) {
            EXPECT_EQ(lines.size(), c.shown);
        }
        EXPECT_EQ(endsWithEllipsis(lines.back()), c.truncated);
        const QFontMetricsF metrics(label.font());
        for (const auto& line : lines) {
            EXPECT_LE(metrics.horizontalAdvance(QString::fromStdString(line)), c.width + 0.5)
                << line;
        }
        if (!c.truncated) {
            EXPECT_EQ(joined(lines), longText);
        }
    }
    // A word longer than the line breaks inside instead of running out of the frame.
    Label word;
    word.setFontSize(17);
    word.setNumberOfLines(0);
    word.setText(std::string(40, 'w'));
    word.setFrame({0, 0, 200, 400});
    EXPECT_FALSE(word.isTruncated());
    std::string all;
    for (const auto& line : word.shownLines()) {
        EXPECT_LE(QFontMetricsF(word.font()).horizontalAdvance(QString::fromStdString(line)), 200.5);
        all += line;
    }
    EXPECT_EQ(all, std::string(40, 'w'));
}

TEST_F(TextFittingTest, LongTitlesAndRowsEndInAnEllipsis) {
    auto page = std::make_unique<platform::ui::Page>("TQViewController");
    page->setTitle("Notification settings for the applications on the watch");
    auto* nav = new platform::ui::NavigationController(std::move(page));
    world.window->setRootView(nav);
    world.window->show();
    auto* title = nav->findChild<Label*>("navigationTitle");
    ASSERT_NE(title, nullptr);
    ASSERT_EQ(title->shownLines().size(), 1U);
    EXPECT_TRUE(endsWithEllipsis(title->shownLines()[0])) << title->shownLines()[0];

    platform::ui::TableCell row;
    row.setFrame({0, 0, 320, 44});
    row.textLabel().setText("Show notifications from applications you have not opened yet");
    row.setAccessory(platform::ui::TableCell::Accessory::disclosureIndicator);
    row.layoutIfNeeded();
    ASSERT_EQ(row.textLabel().shownLines().size(), 1U);
    EXPECT_TRUE(endsWithEllipsis(row.textLabel().shownLines()[0]));
    UiWorld::shoot(*world.window, "navigation_title_elided");
}

}  // namespace
