#include "e2e/E2EWorld.h"

#include <algorithm>
#include <map>
#include <utility>

#include "link/TQBLEStatus.h"
#include "platform/bluetooth/AttPdu.h"
#include "sim/Compression.h"
#include "sim/WireFormat.h"

namespace e2e {

namespace {

namespace bt = platform::bluetooth;

constexpr std::size_t kAttHeaderSize = 3;  // opcode and handle before the value

// The watch's radio with the tap between it and the air.
class TappedRadio final : public bt::Radio, private bt::RadioClient {
public:
    TappedRadio(std::unique_ptr<bt::Radio> inner, std::shared_ptr<AirTap> tap)
        : inner_(std::move(inner)), tap_(std::move(tap)) {}

    [[nodiscard]] const Uuid& identifier() const override { return inner_->identifier(); }
    void start(bt::RadioClient& client, platform::RunLoop& loop) override {
        client_ = &client;
        inner_->start(*this, loop);
    }
    [[nodiscard]] bt::ManagerState state() const override { return inner_->state(); }
    void startAdvertising(const bt::AdvertisementData& data) override {
        inner_->startAdvertising(data);
    }
    void stopAdvertising() override { inner_->stopAdvertising(); }
    void startScanning() override { inner_->startScanning(); }
    void stopScanning() override { inner_->stopScanning(); }
    [[nodiscard]] bool knows(const Uuid& peer) const override { return inner_->knows(peer); }
    void connect(const Uuid& peer) override { inner_->connect(peer); }
    void cancelConnect(const Uuid& peer) override { inner_->cancelConnect(peer); }
    void disconnect(bt::LinkId link) override { inner_->disconnect(link); }
    bt::SendResult send(bt::LinkId link, Bytes pdu, bool flowControlled) override {
        if (!pdu.empty() && (pdu[0] == bt::att::writeRequest || pdu[0] == bt::att::writeCommand)) {
            pass(pdu, nullptr);
        }
        return inner_->send(link, std::move(pdu), flowControlled);
    }

private:
    void radioStateChanged(bt::ManagerState state) override { client_->radioStateChanged(state); }
    void advertisementReceived(const Uuid& advertiser, const bt::AdvertisementData& data,
                               int rssi) override {
        client_->advertisementReceived(advertiser, data, rssi);
    }
    void linkOpened(bt::LinkId link, const Uuid& peer, bt::LinkRole role) override {
        client_->linkOpened(link, peer, role);
    }
    void connectFailed(const Uuid& peer, const platform::Error& reason) override {
        client_->connectFailed(peer, reason);
    }
    void linkClosed(bt::LinkId link, const platform::Error& reason) override {
        client_->linkClosed(link, reason);
    }
    void pdusReceived(bt::LinkId link, std::vector<Bytes> pdus) override {
        for (Bytes& pdu : pdus) {
            if (!pdu.empty() && pdu[0] == bt::att::handleValueNotification) {
                pass(pdu, &tap_->toWatch);
            }
        }
        client_->pdusReceived(link, std::move(pdus));
    }
    void linkReady(bt::LinkId link) override { client_->linkReady(link); }

    // A link packet on its way: maybe damaged, then written down as it goes on.
    void pass(Bytes& pdu, std::vector<Bytes>* record) {
        if (pdu.size() <= kAttHeaderSize) {
            return;
        }
        Bytes packet(pdu.begin() + kAttHeaderSize, pdu.end());
        tap_->corrupt(packet);
        std::copy(packet.begin(), packet.end(), pdu.begin() + kAttHeaderSize);
        if (record != nullptr) {
            record->push_back(std::move(packet));
        }
    }

    std::unique_ptr<bt::Radio> inner_;
    std::shared_ptr<AirTap> tap_;
    bt::RadioClient* client_ = nullptr;
};

}  // namespace

// ---- AirTap ----

void AirTap::corrupt(Bytes& packet) {
    const bool dataPacket =
        packet.size() > kavowatch::kPacketHeaderSize && !kavowatch::isControlPacket(packet);
    if (!dataPacket || corruptRate <= 0 ||
        std::uniform_real_distribution<double>(0, 1)(random) >= corruptRate) {
        return;
    }
    const std::size_t payload = packet.size() - kavowatch::kPacketHeaderSize;
    const std::size_t at = kavowatch::kPacketHeaderSize + random() % payload;
    packet[at] ^= static_cast<std::uint8_t>(1U << (random() % 8));
    ++corrupted;
}

int AirTap::controlPacketsToWatch(std::uint8_t command) const {
    return static_cast<int>(std::count_if(toWatch.begin(), toWatch.end(), [&](const Bytes& p) {
        const auto control = kavowatch::parseControlPacket(p);
        return control && static_cast<std::uint8_t>(control->command) == command;
    }));
}

kavowatch::RadioFactory tappedRadios(bt::SimulatedAir& air, std::shared_ptr<AirTap> tap) {
    return [&air, tap = std::move(tap)](const Uuid& identifier) -> std::unique_ptr<bt::Radio> {
        return std::make_unique<TappedRadio>(air.attach({.identifier = identifier}), tap);
    };
}

std::vector<Bytes> messagesIn(const std::vector<Bytes>& packets) {
    std::vector<Bytes> messages;
    Bytes joined;
    for (const Bytes& packet : packets) {
        const auto data = kavowatch::parseDataPacket(packet);
        if (!data || !data->acknowledged || !data->crcMatches) {
            continue;
        }
        if (data->position == kavowatch::Position::first ||
            data->position == kavowatch::Position::only) {
            joined.clear();
        }
        joined.insert(joined.end(), data->payload.begin(), data->payload.end());
        if (kavowatch::endsMessage(data->position)) {
            messages.push_back(kavowatch::inflateMessage(joined).data);
            joined.clear();
        }
    }
    return messages;
}

// ---- RecordingDelegate ----

void RecordingDelegate::onDiscoverDevices(const std::vector<RemotePeripheral*>& devices) {
    discovered.push_back(devices);
    note("discover");
}

void RecordingDelegate::note(std::string what) {
    events.push_back({std::move(what), platform::RunLoop::main().now()});
}

int RecordingDelegate::count(std::string_view what) const {
    return static_cast<int>(std::count_if(events.begin(), events.end(),
                                          [&](const Event& event) { return event.what == what; }));
}

// ---- StatusTrace ----

void StatusTrace::logMessage(const LGLogMessage& message) {
    static const std::map<std::string, std::uint64_t, std::less<>> kLines = {
        {"BLE_MANAGER: TQBLEStatus_Peripheral_Connect", TQBLEStatus_Peripheral_Connect},
        {"BLE_MANAGER: TQBLEStatus_Peripheral_Disconnect", TQBLEStatus_Peripheral_Disconnect},
        {"BLE_MANAGER: TQBLEStatus_Connect", TQBLEStatus_Connect},
        {"BLE_MANAGER: TQBLEStatus_disconnect", TQBLEStatus_disconnect},
        {"BLE_MANAGER: TQBLEStatus_AutoConnecting", TQBLEStatus_AutoConnecting},
        {"BLE_MANAGER: TQBLEStatus_StartScan", TQBLEStatus_StartScan},
        {"BLE_MANAGER: TQBLEStatus_StartAdv", TQBLEStatus_StartAdv},
        {"CENTRAL: Central Manager Did Update State: " +
             std::to_string(static_cast<long>(bt::ManagerState::poweredOn)),
         TQBLEStatus_Central_On},
        {"BLE_MANAGER: TQBLEStatus_Peripheral_On", TQBLEStatus_Peripheral_On},
        {"BLE_MANAGER: Service adding successful", TQBLEStatus_ServiceAdded},
    };
    std::lock_guard lock(mutex_);
    if (const auto found = kLines.find(message.message()); found != kLines.end()) {
        statuses_.push_back(found->second);
    }
}

std::vector<std::uint64_t> StatusTrace::statuses() {
    LGLog::flushLog();
    std::lock_guard lock(mutex_);
    return statuses_;
}

// ---- PhoneWorld ----

PhoneWorld::PhoneWorld(std::uint64_t airSeed)
    : air(loop, {.seed = airSeed}), adapter(air.attach({.identifier = kPhone}), loop) {
    TQPeripheral::setWillRestore(false);
    ap.setDelegate(delegate);
}

PhoneWorld::~PhoneWorld() {
    TQPeripheral::setWillRestore(false);
}

// ---- E2ETest ----

E2ETest::~E2ETest() {
    if (trace_) {
        LGLog::removeLogger(trace_);
        LGLog::flushLog();
    }
}

std::unique_ptr<kavowatch::Watch> E2ETest::makeWatch(const Uuid& identifier, std::string_view name,
                                                     std::shared_ptr<AirTap> tap) {
    kavowatch::WatchConfig config;
    config.identifier = identifier;
    config.advertising.name = std::string(name);
    auto radios =
        tap ? tappedRadios(world.air, std::move(tap)) : kavowatch::simulatedRadios(world.air);
    return std::make_unique<kavowatch::Watch>(world.loop, std::move(radios), std::move(config));
}

StatusTrace& E2ETest::traceStatuses() {
    if (!trace_) {
        trace_ = std::make_shared<StatusTrace>();
        LGLog::addLogger(trace_);
        LGLog::flushLog();
    }
    return *trace_;
}

bool E2ETest::runUntil(const std::function<bool()>& done, double timeout) {
    if (done()) {
        return true;
    }
    bool expired = false;
    const auto deadline = world.loop.scheduleTimer(timeout, false, [&] { expired = true; });
    world.loop.runUntil([&] { return expired || done(); });
    deadline->invalidate();
    return done();
}

void E2ETest::startPhone() {
    world.loop.runUntilIdle();
    ASSERT_TRUE(runUntil([&] { return world.manager.bleStatus() == TQBLEStatus_ServiceAdded; },
                         TQPeripheral::kAddServiceRetryDelay + 1));
}

void E2ETest::pairThroughTheScreens(kavowatch::Watch& watch) {
    const int connects = world.delegate->count("connect");
    world.ap.scanForDevices();
    RemotePeripheral* listed = nullptr;
    ASSERT_TRUE(runUntil(
        [&] {
            for (const auto& list : world.delegate->discovered) {
                for (RemotePeripheral* peripheral : list) {
                    if (peripheral->identifier() == watch.identifier()) {
                        listed = peripheral;
                    }
                }
            }
            return listed != nullptr;
        },
        5));
    world.ap.connectDevice(*listed);
    ASSERT_TRUE(runUntil(
        [&] { return watch.isPaired() && world.delegate->count("connect") > connects; }, 10));
}

bool E2ETest::searching() {
    return world.manager.central().isSearchMyKavo() &&
           world.manager.central().centralManager().isScanning();
}

}  // namespace e2e
