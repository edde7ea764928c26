#include "sim/store/StoreCertificate.h"

#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

namespace kavostore {

namespace {

template <typename T, void (*Free)(T*)>
using Owned = std::unique_ptr<T, decltype([](T* p) { Free(p); })>;

std::string pemOf(int (*write)(BIO*, void*), void* object) {
    Owned<BIO, BIO_free_all> bio(BIO_new(BIO_s_mem()));
    if (!bio || write(bio.get(), object) != 1) {
        return {};
    }
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<std::size_t>(size));
}

bool addExtension(X509* certificate, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, certificate, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    const bool ok = extension != nullptr && X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return ok;
}

}  // namespace

platform::Result<StoreCertificate> makeStoreCertificate() {
    const auto failed = [] { return platform::Error{"kavostore", 3, "cannot make a certificate"}; };
    Owned<EVP_PKEY, EVP_PKEY_free> key(EVP_EC_gen("P-256"));
    Owned<X509, X509_free> certificate(X509_new());
    if (!key || !certificate) {
        return failed();
    }
    X509* cert = certificate.get();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 24 * 3600);
    X509_set_pubkey(cert, key.get());
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("kavostore"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    if (!addExtension(cert, NID_basic_constraints, "critical,CA:TRUE") ||
        !addExtension(cert, NID_subject_alt_name, "IP:127.0.0.1,DNS:localhost") ||
        X509_sign(cert, key.get(), EVP_sha256()) <= 0) {
        return failed();
    }
    StoreCertificate made;
    made.identity.certificatePem = pemOf(
        [](BIO* bio, void* object) { return PEM_write_bio_X509(bio, static_cast<X509*>(object)); },
        cert);
    made.identity.privateKeyPem = pemOf(
        [](BIO* bio, void* object) {
            return PEM_write_bio_PrivateKey(bio, static_cast<EVP_PKEY*>(object), nullptr, nullptr,
                                            0, nullptr, nullptr);
        },
        key.get());
    const int size = i2d_X509(cert, nullptr);
    if (size <= 0 || made.identity.certificatePem.empty() || made.identity.privateKeyPem.empty()) {
        return failed();
    }
    made.certificateDer.resize(static_cast<std::size_t>(size));
    unsigned char* out = made.certificateDer.data();
    i2d_X509(cert, &out);
    return made;
}

}  // namespace kavostore
