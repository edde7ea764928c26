#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "app/CrashHandler.h"
#include "app/TQSendLogUtil.h"
#include "http/HCNetworkReachabilityManager.h"
#include "link/TQAP.h"
#include "link/TQBleManager.h"
#include "link/TQMessageQueue.h"
#include "listener/TQCoreManager.h"
#include "listener/TQInitSequence.h"
#include "platform/bluetooth/AbsentRadio.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/host/AppHost.h"
#include "platform/host/ScreenNavigator.h"
#include "platform/location/LocationServices.h"
#include "platform/mail/XdgEmailComposer.h"
#include "services/TQLbsServerProvider.h"
#include "store/TQFeaturedApps.h"
#include "support/TempDir.h"
#include "utils/TQUtils.h"

namespace {

std::unique_ptr<platform::bluetooth::Radio> noRadio() {
    return std::make_unique<platform::bluetooth::AbsentRadio>();
}

class AppContextTest : public ::testing::Test {
protected:
    testing_support::TempDir folder;
    AppContext::Settings settings{platform::RunLoop::Clock::virtualTime, folder.path() / "home"};
};

TEST_F(AppContextTest, TheNamedInstancesAreTheContextsWhileItLivesAndThePreviousOnesAfter) {
    platform::UserDefaults* const previousDefaults = &platform::UserDefaults::standard();
    {
        AppContext context(settings);
        EXPECT_EQ(&platform::RunLoop::main(), &context.loop());
        EXPECT_EQ(&platform::UserDefaults::standard(), &context.defaults());
        EXPECT_EQ(&platform::NotificationCenter::defaultCenter(), &context.center());
        EXPECT_EQ(&platform::Container::current(), &context.container());
        EXPECT_EQ(&platform::ScreenNavigator::current(), &context.navigator());
        EXPECT_EQ(context.container().root(), folder.path() / "home");
        EXPECT_FALSE(context.isLinkUp());
        // Made, not started: nothing reads the network until a screen asks.
        EXPECT_EQ(HCNetworkReachabilityManager::sharedManager().networkReachabilityStatus(),
                  HCNetworkReachabilityStatusUnknown);

        context.startLink(noRadio());
        EXPECT_EQ(&TQBleManager::initialize(TQAP::kServiceUUID), &context.bleManager());
        EXPECT_EQ(&TQAP::initializeWithANCS(false), &context.kavoManager());
        EXPECT_EQ(&TQInitSequence::getInstance(context.kavoManager()), &context.initSequence());
        EXPECT_EQ(&TQCoreManager::sharedManager(), &context.coreManager());
        EXPECT_EQ(context.handlers().initSequence, &context.initSequence());
        // The core manager is the facade's standing delegate from the start.
        EXPECT_EQ(context.kavoManager().delegate().get(), &context.coreManager());
        (void)TQMessageQueue::getInstance();
    }
    EXPECT_EQ(&platform::UserDefaults::standard(), previousDefaults);
}

// Stands in for the sequence, as a test's recorder would.
class CountingSequence final : public TQInitSequenceHandler {
public:
    void setDelegate(TQInitSeqDelegate* /*delegate*/) override {}
    void startInit() override { ++starts; }
    void processResponse(const platform::Value& /*message*/) override {}
    int starts = 0;
};

TEST_F(AppContextTest, ARelaunchMakesAFreshLinkAndAHandlerTheCallerGaveIsKept) {
    AppContext context(settings);
    context.startLink(noRadio());
    context.stopLink();
    EXPECT_FALSE(context.isLinkUp());
    EXPECT_EQ(context.handlers().initSequence, nullptr) << "no pointer into the link that went";

    CountingSequence counting;
    context.handlers().initSequence = &counting;
    context.startLink(noRadio());
    EXPECT_EQ(&TQAP::initializeWithANCS(false), &context.kavoManager());
    EXPECT_EQ(&TQCoreManager::sharedManager(), &context.coreManager());
    context.coreManager().onConnectDevice();
    EXPECT_EQ(counting.starts, 1);
    context.stopLink();
    EXPECT_EQ(context.handlers().initSequence, &counting);
}

TEST_F(AppContextTest, TheLaunchRegistersSystemLogConsoleAndFilesInDocuments) {
    AppContext context(settings);
    context.addLaunchLoggers();
    std::vector<std::string> names;
    for (const auto& logger : LGLog::allLoggers()) {
        names.push_back(logger->loggerName());
    }
    EXPECT_EQ(names, (std::vector<std::string>{"kavo.logging.aslLogger", "kavo.logging.ttyLogger",
                                               "kavo.logging.fileLogger"}));
    EXPECT_EQ(context.fileLogger()->maximumFileSize(), 5242880u);
    EXPECT_EQ(context.fileLogger()->rollingFrequency(), 86400);
    EXPECT_EQ(context.fileLogger()->logFileManager().maximumNumberOfLogFiles(), 7u);
    LG_INFO("into the files");
    LGLog::flushLog();
    const auto files = context.fileLogger()->logFileManager().sortedLogFilePaths();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].parent_path(), context.container().documents());
    EXPECT_TRUE(files[0].filename().string().starts_with("com.kavo.KavoManager "));
    EXPECT_GT(std::filesystem::file_size(files[0]), 0u);
}

// The crash a last run left is offered with the launch's log files; the usage logs serve the
// core manager.
TEST_F(AppContextTest, TheLaunchOffersTheLastCrashWithTheLogFilesAndRecordsUsage) {
    platform::mail::RecordingMailComposer* composer = nullptr;
    settings.mailComposer = [&composer](platform::RunLoop& loop) {
        auto made = std::make_unique<platform::mail::RecordingMailComposer>(loop);
        composer = made.get();
        return made;
    };
    const auto crashes = settings.home / AppContext::kCrashFolder;
    std::filesystem::create_directories(crashes);
    std::ofstream(crashes / CrashHandler::kReportName) << "Crash\n<<Signal Crash>>\n";
    AppContext context(settings);
    EXPECT_EQ(context.handlers().usageLog, &context.sendLogUtil());
    context.addLaunchLoggers();
    LG_INFO("into the files");
    LGLog::flushLog();
    context.installCrashHandlers();
    ASSERT_NE(context.crashHandler(), nullptr);
    ASSERT_EQ(composer->mails.size(), 1U);
    EXPECT_EQ(composer->mails[0].body, "Crash\n<<Signal Crash>>\n");
    const auto logs = context.fileLogger()->logFileManager().sortedLogFilePaths();
    ASSERT_EQ(composer->mails[0].attachments.size(), logs.size());
    EXPECT_EQ(composer->mails[0].attachments[0].path, logs[0]);
    context.loop().runUntilIdle();
    EXPECT_FALSE(std::filesystem::exists(crashes / CrashHandler::kPendingName));
}

// The featured row drops an installed app from its saved list even when nothing read the list
// since the launch.
TEST_F(AppContextTest, AnInstallDropsTheAppFromTheSavedFeaturedListFromTheLaunchOn) {
    AppContext context(settings);
    ASSERT_TRUE(
        TQUtils::setPreferenceByGroup(TQUtils::kGroupKavoInfo, {{"kavoModelNumber", "KV-R500"}}));
    platform::Array saved;
    for (const char* package : {"com.feat.a", "com.feat.b", "com.feat.c", "com.feat.d"}) {
        TQFeaturedAppObject app;
        app.productID = package;
        app.kavoAppId = package;
        saved.emplace_back(app.encoded());
    }
    context.defaults().set(TQFeaturedApps::kAppListKey, platform::Value(saved));
    context.store().appManager().installAppWithDict(
        platform::Value{{"appname", "B"}, {"packagename", "com.feat.b"}});
    const auto left = context.defaults().object(TQFeaturedApps::kAppListKey);
    ASSERT_TRUE(left && left->arrayIf());
    std::vector<std::string> packages;
    for (const platform::Value& archive : *left->arrayIf()) {
        packages.push_back(TQFeaturedAppObject::decodedWithObject(archive)->kavoAppId);
    }
    EXPECT_EQ(packages, (std::vector<std::string>{"com.feat.a", "com.feat.c", "com.feat.d"}));
}

using AppContextDeathTest = AppContextTest;

// Without a position source the services read as off; a track the user chose is the phone's
// position from the next launch on, and the provider serves it.
TEST_F(AppContextTest, ATrackTheUserChoseIsThePhonesPositionFromTheNextLaunch) {
    const auto track = folder.path() / "walk.gpx";
    std::ofstream(track) << "<gpx><trk><trkseg><trkpt lat=\"52.5\" lon=\"13.4\">"
                            "<time>2016-03-03T14:05:09Z</time></trkpt></trkseg></trk></gpx>";
    {
        AppContext context(settings);
        EXPECT_FALSE(platform::LocationServices::current().servicesEnabled());
        EXPECT_EQ(context.handlers().lbsServerProvider, &context.lbsServerProvider());
        context.defaults().set(AppContext::kReplayTrackKey, track.string());
    }
    AppContext context(settings);
    EXPECT_EQ(&platform::LocationServices::current(), &context.location());
    EXPECT_TRUE(context.location().servicesEnabled());
    EXPECT_EQ(context.location().authorization(), platform::LocationAuthorization::always);
    EXPECT_EQ(context.lbsServerProvider().checkLocationSettings(), 3);
}

TEST_F(AppContextTest, TheCalendarIsTheContainersFolderWatchedFromItsFirstUse) {
    AppContext context(settings);
    ASSERT_NE(context.handlers().calendar, nullptr);
    EXPECT_FALSE(std::filesystem::exists(context.container().root() / "calendars"));
    // Without a link the answer goes nowhere; the watch on the folder starts all the same.
    context.handlers().calendar->updateSequenceNumber();
    EXPECT_TRUE(std::filesystem::is_directory(context.container().root() / "calendars"));
}

TEST_F(AppContextTest, GoingToTheBackgroundWritesTheDefaultsAtOnce) {
    AppContext context(settings);
    context.defaults().set("isWMSConnected", 1);
    const auto file = context.defaults().file();
    EXPECT_FALSE(std::filesystem::exists(file)) << "the write waits for its delay";
    context.center().post(platform::kApplicationDidEnterBackgroundNotification);
    const auto stored = platform::plist::readFile(file);
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->dictionaryIf()->find("isWMSConnected")->intValue(), 1);
}

TEST_F(AppContextDeathTest, ANamedInstanceAskedForBeforeTheContextMadeItIsAFaultOfTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_DEATH((void)TQAP::initializeWithANCS(false),
                 "TQAP: used before the application made it");
    EXPECT_DEATH((void)TQCoreManager::sharedManager(), "TQCoreManager: used before");
    EXPECT_DEATH((void)HCNetworkReachabilityManager::sharedManager(),
                 "HCNetworkReachabilityManager::sharedManager: used before");
    AppContext context(settings);
    context.startLink(noRadio());
    EXPECT_DEATH(
        {
            platform::bluetooth::Adapter adapter(noRadio(), context.loop());
            TQBleManager manager(adapter);
            TQAP other(manager, context.loop(), context.defaults());
            (void)TQInitSequence::getInstance(other);
        },
        "TQInitSequence: asked for with a link it does not run over");
}

}  // namespace
