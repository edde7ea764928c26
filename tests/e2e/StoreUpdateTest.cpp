#include <gtest/gtest.h>

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "e2e/StoreWorld.h"
#include "platform/foundation/FileSystem.h"
#include "platform/image/ImageSource.h"
#include "store/TQKavoAppAutoUpdate.h"
#include "support/TestCertificates.h"

namespace listener_test {
namespace {

using Update = TQKavoAppAutoUpdate;
using testing_support::TestCertificates;

// The phone's picture of the watch: older versions of the store's three applications, and a
// preloaded one the store does not have.
constexpr const char* kInstalled =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<Wapp>\n"
    "<item><PackageName>com.kavo.stopwatch</PackageName><Version>1.0.0</Version></item>\n"
    "<item><PackageName>com.kavo.steps</PackageName><Version>2.0</Version></item>\n"
    "<item><PackageName>com.kavo.tides</PackageName><Version>0.9.1</Version></item>\n"
    "<item><PackageName>com.kavo.weather</PackageName><Version>1.4.2</Version>"
    "<PreLoad>true</PreLoad></item>\n"
    "</Wapp>\n";

class StoreUpdateTest : public ::testing::Test {
protected:
    StoreUpdateTest() {
        t.busy = [this] { return updater && updater->isUpdateInProgress(); };
    }

    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(t.connect());
        ASSERT_TRUE(TQUtils::saveXml(kInstalled, kModel, "wapplist.xml").ok());
        t.world.defaults.set(Update::kPrefKey, 2);
    }
    // The store's HTTPS side, under the test authority.
    void serveTrusted() { secureHost = "127.0.0.1:" + std::to_string(t.store->securePort()); }
    // A run that has started ends by itself: the store has no update.
    void finishWithoutUpdates() {
        t.store->addRoute(TQKavoAppUpdateRequests::kUpdateCheckPath,
                          [](const kavostore::StoreRequest&) {
                              return kavostore::StoreAnswer{
                                  200, "text/xml", "<result><resultCode>0</resultCode></result>"};
                          });
        EXPECT_TRUE(runToEnd());
    }
    bool runToEnd() {
        return t.runUntil([&] { return !updater->isUpdateInProgress(); }, 600);
    }
    // The notices as "title: body".
    std::vector<std::string> notices() const {
        std::vector<std::string> seen;
        for (const auto& note : t.world.host.app.notifications) {
            seen.push_back(note.title + ": " + note.body);
        }
        return seen;
    }
    int asked(std::string_view path) const {
        int count = 0;
        for (const std::string& target : t.store->requests()) {
            count += target.starts_with(path) ? 1 : 0;
        }
        return count;
    }
    bool packagesLeft() const {
        for (const auto& entry : fs::directory_iterator(t.documents())) {
            if (entry.path().extension() == ".wgt") {
                return true;
            }
        }
        return false;
    }

    StoreWorld t;
    Update::Status status = Update::wifi;
    bool storeBusy = false;
    std::string secureHost;
    std::vector<platform::Bytes> anchors = {TestCertificates::shared().ca.certificateDer};
    std::unique_ptr<Update> updater;

    // The secure host is known once the test chose its certificate.
    void start() {
        if (!updater) {
            updater = std::make_unique<Update>(
                Update::Environment{.kavoManager = *t.world.ap,
                                    .sequence = t.sequence,
                                    .center = t.world.center,
                                    .defaults = t.world.defaults,
                                    .host = "127.0.0.1:" + std::to_string(t.store->port()),
                                    .secureHost = secureHost,
                                    .anchors = anchors,
                                    .networkStatus = [this] { return status; },
                                    .storeInstallRunning = [this] { return storeBusy; },
                                    .loader = &t.loader});
        }
        updater->checkUpdate();
    }
};

TEST_F(StoreUpdateTest, ThreeUpdatesWhereTheSecondFailsEndWithBothNotices) {
    ASSERT_NO_FATAL_FAILURE(serveTrusted());
    start();
    ASSERT_TRUE(updater->isUpdateInProgress());
    // The second install is refused by the watch.
    ASSERT_TRUE(t.runUntil([&] { return t.apps.results().size() == 1; }, 600));
    t.apps.failNextInstall(kavowatch::WatchApps::kBadPackage);
    ASSERT_TRUE(runToEnd());

    EXPECT_EQ(t.apps.results().size(), 3U);
    EXPECT_EQ(notices(),
              (std::vector<std::string>{"2 apps installed on Kavo: Stopwatch, Tide+Tables",
                                        "Failed to install app: Step+Counter"}));
    // The server recomputed the hashes and accepted both requests; the preloaded app that it
    // does not know was asked about and passed over.
    EXPECT_EQ(asked(TQKavoAppUpdateRequests::kUpdateCheckPath), 1);
    EXPECT_EQ(asked(TQKavoAppUpdateRequests::kDownloadPath), 1);
    EXPECT_EQ(asked("/packages/"), 3);
    EXPECT_FALSE(packagesLeft());
    EXPECT_EQ(t.apps.find("com.kavo.tides")->version, "0.9.4");
    // The installed apps' icons are kept as PNG, the refused one's is not, and nothing
    // unpacked is left.
    for (const auto& [package, kept] :
         {std::pair{"com.kavo.stopwatch", true}, std::pair{"com.kavo.tides", true},
          std::pair{"com.kavo.steps", false}}) {
        const auto icon = platform::fs::readFile(t.documents() / kModel / "AppIcons" /
                                                 (std::string(package) + ".png"));
        ASSERT_EQ(icon.ok(), kept) << package;
        if (kept) {
            const auto image = platform::image::ImageSource::create(std::span<const std::uint8_t>(
                reinterpret_cast<const std::uint8_t*>(icon.value().data()), icon.value().size()));
            ASSERT_TRUE(image.ok()) << package;
            EXPECT_EQ(image.value().format(), platform::image::Format::png) << package;
        }
    }
    EXPECT_TRUE(fs::is_empty(t.documents() / kModel / "Extract"));
    // Nothing of the run is pending with the sequence.
    EXPECT_EQ(t.sequence.pendingInstallations(), 0U);
}

TEST_F(StoreUpdateTest, OneUpdateIsNamedAlone) {
    ASSERT_NO_FATAL_FAILURE(serveTrusted());
    ASSERT_TRUE(TQUtils::saveXml("<Wapp><item><PackageName>com.kavo.steps</PackageName>"
                                 "<Version>1.0</Version></item></Wapp>",
                                 kModel, "wapplist.xml")
                    .ok());
    start();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(notices(), (std::vector<std::string>{"1 app installed on Kavo: Step+Counter"}));
}

TEST_F(StoreUpdateTest, ADisconnectionMidRunEndsItAndTheNextCheckStartsAnew) {
    ASSERT_NO_FATAL_FAILURE(serveTrusted());
    start();
    // While the second package installs.
    ASSERT_TRUE(
        t.runUntil([&] { return asked("/packages/") == 2 && updater->isInstalling(); }, 600));
    // A store download meanwhile is refused: the watch takes one install at a time.
    t.manager.setInstallBusy([&] { return updater->isInstalling(); });
    t.download(t.app("com.kavo.stopwatch"));
    EXPECT_TRUE(t.queueIsFree());
    EXPECT_TRUE(t.operations.empty());
    ASSERT_TRUE(t.vanishAndReturn());
    EXPECT_FALSE(updater->isUpdateInProgress());
    EXPECT_EQ(notices(),
              (std::vector<std::string>{"1 app installed on Kavo: Stopwatch",
                                        "Failed to install app: Step+Counter, Tide+Tables"}));
    EXPECT_FALSE(packagesLeft());
    EXPECT_EQ(t.sequence.pendingInstallations(), 0U);

    updater->checkUpdate();
    EXPECT_TRUE(updater->isUpdateInProgress());
    finishWithoutUpdates();
}

TEST_F(StoreUpdateTest, ALateInstallResultOfAnEndedRunLeavesTheNewRunAlone) {
    ASSERT_NO_FATAL_FAILURE(serveTrusted());
    ASSERT_TRUE(TQUtils::saveXml("<Wapp><item><PackageName>com.kavo.steps</PackageName>"
                                 "<Version>1.0</Version></item></Wapp>",
                                 kModel, "wapplist.xml")
                    .ok());
    t.apps.answerInstalls(false);
    start();
    ASSERT_TRUE(t.runUntil([&] { return t.apps.heldInstalls() == 1; }, 600));
    updater->stopAutoUpdate();
    // The next run installs the same update; its result is kept back too.
    start();
    ASSERT_TRUE(t.runUntil([&] { return t.apps.heldInstalls() == 2; }, 600));
    ASSERT_TRUE(updater->isInstalling());

    // The first run's result arrives now: the new run still waits for its own.
    ASSERT_TRUE(t.apps.answerHeldInstall());
    ASSERT_TRUE(t.runUntil([&] { return t.apps.results().size() == 1; }, 5));
    t.runUntil([] { return false; }, 2);
    EXPECT_TRUE(updater->isInstalling());
    EXPECT_TRUE(updater->isUpdateInProgress());
    EXPECT_TRUE(notices().empty());
    EXPECT_FALSE(fs::exists(t.documents() / kModel / "AppIcons" / "com.kavo.steps.png"));

    ASSERT_TRUE(t.apps.answerHeldInstall());
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(notices(), (std::vector<std::string>{"1 app installed on Kavo: Step+Counter"}));
    EXPECT_TRUE(fs::exists(t.documents() / kModel / "AppIcons" / "com.kavo.steps.png"));
    EXPECT_FALSE(packagesLeft());
    EXPECT_EQ(t.sequence.pendingInstallations(), 0U);
}

// A watch that never answers an install holds neither the run nor the store's downloads, which
// wait for the run's install, until it disconnects: the entry fails after its silence.
TEST_F(StoreUpdateTest, AnInstallTheWatchNeverAnswersFailsAfterItsSilence) {
    ASSERT_NO_FATAL_FAILURE(serveTrusted());
    ASSERT_TRUE(TQUtils::saveXml("<Wapp><item><PackageName>com.kavo.steps</PackageName>"
                                 "<Version>1.0</Version></item></Wapp>",
                                 kModel, "wapplist.xml")
                    .ok());
    t.manager.setInstallBusy([&] { return updater->isInstalling(); });
    t.apps.answerInstalls(false);
    start();
    ASSERT_TRUE(t.runUntil([&] { return t.apps.heldInstalls() == 1; }, 600));
    t.world.loop.advance(Update::kInstallSilenceTimeout - 1);
    EXPECT_TRUE(updater->isInstalling());
    t.download(t.app("com.kavo.stopwatch"));
    EXPECT_TRUE(t.operations.empty());

    t.world.loop.advance(2);
    ASSERT_TRUE(runToEnd());
    EXPECT_FALSE(updater->isInstalling());
    EXPECT_EQ(notices(), (std::vector<std::string>{"Failed to install app: Step+Counter"}));
    EXPECT_EQ(t.sequence.pendingInstallations(), 0U);
    EXPECT_FALSE(packagesLeft());
    // The watch is free for the store again.
    t.apps.answerInstalls(true);
    t.download(t.app("com.kavo.stopwatch"));
    ASSERT_EQ(t.operations.size(), 1U);
    ASSERT_TRUE(t.runUntil([&] { return t.settled(); }));
    EXPECT_NE(t.apps.find("com.kavo.stopwatch"), nullptr);
}

// What the store's answer names is checked before it reaches the watch: an address over plain
// HTTP is not asked, nor a package larger than the bound, and a package of another size than
// the store gave is not installed.
TEST_F(StoreUpdateTest, PackageAddressesTheRunRefuses) {
    ASSERT_NO_FATAL_FAILURE(serveTrusted());
    ASSERT_TRUE(TQUtils::saveXml("<Wapp><item><PackageName>com.kavo.stopwatch</PackageName>"
                                 "<Version>1.0</Version></item></Wapp>",
                                 kModel, "wapplist.xml")
                    .ok());
    const std::string path = "/packages/Stopwatch.wgt?appId=P1";
    const struct {
        const char* name;
        std::string uri;
        int packageRequests;
    } cases[] = {
        {"plain HTTP", t.store->url(path), 0},
        {"past the bound",
         t.store->secureURL(path +
                            "&bsize=" + std::to_string(TQPackageDownload::kMaxPackageBytes + 1)),
         0},
        {"fewer bytes than the store said", t.store->secureURL(path + "&bsize=1000000"), 1},
        {"more bytes than the store said", t.store->secureURL(path + "&bsize=1000"), 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        t.world.host.app.notifications.clear();
        const int before = asked("/packages/");
        std::string uri = c.uri;
        for (auto at = uri.find('&'); at != std::string::npos; at = uri.find('&', at + 1)) {
            uri.insert(at + 1, "amp;");
        }
        t.store->addRoute(TQKavoAppUpdateRequests::kDownloadPath,
                          [uri](const kavostore::StoreRequest&) {
                              return kavostore::StoreAnswer{
                                  200, "text/xml",
                                  "<result><resultCode>0</resultCode><appInfo><appId>"
                                  "com.kavo.stopwatch</appId><resultCode>1</resultCode>"
                                  "<downloadURI>" +
                                      uri +
                                      "</downloadURI><productName>Stopwatch"
                                      "</productName></appInfo><appInfo><appId>x</appId>"
                                      "</appInfo></result>"};
                          });
        start();
        ASSERT_TRUE(runToEnd());
        EXPECT_EQ(asked("/packages/") - before, c.packageRequests);
        EXPECT_EQ(notices(), (std::vector<std::string>{"Failed to install app: Stopwatch"}));
        EXPECT_TRUE(t.apps.results().empty());
        EXPECT_FALSE(packagesLeft());
        EXPECT_EQ(partialsLeft(t.documents()), 0U);
    }
}

TEST_F(StoreUpdateTest, WiFiLostMidRunStopsAWiFiOnlyRun) {
    ASSERT_NO_FATAL_FAILURE(serveTrusted());
    t.world.defaults.set(Update::kPrefKey, 1);
    start();
    ASSERT_TRUE(t.runUntil([&] { return t.apps.results().size() == 1; }, 600));
    status = Update::cellular;
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(t.apps.results().size(), 1U);
    EXPECT_EQ(asked("/packages/"), 1);
    EXPECT_EQ(notices(),
              (std::vector<std::string>{"1 app installed on Kavo: Stopwatch",
                                        "Failed to install app: Step+Counter, Tide+Tables"}));
}

TEST_F(StoreUpdateTest, AServerTheAnchorsDoNotVouchForIsRefused) {
    ASSERT_NO_FATAL_FAILURE(serveTrusted());
    anchors = {TestCertificates::shared().selfSigned.certificateDer};
    start();
    ASSERT_TRUE(runToEnd());
    EXPECT_EQ(asked(TQKavoAppUpdateRequests::kUpdateCheckPath), 1);
    EXPECT_EQ(asked(TQKavoAppUpdateRequests::kDownloadPath), 0);
    EXPECT_EQ(asked("/packages/"), 0);
    EXPECT_TRUE(notices().empty());
}

TEST_F(StoreUpdateTest, GatesDecideWhetherARunStarts) {
    ASSERT_NO_FATAL_FAILURE(serveTrusted());
    const struct {
        const char* name;
        std::optional<int> pref;
        Update::Status status;
        bool storeBusy;
        bool starts;
    } cases[] = {
        {"no preference", std::nullopt, Update::wifi, false, false},
        {"off", 0, Update::wifi, false, false},
        {"no network", 2, Update::notReachable, false, false},
        {"Wi-Fi only on cellular", 1, Update::cellular, false, false},
        {"a store download installs", 2, Update::wifi, true, false},
        {"any network on cellular", 2, Update::cellular, false, true},
        {"Wi-Fi only on Wi-Fi", 1, Update::wifi, false, true},
    };
    for (const auto& test : cases) {
        t.world.defaults.set(Update::kPrefKey, test.pref ? Value(*test.pref) : Value());
        status = test.status;
        storeBusy = test.storeBusy;
        start();
        EXPECT_EQ(updater->isUpdateInProgress(), test.starts) << test.name;
        finishWithoutUpdates();
    }
}

}  // namespace
}  // namespace listener_test
