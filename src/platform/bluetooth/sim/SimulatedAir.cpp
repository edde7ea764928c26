#include "platform/bluetooth/sim/SimulatedAir.h"

#include <algorithm>
#include <deque>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>

#include "platform/bluetooth/AttPdu.h"
#include "platform/bluetooth/sim/ScriptedCentral.h"

namespace platform::bluetooth {

namespace {

bool isUnacknowledged(std::uint8_t opcode) {
    return opcode == att::handleValueNotification || opcode == att::writeCommand;
}

bool isDataPacket(std::uint8_t opcode) {
    return isUnacknowledged(opcode) || opcode == att::writeRequest;
}

bool applies(FaultKind kind, std::uint8_t opcode) {
    return kind == FaultKind::drop || kind == FaultKind::duplicate ? isUnacknowledged(opcode)
                                                                   : isDataPacket(opcode);
}

}  // namespace

struct SimulatedAir::State : std::enable_shared_from_this<State> {
    struct Device {
        Uuid identifier;
        RadioClient* client = nullptr;
        ManagerState state = ManagerState::poweredOn;
        int rssi = -50;
        std::optional<AdvertisementData> advertisement;
        bool scanning = false;
        int forcedFull = 0;
        // Peers this device wants to connect to that cannot be reached yet.
        std::set<Uuid> pendingConnects;
    };
    // One side's sending half of a link.
    struct Direction {
        // Waiting for a connection event.
        std::deque<Bytes> queue;
        bool eventScheduled = false;
        double lastEvent = -1e9;
        double lastArrival = -1;
        bool readyOwed = false;
    };
    struct Link {
        Uuid central;
        Uuid peripheral;
        bool established = false;
        Direction fromCentral;
        Direction fromPeripheral;
    };
    struct FaultPlan {
        std::deque<PacketFault> scripted;
        RandomFaults random;
    };
    struct Outcome {
        bool drop = false;
        bool duplicate = false;
        double delay = 0;
    };

    State(RunLoop& loop, SimulatedAirOptions options)
        : loop(loop), options(options), random(options.seed) {}

    // Hands an event to a device's radio client after delay, unless the device is gone by then
    // or valid (run under the lock) says the event no longer stands.
    void deliver(double delay, const Uuid& target, std::function<void(RadioClient&)> event,
                 std::function<bool(State&)> valid = {}) {
        loop.postDelayed(delay, [weak = weak_from_this(), target, event = std::move(event),
                                 valid = std::move(valid)] {
            const auto self = weak.lock();
            if (!self) {
                return;
            }
            RadioClient* client = nullptr;
            {
                std::lock_guard lock(self->mutex);
                const auto device = self->devices.find(target);
                if (device == self->devices.end() || device->second.client == nullptr ||
                    (valid && !valid(*self))) {
                    return;
                }
                client = device->second.client;
            }
            event(*client);
        });
    }

    void deliverClosed(const Uuid& target, LinkId link, const Error& reason, double delay) {
        deliver(delay, target,
                [link, reason](RadioClient& client) { client.linkClosed(link, reason); });
    }

    void deliverState(const Uuid& target, ManagerState state) {
        deliver(0, target, [state](RadioClient& client) { client.radioStateChanged(state); });
    }

    Device* find(const Uuid& identifier) {
        const auto found = devices.find(identifier);
        return found == devices.end() ? nullptr : &found->second;
    }

    void tryConnect(Device& central, const Uuid& target) {
        const Device* peer = find(target);
        if (central.state != ManagerState::poweredOn || peer == nullptr ||
            peer->client == nullptr || peer->state != ManagerState::poweredOn) {
            return;
        }
        central.pendingConnects.erase(target);
        const LinkId id = nextLink++;
        links[id] = Link{central.identifier, target, false, {}, {}};
        loop.postDelayed(options.latency, [weak = weak_from_this(), id] {
            const auto self = weak.lock();
            if (self) {
                self->establish(id);
            }
        });
    }

    void establish(LinkId id) {
        RadioClient* central = nullptr;
        RadioClient* peripheral = nullptr;
        Uuid centralId;
        Uuid peripheralId;
        {
            std::lock_guard lock(mutex);
            const auto link = links.find(id);
            if (link == links.end() || link->second.established) {
                return;
            }
            const Device* c = find(link->second.central);
            const Device* p = find(link->second.peripheral);
            if (c == nullptr || p == nullptr || c->client == nullptr || p->client == nullptr) {
                links.erase(link);
                return;
            }
            link->second.established = true;
            central = c->client;
            peripheral = p->client;
            centralId = c->identifier;
            peripheralId = p->identifier;
        }
        peripheral->linkOpened(id, centralId, LinkRole::peripheral);
        central->linkOpened(id, peripheralId, LinkRole::central);
    }

    // Ends every link of the device; its peers hear of it, the device itself does not.
    void dropLinksOf(const Uuid& identifier) {
        for (auto it = links.begin(); it != links.end();) {
            const Link& link = it->second;
            if (link.central != identifier && link.peripheral != identifier) {
                ++it;
                continue;
            }
            const Uuid other = link.central == identifier ? link.peripheral : link.central;
            if (link.established) {
                deliverClosed(other, it->first,
                              makeError(ErrorCode::peripheralDisconnected, "the peer went away"),
                              options.latency);
            } else if (link.peripheral == identifier) {
                // The attempt was not through yet: it waits for the peer to come back.
                if (Device* central = find(link.central)) {
                    central->pendingConnects.insert(identifier);
                }
            }
            it = links.erase(it);
        }
    }

    void takeDown(Device& device, ManagerState state) {
        device.state = state;
        device.advertisement.reset();
        device.scanning = false;
        device.pendingConnects.clear();
        device.forcedFull = 0;
        dropLinksOf(device.identifier);
        deliverState(device.identifier, state);
    }

    void bringUp(Device& device) {
        device.state = ManagerState::poweredOn;
        deliverState(device.identifier, device.state);
        connectWaitingFor(device.identifier);
    }

    void connectWaitingFor(const Uuid& target) {
        for (auto& [identifier, other] : devices) {
            if (other.pendingConnects.contains(target)) {
                tryConnect(other, target);
            }
        }
    }

    void report(const Uuid& scanner, const Device& advertiser) {
        deliver(
            options.latency, scanner,
            [identifier = advertiser.identifier, data = *advertiser.advertisement,
             rssi = advertiser.rssi](RadioClient& client) {
                client.advertisementReceived(identifier, data, rssi);
            },
            [scanner](State& self) {
                const Device* device = self.find(scanner);
                return device != nullptr && device->scanning;
            });
    }

    bool chance(double probability) {
        return probability > 0 &&
               std::uniform_real_distribution<double>(0, 1)(random) < probability;
    }

    void corrupt(Bytes& pdu) {
        // The opcode and handle stay intact: the value is what the link above must check.
        if (pdu.size() <= 3) {
            return;
        }
        const std::size_t index = 3 + random() % (pdu.size() - 3);
        pdu[index] ^= static_cast<std::uint8_t>(1u << (random() % 8));
    }

    Outcome decide(const Uuid& from, const Uuid& to, Bytes& pdu) {
        Outcome outcome;
        const auto found = faults.find({from, to});
        if (found == faults.end() || !isDataPacket(pdu[0])) {
            return outcome;
        }
        FaultPlan& plan = found->second;
        if (!plan.scripted.empty() && applies(plan.scripted.front().kind, pdu[0])) {
            PacketFault& fault = plan.scripted.front();
            switch (fault.kind) {
                case FaultKind::drop:
                    outcome.drop = true;
                    break;
                case FaultKind::corrupt:
                    corrupt(pdu);
                    break;
                case FaultKind::duplicate:
                    outcome.duplicate = true;
                    break;
                case FaultKind::delay:
                    outcome.delay = fault.delay;
                    break;
            }
            if (--fault.count <= 0) {
                plan.scripted.pop_front();
            }
        }
        if (isUnacknowledged(pdu[0])) {
            outcome.drop = outcome.drop || chance(plan.random.drop);
            outcome.duplicate = outcome.duplicate || chance(plan.random.duplicate);
        }
        if (chance(plan.random.corrupt)) {
            corrupt(pdu);
        }
        return outcome;
    }

    Direction& directionOf(Link& link, const Uuid& sender) {
        return link.central == sender ? link.fromCentral : link.fromPeripheral;
    }

    void scheduleEvent(LinkId id, Direction& direction, const Uuid& sender) {
        if (direction.eventScheduled) {
            return;
        }
        direction.eventScheduled = true;
        const double now = loop.now();
        const double at = std::max(now, direction.lastEvent + options.connectionInterval);
        loop.postDelayed(at - now, [weak = weak_from_this(), id, sender] {
            if (const auto self = weak.lock()) {
                std::lock_guard lock(self->mutex);
                self->connectionEvent(id, sender);
            }
        });
    }

    // Sends what one connection event carries and owes the sender its ready signal once the
    // queue has room again.
    void connectionEvent(LinkId id, const Uuid& sender) {
        const auto found = links.find(id);
        if (found == links.end()) {
            return;
        }
        Link& link = found->second;
        Direction& direction = directionOf(link, sender);
        const Uuid receiver = link.central == sender ? link.peripheral : link.central;
        const double now = loop.now();
        direction.eventScheduled = false;
        direction.lastEvent = now;
        // The packets of one event that arrive at the same time are one delivery.
        std::vector<std::pair<double, std::vector<Bytes>>> arrivals;
        for (std::size_t sent = 0; sent < options.packetsPerEvent && !direction.queue.empty();
             ++sent) {
            Bytes pdu = std::move(direction.queue.front());
            direction.queue.pop_front();
            const Outcome outcome = decide(sender, receiver, pdu);
            if (outcome.drop) {
                continue;
            }
            // Later packets never overtake earlier ones, so a delay holds up the whole side.
            const double arrival =
                std::max(now + options.latency + outcome.delay, direction.lastArrival);
            direction.lastArrival = arrival;
            if (arrivals.empty() || arrivals.back().first != arrival) {
                arrivals.emplace_back(arrival, std::vector<Bytes>{});
            }
            for (int copy = outcome.duplicate ? 2 : 1; copy > 0; --copy) {
                arrivals.back().second.push_back(pdu);
            }
        }
        for (auto& [arrival, pdus] : arrivals) {
            deliver(
                arrival - now, receiver,
                [id, pdus = std::move(pdus)](RadioClient& client) {
                    client.pdusReceived(id, pdus);
                },
                [id](State& self) { return self.links.contains(id); });
        }
        if (!direction.queue.empty()) {
            scheduleEvent(id, direction, sender);
        }
        if (direction.readyOwed && direction.queue.size() < options.transmitQueueCapacity) {
            direction.readyOwed = false;
            deliver(0, sender, [id](RadioClient& client) { client.linkReady(id); });
        }
    }

    SendResult send(const Uuid& sender, LinkId id, Bytes pdu, bool flowControlled) {
        const auto found = links.find(id);
        Device* device = find(sender);
        if (found == links.end() || !found->second.established || device == nullptr ||
            pdu.empty()) {
            return SendResult::queued;  // the link is going; its end is on the way
        }
        Direction& direction = directionOf(found->second, sender);
        if (flowControlled &&
            (device->forcedFull > 0 || direction.queue.size() >= options.transmitQueueCapacity)) {
            device->forcedFull = std::max(0, device->forcedFull - 1);
            direction.readyOwed = true;
            scheduleEvent(id, direction, sender);
            return SendResult::queueFull;
        }
        direction.queue.push_back(std::move(pdu));
        scheduleEvent(id, direction, sender);
        return SendResult::queued;
    }

    RunLoop& loop;
    const SimulatedAirOptions options;
    std::mutex mutex;
    std::mt19937_64 random;
    std::map<Uuid, Device> devices;
    std::map<LinkId, Link> links;
    LinkId nextLink = 1;
    std::map<std::pair<Uuid, Uuid>, FaultPlan> faults;
};

namespace {

class SimulatedRadio final : public Radio {
public:
    SimulatedRadio(std::shared_ptr<SimulatedAir::State> state, const Uuid& identifier)
        : state_(std::move(state)), identifier_(identifier) {}

    ~SimulatedRadio() override {
        std::lock_guard lock(state_->mutex);
        state_->dropLinksOf(identifier_);
        state_->devices.erase(identifier_);
    }

    const Uuid& identifier() const override { return identifier_; }

    void start(RadioClient& client, RunLoop& loop) override {
        if (&loop != &state_->loop) {
            throw std::invalid_argument("a simulated radio runs on its air's loop");
        }
        std::lock_guard lock(state_->mutex);
        self().client = &client;
        state_->connectWaitingFor(identifier_);
    }

    ManagerState state() const override {
        std::lock_guard lock(state_->mutex);
        return state_->devices.at(identifier_).state;
    }

    void startAdvertising(const AdvertisementData& data) override {
        std::lock_guard lock(state_->mutex);
        auto& device = self();
        if (device.state != ManagerState::poweredOn) {
            return;
        }
        device.advertisement = data;
        for (const auto& [identifier, other] : state_->devices) {
            if (identifier != identifier_ && other.scanning) {
                state_->report(identifier, device);
            }
        }
    }

    void stopAdvertising() override {
        std::lock_guard lock(state_->mutex);
        self().advertisement.reset();
    }

    void startScanning() override {
        std::lock_guard lock(state_->mutex);
        auto& device = self();
        if (device.state != ManagerState::poweredOn) {
            return;
        }
        device.scanning = true;
        for (const auto& [identifier, other] : state_->devices) {
            if (identifier != identifier_ && other.advertisement) {
                state_->report(identifier_, other);
            }
        }
    }

    void stopScanning() override {
        std::lock_guard lock(state_->mutex);
        self().scanning = false;
    }

    bool knows(const Uuid& peer) const override {
        std::lock_guard lock(state_->mutex);
        return peer != identifier_ && state_->devices.contains(peer);
    }

    void connect(const Uuid& peer) override {
        std::lock_guard lock(state_->mutex);
        auto& device = self();
        if (device.state != ManagerState::poweredOn || peer == identifier_) {
            return;
        }
        device.pendingConnects.insert(peer);
        state_->tryConnect(device, peer);
    }

    void cancelConnect(const Uuid& peer) override {
        std::lock_guard lock(state_->mutex);
        self().pendingConnects.erase(peer);
        std::erase_if(state_->links, [&](const auto& entry) {
            return !entry.second.established && entry.second.central == identifier_ &&
                   entry.second.peripheral == peer;
        });
    }

    void disconnect(LinkId link) override {
        std::lock_guard lock(state_->mutex);
        const auto found = state_->links.find(link);
        if (found == state_->links.end()) {
            return;
        }
        const auto& entry = found->second;
        const Uuid other = entry.central == identifier_ ? entry.peripheral : entry.central;
        if (entry.established) {
            state_->deliverClosed(
                other, link,
                makeError(ErrorCode::peripheralDisconnected, "the peer ended the connection"),
                state_->options.latency);
        }
        state_->links.erase(found);
    }

    SendResult send(LinkId link, Bytes pdu, bool flowControlled) override {
        std::lock_guard lock(state_->mutex);
        return state_->send(identifier_, link, std::move(pdu), flowControlled);
    }

private:
    SimulatedAir::State::Device& self() { return state_->devices.at(identifier_); }

    std::shared_ptr<SimulatedAir::State> state_;
    const Uuid identifier_;
};

}  // namespace

SimulatedAir::SimulatedAir(RunLoop& loop, SimulatedAirOptions options)
    : state_(std::make_shared<State>(loop, options)) {}

SimulatedAir::~SimulatedAir() = default;

RunLoop& SimulatedAir::loop() const {
    return state_->loop;
}

std::unique_ptr<Radio> SimulatedAir::attach(SimulatedDeviceOptions options) {
    std::lock_guard lock(state_->mutex);
    const Uuid identifier = options.identifier.value_or(Uuid::random(state_->random));
    if (state_->devices.contains(identifier)) {
        throw std::invalid_argument("a device with identifier " + identifier.toString() +
                                    " is already on the air");
    }
    State::Device device;
    device.identifier = identifier;
    device.rssi = options.rssi;
    device.state = options.poweredOn ? ManagerState::poweredOn : ManagerState::poweredOff;
    state_->devices.emplace(identifier, std::move(device));
    return std::make_unique<SimulatedRadio>(state_, identifier);
}

std::unique_ptr<ScriptedCentral> SimulatedAir::injectForeignCentral(const Uuid& target) {
    auto central = std::make_unique<ScriptedCentral>(attach(), state_->loop);
    central->connect(target);
    return central;
}

void SimulatedAir::powerOff(const Uuid& device) {
    std::lock_guard lock(state_->mutex);
    if (State::Device* found = state_->find(device);
        found != nullptr && found->state != ManagerState::poweredOff) {
        state_->takeDown(*found, ManagerState::poweredOff);
    }
}

void SimulatedAir::powerOn(const Uuid& device) {
    std::lock_guard lock(state_->mutex);
    if (State::Device* found = state_->find(device);
        found != nullptr && found->state != ManagerState::poweredOn) {
        state_->bringUp(*found);
    }
}

void SimulatedAir::reset(const Uuid& device) {
    std::lock_guard lock(state_->mutex);
    State::Device* found = state_->find(device);
    if (found == nullptr) {
        return;
    }
    state_->takeDown(*found, ManagerState::resetting);
    state_->loop.postDelayed(state_->options.resetDuration,
                             [weak = std::weak_ptr<State>(state_), device] {
                                 const auto state = weak.lock();
                                 if (!state) {
                                     return;
                                 }
                                 std::lock_guard lock(state->mutex);
                                 State::Device* found = state->find(device);
                                 if (found != nullptr && found->state == ManagerState::resetting) {
                                     state->bringUp(*found);
                                 }
                             });
}

void SimulatedAir::setRssi(const Uuid& device, int rssi) {
    std::lock_guard lock(state_->mutex);
    if (State::Device* found = state_->find(device)) {
        found->rssi = rssi;
    }
}

void SimulatedAir::dropConnection(const Uuid& a, const Uuid& b, ErrorCode reason) {
    std::lock_guard lock(state_->mutex);
    const Error error = makeError(reason, "the connection was dropped");
    for (auto it = state_->links.begin(); it != state_->links.end();) {
        const State::Link& link = it->second;
        const bool between = (link.central == a && link.peripheral == b) ||
                             (link.central == b && link.peripheral == a);
        if (!between) {
            ++it;
            continue;
        }
        if (link.established) {
            state_->deliverClosed(link.central, it->first, error, 0);
            state_->deliverClosed(link.peripheral, it->first, error, 0);
        } else {
            state_->deliver(0, link.central, [peer = link.peripheral, error](RadioClient& client) {
                client.connectFailed(peer, error);
            });
        }
        it = state_->links.erase(it);
    }
    // Not a structured binding: some compilers cannot capture those in a lambda.
    for (const auto& ends : {std::pair{a, b}, std::pair{b, a}}) {
        const Uuid& central = ends.first;
        const Uuid& peer = ends.second;
        State::Device* device = state_->find(central);
        if (device != nullptr && device->pendingConnects.erase(peer) > 0) {
            state_->deliver(0, central, [peer, error](RadioClient& client) {
                client.connectFailed(peer, error);
            });
        }
    }
}

void SimulatedAir::fillTransmitQueue(const Uuid& device, int packets) {
    std::lock_guard lock(state_->mutex);
    if (State::Device* found = state_->find(device)) {
        found->forcedFull = std::max(0, packets);
    }
}

void SimulatedAir::injectFault(const Uuid& from, const Uuid& to, PacketFault fault) {
    std::lock_guard lock(state_->mutex);
    if (fault.count > 0) {
        state_->faults[{from, to}].scripted.push_back(fault);
    }
}

void SimulatedAir::setRandomFaults(const Uuid& from, const Uuid& to, RandomFaults faults) {
    std::lock_guard lock(state_->mutex);
    state_->faults[{from, to}].random = faults;
}

}  // namespace platform::bluetooth
