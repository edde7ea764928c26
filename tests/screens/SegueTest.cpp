#include <gtest/gtest.h>

#include <QApplication>

#include "platform/ui/Presentation.h"
#include "screens/RecordingPage.h"
#include "screens/support/ScreenDriver.h"

namespace {

using platform::ui::Page;
using screens_test::addRecordingScene;
using screens_test::Journal;
using screens_test::RecordingPage;
using screens_test::ScreenDriver;

class SegueTest : public ::testing::Test {
protected:
    SegueTest() {
        addRecordingScene(driver, "sourceScene", "Source", journal);
        addRecordingScene(driver, "destinationScene", "Destination", journal);
        addRecordingScene(driver, "middleScene", "Middle", journal);
    }

    // The source as the first page of the root navigation, its journal so far cleared.
    RecordingPage& showSource() {
        auto* page = dynamic_cast<RecordingPage*>(driver.show("sourceScene"));
        journal->clear();
        return *page;
    }
    void addSegue(const char* identifier, TQSegueKind kind, const char* destination,
                  std::vector<std::string> sources = {"sourceScene"}) {
        driver.storyboard->registerSegue(TQSegue{identifier, std::move(sources), destination, kind});
    }

    ScreenDriver driver;
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
};

TEST_F(SegueTest, EachKindPreparesTheDestinationThenShowsItWithItsEvents) {
    struct Case {
        TQSegueKind kind;
        bool pushed;
        bool sourceStaysOnScreen;
        Journal events;
    };
    const Journal covering = {"Source prepare go -> Destination", "Destination load",
                              "Source willDisappear",             "Destination willAppear",
                              "Source didDisappear",              "Destination didAppear"};
    const Case cases[] = {
        {TQSegueKind::push, true, false, covering},
        {TQSegueKind::modal, false, false, covering},
        {TQSegueKind::modalCrossDissolve, false, false, covering},
        {TQSegueKind::overCurrentContext, false, true,
         {"Source prepare go -> Destination", "Destination load", "Destination willAppear",
          "Destination didAppear"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.kind));
        addSegue("go", c.kind, "destinationScene");
        RecordingPage& source = showSource();
        ASSERT_TRUE(TQStoryboard::perform(source, "go"));
        // The animation runs on the virtual clock: nothing has appeared yet.
        EXPECT_EQ(journal->back(), "Destination willAppear");
        if (c.kind == TQSegueKind::modalCrossDissolve) {
            EXPECT_DOUBLE_EQ(driver.top()->alpha(), 0.0) << "it fades in from nothing";
        }
        EXPECT_FALSE(driver.animator.records().back().finished);
        driver.settle();
        EXPECT_TRUE(driver.animator.records().back().finished);
        EXPECT_EQ(*journal, c.events);

        Page* destination = driver.top();
        ASSERT_NE(destination, nullptr);
        EXPECT_EQ(destination->className(), "Destination");
        EXPECT_TRUE(destination->isOnScreen());
        EXPECT_EQ(source.isOnScreen(), c.sourceStaysOnScreen);
        EXPECT_EQ(platform::ui::navigationOf(*destination) == platform::ui::navigationOf(source),
                  c.pushed);
        EXPECT_EQ(platform::ui::presentingPage(*destination), c.pushed ? nullptr : &source);
        EXPECT_EQ(platform::ui::presentedPage(source), c.pushed ? nullptr : destination);
        EXPECT_DOUBLE_EQ(destination->alpha(), 1.0);
    }
}

TEST_F(SegueTest, AnUnwindGoesBackThroughPresentationsAndTheNavigation) {
    addSegue("toMiddle", TQSegueKind::push, "middleScene");
    addSegue("present", TQSegueKind::modal, "destinationScene", {"middleScene"});
    addSegue("back", TQSegueKind::unwind, "sourceScene", {"destinationScene"});
    addSegue("nowhere", TQSegueKind::unwind, "middleScene", {"sourceScene"});
    RecordingPage& source = showSource();
    EXPECT_FALSE(TQStoryboard::perform(source, "nowhere")) << "nothing below the root";

    ASSERT_TRUE(TQStoryboard::perform(source, "toMiddle"));
    driver.settle();
    ASSERT_TRUE(TQStoryboard::perform(*driver.top(), "present"));
    driver.settle();
    Page* presented = driver.top();
    ASSERT_EQ(presented->className(), "Destination");
    const auto presentedAlive = presented->weakPage();
    journal->clear();

    ASSERT_TRUE(TQStoryboard::perform(*presented, "back"));
    driver.settle();
    EXPECT_FALSE(presentedAlive) << "the dismissed page has left";
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_EQ(driver.top(), &source);
    EXPECT_TRUE(source.isOnScreen());
    EXPECT_EQ(platform::ui::navigationOf(source)->pages().size(), 1U);
    EXPECT_EQ(journal->front(), "Destination prepare back -> Source");
    for (const char* gone : {"Destination gone", "Middle gone", "Source didAppear"}) {
        EXPECT_NE(std::find(journal->begin(), journal->end(), gone), journal->end()) << gone;
    }
}

TEST_F(SegueTest, ReplacingTheRootTellsTheOldRootBeforeItIsFreed) {
    addSegue("root", TQSegueKind::replaceRoot, "destinationScene");
    RecordingPage& source = showSource();
    driver.storyboard->setRootChanger(nullptr);
    EXPECT_FALSE(TQStoryboard::perform(source, "root")) << "nobody changes the root";

    std::string from;
    driver.storyboard->setRootChanger([&](std::unique_ptr<Page> root, Page& old) {
        from = old.className();
        platform::ui::replaceRootView(*driver.window,
                                      new platform::ui::NavigationController(std::move(root)));
    });
    int seen = 0;
    source.observe("ping", [&](const platform::Notification&) { ++seen; });
    auto callback = source.guarded([&] { ++seen; });
    journal->clear();
    ASSERT_TRUE(TQStoryboard::perform(source, "root"));
    driver.settle();
    QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);

    EXPECT_EQ(from, "Source");
    EXPECT_EQ(driver.top()->className(), "Destination");
    const Journal expected = {"Source prepare root -> Destination",
                              "Destination load",
                              "Destination willAppear",
                              "Destination didAppear",
                              "Source willDisappear",
                              "Source didDisappear",
                              "Source gone"};
    EXPECT_EQ(*journal, expected);
    driver.center.post("ping");
    callback();
    EXPECT_EQ(seen, 0) << "the old root's observer and callbacks went with it";
}

TEST_F(SegueTest, SeguesThatCannotRunAreRefusedAndChangeNothing) {
    addSegue("elsewhere", TQSegueKind::push, "destinationScene", {"middleScene"});
    addSegue("broken", TQSegueKind::push, "noSuchScene");
    addSegue("present", TQSegueKind::modal, "middleScene");
    addSegue("pushFromMiddle", TQSegueKind::push, "destinationScene", {"middleScene"});
    RecordingPage& source = showSource();

    EXPECT_FALSE(TQStoryboard::perform(source, "noSuchSegue"));
    EXPECT_FALSE(TQStoryboard::perform(source, "elsewhere")) << "the segue is another scene's";
    EXPECT_FALSE(TQStoryboard::perform(source, "broken"));
    EXPECT_EQ(driver.top(), &source);
    EXPECT_TRUE(journal->empty());

    // A presented page stands on no navigation: nothing to push on.
    ASSERT_TRUE(TQStoryboard::perform(source, "present"));
    driver.settle();
    EXPECT_FALSE(TQStoryboard::perform(*driver.top(), "pushFromMiddle"));
    EXPECT_EQ(driver.top()->className(), "Middle");
}

}  // namespace
