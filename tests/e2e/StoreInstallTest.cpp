#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "e2e/StoreWorld.h"
#include "platform/foundation/FileSystem.h"
#include "platform/image/ImageSource.h"

namespace listener_test {
namespace {

class StoreInstallTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(t.connect()); }
    StoreWorld t;
};

TEST_F(StoreInstallTest, AStoreAppIsDownloadedSentInstalledAndRecorded) {
    const StoreApp& stopwatch = t.app("com.kavo.stopwatch");
    // The store's address: its HTTPS side, with the package's size.
    ASSERT_TRUE(t.store->packageURL(stopwatch).starts_with("https://"));
    ASSERT_NE(t.store->packageURL(stopwatch).find("&bsize="), std::string::npos);
    const std::string before = *TQUtils::retrieveXml(kModel, "wapplist.xml");
    // Another operation's unpacked package, which this one must leave alone.
    const fs::path other = t.documents() / kModel / "Extract" / "other" / "config.xml";
    ASSERT_TRUE(platform::fs::writeFileAtomically(other, "<widget/>").ok());
    t.download(stopwatch);
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));

    // The Part's sequence, as the bar sees it.
    EXPECT_EQ(collapsed(collapsed(t.bar.letters, "C1"), "SC2"), kInstallSequence) << t.bar.letters;
    EXPECT_EQ(t.bar.progress.front()[TQActivityBar::kAppNameKey], Value("Stopwatch"));
    // The t.download's fraction comes from the answer's length, up to the whole.
    const auto lastDownload = std::find_if(
        t.bar.progress.rbegin(), t.bar.progress.rend(),
        [](const Value& info) { return info[TQActivityBar::kProgressTypeKey] == Value(1U); });
    ASSERT_NE(lastDownload, t.bar.progress.rend());
    EXPECT_EQ((*lastDownload)[TQActivityBar::kProgressValueKey].doubleValue(), 1.0);
    EXPECT_EQ(t.bar.progress.back()[TQActivityBar::kProgressValueKey].doubleValue(), 1.0);

    // The watch has it, and the phone's list is the watch's, byte for byte.
    ASSERT_NE(t.apps.find("com.kavo.stopwatch"), nullptr);
    EXPECT_EQ(t.apps.find("com.kavo.stopwatch")->version, "1.2.0");
    const std::string after = *TQUtils::retrieveXml(kModel, "wapplist.xml");
    EXPECT_EQ(after, t.responder.state().appsListXml);
    EXPECT_EQ(after.substr(0, before.size() - 8), before.substr(0, before.size() - 8));
    EXPECT_TRUE(
        after.ends_with("<item>\n<AppName>\nStopwatch</AppName>\n"
                        "<PackageName>\ncom.kavo.stopwatch</PackageName>\n"
                        "<ClassName>\nStopwatchApp</ClassName>\n"
                        "<PreLoad>\nfalse</PreLoad>\n<IsRemovable>\ntrue</IsRemovable>\n"
                        "<Version>\n1.2.0</Version>\n</item>\n</Wapp>\n"))
        << after;
    EXPECT_TRUE(t.runUntil([&] { return t.messagesToWatch("mgr_apps_order_req").size() == 1; }, 5));

    // Its icon is kept, the package and the unpacked folder are gone.
    const auto icon =
        platform::fs::readFile(t.documents() / kModel / "AppIcons" / "com.kavo.stopwatch.png");
    ASSERT_TRUE(icon.ok());
    const auto image = platform::image::ImageSource::create(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(icon.value().data()), icon.value().size()));
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.value().format(), platform::image::Format::png);
    EXPECT_FALSE(fs::exists(t.documents() / "Stopwatch.wgt"));
    EXPECT_EQ(partialsLeft(t.documents()), 0U);
    EXPECT_TRUE(fs::exists(other));
    EXPECT_EQ(std::distance(fs::directory_iterator(t.documents() / kModel / "Extract"),
                            fs::directory_iterator()),
              1);
    EXPECT_EQ(t.sequence.pendingInstallations(), 0U);
    EXPECT_TRUE(t.world.host.app.alerts.empty());
}

TEST_F(StoreInstallTest, AnIconLargerThanAWatchIconIsNotKeptButTheAppIsInstalled) {
    StoreApp stopwatch = t.app("com.kavo.stopwatch");
    stopwatch.iconSize = 2048;
    ASSERT_TRUE(kavostore::writePackage(stopwatch, t.store->packagePath(stopwatch)).ok());
    t.download(stopwatch);
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    EXPECT_NE(t.apps.find("com.kavo.stopwatch"), nullptr);
    EXPECT_FALSE(fs::exists(t.documents() / kModel / "AppIcons" / "com.kavo.stopwatch.png"));
    EXPECT_FALSE(fs::exists(t.documents() / "Stopwatch.wgt"));
}

// Only the store's own addresses must be https: one the user typed is taken as given.
TEST_F(StoreInstallTest, AnAddressTheUserGaveMayBePlainHttp) {
    t.manager.performDownload(t.store->url("/packages/Stopwatch.wgt"), "Stopwatch", "Stopwatch.wgt",
                              "1", TQPackageDownload::Source::user);
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    EXPECT_NE(t.apps.find("com.kavo.stopwatch"), nullptr);
    EXPECT_TRUE(t.world.host.app.alerts.empty());
}

TEST_F(StoreInstallTest, AWatchFaceIsRecordedAmongTheFacesWithoutAnOrderRequest) {
    t.download(t.app("com.kavo.face.nightsky"));
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    EXPECT_EQ(collapsed(collapsed(t.bar.letters, "C1"), "SC2"), kInstallSequence) << t.bar.letters;
    EXPECT_EQ(t.bar.progress.back()[TQActivityBar::kAppNameKey], Value("Night Sky"));
    const std::string faces = *TQUtils::retrieveXml(kModel, "clocklist.xml");
    EXPECT_TRUE(
        faces.ends_with("<item>\n<AppName>\nNight Sky</AppName>\n"
                        "<PackageName>\ncom.kavo.face.nightsky</PackageName>\n"
                        "<ClassName>\nNightSkyFace</ClassName>\n"
                        "<PreLoad>\nfalse</PreLoad>\n<IsRemovable>\ntrue</IsRemovable>\n"
                        "<Version>\n1.0.0</Version>\n<IsShown>\nfalse</IsShown>\n"
                        "</item>\n</Clock>\n"))
        << faces;
    EXPECT_EQ(t.manager.appItems().size(), 3U);
    EXPECT_EQ(t.manager.clockItems().size(), 3U);
    EXPECT_TRUE(t.messagesToWatch("mgr_apps_order_req").empty());
    EXPECT_NE(t.apps.find("com.kavo.face.nightsky"), nullptr);
}

TEST_F(StoreInstallTest, AnUninstallReportsEitherReasonAndOnlyARemovalAsksForTheOrder) {
    std::vector<std::int32_t> reasons;
    int uninstalled = 0;
    const auto token = t.world.center.addObserver(TQAppManager::kUninstallAppCompleted,
                                                  [&](const auto&) { ++uninstalled; });
    // The uninstall screen's way: both reasons count as done.
    const auto uninstall = [&](const std::string& packageName) {
        t.sequence.startUninstallation(packageName, [&, packageName](std::int32_t reason) {
            reasons.push_back(reason);
            if (reason == 1 || reason == 2) {
                t.manager.uninstallAppWithPackageName(packageName);
            }
        });
        return t.runUntil([&] { return t.sequence.pendingUninstallations() == 0; }, 10);
    };
    ASSERT_TRUE(uninstall("com.kavo.timer"));
    EXPECT_TRUE(t.runUntil([&] { return t.messagesToWatch("mgr_apps_order_req").size() == 1; }, 5));
    ASSERT_TRUE(uninstall("com.kavo.nothing"));
    t.world.loop.advance(1);
    EXPECT_EQ(t.messagesToWatch("mgr_apps_order_req").size(), 1U);
    t.world.center.removeObserver(token);

    EXPECT_EQ(reasons, (std::vector<std::int32_t>{1, 2}));
    EXPECT_EQ(uninstalled, 2);
    EXPECT_EQ(t.apps.find("com.kavo.timer"), nullptr);
    const auto left = TQAppManager::uninstallObjects(t.manager.appItems());
    ASSERT_EQ(left.size(), 2U);
    EXPECT_EQ(left[0].packageName, "com.kavo.weather");
    EXPECT_EQ(left[1].packageName, "com.kavo.heartrate");
}

const std::string kFailed = "Failed to install app.";
const std::string kPaused =
    "The watch has been disconnected. The installation of Stopwatch has been paused.";

// Every way an operation ends early: the queue is free, the bar hidden, the store view told,
// and a notice only where one belongs.
TEST(StoreExitTest, EveryExitPathFreesTheQueueHidesTheBarAndTellsTheStoreView) {
    struct Case {
        const char* name;
        // Sets the fault up and starts the t.download.
        std::function<void(StoreWorld&)> start;
        // Acts once the operation reached its phase, when it has to.
        std::function<void(StoreWorld&)> then = nullptr;
        Operation::Phase phase = Operation::created;
        std::vector<std::string> alerts = {kFailed};
        // A stop tells the store view, then hides the bar; a refusing answer goes the other way.
        const char* ending = "XH";
    };
    const auto silentWatch = [](StoreWorld& t) {
        t.world.watch.answerAll("mgr_wapps_install_req", [](const kavowatch::ReceivedMessage&) {
            return kavowatch::Watch::Replies{};
        });
        t.download(t.app("com.kavo.stopwatch"));
    };
    const std::vector<Case> cases{
        {"no URL",
         [](StoreWorld& t) { t.manager.performDownload("", "Stopwatch", "Stopwatch.wgt", "1"); }},
        {"a 404 page is no package",
         [](StoreWorld& t) {
             t.store->addRoute("/packages/Stopwatch.wgt", [](const kavostore::StoreRequest&) {
                 return kavostore::StoreAnswer{404, "text/html", "<html>gone</html>"};
             });
             t.download(t.app("com.kavo.stopwatch"));
         }},
        {"a name that is no package",
         [](StoreWorld& t) {
             const StoreApp& entry = t.app("com.kavo.stopwatch");
             t.manager.performDownload(t.store->packageURL(entry), "Stopwatch", "Stopwatch.zip",
                                       "1");
         }},
        {"a store's package over plain HTTP",
         [](StoreWorld& t) {
             t.manager.performDownload(t.store->url("/packages/Stopwatch.wgt"), "Stopwatch",
                                       "Stopwatch.wgt", "1");
         }},
        {"more bytes than the store said, cut while they arrive",
         [](StoreWorld& t) {
             t.manager.performDownload(
                 t.store->secureURL("/packages/Stopwatch.wgt?appId=1&bsize=1000"), "Stopwatch",
                 "Stopwatch.wgt", "1");
         }},
        {"fewer bytes than the store said",
         [](StoreWorld& t) {
             t.manager.performDownload(
                 t.store->secureURL("/packages/Stopwatch.wgt?appId=1&bsize=1000000"), "Stopwatch",
                 "Stopwatch.wgt", "1");
         }},
        {"a package larger than any taken",
         [](StoreWorld& t) {
             t.manager.performDownload(
                 t.store->secureURL("/packages/Stopwatch.wgt?appId=1&bsize=" +
                                    std::to_string(TQPackageDownload::kMaxPackageBytes + 1)),
                 "Stopwatch", "Stopwatch.wgt", "1");
         }},
        {"a title that is no file name",
         [](StoreWorld& t) {
             const StoreApp& entry = t.app("com.kavo.stopwatch");
             t.manager.performDownload(t.store->packageURL(entry), "Stopwatch", "..", "1");
         }},
        {"the watch's service is not up",
         [](StoreWorld& t) {
             t.world.defaults.set("isWMSConnected", 0);
             t.download(t.app("com.kavo.stopwatch"));
         }},
        {"the watch refuses the file",
         [](StoreWorld& t) {
             t.world.watch.files().setAccepting(false);
             t.download(t.app("com.kavo.stopwatch"));
         }},
        {"the watch refuses the install",
         [](StoreWorld& t) {
             t.apps.failNextInstall(3);
             t.download(t.app("com.kavo.stopwatch"));
         },
         nullptr,
         Operation::created,
         {kFailed},
         "HX"},
        {"the install result never comes",
         [](StoreWorld& t) {
             t.apps.answerInstalls(false);
             t.download(t.app("com.kavo.stopwatch"));
         },
         [](StoreWorld& t) { t.world.loop.advance(Operation::kSilenceTimeout + 1); },
         Operation::transferring},
        {"the cancel button while the watch is asked",
         silentWatch,
         [](StoreWorld& t) { t.world.center.post(TQActivityBar::kCancel); },
         Operation::installing,
         {}},
        {"the watch leaves while it is asked",
         silentWatch,
         [](StoreWorld& t) { t.world.watch.vanish(); },
         Operation::installing,
         {"The watch has been disconnected. The download of Stopwatch has been cancelled."}},
        {"the watch refuses to resume",
         [](StoreWorld& t) {
             t.world.watch.files().refuseResume(true);
             t.download(t.app("com.kavo.stopwatch"));
         },
         [](StoreWorld& t) {
             ASSERT_TRUE(t.vanishAndReturn());
             t.world.ap->resumeFileRequest();
         },
         Operation::transferring,
         {kPaused, kFailed}},
        {"the transfer stays paused",
         [](StoreWorld& t) { t.download(t.app("com.kavo.stopwatch")); },
         [](StoreWorld& t) {
             t.world.watch.vanish();
             t.world.loop.advance(Operation::kPauseTimeout - 1);
             EXPECT_EQ(t.manager.getSharedQueue().operationCount(), 1U);
             t.world.loop.advance(2);
         },
         Operation::transferring,
         {kPaused, kFailed}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto made = std::make_unique<StoreWorld>();
        StoreWorld& t = *made;
        ASSERT_NO_FATAL_FAILURE(t.connect());
        c.start(t);
        if (c.then) {
            // A transfer is caught once a segment is through (so that it counts as under way)
            // and before the last; an unanswered install once the whole file is there.
            ASSERT_TRUE(t.runUntil([&] {
                if (t.operations.empty() || t.operations.back()->operationProcess() != c.phase) {
                    return false;
                }
                if (c.phase != Operation::transferring) {
                    return true;
                }
                return c.alerts.size() == 2
                           ? std::count(t.bar.letters.begin(), t.bar.letters.end(), '2') > 0
                           : !t.world.watch.files().received().empty();
            }));
            c.then(t);
        }
        ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
        EXPECT_EQ(t.bar.letters.front(), 'S');
        EXPECT_EQ(t.bar.letters.substr(t.bar.letters.size() - 2), c.ending) << t.bar.letters;
        EXPECT_EQ(std::count(t.bar.letters.begin(), t.bar.letters.end(), 'X'), 1);
        std::vector<std::string> alerts;
        for (const auto& shown : t.world.host.app.alerts) {
            EXPECT_EQ(shown.alert.title, "Stopwatch");
            alerts.push_back(shown.alert.message);
        }
        EXPECT_EQ(alerts, c.alerts);
        // Nothing of it is left pending: a late answer finds no requester.
        EXPECT_EQ(t.sequence.pendingInstallations(), 0U);
        EXPECT_EQ(t.apps.find("com.kavo.stopwatch"), nullptr);
        EXPECT_EQ(partialsLeft(t.documents()), 0U);
    }
}

}  // namespace
}  // namespace listener_test
