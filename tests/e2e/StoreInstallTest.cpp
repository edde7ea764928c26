#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "link/TQFileHandler.h"
#include "listener/ListenerWorld.h"
#include "platform/foundation/FileSystem.h"
#include "platform/image/ImageSource.h"
#include "platform/net/URLLoader.h"
#include "sim/WatchApps.h"
#include "sim/WatchState.h"
#include "sim/store/StoreServer.h"
#include "store/TQActivityBar.h"
#include "store/TQAppManager.h"
#include "store/TQDownloadKavoAppOperation.h"
#include "store/TQKavoAppSequence.h"
#include "support/LoopWait.h"
#include "utils/TQUtils.h"

namespace listener_test {
namespace {

namespace fs = std::filesystem;
using kavostore::StoreApp;
using kavostore::StoreServer;
using Operation = TQDownloadKavoAppOperation;

constexpr const char* kModel = "KV-R500";

// The bar's and the store view's notifications as one letter each, in order: S show, H hide,
// C and c show and hide the cancel button, 1 and 2 progress of the download and the install
// (0 the install's start), I installed, X cancelled.
class BarLog {
public:
    explicit BarLog(platform::NotificationCenter& center) : center_(center) {
        token_ = center_.addObserver("", [this](const platform::Notification& note) {
            const std::string& name = note.name;
            if (name == TQActivityBar::kShow) {
                letters += 'S';
            } else if (name == TQActivityBar::kHide) {
                letters += 'H';
            } else if (name == TQActivityBar::kShowCancelButton) {
                letters += 'C';
            } else if (name == TQActivityBar::kHideCancelButton) {
                letters += 'c';
            } else if (name == TQActivityBar::kProgress) {
                progress.push_back(note.userInfo);
                const auto type = note.userInfo[TQActivityBar::kProgressTypeKey].intValue();
                const Value& value = note.userInfo[TQActivityBar::kProgressValueKey];
                letters += type == 1 ? '1' : (value.type() == Value::Type::Int ? '0' : '2');
            } else if (name == TQAppManager::kAppsInstalled) {
                letters += 'I';
            } else if (name == Operation::kAppsCanceled) {
                letters += 'X';
            }
        });
    }
    ~BarLog() { center_.removeObserver(token_); }

    std::string letters;
    std::vector<Value> progress;

private:
    platform::NotificationCenter& center_;
    platform::NotificationCenter::Token token_;
};

// letters with each run of group written once.
std::string collapsed(std::string letters, std::string_view group) {
    const std::string twice = std::string(group) + std::string(group);
    for (auto at = letters.find(twice); at != std::string::npos; at = letters.find(twice)) {
        letters.erase(at, group.size());
    }
    return letters;
}

// One successful install as the bar sees it: shown; per block of the download the cancel
// button and its progress; the install's start at 0; per segment sent the bar, the button and
// the progress; at 100 % the button hidden and the last progress; the list recorded; hidden.
const std::string kInstallSequence = "SC10SC2c2IH";

// The phone's link, dispatch and store against the simulated watch on the simulated air and
// the simulated store on a loopback port. Downloads and the icon's unpacking run on threads
// of their own; the virtual clock moves in small steps while they run.
struct StoreWorld {
    StoreWorld() {
        world.ap->setFileHandler(std::make_unique<TQFileHandler>(
            *world.ap, *world.ap, world.loop, world.container.documents() / "QueueFiles"));
        world.handlers.registry.store = &manager;
        manager.setOperationFactory([this](std::string url, std::string title,
                                           std::string fileName, std::string appID) {
            auto operation = std::make_shared<Operation>(
                Operation::Environment{.kavoManager = *world.ap,
                                       .sequence = sequence,
                                       .loader = &loader,
                                       .removeFromDB = [this](const std::string& path) {
                                           removedRecords.push_back(path);
                                       }},
                std::move(url), std::move(title), std::move(fileName), std::move(appID));
            operations.push_back(operation);
            return operation;
        });
    }

    void connect() {
        ASSERT_NO_FATAL_FAILURE(world.connectWatch());
        // What the handshake leaves behind: the watch's model and lists, the watch in use.
        ASSERT_TRUE(TQUtils::setPreferenceByGroup(
            TQUtils::kGroupKavoInfo, platform::Dictionary{{"kavoModelNumber", kModel}}));
        ASSERT_TRUE(TQUtils::saveXml(responder.state().appsListXml, kModel, "wapplist.xml").ok());
        ASSERT_TRUE(TQUtils::saveXml(responder.state().facesListXml, kModel, "clocklist.xml").ok());
        world.defaults.set("isWMSConnected", 1);
    }

    const StoreApp& app(std::string_view packageName) const {
        for (const StoreApp& entry : store->catalogue()) {
            if (entry.packageName == packageName) {
                return entry;
            }
        }
        throw std::logic_error("no such app");
    }

    // As the store view asks: the title, the title and ".wgt" as the file name.
    void download(const StoreApp& entry) {
        manager.performDownload(store->packageURL(entry), entry.productName,
                                entry.productName + ".wgt", entry.productId);
    }

    // Moves the virtual clock in small steps, giving the other threads a moment at each.
    bool runUntil(const std::function<bool()>& done, double timeout = 120) {
        const double end = world.loop.now() + timeout;
        const auto realEnd = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done()) {
            if (world.loop.now() >= end || std::chrono::steady_clock::now() > realEnd) {
                return false;
            }
            world.loop.advance(0.02);
            if (!done()) {
                wakes.waitBriefly();
            }
        }
        return true;
    }
    bool queueIsFree() { return manager.getSharedQueue().operationCount() == 0; }
    // The last operation is over and everything it left to the loop has run.
    bool settled() {
        return queueIsFree() && !operations.empty() && operations.back().use_count() == 1;
    }

    fs::path documents() const { return world.container.documents(); }
    std::vector<std::string> messagesToWatch(std::string_view msgId) const {
        std::vector<std::string> found;
        for (const auto& message : world.watch.messages().all()) {
            if (message.msgId == msgId) {
                found.push_back(message.msgId);
            }
        }
        return found;
    }

    ListenerWorld world;
    testing_support::LoopWakes wakes{world.loop};
    kavowatch::WatchResponder responder{world.watch};
    kavowatch::WatchApps apps{world.watch, responder.state(), world.folder.path()};
    std::unique_ptr<StoreServer> store =
        StoreServer::start(kavostore::defaultCatalogue(), world.folder.path() / "store").value();
    platform::net::URLLoader loader;
    TQAppManager manager;
    TQKavoAppSequence sequence{*world.ap, manager, world.center};
    BarLog bar{world.center};
    std::vector<std::shared_ptr<Operation>> operations;
    std::vector<std::string> removedRecords;
};

class StoreInstallTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_NO_FATAL_FAILURE(t.connect()); }
    StoreWorld t;
};

TEST_F(StoreInstallTest, AStoreAppIsDownloadedSentInstalledAndRecorded) {
    const StoreApp& stopwatch = t.app("com.kavo.stopwatch");
    const std::string before = *TQUtils::retrieveXml(kModel, "wapplist.xml");
    t.download(stopwatch);
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));

    // The Part's sequence, as the bar sees it.
    EXPECT_EQ(collapsed(collapsed(t.bar.letters, "C1"), "SC2"), kInstallSequence) << t.bar.letters;
    EXPECT_EQ(t.bar.progress.front()[TQActivityBar::kAppNameKey], Value("Stopwatch"));
    // The t.download's fraction comes from the answer's length, up to the whole.
    const auto lastDownload = std::find_if(t.bar.progress.rbegin(), t.bar.progress.rend(), [](const Value& info) {
        return info[TQActivityBar::kProgressTypeKey] == Value(1U);
    });
    ASSERT_NE(lastDownload, t.bar.progress.rend());
    EXPECT_EQ((*lastDownload)[TQActivityBar::kProgressValueKey].doubleValue(), 1.0);
    EXPECT_EQ(t.bar.progress.back()[TQActivityBar::kProgressValueKey].doubleValue(), 1.0);

    // The watch has it, and the phone's list is the watch's, byte for byte.
    ASSERT_NE(t.apps.find("com.kavo.stopwatch"), nullptr);
    EXPECT_EQ(t.apps.find("com.kavo.stopwatch")->version, "1.2.0");
    const std::string after = *TQUtils::retrieveXml(kModel, "wapplist.xml");
    EXPECT_EQ(after, t.responder.state().appsListXml);
    EXPECT_EQ(after.substr(0, before.size() - 8), before.substr(0, before.size() - 8));
    EXPECT_TRUE(after.ends_with("<item>\n<AppName>\nStopwatch</AppName>\n"
                                "<PackageName>\ncom.kavo.stopwatch</PackageName>\n"
                                "<ClassName>\nStopwatchApp</ClassName>\n"
                                "<PreLoad>\nfalse</PreLoad>\n<IsRemovable>\ntrue</IsRemovable>\n"
                                "<Version>\n1.2.0</Version>\n</item>\n</Wapp>\n"))
        << after;
    EXPECT_TRUE(t.runUntil([&] { return t.messagesToWatch("mgr_apps_order_req").size() == 1; }, 5));

    // Its icon is kept, the package and the unpacked folder are gone.
    const auto icon = platform::fs::readFile(t.documents() / kModel / "AppIcons" /
                                             "com.kavo.stopwatch.png");
    ASSERT_TRUE(icon.ok());
    const auto image = platform::image::ImageSource::create(std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(icon.value().data()), icon.value().size()));
    ASSERT_TRUE(image.ok());
    EXPECT_EQ(image.value().format(), platform::image::Format::png);
    EXPECT_FALSE(fs::exists(t.documents() / "Stopwatch.wgt"));
    EXPECT_TRUE(fs::is_empty(t.documents() / kModel / "Extract"));
    EXPECT_EQ(t.sequence.pendingInstallations(), 0U);
    EXPECT_TRUE(t.world.host.app.alerts.empty());
}

TEST_F(StoreInstallTest, AWatchFaceIsRecordedAmongTheFacesWithoutAnOrderRequest) {
    t.download(t.app("com.kavo.face.nightsky"));
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    EXPECT_EQ(collapsed(collapsed(t.bar.letters, "C1"), "SC2"), kInstallSequence) << t.bar.letters;
    EXPECT_EQ(t.bar.progress.back()[TQActivityBar::kAppNameKey], Value("Night Sky"));
    const std::string faces = *TQUtils::retrieveXml(kModel, "clocklist.xml");
    EXPECT_TRUE(faces.ends_with("<item>\n<AppName>\nNight Sky</AppName>\n"
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
        const char* alert = "Failed to install app.";
        // A stop tells the store view, then hides the bar; a refusing answer goes the other way.
        const char* ending = "XH";
    };
    const auto silentWatch = [](StoreWorld& t) {
        t.world.watch.answerAll("mgr_wapps_install_req",
                                [](const kavowatch::ReceivedMessage&) { return kavowatch::Watch::Replies{}; });
        t.download(t.app("com.kavo.stopwatch"));
    };
    const std::vector<Case> cases{
        {"no URL", [](StoreWorld& t) { t.manager.performDownload("", "Stopwatch", "Stopwatch.wgt", "1"); }},
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
             t.manager.performDownload(t.store->packageURL(entry), "Stopwatch", "Stopwatch.zip", "1");
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
         nullptr, Operation::created, "Failed to install app.", "HX"},
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
         Operation::installing, nullptr},
        {"the watch leaves while it is asked",
         silentWatch, [](StoreWorld& t) { t.world.watch.vanish(); }, Operation::installing,
         "The watch has been disconnected. The download of Stopwatch has been cancelled."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        auto made = std::make_unique<StoreWorld>();
        StoreWorld& t = *made;
        ASSERT_NO_FATAL_FAILURE(t.connect());
        c.start(t);
        if (c.then) {
            ASSERT_TRUE(t.runUntil([&] {
                return !t.operations.empty() && t.operations.back()->operationProcess() == c.phase &&
                       (c.phase != Operation::transferring ||
                        !t.world.watch.files().received().empty());
            }));
            c.then(t);
        }
        ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
        EXPECT_EQ(t.bar.letters.front(), 'S');
        EXPECT_EQ(t.bar.letters.substr(t.bar.letters.size() - 2), c.ending) << t.bar.letters;
        EXPECT_EQ(std::count(t.bar.letters.begin(), t.bar.letters.end(), 'X'), 1);
        if (c.alert != nullptr) {
            ASSERT_EQ(t.world.host.app.alerts.size(), 1U);
            EXPECT_EQ(t.world.host.app.alerts[0].alert.title, "Stopwatch");
            EXPECT_EQ(t.world.host.app.alerts[0].alert.message, c.alert);
        } else {
            EXPECT_TRUE(t.world.host.app.alerts.empty());
        }
        // Nothing of it is left pending: a late answer finds no requester.
        EXPECT_EQ(t.sequence.pendingInstallations(), 0U);
        EXPECT_EQ(t.apps.find("com.kavo.stopwatch"), nullptr);
    }
}

}  // namespace
}  // namespace listener_test
