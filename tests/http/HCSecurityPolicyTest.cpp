#include <gtest/gtest.h>

#include <fstream>

#include "http/HCSecurityPolicy.h"
#include "logging/LGLog.h"
#include "logging/LGLogger.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace {

using platform::Bytes;
using platform::net::ServerTrust;
using testing_support::TestCertificates;

// The machine's anchors here are the test CA alone.
ServerTrust trustFor(std::vector<Bytes> chain) {
    return ServerTrust(std::move(chain), {TestCertificates::shared().ca.certificateDer});
}

ServerTrust goodChain() {
    const auto& pki = TestCertificates::shared();
    return trustFor({pki.localhost.certificateDer, pki.intermediate.certificateDer});
}

class Lines final : public LGAbstractLogger {
public:
    Lines() : LGAbstractLogger("test.lines") {}
    void logMessage(const LGLogMessage& message) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(message.message());
    }
    std::vector<std::string> lines() {
        std::lock_guard lock(mutex_);
        return lines_;
    }

private:
    std::mutex mutex_;
    std::vector<std::string> lines_;
};

TEST(HCSecurityPolicyTest, DefaultPolicyTrustsTheAnchoredChainForItsName) {
    const auto& pki = TestCertificates::shared();
    const HCSecurityPolicy policy = HCSecurityPolicy::defaultPolicy();
    EXPECT_TRUE(policy.validatesDomainName());
    EXPECT_FALSE(policy.allowInvalidCertificates());
    auto good = goodChain();
    EXPECT_TRUE(policy.evaluateServerTrust(good, "127.0.0.1"));
    auto wrongName = goodChain();
    EXPECT_FALSE(policy.evaluateServerTrust(wrongName, "other.test"));
    auto expired = trustFor({pki.expired.certificateDer, pki.intermediate.certificateDer});
    EXPECT_FALSE(policy.evaluateServerTrust(expired, "127.0.0.1"));
    auto selfSigned = trustFor({pki.selfSigned.certificateDer});
    EXPECT_FALSE(policy.evaluateServerTrust(selfSigned, "127.0.0.1"));
    // Without name validation another name passes; an untrusted chain still does not.
    HCSecurityPolicy noNames;
    noNames.setValidatesDomainName(false);
    auto other = trustFor({pki.otherName.certificateDer, pki.intermediate.certificateDer});
    EXPECT_TRUE(noNames.evaluateServerTrust(other, "127.0.0.1"));
    auto selfSignedAgain = trustFor({pki.selfSigned.certificateDer});
    EXPECT_FALSE(noNames.evaluateServerTrust(selfSignedAgain, "127.0.0.1"));
}

TEST(HCSecurityPolicyTest, AllowingInvalidCertificatesNeedsPinningForADomain) {
    auto lines = std::make_shared<Lines>();
    LGLog::addLogger(lines);
    const auto& pki = TestCertificates::shared();
    HCSecurityPolicy policy;
    policy.setAllowInvalidCertificates(true);
    auto selfSigned = trustFor({pki.selfSigned.certificateDer});
    EXPECT_FALSE(policy.evaluateServerTrust(selfSigned, "127.0.0.1"));
    EXPECT_TRUE(policy.evaluateServerTrust(selfSigned));
    LGLog::flushLog();
    LGLog::removeLogger(lines);
    EXPECT_EQ(lines->lines(),
              std::vector<std::string>{"In order to validate a domain name for self signed "
                                       "certificates, you MUST use pinning."});

    // With names off, an invalid chain passes with a domain too.
    policy.setValidatesDomainName(false);
    EXPECT_TRUE(policy.evaluateServerTrust(selfSigned, "127.0.0.1"));
    // Pinned self-signed certificate, invalid allowed, names checked: the pin decides.
    HCSecurityPolicy pinned;
    pinned.setAllowInvalidCertificates(true);
    pinned.setSSLPinningMode(HCSSLPinningMode::Certificate);
    pinned.setPinnedCertificates(std::vector<Bytes>{pki.selfSigned.certificateDer});
    EXPECT_TRUE(pinned.evaluateServerTrust(selfSigned, "127.0.0.1"));
    auto good = goodChain();
    EXPECT_FALSE(pinned.evaluateServerTrust(good, "127.0.0.1"));
}

TEST(HCSecurityPolicyTest, PinningByPublicKeyAcceptsAnyKeyOfTheChain) {
    const auto& pki = TestCertificates::shared();
    HCSecurityPolicy policy;
    policy.setSSLPinningMode(HCSSLPinningMode::PublicKey);
    policy.setPinnedCertificates(std::vector<Bytes>{pki.intermediate.certificateDer});
    auto good = goodChain();
    EXPECT_TRUE(policy.evaluateServerTrust(good, "127.0.0.1"));
    policy.setPinnedCertificates(std::vector<Bytes>{pki.otherName.certificateDer});
    auto again = goodChain();
    EXPECT_FALSE(policy.evaluateServerTrust(again, "127.0.0.1"));
    // A valid chain is still needed unless invalid ones are allowed.
    policy.setPinnedCertificates(std::vector<Bytes>{pki.selfSigned.certificateDer});
    auto selfSigned = trustFor({pki.selfSigned.certificateDer});
    EXPECT_FALSE(policy.evaluateServerTrust(selfSigned, "127.0.0.1"));
}

TEST(HCSecurityPolicyTest, PinningByCertificateMakesThePinTheOnlyAnchor) {
    const auto& pki = TestCertificates::shared();
    HCSecurityPolicy policy;
    policy.setSSLPinningMode(HCSSLPinningMode::Certificate);
    policy.setPinnedCertificates(std::vector<Bytes>{pki.intermediate.certificateDer});
    auto good = goodChain();
    EXPECT_TRUE(policy.evaluateServerTrust(good, "127.0.0.1"));
    policy.setPinnedCertificates(std::vector<Bytes>{Bytes{1, 2, 3}});
    auto junk = goodChain();
    EXPECT_FALSE(policy.evaluateServerTrust(junk, "127.0.0.1"));
}

// Pins are matched against the chain that verifies, up to its anchor: the root, which the
// server never sends, counts; a pinned certificate merely tacked onto the chain sent does not.
TEST(HCSecurityPolicyTest, PinsMatchTheChainThatVerifies) {
    const auto& pki = TestCertificates::shared();
    struct Case {
        const char* name;
        HCSSLPinningMode mode;
        const Bytes& pinned;
        std::vector<Bytes> chain;
        bool trusted;
    };
    const std::vector<Bytes> sent{pki.localhost.certificateDer, pki.intermediate.certificateDer};
    std::vector<Bytes> tacked = sent;
    tacked.push_back(pki.otherName.certificateDer);
    const Case cases[] = {
        {"root's key", HCSSLPinningMode::PublicKey, pki.ca.certificateDer, sent, true},
        {"root", HCSSLPinningMode::Certificate, pki.ca.certificateDer, sent, true},
        {"tacked key", HCSSLPinningMode::PublicKey, pki.otherName.certificateDer, tacked, false},
        {"tacked", HCSSLPinningMode::Certificate, pki.otherName.certificateDer, tacked, false},
    };
    for (const Case& c : cases) {
        HCSecurityPolicy policy;
        policy.setSSLPinningMode(c.mode);
        policy.setPinnedCertificates(std::vector<Bytes>{c.pinned});
        auto trust = trustFor(c.chain);
        EXPECT_EQ(policy.evaluateServerTrust(trust, "127.0.0.1"), c.trusted) << c.name;
    }
}

TEST(HCSecurityPolicyTest, PinsAreKeptOnceInOrderWithTheirKeys) {
    const auto& pki = TestCertificates::shared();
    HCSecurityPolicy policy;
    policy.setPinnedCertificates(std::vector<Bytes>{pki.intermediate.certificateDer, Bytes{9},
                                                    pki.intermediate.certificateDer,
                                                    pki.ca.certificateDer});
    ASSERT_EQ(policy.pinnedCertificates()->size(), 3u);
    EXPECT_EQ(policy.pinnedCertificates()->front(), pki.intermediate.certificateDer);
    EXPECT_EQ(policy.pinnedPublicKeys().size(), 2u);
}

TEST(HCSecurityPolicyTest, NoCertificatesBesideTheProgramMeansPinningRefusesAll) {
    testing_support::TempDir folder;
    EXPECT_TRUE(HCSecurityPolicy::certificatesInFolder(folder.path()).empty());
    std::ofstream(folder.path() / "b.cer", std::ios::binary) << "second";
    std::ofstream(folder.path() / "a.cer", std::ios::binary) << "first";
    std::ofstream(folder.path() / "c.pem", std::ios::binary) << "other";
    const auto found = HCSecurityPolicy::certificatesInFolder(folder.path());
    ASSERT_EQ(found.size(), 2u);
    EXPECT_EQ(std::string(found[0].begin(), found[0].end()), "first");

    // The test program's folder holds no ".cer": both pinning modes refuse every server.
    for (const auto mode : {HCSSLPinningMode::PublicKey, HCSSLPinningMode::Certificate}) {
        const auto policy = HCSecurityPolicy::policyWithPinningMode(mode);
        EXPECT_TRUE(policy.pinnedCertificates()->empty());
        auto good = goodChain();
        EXPECT_FALSE(policy.evaluateServerTrust(good, "127.0.0.1"));
    }
}

}  // namespace
