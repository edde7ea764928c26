#pragma once

#include "platform/foundation/Result.h"
#include "platform/foundation/Value.h"
#include "sim/store/StoreServer.h"

namespace kavostore {

// A certificate the simulated store makes for itself at start: self-signed, for 127.0.0.1
// and localhost, valid for a day. The client trusts it only as the anchor it is given.
struct StoreCertificate {
    TlsIdentity identity;
    platform::Bytes certificateDer;
};

[[nodiscard]] platform::Result<StoreCertificate> makeStoreCertificate();

}  // namespace kavostore
