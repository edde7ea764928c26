#include "platform/bluetooth/bluez/LeAdvertisement.h"

#include "platform/bluetooth/bluez/BluezNames.h"
#include "platform/bluetooth/bluez/BluezObjects.h"

namespace platform::bluetooth::bluez {

LeAdvertisement::LeAdvertisement(sdbus::IConnection& connection, const AdvertisementData& data,
                                 std::function<void()> released)
    : object_(sdbus::createObject(connection, kAdvertisementPath)) {
    auto& object = *object_;
    object.registerMethod("Release").onInterface(kAdvertisement).implementedAs(
        [released = std::move(released)] { released(); });
    object.registerProperty("Type").onInterface(kAdvertisement).withGetter([] {
        return std::string("peripheral");
    });
    // Optional properties are there only when they say something.
    if (!data.serviceUuids.empty()) {
        object.registerProperty("ServiceUUIDs")
            .onInterface(kAdvertisement)
            .withGetter([uuids = uuidTexts(data.serviceUuids)] { return uuids; });
    }
    if (!data.solicitedServiceUuids.empty()) {
        object.registerProperty("SolicitUUIDs")
            .onInterface(kAdvertisement)
            .withGetter([uuids = uuidTexts(data.solicitedServiceUuids)] { return uuids; });
    }
    if (auto manufacturer = manufacturerDataOf(data.manufacturerData)) {
        object.registerProperty("ManufacturerData")
            .onInterface(kAdvertisement)
            .withGetter([manufacturer = *manufacturer] { return manufacturer; });
    }
    if (data.localName) {
        object.registerProperty("LocalName")
            .onInterface(kAdvertisement)
            .withGetter([name = *data.localName] { return name; });
    }
    object.finishRegistration();
}

}  // namespace platform::bluetooth::bluez
