#include "http/HCSecurityPolicy.h"

#include <algorithm>
#include <system_error>

#include "logging/LGLog.h"
#include "platform/foundation/FileSystem.h"

using platform::Bytes;
using platform::net::ServerTrust;
using platform::net::TrustPolicy;

namespace {

// The keys of the chain the last evaluation built, so a pinned anchor the server never sends
// counts, and a pinned certificate merely tacked onto the sent chain does not.
std::vector<Bytes> publicKeysOfChain(const ServerTrust& trust) {
    std::vector<Bytes> keys;
    for (const Bytes& certificate : trust.certificates()) {
        if (auto key = platform::net::publicKeyOfCertificate(certificate)) {
            keys.push_back(std::move(*key));
        }
    }
    return keys;
}

}  // namespace

HCSecurityPolicy::HCSecurityPolicy() = default;

std::vector<Bytes> HCSecurityPolicy::certificatesInFolder(const std::filesystem::path& folder) {
    std::vector<std::filesystem::path> files;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        if (entry.path().extension() == ".cer") {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    std::vector<Bytes> certificates;
    for (const auto& file : files) {
        // A certificate is a few kilobytes; anything far larger is not one.
        if (auto contents = platform::fs::readFile(file, 1 << 20)) {
            certificates.emplace_back(contents->begin(), contents->end());
        }
    }
    return certificates;
}

const std::vector<Bytes>& HCSecurityPolicy::defaultPinnedCertificates() {
    static const std::vector<Bytes> certificates = [] {
        std::error_code error;
        const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
        return error ? std::vector<Bytes>{} : certificatesInFolder(program.parent_path());
    }();
    return certificates;
}

HCSecurityPolicy HCSecurityPolicy::defaultPolicy() {
    return HCSecurityPolicy();
}

HCSecurityPolicy HCSecurityPolicy::policyWithPinningMode(HCSSLPinningMode mode) {
    HCSecurityPolicy policy;
    policy.setSSLPinningMode(mode);
    policy.setPinnedCertificates(defaultPinnedCertificates());
    return policy;
}

void HCSecurityPolicy::setPinnedCertificates(std::optional<std::vector<Bytes>> certificates) {
    pinnedPublicKeys_.clear();
    if (!certificates) {
        pinnedCertificates_.reset();
        return;
    }
    std::vector<Bytes> unique;
    for (auto& certificate : *certificates) {
        if (std::find(unique.begin(), unique.end(), certificate) == unique.end()) {
            unique.push_back(std::move(certificate));
        }
    }
    for (const Bytes& certificate : unique) {
        if (auto key = platform::net::publicKeyOfCertificate(certificate)) {
            pinnedPublicKeys_.push_back(std::move(*key));
        }
    }
    pinnedCertificates_ = std::move(unique);
}

bool HCSecurityPolicy::evaluateServerTrust(ServerTrust& trust) const {
    return evaluateServerTrust(trust, std::nullopt);
}

bool HCSecurityPolicy::evaluateServerTrust(ServerTrust& trust,
                                           const std::optional<std::string>& domain) const {
    const bool noPins = !pinnedCertificates_ || pinnedCertificates_->empty();
    if (domain && allowInvalidCertificates_ && validatesDomainName_ &&
        (mode_ == HCSSLPinningMode::None || noPins)) {
        LG_VERBOSE(
            "In order to validate a domain name for self signed certificates, you MUST use "
            "pinning.");
        return false;
    }
    trust.setPolicy(validatesDomainName_ ? TrustPolicy::ssl(domain) : TrustPolicy::basic());
    if (mode_ == HCSSLPinningMode::None) {
        return allowInvalidCertificates_ || platform::net::isTrusted(trust.evaluate());
    }
    if (!platform::net::isTrusted(trust.evaluate()) && !allowInvalidCertificates_) {
        return false;
    }
    switch (mode_) {
        case HCSSLPinningMode::Certificate: {
            std::vector<Bytes> anchors;
            for (const Bytes& pinned : pinnedCertificates_.value_or(std::vector<Bytes>{})) {
                if (platform::net::isCertificate(pinned)) {
                    anchors.push_back(pinned);
                }
            }
            trust.setAnchorCertificates(anchors);
            if (!platform::net::isTrusted(trust.evaluate())) {
                return false;
            }
            // The path that reached a pin, that pin included.
            const std::vector<Bytes>& chain = trust.certificates();
            const auto pinned = pinnedCertificates_.value_or(std::vector<Bytes>{});
            return std::any_of(chain.begin(), chain.end(), [&](const Bytes& certificate) {
                return std::find(pinned.begin(), pinned.end(), certificate) != pinned.end();
            });
        }
        case HCSSLPinningMode::PublicKey: {
            const std::vector<Bytes> keys = publicKeysOfChain(trust);
            return std::any_of(keys.begin(), keys.end(), [&](const Bytes& key) {
                return std::find(pinnedPublicKeys_.begin(), pinnedPublicKeys_.end(), key) !=
                       pinnedPublicKeys_.end();
            });
        }
        case HCSSLPinningMode::None:
            break;
    }
    return false;
}
