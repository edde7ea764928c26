#include "platform/bluetooth/Adapter.h"

#include <cassert>

#include "platform/bluetooth/CentralManager.h"
#include "platform/bluetooth/GattServer.h"

namespace platform::bluetooth {

Adapter::Adapter(std::unique_ptr<Radio> radio, RunLoop& loop)
    : loop_(loop), radio_(std::move(radio)) {
    server_ = std::make_unique<GattServer>(*this);
    std::lock_guard lock(mutex_);
    radio_->start(*this, loop_);
    state_ = radio_->state();
}

Adapter::~Adapter() {
    assert(central_ == nullptr && !server_->hasManager() &&
           "managers must go before their adapter");
    // The radio goes first so that no event can arrive while the rest is taken down.
    radio_.reset();
}

void Adapter::radioStateChanged(ManagerState state) {
    std::lock_guard lock(mutex_);
    state_ = state;
    server_->stateChanged(state);
    if (central_ != nullptr) {
        central_->stateChanged(state);
    }
}

void Adapter::advertisementReceived(const Uuid& advertiser, const AdvertisementData& data,
                                    int rssi) {
    std::lock_guard lock(mutex_);
    if (central_ != nullptr) {
        central_->advertisementReceived(advertiser, data, rssi);
    }
}

void Adapter::linkOpened(LinkId link, const Uuid& peer, LinkRole role) {
    std::lock_guard lock(mutex_);
    if (role == LinkRole::peripheral) {
        server_->linkOpened(link, peer);
    } else if (central_ == nullptr || !central_->linkOpened(link, peer)) {
        // Nobody asked for it any more.
        radio_->disconnect(link);
    }
}

void Adapter::connectFailed(const Uuid& peer, const Error& reason) {
    std::lock_guard lock(mutex_);
    if (central_ != nullptr) {
        central_->connectFailed(peer, reason);
    }
}

void Adapter::linkClosed(LinkId link, const Error& reason) {
    std::lock_guard lock(mutex_);
    if (server_->owns(link)) {
        server_->linkClosed(link);
    } else if (central_ != nullptr) {
        central_->linkClosed(link, reason);
    }
}

void Adapter::pdusReceived(LinkId link, std::vector<Bytes> pdus) {
    std::lock_guard lock(mutex_);
    if (server_->owns(link)) {
        server_->receive(link, pdus);
    } else if (central_ != nullptr) {
        central_->receive(link, pdus);
    }
}

void Adapter::linkReady(LinkId link) {
    std::lock_guard lock(mutex_);
    if (server_->owns(link)) {
        server_->linkReady(link);
    } else if (central_ != nullptr) {
        central_->linkReady(link);
    }
}

}  // namespace platform::bluetooth
