#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "link/TQFileHandler.h"
#include "listener/ListenerWorld.h"
#include "platform/foundation/FileSystem.h"
#include "platform/net/URLLoader.h"
#include "sim/WatchApps.h"
#include "sim/WatchState.h"
#include "sim/store/StoreServer.h"
#include "store/TQActivityBar.h"
#include "store/TQAppManager.h"
#include "store/TQDownloadKavoAppOperation.h"
#include "store/TQKavoAppSequence.h"
#include "support/LoopWait.h"
#include "support/TestCertificates.h"
#include "utils/TQUtils.h"

namespace listener_test {

namespace fs = std::filesystem;
using kavostore::StoreApp;
using kavostore::StoreServer;
using Operation = TQDownloadKavoAppOperation;

inline constexpr const char* kModel = "KV-R500";

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

// Milliseconds that move with the loop's virtual clock, so that operations one after the
// other get request identifiers of their own.
class LoopWallClock final : public TQWallClock {
public:
    explicit LoopWallClock(const platform::RunLoop& loop) : loop_(loop) {}
    std::int64_t millisecondsSince1970() const override {
        return kNow + static_cast<std::int64_t>(loop_.now() * 1000);
    }

private:
    const platform::RunLoop& loop_;
};

// letters with each run of group written once.
inline std::string collapsed(std::string letters, std::string_view group) {
    const std::string twice = std::string(group) + std::string(group);
    for (auto at = letters.find(twice); at != std::string::npos; at = letters.find(twice)) {
        letters.erase(at, group.size());
    }
    return letters;
}

// Files that package downloads keep while their bodies arrive, left in folder.
inline std::size_t partialsLeft(const fs::path& folder) {
    return static_cast<std::size_t>(std::count_if(
        fs::directory_iterator(folder), fs::directory_iterator(), [](const auto& entry) {
            return platform::fs::isAtomicWriteLeftover(entry.path().filename().string());
        }));
}

// One successful install as the bar sees it: shown; per block of the download the cancel
// button and its progress; the install's start at 0; per segment sent the bar, the button and
// the progress; at 100 % the button hidden and the last progress; the list recorded; hidden.
inline const std::string kInstallSequence = "SC10SC2c2IH";

// The phone's link, dispatch and store against the simulated watch on the simulated air and
// the simulated store on a loopback port. Downloads and the icon's unpacking run on threads
// of their own; the virtual clock moves in small steps while they run.
struct StoreWorld {
    StoreWorld() {
        world.ap->setFileHandler(std::make_unique<TQFileHandler>(
            *world.ap, *world.ap, world.loop, world.container.documents() / "QueueFiles"));
        world.handlers.registry.store = &manager;
        manager.setOperationFactory([this](std::string url, std::string title, std::string fileName,
                                           std::string appID, TQPackageDownload::Source source) {
            auto operation = std::make_shared<Operation>(
                Operation::Environment{
                    .kavoManager = *world.ap,
                    .sequence = sequence,
                    .loader = &loader,
                    .anchors = anchors,
                    .removeFromDB =
                        [this](const std::string& path) { removedRecords.push_back(path); }},
                std::move(url), std::move(title), std::move(fileName), std::move(appID), source);
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

    // Moves the virtual clock in small steps, giving the other threads a moment at each step
    // while they have work of the operation's (the download, the icon's unpacking).
    bool runUntil(const std::function<bool()>& done, double timeout = 120) {
        const double end = world.loop.now() + timeout;
        const auto realEnd = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (!done()) {
            if (world.loop.now() >= end || std::chrono::steady_clock::now() > realEnd) {
                return false;
            }
            world.loop.advance(0.02);
            if (!done() && threadsBusy()) {
                wakes.waitBriefly();
            }
        }
        return true;
    }
    bool threadsBusy() {
        if (busy && busy()) {
            return true;
        }
        if (operations.empty()) {
            return false;
        }
        const auto& last = operations.back();
        return queueIsFree() ? last.use_count() > 1
                             : last->operationProcess() <= Operation::downloading;
    }
    bool queueIsFree() { return manager.getSharedQueue().operationCount() == 0; }
    // The last operation is over and everything it left to the loop has run.
    bool settled() {
        return queueIsFree() && !operations.empty() && operations.back().use_count() == 1;
    }

    fs::path documents() const { return world.container.documents(); }

    // The watch drops off the air and comes back; the phone finds it again by itself.
    bool vanishAndReturn() {
        const int disconnects = world.events.count("note:onDisconnectDeviceNotification");
        const int connects = world.events.count("note:onConnectDeviceNotification");
        world.watch.vanish();
        if (!runUntil(
                [&] {
                    return world.events.count("note:onDisconnectDeviceNotification") > disconnects;
                },
                5)) {
            return false;
        }
        world.watch.powerOn();
        world.watch.advertise(static_cast<std::uint8_t>(kavowatch::Purpose::autoConnection));
        return runUntil(
            [&] {
                return world.events.count("note:onConnectDeviceNotification") > connects &&
                       world.watch.isPaired();
            },
            TQBleManager::kSearchInterval + 30);
    }
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
    LoopWallClock clock{world.loop};
    platform::ScopedInstall<TQWallClock> installClock{&clock};
    testing_support::LoopWakes wakes{world.loop};
    kavowatch::WatchResponder responder{world.watch};
    kavowatch::WatchApps apps{world.watch, responder.state(), world.folder.path()};
    // Packages come from its HTTPS side, which the test authority vouches for.
    std::unique_ptr<StoreServer> store = [this] {
        auto started =
            StoreServer::start(kavostore::defaultCatalogue(), world.folder.path() / "store")
                .value();
        const auto& pki = testing_support::TestCertificates::shared();
        EXPECT_TRUE(started
                        ->serveSecurely({pki.localhost.certificatePem,
                                         pki.localhost.privateKeyPem,
                                         {pki.intermediate.certificatePem}})
                        .ok());
        return started;
    }();
    std::vector<platform::Bytes> anchors = {
        testing_support::TestCertificates::shared().ca.certificateDer};
    platform::net::URLLoader loader;
    TQAppManager manager;
    TQKavoAppSequence sequence{*world.ap, manager, world.center};
    BarLog bar{world.center};
    std::vector<std::shared_ptr<Operation>> operations;
    std::vector<std::string> removedRecords;
    // Other work of a test's that runs on the loader's thread.
    std::function<bool()> busy;
};

}  // namespace listener_test
