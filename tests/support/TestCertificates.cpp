#include "support/TestCertificates.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <stdexcept>

namespace testing_support {

namespace {

using KeyPtr = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;
using CertPtr = std::unique_ptr<X509, decltype(&X509_free)>;

KeyPtr makeKey() {
    KeyPtr key(EVP_EC_gen("P-256"), EVP_PKEY_free);
    if (!key) {
        throw std::runtime_error("test certificates: no key");
    }
    return key;
}

void addExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (extension == nullptr) {
        throw std::runtime_error("test certificates: bad extension");
    }
    X509_add_ext(certificate, extension, -1);
    X509_EXTENSION_free(extension);
}

struct Made {
    CertPtr certificate{nullptr, X509_free};
    KeyPtr key{nullptr, EVP_PKEY_free};
};

struct Spec {
    const char* commonName;
    const char* subjectAltName = nullptr;  // null: none
    bool authority = false;
    long notBeforeDays = -1;
    long notAfterDays = 365;
};

Made issue(const Spec& spec, const Made* issuer) {
    static long serial = 1;
    Made made;
    made.key = makeKey();
    made.certificate.reset(X509_new());
    X509* certificate = made.certificate.get();
    X509_set_version(certificate, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++);
    X509_gmtime_adj(X509_getm_notBefore(certificate), spec.notBeforeDays * 86400);
    X509_gmtime_adj(X509_getm_notAfter(certificate), spec.notAfterDays * 86400);
    X509_set_pubkey(certificate, made.key.get());
    X509_NAME* name = X509_get_subject_name(certificate);
    X509_NAME_add_entry_by_txt(name, "O", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("Kavo test"), -1, -1, 0);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(spec.commonName), -1, -1, 0);
    X509* issuerCertificate = issuer ? issuer->certificate.get() : certificate;
    X509_set_issuer_name(certificate, X509_get_subject_name(issuerCertificate));
    if (spec.authority) {
        addExtension(certificate, issuerCertificate, NID_basic_constraints, "critical,CA:TRUE");
        addExtension(certificate, issuerCertificate, NID_key_usage, "critical,keyCertSign,cRLSign");
    } else {
        addExtension(certificate, issuerCertificate, NID_basic_constraints, "critical,CA:FALSE");
        addExtension(certificate, issuerCertificate, NID_ext_key_usage, "serverAuth");
    }
    addExtension(certificate, issuerCertificate, NID_subject_key_identifier, "hash");
    if (spec.subjectAltName != nullptr) {
        addExtension(certificate, issuerCertificate, NID_subject_alt_name, spec.subjectAltName);
    }
    EVP_PKEY* signer = issuer ? issuer->key.get() : made.key.get();
    if (X509_sign(certificate, signer, EVP_sha256()) == 0) {
        throw std::runtime_error("test certificates: cannot sign");
    }
    return made;
}

TestIdentity identityOf(const Made& made) {
    TestIdentity identity;
    const int length = i2d_X509(made.certificate.get(), nullptr);
    identity.certificateDer.resize(static_cast<std::size_t>(length));
    unsigned char* cursor = identity.certificateDer.data();
    i2d_X509(made.certificate.get(), &cursor);

    std::unique_ptr<BIO, decltype(&BIO_free)> certificatePem(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_X509(certificatePem.get(), made.certificate.get());
    char* data = nullptr;
    long size = BIO_get_mem_data(certificatePem.get(), &data);
    identity.certificatePem.assign(data, static_cast<std::size_t>(size));

    std::unique_ptr<BIO, decltype(&BIO_free)> keyPem(BIO_new(BIO_s_mem()), BIO_free);
    PEM_write_bio_PrivateKey(keyPem.get(), made.key.get(), nullptr, nullptr, 0, nullptr, nullptr);
    size = BIO_get_mem_data(keyPem.get(), &data);
    identity.privateKeyPem.assign(data, static_cast<std::size_t>(size));
    return identity;
}

}  // namespace

const TestCertificates& TestCertificates::shared() {
    static const TestCertificates made = [] {
        TestCertificates out;
        const Made ca = issue({"Kavo Test Root CA", nullptr, true, -1, 3650}, nullptr);
        const Made intermediate = issue({"Kavo Test Intermediate", nullptr, true, -1, 3650}, &ca);
        const Made localhost = issue({"127.0.0.1", "IP:127.0.0.1,DNS:localhost"}, &intermediate);
        const Made otherName = issue({"other.test", "DNS:other.test"}, &intermediate);
        const Made expired =
            issue({"127.0.0.1", "IP:127.0.0.1,DNS:localhost", false, -30, -1}, &intermediate);
        const Made selfSigned = issue({"127.0.0.1", "IP:127.0.0.1,DNS:localhost"}, nullptr);
        out.ca = identityOf(ca);
        out.intermediate = identityOf(intermediate);
        out.localhost = identityOf(localhost);
        out.otherName = identityOf(otherName);
        out.expired = identityOf(expired);
        out.selfSigned = identityOf(selfSigned);
        return out;
    }();
    return made;
}

}  // namespace testing_support
