#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"

namespace platform::net {

// The outcome of judging a chain, with the phone platform's numbers: proceed (1) and
// unspecified (4) count as trusted.
enum class TrustResult {
    invalid = 0,
    proceed = 1,
    deny = 3,
    unspecified = 4,
    recoverableTrustFailure = 5,
    fatalTrustFailure = 6,
    otherError = 7
};

[[nodiscard]] inline bool isTrusted(TrustResult result) {
    return result == TrustResult::proceed || result == TrustResult::unspecified;
}

// What a chain is judged for: a TLS server with the given host name (none: any name), or a
// plain certificate path with no name and no purpose.
struct TrustPolicy {
    enum class Kind { sslServer, basicX509 };
    Kind kind = Kind::basicX509;
    std::optional<std::string> host;

    static TrustPolicy ssl(std::optional<std::string> host) {
        return {Kind::sslServer, std::move(host)};
    }
    static TrustPolicy basic() { return {}; }
};

// Whether DER bytes hold one certificate.
[[nodiscard]] bool isCertificate(const Bytes& der);
// The certificate's public key as DER SubjectPublicKeyInfo; nothing when der is no
// certificate. Two keys are the same key when these bytes are equal.
[[nodiscard]] std::optional<Bytes> publicKeyOfCertificate(const Bytes& der);

// A chain as a server sent it (leaf first, DER), the anchors it is judged against and the
// policy: the trust object a server-trust judge evaluates. Anchors set on it replace the
// system's; without them the anchors it was made with count (the machine's, or a test's).
class ServerTrust {
public:
    ServerTrust(std::vector<Bytes> chain, std::vector<Bytes> systemAnchors,
                TrustPolicy policy = TrustPolicy::basic());

    void setPolicy(TrustPolicy policy) { policy_ = std::move(policy); }
    [[nodiscard]] const TrustPolicy& policy() const { return policy_; }
    // Only these anchors count from now on (the platform's "anchor certificates only").
    void setAnchorCertificates(std::vector<Bytes> anchors);

    // Judges the chain now; proceed, recoverableTrustFailure (a chain that does not verify
    // for a reason the user could override: unknown issuer, expired, wrong name) or
    // otherError for data that is no chain. Keeps the chain the judgement built.
    TrustResult evaluate();

    // Once evaluated, the chain as the last evaluation built it, leaf first and up to the
    // anchor it reached (an anchor the server never sent included); before, the chain sent.
    [[nodiscard]] std::size_t certificateCount() const { return certificates().size(); }
    [[nodiscard]] const std::vector<Bytes>& certificates() const {
        return evaluated_.empty() ? chain_ : evaluated_;
    }
    // The chain as the server sent it.
    [[nodiscard]] const std::vector<Bytes>& presentedCertificates() const { return chain_; }
    // The leaf's public key, when the chain has a leaf with a key.
    [[nodiscard]] std::optional<Bytes> publicKey() const;

private:
    std::vector<Bytes> chain_;
    std::vector<Bytes> evaluated_;
    std::vector<Bytes> anchors_;
    TrustPolicy policy_;
    // Whether the anchors are the ones the trust was made with (the system's) or set by a
    // judge; the system's anchors also stand for the machine's own store when empty.
    bool systemAnchors_ = true;
};

// The machine's trust store read as DER certificates (OpenSSL's default certificate file),
// read once. Empty when the machine has none.
[[nodiscard]] const std::vector<Bytes>& systemAnchorCertificates();

}  // namespace platform::net
