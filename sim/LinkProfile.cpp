#include "sim/LinkProfile.h"

namespace kavowatch {

const LinkUuids& linkUuids() {
    static const LinkUuids uuids{
        *Uuid::parse("9A3F68E0-86CE-11E5-A309-0002A5D5C51B"),
        *Uuid::parse("CECE518B-28D7-4171-92D5-76A1E249A3B9"),
        *Uuid::parse("C2F2CC0F-C085-4DD4-BE5A-ACA3074BBC72"),
        *Uuid::parse("E87988E0-4990-487F-A502-9CFEDA7ED834"),
    };
    return uuids;
}

platform::bluetooth::AdvertisementData watchAdvertisement(const AdvertisingIdentity& identity,
                                                          std::uint8_t purpose) {
    const auto high = static_cast<std::uint8_t>(kCompanyIdentifier >> 8);
    const auto low = static_cast<std::uint8_t>(kCompanyIdentifier & 0xFF);
    platform::bluetooth::AdvertisementData data;
    data.localName = identity.name;
    // Bytes 2 to 6 carry nothing the phone reads.
    data.manufacturerData = platform::Bytes{identity.companyIdentifierBigEndian ? high : low,
                                            identity.companyIdentifierBigEndian ? low : high,
                                            0,
                                            0,
                                            0,
                                            0,
                                            0,
                                            purpose,
                                            identity.hiddenCondition};
    return data;
}

}  // namespace kavowatch
