#include "platform/bluetooth/GattServer.h"

#include <stdexcept>

#include "platform/bluetooth/Adapter.h"
#include "platform/bluetooth/PeripheralManager.h"
#include "platform/foundation/LogSink.h"

namespace platform::bluetooth {

struct GattServer::Link final : AttServer::Host {
    Link(GattServer& server, LinkId id, const Uuid& peer)
        : server(server), id(id), peer(peer), att(server.database_, *this) {}

    void sendPdu(Bytes pdu) override { server.adapter_.radio_->send(id, std::move(pdu), false); }
    void readRequested(const GattAttribute& value) override { server.readRequested(*this, value); }
    void writeRequested(const GattAttribute& value, Bytes data, bool withResponse) override {
        server.writeRequested(*this, value, std::move(data), withResponse);
    }
    void subscriptionChanged(const GattAttribute& value, bool subscribed) override {
        server.subscriptionChanged(*this, value, subscribed);
    }

    GattServer& server;
    LinkId id;
    Uuid peer;
    AttServer att;
};

GattServer::GattServer(Adapter& adapter) : adapter_(adapter) {}

GattServer::~GattServer() = default;

void GattServer::attach(PeripheralManager& manager, const std::string& restorationIdentifier) {
    if (manager_ != nullptr) {
        throw std::logic_error("an adapter serves one peripheral manager at a time");
    }
    manager_ = &manager;
    if (!retainedFor_.empty()) {
        if (retainedFor_ == restorationIdentifier) {
            PLATFORM_LOG_INFO("Bluetooth: restoring peripheral manager state for ",
                              restorationIdentifier);
            manager.postRestoration(restoredState());
        } else {
            clearPublished();
        }
        retainedFor_.clear();
    }
    manager.postState(adapter_.state_);
}

void GattServer::detach(PeripheralManager& manager, const std::string& restorationIdentifier) {
    if (manager_ != &manager) {
        return;
    }
    manager_ = nullptr;
    answerPending(AttError::unlikelyError);
    owedReady_.clear();
    if (!restorationIdentifier.empty() && adapter_.state_ == ManagerState::poweredOn) {
        retainedFor_ = restorationIdentifier;
    } else {
        clearPublished();
    }
}

void GattServer::addService(const MutableService& service) {
    std::optional<Error> error;
    if (adapter_.state_ != ManagerState::poweredOn) {
        error = makeError(ErrorCode::notPoweredOn, "Bluetooth is not powered on");
    } else if (auto added = database_.add(service); !added) {
        error = added.error();
    } else {
        adapter_.radio_->servicesChanged(database_.services());
    }
    if (error) {
        PLATFORM_LOG_WARN("Bluetooth: service ", service.uuid.toString(),
                          " not added: ", error->message);
    }
    if (manager_ != nullptr) {
        flushWrites();
        manager_->postServiceAdded(service, error);
    }
}

void GattServer::removeAllServices() {
    if (!database_.services().empty()) {
        database_.clear();
        adapter_.radio_->servicesChanged({});
    }
    for (auto& [id, link] : links_) {
        link->att.clearSubscriptions();
    }
}

void GattServer::startAdvertising(const AdvertisementData& data) {
    if (adapter_.state_ != ManagerState::poweredOn) {
        PLATFORM_LOG_WARN("Bluetooth: advertising asked for while ", toString(adapter_.state_));
        return;
    }
    advertisement_ = data;
    adapter_.radio_->startAdvertising(data);
}

void GattServer::stopAdvertising() {
    if (advertisement_) {
        advertisement_.reset();
        adapter_.radio_->stopAdvertising();
    }
}

UpdateResult GattServer::updateValue(std::span<const std::uint8_t> value,
                                     const Uuid& characteristic, const Central& central) {
    const GattAttribute* attribute = database_.valueOf(characteristic);
    if (adapter_.state_ != ManagerState::poweredOn || attribute == nullptr ||
        !has(attribute->properties, CharacteristicProperties::notify)) {
        PLATFORM_LOG_DEBUG("Bluetooth: no notifying characteristic ", characteristic.toString(),
                           " to update");
        return UpdateResult::rejected;
    }
    // Not a structured binding: the log lines capture link, and some compilers cannot capture
    // those in a lambda.
    for (auto& entry : links_) {
        const auto& id = entry.first;
        auto& link = entry.second;
        if (link->peer != central.identifier || !link->att.isSubscribed(attribute->handle)) {
            continue;
        }
        if (value.size() + 3 > link->att.mtu()) {
            PLATFORM_LOG_WARN("Bluetooth: a ", value.size(), "-byte value does not fit the MTU of ",
                              static_cast<unsigned>(link->att.mtu()), " of central ",
                              central.identifier.toString());
            return UpdateResult::rejected;
        }
        switch (
            adapter_.radio_->send(id, AttServer::notification(attribute->handle, value), true)) {
            case SendResult::queued:
                return UpdateResult::accepted;
            case SendResult::queueFull:
                owedReady_.insert(id);
                return UpdateResult::queueFull;
            case SendResult::refused:
                return UpdateResult::rejected;
        }
    }
    PLATFORM_LOG_DEBUG("Bluetooth: central ", central.identifier.toString(),
                       " is not subscribed to ", characteristic.toString());
    return UpdateResult::rejected;
}

void GattServer::respond(const AttRequest& request, AttError result) {
    const auto found = pending_.find(request.id);
    if (found == pending_.end()) {
        return;
    }
    const Pending pending = found->second;
    pending_.erase(found);
    const auto link = links_.find(pending.link);
    if (link == links_.end()) {
        return;
    }
    if (pending.read) {
        link->second->att.respondToRead(result, request.value);
    } else if (pending.withResponse) {
        link->second->att.respondToWrite(result);
    }
    // A write held behind the answered request may have been served just now.
    flushWrites();
}

void GattServer::stateChanged(ManagerState state) {
    if (state != ManagerState::poweredOn) {
        // What arrived before the power went still reaches the application; the radio took
        // every link and the advertisement with it, so nobody hears the answers.
        flushWrites();
        links_.clear();
        pending_.clear();
        batch_.clear();
        owedReady_.clear();
        if (!database_.services().empty()) {
            database_.clear();
            adapter_.radio_->servicesChanged({});
        }
        advertisement_.reset();
        retainedFor_.clear();
    }
    if (manager_ != nullptr) {
        manager_->postState(state);
    }
}

void GattServer::linkOpened(LinkId link, const Uuid& peer) {
    auto& entry = links_[link];
    entry = std::make_unique<Link>(*this, link, peer);
    if (manager_ != nullptr) {
        flushWrites();
        manager_->postCentralConnected(centralOf(*entry));
    }
}

void GattServer::linkClosed(LinkId link) {
    const auto found = links_.find(link);
    if (found == links_.end()) {
        return;
    }
    const std::unique_ptr<Link> closed = std::move(found->second);
    links_.erase(found);
    forgetLink(link);
    if (owedReady_.contains(link)) {
        owedReady_.clear();
        if (manager_ != nullptr) {
            manager_->postReadyToUpdate();
        }
    }
    if (manager_ == nullptr) {
        return;
    }
    flushWrites();
    const Central central = centralOf(*closed);
    for (std::uint16_t handle : closed->att.subscriptions()) {
        if (const GattAttribute* value = database_.find(handle)) {
            manager_->postSubscription(central, value->characteristic, false);
        }
    }
    manager_->postCentralDisconnected(central);
}

void GattServer::receive(LinkId link, const std::vector<Bytes>& pdus) {
    for (const Bytes& pdu : pdus) {
        const auto found = links_.find(link);
        if (found == links_.end()) {
            break;
        }
        if (auto violation = found->second->att.receive(pdu)) {
            close(link, *violation);
            break;
        }
    }
    // The writes of one delivery are one callback; the next delivery starts another.
    flushWrites();
}

void GattServer::linkReady(LinkId link) {
    if (!owedReady_.contains(link)) {
        return;
    }
    owedReady_.clear();
    if (manager_ != nullptr) {
        flushWrites();
        manager_->postReadyToUpdate();
    }
}

Central GattServer::centralOf(const Link& link) const {
    return Central{link.peer, static_cast<std::size_t>(link.att.mtu() - 3)};
}

void GattServer::writeRequested(Link& link, const GattAttribute& value, Bytes data,
                                bool withResponse) {
    if (manager_ == nullptr) {
        PLATFORM_LOG_WARN("Bluetooth: write to ", value.characteristic.toString(),
                          " with no peripheral manager to take it");
        if (withResponse) {
            link.att.respondToWrite(AttError::unlikelyError);
        }
        return;
    }
    AttRequest request;
    request.id = nextRequestId_++;
    request.central = centralOf(link);
    request.characteristic = value.characteristic;
    request.value = std::move(data);
    pending_[request.id] = Pending{link.id, withResponse, false};
    batch_.push_back(std::move(request));
}

void GattServer::readRequested(Link& link, const GattAttribute& value) {
    if (manager_ == nullptr) {
        link.att.respondToRead(AttError::unlikelyError, {});
        return;
    }
    AttRequest request;
    request.id = nextRequestId_++;
    request.central = centralOf(link);
    request.characteristic = value.characteristic;
    pending_[request.id] = Pending{link.id, true, true};
    flushWrites();
    manager_->postReadRequest(request);
}

void GattServer::subscriptionChanged(Link& link, const GattAttribute& value, bool subscribed) {
    if (manager_ != nullptr) {
        flushWrites();
        manager_->postSubscription(centralOf(link), value.characteristic, subscribed);
    }
}

void GattServer::close(LinkId link, const std::string& reason) {
    const auto found = links_.find(link);
    PLATFORM_LOG_WARN("Bluetooth: disconnecting central ", found->second->peer.toString(), ": ",
                      reason);
    adapter_.radio_->disconnect(link);
    linkClosed(link);
}

void GattServer::flushWrites() {
    if (batch_.empty() || manager_ == nullptr) {
        return;
    }
    manager_->postWriteRequests(std::move(batch_));
    batch_.clear();
}

void GattServer::answerPending(AttError result) {
    for (auto it = pending_.begin(); it != pending_.end();) {
        const Pending pending = it->second;
        it = pending_.erase(it);
        const auto link = links_.find(pending.link);
        if (link == links_.end()) {
            continue;
        }
        if (pending.read) {
            link->second->att.respondToRead(result, {});
        } else if (pending.withResponse) {
            link->second->att.respondToWrite(result);
        }
    }
}

void GattServer::forgetLink(LinkId link) {
    std::erase_if(pending_, [link](const auto& entry) { return entry.second.link == link; });
}

void GattServer::clearPublished() {
    removeAllServices();
    stopAdvertising();
}

RestoredState GattServer::restoredState() const {
    RestoredState state;
    state.services = database_.services();
    state.advertisement = advertisement_;
    for (const auto& [id, link] : links_) {
        for (std::uint16_t handle : link->att.subscriptions()) {
            if (const GattAttribute* value = database_.find(handle)) {
                state.subscriptions.emplace_back(value->characteristic, centralOf(*link));
            }
        }
    }
    return state;
}

}  // namespace platform::bluetooth
