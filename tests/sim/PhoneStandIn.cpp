#include "PhoneStandIn.h"

#include <algorithm>

namespace sim_test {

using namespace platform::bluetooth;

MutableService linkService() {
    const auto& uuids = kavowatch::linkUuids();
    MutableService service;
    service.uuid = uuids.service;
    service.characteristics = {
        {uuids.notify, CharacteristicProperties::read | CharacteristicProperties::notify,
         AttributePermissions::readEncryptionRequired, std::nullopt},
        {uuids.write,
         CharacteristicProperties::writeWithoutResponse | CharacteristicProperties::write,
         AttributePermissions::writeEncryptionRequired, std::nullopt},
        {uuids.address, CharacteristicProperties::read, AttributePermissions::readable,
         std::nullopt},
    };
    return service;
}

Bytes phoneResponse(std::string_view phoneName, const std::optional<Uuid>& device,
                    std::string_view tag) {
    Bytes record(148, 0);
    record[0] = 0x40;
    const std::string_view maker = "Apple";
    std::copy(maker.begin(), maker.end(), record.begin() + 17);
    std::copy_n(phoneName.begin(), std::min<std::size_t>(phoneName.size(), 16),
                record.begin() + 33);
    std::copy(tag.begin(), tag.end(), record.begin() + 66);
    if (device) {
        std::copy(device->bytes().begin(), device->bytes().end(), record.begin() + 99);
    }
    return record;
}

PhoneStandIn::PhoneStandIn(SimulatedAir& air, platform::RunLoop& loop, const Uuid& id)
    : adapter_(air.attach({.identifier = id}), loop),
      peripheral_(adapter_, this),
      central_(adapter_, this),
      engine_(loop, *this, *this) {}

PhoneStandIn::~PhoneStandIn() {
    peripheral_.setDelegate(nullptr);
    central_.setDelegate(nullptr);
}

void PhoneStandIn::note(std::string event) {
    events.push_back(std::move(event));
    eventTimes.push_back(adapter_.loop().now());
}

void PhoneStandIn::connectTo(const Uuid& watch) {
    const Uuid identifiers[] = {watch};
    for (RemotePeripheral* found : central_.retrievePeripherals(identifiers)) {
        central_.connect(*found);
    }
}

void PhoneStandIn::peripheralManagerDidUpdateState(PeripheralManager& manager) {
    if (manager.state() == ManagerState::poweredOn) {
        manager.addService(linkService());
        manager.startAdvertising({.serviceUuids = {kavowatch::linkUuids().service}});
    }
}

void PhoneStandIn::centralDidSubscribe(PeripheralManager&, const Central& central, const Uuid&) {
    subscriber = central;
    note("subscribe");
}

void PhoneStandIn::centralDidUnsubscribe(PeripheralManager&, const Central&, const Uuid&) {
    note("unsubscribe");
    subscriber.reset();
    engine_.linkLost();
}

void PhoneStandIn::centralDidConnect(PeripheralManager&, const Central&) {
    note("connect");
}

void PhoneStandIn::centralDidDisconnect(PeripheralManager&, const Central&) {
    note("disconnect");
}

void PhoneStandIn::didReceiveWriteRequests(PeripheralManager& manager,
                                           const std::vector<AttRequest>& requests) {
    for (const AttRequest& request : requests) {
        const bool fromSubscriber =
            subscriber && subscriber->identifier == request.central.identifier;
        manager.respond(request, fromSubscriber ? AttError::success : AttError::writeNotPermitted);
        if (fromSubscriber) {
            engine_.receive(request.value);
        } else {
            ++writesRefused;
        }
    }
}

void PhoneStandIn::didReceiveReadRequest(PeripheralManager& manager, const AttRequest& request) {
    note("read");
    if (!address) {
        manager.respond(request, applicationError(0));
        return;
    }
    AttRequest answer = request;
    answer.value.assign(address->begin(), address->end());
    manager.respond(answer, AttError::success);
}

void PhoneStandIn::isReadyToUpdateSubscribers(PeripheralManager&) {
    engine_.linkReady();
}

kavowatch::PacketLink::Outcome PhoneStandIn::transmit(std::span<const std::uint8_t> packet) {
    if (!subscriber) {
        return Outcome::lost;
    }
    switch (peripheral_.updateValue(packet, kavowatch::linkUuids().notify, *subscriber)) {
        case UpdateResult::accepted:
            return Outcome::sent;
        case UpdateResult::queueFull:
            return Outcome::busy;
        case UpdateResult::rejected:
            break;
    }
    return Outcome::lost;
}

void PhoneStandIn::messageReceived(Bytes message, bool /*acknowledged*/) {
    if (!message.empty() && message[0] == 0x00 && answerHandshake) {
        engine_.send(answerHandshake(message), true);
    }
    messages.push_back(std::move(message));
}

}  // namespace sim_test
