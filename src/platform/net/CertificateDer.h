#pragma once

#include <openssl/x509.h>

#include "platform/foundation/Value.h"

namespace platform::net {

// The certificate as DER bytes; empty when OpenSSL cannot write it.
Bytes derOfCertificate(X509* certificate);

}  // namespace platform::net
