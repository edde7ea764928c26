#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "db/TQDBManagerImpl.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/net/NetlinkSource.h"
#include "platform/net/NetworkMonitor.h"
#include "platform/net/URLLoader.h"
#include "platform/net/URLSession.h"
#include "platform/security/FileKeychain.h"
#include "platform/system/DeviceInfo.h"
#include "platform/telephony/Telephony.h"
#include "support/FakeNetwork.h"
#include "support/LoopWait.h"
#include "support/LoopbackServer.h"
#include "support/RecordingAppHost.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

// The application's world for the uploads and the update lookup: a virtual main loop, the
// container's defaults, keychain and database, a phone and its carrier, a wired network, the
// HTTPS loopback server and a loader that trusts the test CA.
class UploadFixture : public ::testing::Test {
protected:
    // 2026-12-11 00:00:00 UTC, where the virtual clock starts.
    static constexpr double kEpoch = 1796947200;

    UploadFixture() {
        device.setMachineIdentifier("iPhone9,9");
        device.setSystemVersion("6.8");
        auto source = std::make_unique<platform::net::ScriptedNetlinkSource>();
        source->setPicture({FakeNetwork::link(2, FakeNetwork::Kind::wired),
                            FakeNetwork::address(2, {192, 168, 1, 5}, 24),
                            FakeNetwork::defaultRoute(2)});
        network = std::make_unique<platform::net::NetworkMonitor>(loop, std::move(source));
    }

    [[nodiscard]] double now() const { return kEpoch + loop.now(); }

    static platform::net::URLSessionConfiguration trustingTheTestCA() {
        platform::net::URLSessionConfiguration configuration;
        configuration.anchorCertificates = {
            testing_support::TestCertificates::shared().ca.certificateDer};
        return configuration;
    }

    bool waitFor(const std::function<bool()>& done) {
        return testing_support::runLoopUntil(loop, done);
    }

    using FakeNetwork = testing_support::FakeNetwork;

    testing_support::TempDir dir;
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop installLoop{loop};
    platform::NotificationCenter center;
    platform::ScopedInstall<platform::NotificationCenter> installCenter{&center};
    platform::Container container{dir.path() / "home"};
    platform::ScopedInstall<const platform::Container> installContainer{&container};
    platform::UserDefaults defaults{container.preferences() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults{&defaults};
    platform::FileKeychain keychain{container.keychain()};
    platform::ScopedInstall<platform::Keychain> installKeychain{&keychain};
    TQDBManagerImpl database{container.documents() / TQDBManagerImpl::kFileName};
    platform::ScopedInstall<TQDBManagerImpl> installDatabase{&database};
    platform::FixedDeviceInfo device{"phone", "00000000-0000-4000-8000-000000000000", "en_US"};
    platform::ScopedInstall<platform::DeviceInfo> installDevice{&device};
    platform::FixedTelephony telephony{platform::Carrier{"440", "10"}};
    platform::ScopedInstall<platform::Telephony> installTelephony{&telephony};
    testing_support::ScopedRecordingHost host;
    std::unique_ptr<platform::net::NetworkMonitor> network;
    std::unique_ptr<testing_support::LoopbackServer> server =
        testing_support::LoopbackServer::https();
    platform::net::URLLoader loader;
};
