#include <gtest/gtest.h>

#include <optional>

#include "platform/foundation/Json.h"
#include "platform/foundation/RunLoop.h"
#include "platform/host/AppHost.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Table.h"
#include "screens/support/ScreenDriver.h"

namespace {

using platform::ui::Page;
using screens_test::ScreenDriver;

// A small screen with one control of each kind the driver works, wired as screens wire them.
class ControlsPage : public Page {
public:
    ControlsPage() : Page("TQControlsViewController") {}

    void viewDidLoad() override {
        auto* go = new platform::ui::Button(&contentView());
        go->setName("goButton");
        go->setTitle("Go");
        go->setFrame({16, 16, 120, 44});
        go->onAction([this] { TQStoryboard::perform(*this, "goSegue"); });

        auto* ask = new platform::ui::Button(&contentView());
        ask->setName("askButton");
        ask->setTitle("Ask");
        ask->setFrame({150, 16, 120, 44});
        ask->onAction([this] {
            platform::AppHost::current().showAlert(
                {"Forget the watch?", "", {"Cancel", "Forget"}, guarded([this](std::size_t i) {
                     answer = i;
                 })});
        });

        auto* field = new platform::ui::TextField(&contentView());
        field->setName("nameField");
        field->setFrame({16, 70, 300, 32});
        field->setShouldChange([](auto, std::string_view replacement) {
            return replacement.find('!') == std::string_view::npos;
        });
        field->onEditingChanged([this, field] { typed = field->text(); });

        auto* power = new platform::ui::Switch(&contentView());
        power->setName("powerSwitch");
        power->setFrame({16, 110, 51, 31});
        power->onValueChanged([this](bool on) { switched = on; });

        auto* table = new platform::ui::TableView(&contentView());
        table->setName("menuTable");
        table->setFrame({0, 150, 414, 300});
        platform::ui::TableSection section;
        for (const char* title : {"Notifications", "Settings"}) {
            auto* cell = new platform::ui::TableCell();
            cell->textLabel().setText(title);
            section.cells.push_back(cell);
        }
        table->setSections({section});

        observe("onDataReceivedNotification", [this](const platform::Notification& note) {
            received = note.object;
        });
    }
    // Screens that give up after a while do it on the run loop's clock.
    void startWaiting() {
        platform::RunLoop::main().postDelayed(10, guarded([this] { timedOut = true; }));
    }

    std::optional<std::size_t> answer;
    std::string typed;
    std::optional<bool> switched;
    platform::Value received;
    bool timedOut = false;
};

TEST(ScreenDriverTest, APersonsActionsReachTheScreen) {
    ScreenDriver driver;
    driver.storyboard->registerScene(TQScene{"controls", "TQControlsViewController",
                                             [] { return std::make_unique<ControlsPage>(); }});
    driver.storyboard->registerSegue(
        TQSegue{"goSegue", {"controls"}, "TQWeatherViewController", TQSegueKind::push});
    auto* page = dynamic_cast<ControlsPage*>(driver.show("controls"));
    ASSERT_NE(page, nullptr);

    EXPECT_TRUE(driver.type("nameField", "Kim!s watch"));
    EXPECT_EQ(page->typed, "Kims watch") << "typing goes through the field's own checks";
    EXPECT_TRUE(driver.setSwitch("powerSwitch", true));
    EXPECT_EQ(page->switched, true);
    EXPECT_EQ(driver.rows("menuTable"), (std::vector<std::string>{"Notifications", "Settings"}));

    EXPECT_EQ(driver.alert(), nullptr);
    EXPECT_TRUE(driver.tap("askButton"));
    ASSERT_NE(driver.alert(), nullptr);
    EXPECT_EQ(driver.alert()->title(), "Forget the watch?");
    EXPECT_FALSE(driver.answerAlert("Maybe"));
    EXPECT_TRUE(driver.answerAlert("Forget"));
    EXPECT_EQ(page->answer, 1U);
    EXPECT_EQ(driver.alert(), nullptr);

    driver.watchMessage({{"msgId", "mgr_watch_info_res"}}, 3);
    EXPECT_EQ(page->received["appId"].intValue(), 3);
    const auto* data = page->received["data"].bytesIf();
    ASSERT_NE(data, nullptr);
    const auto decoded =
        platform::json::parse(std::string_view(reinterpret_cast<const char*>(data->data()),
                                              data->size()));
    ASSERT_TRUE(decoded);
    EXPECT_EQ((*decoded)["msgId"].stringValue(), "mgr_watch_info_res");

    page->startWaiting();
    driver.advance(9);
    EXPECT_FALSE(page->timedOut);
    driver.advance(1);
    EXPECT_TRUE(page->timedOut);

    EXPECT_FALSE(driver.tap("noSuchButton"));
    EXPECT_TRUE(driver.tap("goButton"));
    EXPECT_EQ(driver.topScene(), "TQWeatherViewController");
    EXPECT_FALSE(driver.tap("askButton")) << "the page below is off screen";
}

}  // namespace
