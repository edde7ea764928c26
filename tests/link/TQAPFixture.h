#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "link/TQAP.h"
#include "link/TQAPDelegate.h"
#include "link/TQAPFileTransferDelegate.h"
#include "link/TQBleManagerInterface.h"
#include "link/TQBlePacketTransferDelegate.h"
#include "link/TQBleResponseDelegate.h"
#include "link/TQFileHandlerInterface.h"
#include "link/support/LinkPeer.h"
#include "link/support/MemoryLink.h"
#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/CentralManager.h"
#include "platform/bluetooth/sim/SimulatedAir.h"
#include "platform/foundation/Replaceable.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/system/DeviceInfo.h"
#include "support/TempDir.h"

namespace link_test {

using platform::Bytes;

// The Bluetooth manager as the facade sees it. Packets travel over one end of a MemoryLink;
// subscriptions come and go when the test says so, as the peripheral role would report them.
class FakeBleManager final : public TQBleManagerInterface {
public:
    FakeBleManager(MemoryLink::End& phone, MemoryLink::End& watchEnd, LinkPeer& watch)
        : phone_(phone), watchEnd_(watchEnd), watch_(watch) {}

    // ---- what the test drives ----

    // A watch subscribes as central: recorded as the last subscriber, and every subscription
    // starts with no reset pending.
    void subscribe(const std::string& central) {
        platform::UserDefaults::standard().set("tempCentralIdentifier", central);
        setLinkUp(true);
        if (response_ != nullptr) {
            response_->sendResetKavoRequest(false);
        }
    }
    // The subscription ends (status 3).
    void unsubscribe() {
        setLinkUp(false);
        if (response_ != nullptr) {
            response_->onDisconnect();
        }
    }

    // Called with each clearConnectedCentral, before the link goes down.
    std::function<void()> onClear;
    // Whether clearConnectedCentral ends the subscription at once, as the peripheral role does.
    bool clearEndsSubscription = true;

    int clears = 0;
    std::vector<bool> resetRequests;
    std::vector<platform::bluetooth::RemotePeripheral*> connectRequests;
    platform::bluetooth::RemotePeripheral* connectedDevice = nullptr;
    std::vector<Bytes> rawPackets;  // handed to sendData
    TQBleResponseDelegate* responseDelegate() const { return response_; }
    TQBlePacketTransferDelegate* packetDelegate() const { return packets_; }

    // ---- TQBleManagerInterface ----

    void setDelegate(TQBleResponseDelegate* responseDelegate,
                     TQBlePacketTransferDelegate* packetDelegate) override {
        response_ = responseDelegate;
        packets_ = packetDelegate;
        phone_.setDelegate(packetDelegate);
    }
    bool isConnected() override { return connected_; }
    void sendData(std::span<const std::uint8_t> packet) override {
        rawPackets.emplace_back(packet.begin(), packet.end());
        phone_.sendData(packet);
    }
    void scanForPeripherals() override {}
    void stopScanForPeripherals() override {}
    void connectWithPeripheral(platform::bluetooth::RemotePeripheral& peripheral) override {
        connectRequests.push_back(&peripheral);
    }
    void clearConnectedCentral() override {
        ++clears;
        if (onClear) {
            onClear();
        }
        if (clearEndsSubscription) {
            unsubscribe();
        }
    }
    std::vector<platform::bluetooth::RemotePeripheral*> getConnectedPeripherals(
        std::span<const platform::bluetooth::Uuid> /*identifiers*/) override {
        return {};
    }
    void disconnect() override {}
    bool isBleEnabled() override { return true; }
    platform::bluetooth::RemotePeripheral* getConnectedDevice() override { return connectedDevice; }
    platform::bluetooth::RemotePeripheral* getNearestPeripheral() override { return nullptr; }
    void sendResetKavoRequest(bool flag) override {
        resetRequests.push_back(flag);
        if (response_ != nullptr) {
            response_->sendResetKavoRequest(flag);
        }
    }

private:
    // The watch forgets its transfer state with the link, as the phone's side does.
    void setLinkUp(bool up) {
        connected_ = up;
        phone_.setConnected(up);
        watchEnd_.setConnected(up);
        if (!up) {
            watch_.protocol().resetRetransmission(TQSendOutcome::DropReason::disconnected);
            watch_.protocol().abortSending(TQSendOutcome::DropReason::disconnected);
        }
    }

    MemoryLink::End& phone_;
    MemoryLink::End& watchEnd_;
    LinkPeer& watch_;
    TQBleResponseDelegate* response_ = nullptr;
    TQBlePacketTransferDelegate* packets_ = nullptr;
    bool connected_ = false;
};

struct RoutedMessage {
    std::uint32_t appId = 0;
    Bytes body;
    friend bool operator==(const RoutedMessage&, const RoutedMessage&) = default;
};

class RecordingAPDelegate final : public TQAPDelegate {
public:
    void onDiscoverDevices(
        const std::vector<platform::bluetooth::RemotePeripheral*>& devices) override {
        discovered.push_back(devices);
    }
    void onConnectDevice() override { ++connects; }
    void onDisconnectDevice() override { ++disconnects; }
    void onBleManagerStateChange(bool enabled) override { states.push_back(enabled); }
    void onDataReceiveCompleted(std::span<const std::uint8_t> data, std::uint32_t appId) override {
        messages.push_back({appId, Bytes(data.begin(), data.end())});
    }
    void onError(const TQError& error) override { errors.push_back(error.errorCode()); }
    void autoConnectionInProgress() override { ++autoConnections; }

    std::vector<std::vector<platform::bluetooth::RemotePeripheral*>> discovered;
    int connects = 0;
    int disconnects = 0;
    std::vector<bool> states;
    std::vector<RoutedMessage> messages;
    std::vector<std::int64_t> errors;
    int autoConnections = 0;
};

class RecordingFileDelegate final : public TQAPFileTransferDelegate {
public:
    void onFileReceiveCompleted(std::span<const std::uint8_t> /*file*/,
                                std::uint32_t /*appId*/) override {}
    void onFileSendProgress(float /*progress*/) override {}
    void onFileReceiveProgress(float /*progress*/) override {}
    void onFileReceiveRequest(const std::string& /*name*/, std::uint64_t /*size*/) override {}
    void onFileReject(const std::string& /*name*/) override {}
    void onFileCancel(const std::string& /*name*/) override {}
    void onFileResumeRequest(const std::string& /*name*/, std::uint64_t /*size*/) override {}
    void onFileResumeReject(const std::string& /*name*/) override {}
    void onFileError(const TQError& error) override {
        errors.emplace_back(error.errorCode(), error.errorDescription());
    }

    std::vector<std::pair<std::int64_t, std::string>> errors;
};

// Records what the facade asks of the file transfer.
class RecordingFileHandler final : public TQFileHandlerInterface {
public:
    struct File {
        Bytes data;
        std::string name;
        std::uint32_t appId = 0;
        bool hasEvent = false;
    };

    void processFileData(Bytes data, std::string name, std::uint32_t appId,
                         TQFileSendEvent event) override {
        files.push_back({std::move(data), std::move(name), appId, static_cast<bool>(event)});
    }
    void processFileSegment(std::span<const std::uint8_t> segment, std::uint32_t appId) override {
        segments.push_back({appId, Bytes(segment.begin(), segment.end())});
    }
    void acceptFile() override { calls.emplace_back("acceptFile"); }
    void rejectFile() override { calls.emplace_back("rejectFile"); }
    void cancelFile() override { calls.emplace_back("cancelFile"); }
    void resumeRequest() override { calls.emplace_back("resumeRequest"); }
    void resumeAccept() override { calls.emplace_back("resumeAccept"); }
    void resumeReject() override { calls.emplace_back("resumeReject"); }
    void resetFileHandler() override { calls.emplace_back("resetFileHandler"); }
    void pauseFileSend() override { calls.emplace_back("pauseFileSend"); }

    std::vector<File> files;
    std::vector<RoutedMessage> segments;
    std::vector<std::string> calls;
};

// A phone's facade and a stand-in watch speaking the packet protocol over a MemoryLink, on a
// virtual clock, with user defaults in a fresh folder and a phone named "Kim's phone".
class FacadeTest : public ::testing::Test {
protected:
    explicit FacadeTest(const LinkConditions& conditions = {}) : link_(1, conditions) {
        ap_.setDelegate(delegate_);
        ap_.setFileTransferDelegate(fileDelegate_);
    }

    void subscribe(const std::string& central = "CENTRAL-1") {
        manager_.subscribe(central);
        loop_.runUntilIdle();
    }
    void unsubscribe() {
        manager_.unsubscribe();
        loop_.runUntilIdle();
    }
    // Everything due now; with no air time and no latency that is the whole exchange.
    void settle() { loop_.runUntilIdle(); }

    // Messages the watch received, header byte included.
    std::vector<Bytes> watchReceived() const {
        std::vector<Bytes> messages;
        for (const auto& incoming : watch_.received()) {
            messages.push_back(incoming.data);
        }
        return messages;
    }

    // Hands the facade its file transfer and keeps a view of it.
    RecordingFileHandler& installFileHandler() {
        auto handler = std::make_unique<RecordingFileHandler>();
        RecordingFileHandler& view = *handler;
        ap_.setFileHandler(std::move(handler));
        return view;
    }

    testing_support::TempDir dir_;
    platform::UserDefaults defaults_{dir_.path() / "defaults.plist"};
    platform::ScopedInstall<platform::UserDefaults> installDefaults_{&defaults_};
    platform::FixedDeviceInfo device_{"Kim's phone"};
    platform::ScopedInstall<platform::DeviceInfo> installDevice_{&device_};
    platform::RunLoop loop_{platform::RunLoop::Clock::virtualTime};
    platform::ScopedMainRunLoop mainLoop_{loop_};
    MemoryLink link_;
    LinkPeer watch_{link_.peer()};
    FakeBleManager manager_{link_.phone(), link_.peer(), watch_};
    std::shared_ptr<RecordingAPDelegate> delegate_ = std::make_shared<RecordingAPDelegate>();
    std::shared_ptr<RecordingFileDelegate> fileDelegate_ =
        std::make_shared<RecordingFileDelegate>();
    TQAP ap_{manager_, loop_, defaults_};
};

// A watch as the phone's central manager knows it, for the identifier the handshake sends.
class KnownWatch {
public:
    explicit KnownWatch(platform::RunLoop& loop)
        : air_(loop),
          watchRadio_(air_.attach({kIdentifier})),
          phone_(air_.attach(), loop),
          central_(phone_, nullptr) {}

    platform::bluetooth::RemotePeripheral& peripheral() {
        const platform::bluetooth::Uuid identifiers[] = {kIdentifier};
        return *central_.retrievePeripherals(identifiers).at(0);
    }

    static inline const platform::bluetooth::Uuid kIdentifier =
        *platform::bluetooth::Uuid::parse("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0");

private:
    platform::bluetooth::SimulatedAir air_;
    std::unique_ptr<platform::bluetooth::Radio> watchRadio_;
    platform::bluetooth::Adapter phone_;
    platform::bluetooth::CentralManager central_;
};

// A handshake record from the watch: type byte and the watch's name at offset 33.
inline Bytes bapRecord(std::uint8_t type, std::string_view watchName = {},
                       std::size_t size = TQAP::kBAPRecordSize) {
    Bytes record(size, 0);
    record[0] = type;
    for (std::size_t i = 0; i < watchName.size() && 33 + i < size; ++i) {
        record[33 + i] = static_cast<std::uint8_t>(watchName[i]);
    }
    return record;
}

}  // namespace link_test
