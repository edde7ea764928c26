#pragma once

#include "platform/bluetooth/Types.h"

namespace fuzz {

// The link's service as the phone publishes it: notify, write and address characteristics.
inline platform::bluetooth::MutableService linkService() {
    using namespace platform::bluetooth;
    MutableService link;
    link.uuid = *Uuid::parse("9A3F68E0-86CE-11E5-A309-0002A5D5C51B");
    link.characteristics = {
        {*Uuid::parse("CECE518B-28D7-4171-92D5-76A1E249A3B9"),
         CharacteristicProperties::read | CharacteristicProperties::notify,
         AttributePermissions::readEncryptionRequired, std::nullopt},
        {*Uuid::parse("C2F2CC0F-C085-4DD4-BE5A-ACA3074BBC72"),
         CharacteristicProperties::writeWithoutResponse | CharacteristicProperties::write,
         AttributePermissions::writeEncryptionRequired, std::nullopt},
        {*Uuid::parse("E87988E0-4990-487F-A502-9CFEDA7ED834"), CharacteristicProperties::read,
         AttributePermissions::readable, std::nullopt},
    };
    return link;
}

}  // namespace fuzz
