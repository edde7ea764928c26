#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Value.h"
#include "platform/net/ServerTrust.h"

enum class HCSSLPinningMode : std::uint64_t { None = 0, PublicKey = 1, Certificate = 2 };

// Decides whether the server of a TLS connection is trusted: with or without pinning of keys
// or whole certificates, accepting invalid chains or not, checking the name or not.
class HCSecurityPolicy {
public:
    // No pinning, invalid certificates refused, names checked.
    HCSecurityPolicy();

    // The DER contents of every ".cer" file beside the program, in name order, read once.
    static const std::vector<platform::Bytes>& defaultPinnedCertificates();
    // The same read from a folder of the caller's (what defaultPinnedCertificates reads).
    static std::vector<platform::Bytes> certificatesInFolder(const std::filesystem::path& folder);

    static HCSecurityPolicy defaultPolicy();
    // The mode given, pinned to defaultPinnedCertificates().
    static HCSecurityPolicy policyWithPinningMode(HCSSLPinningMode mode);

    [[nodiscard]] HCSSLPinningMode SSLPinningMode() const { return mode_; }
    void setSSLPinningMode(HCSSLPinningMode mode) { mode_ = mode; }
    [[nodiscard]] bool allowInvalidCertificates() const { return allowInvalidCertificates_; }
    void setAllowInvalidCertificates(bool allow) { allowInvalidCertificates_ = allow; }
    [[nodiscard]] bool validatesDomainName() const { return validatesDomainName_; }
    void setValidatesDomainName(bool validates) { validatesDomainName_ = validates; }

    // Duplicates go (first kept, order kept); the keys of the certificates that have one
    // follow.
    void setPinnedCertificates(std::optional<std::vector<platform::Bytes>> certificates);
    [[nodiscard]] const std::optional<std::vector<platform::Bytes>>& pinnedCertificates() const {
        return pinnedCertificates_;
    }
    [[nodiscard]] const std::vector<platform::Bytes>& pinnedPublicKeys() const {
        return pinnedPublicKeys_;
    }

    // Replaces the trust's policy (and, pinning certificates, its anchors) while judging.
    [[nodiscard]] bool evaluateServerTrust(platform::net::ServerTrust& trust) const;
    [[nodiscard]] bool evaluateServerTrust(platform::net::ServerTrust& trust,
                                           const std::optional<std::string>& domain) const;

private:
    HCSSLPinningMode mode_ = HCSSLPinningMode::None;
    bool allowInvalidCertificates_ = false;
    bool validatesDomainName_ = true;
    std::optional<std::vector<platform::Bytes>> pinnedCertificates_;
    std::vector<platform::Bytes> pinnedPublicKeys_;
};
