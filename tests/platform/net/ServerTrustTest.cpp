#include <gtest/gtest.h>

#include "platform/net/ServerTrust.h"
#include "support/TestCertificates.h"

namespace platform::net {
namespace {

using testing_support::TestCertificates;

struct TrustCase {
    const char* name;
    std::vector<Bytes> chain;
    TrustPolicy policy;
    bool trusted;
};

TEST(ServerTrustTest, JudgesChainsAgainstTheAnchors) {
    const TestCertificates& pki = TestCertificates::shared();
    const std::vector<Bytes> anchors{pki.ca.certificateDer};
    const TrustCase cases[] = {
        {"leaf and intermediate for its address",
         {pki.localhost.certificateDer, pki.intermediate.certificateDer},
         TrustPolicy::ssl("127.0.0.1"),
         true},
        {"for its DNS name",
         {pki.localhost.certificateDer, pki.intermediate.certificateDer},
         TrustPolicy::ssl("localhost"),
         true},
        {"another name",
         {pki.otherName.certificateDer, pki.intermediate.certificateDer},
         TrustPolicy::ssl("127.0.0.1"),
         false},
        {"another name, basic policy",
         {pki.otherName.certificateDer, pki.intermediate.certificateDer},
         TrustPolicy::basic(),
         true},
        {"expired",
         {pki.expired.certificateDer, pki.intermediate.certificateDer},
         TrustPolicy::ssl("127.0.0.1"),
         false},
        {"self-signed", {pki.selfSigned.certificateDer}, TrustPolicy::ssl("127.0.0.1"), false},
        {"missing intermediate",
         {pki.localhost.certificateDer},
         TrustPolicy::ssl("127.0.0.1"),
         false},
        {"no chain", {}, TrustPolicy::basic(), false},
        {"not a certificate", {Bytes{1, 2, 3}}, TrustPolicy::basic(), false},
    };
    for (const TrustCase& c : cases) {
        ServerTrust trust(c.chain, anchors, c.policy);
        EXPECT_EQ(isTrusted(trust.evaluate()), c.trusted) << c.name;
    }
}

TEST(ServerTrustTest, AnchorsSetByAJudgeEndThePathThere) {
    const TestCertificates& pki = TestCertificates::shared();
    ServerTrust trust({pki.localhost.certificateDer, pki.intermediate.certificateDer}, {},
                      TrustPolicy::ssl("127.0.0.1"));
    EXPECT_FALSE(isTrusted(trust.evaluate()));
    trust.setAnchorCertificates({pki.intermediate.certificateDer});
    EXPECT_TRUE(isTrusted(trust.evaluate()));
    trust.setAnchorCertificates({pki.otherName.certificateDer});
    EXPECT_FALSE(isTrusted(trust.evaluate()));
}

TEST(ServerTrustTest, EvaluationKeepsTheChainItBuiltUpToTheAnchor) {
    const TestCertificates& pki = TestCertificates::shared();
    const std::vector<Bytes> sent{pki.localhost.certificateDer, pki.intermediate.certificateDer};
    ServerTrust trust(sent, {pki.ca.certificateDer}, TrustPolicy::ssl("127.0.0.1"));
    EXPECT_EQ(trust.certificates(), sent);
    ASSERT_TRUE(isTrusted(trust.evaluate()));
    const std::vector<Bytes> built{pki.localhost.certificateDer, pki.intermediate.certificateDer,
                                   pki.ca.certificateDer};
    EXPECT_EQ(trust.certificates(), built);
    EXPECT_EQ(trust.certificateCount(), 3U);
    EXPECT_EQ(trust.presentedCertificates(), sent);
    // An anchor set by a judge ends the path there.
    trust.setAnchorCertificates({pki.intermediate.certificateDer});
    ASSERT_TRUE(isTrusted(trust.evaluate()));
    EXPECT_EQ(trust.certificates(), sent);
}

TEST(ServerTrustTest, PublicKeysAreTheCertificatesOwn) {
    const TestCertificates& pki = TestCertificates::shared();
    const auto leafKey = publicKeyOfCertificate(pki.localhost.certificateDer);
    ASSERT_TRUE(leafKey);
    EXPECT_NE(leafKey, publicKeyOfCertificate(pki.intermediate.certificateDer));
    EXPECT_FALSE(publicKeyOfCertificate(Bytes{0x30, 0x00}));
    EXPECT_TRUE(isCertificate(pki.ca.certificateDer));
    EXPECT_FALSE(isCertificate(Bytes{}));
}

}  // namespace
}  // namespace platform::net
