#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace testing_support {

// A certificate with its private key, as DER (what trust code reads) and PEM (what servers load).
struct TestIdentity {
    std::vector<std::uint8_t> certificateDer;
    std::string certificatePem;
    std::string privateKeyPem;
};

// A small PKI made with OpenSSL when first asked, once per process: a root CA, an intermediate
// under it, and leaves under the intermediate. Nothing is read from or written to the disk.
struct TestCertificates {
    TestIdentity ca;
    TestIdentity intermediate;
    // For 127.0.0.1 and localhost.
    TestIdentity localhost;
    // For another name only ("other.test").
    TestIdentity otherName;
    // For 127.0.0.1, but its validity ended yesterday.
    TestIdentity expired;
    // For 127.0.0.1, signed by its own key.
    TestIdentity selfSigned;

    static const TestCertificates& shared();
};

}  // namespace testing_support
