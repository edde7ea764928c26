#include "platform/net/ServerTrust.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <memory>

#include "platform/net/CertificateDer.h"

namespace platform::net {

namespace {

struct X509Deleter {
    void operator()(X509* certificate) const { X509_free(certificate); }
};
using X509Ptr = std::unique_ptr<X509, X509Deleter>;

struct StoreDeleter {
    void operator()(X509_STORE* store) const { X509_STORE_free(store); }
};
struct StoreCtxDeleter {
    void operator()(X509_STORE_CTX* context) const { X509_STORE_CTX_free(context); }
};
struct StackDeleter {
    void operator()(STACK_OF(X509) * stack) const { sk_X509_pop_free(stack, X509_free); }
};

X509Ptr fromDer(const Bytes& der) {
    const unsigned char* cursor = der.data();
    X509Ptr certificate(d2i_X509(nullptr, &cursor, static_cast<long>(der.size())));
    // Trailing bytes mean the data is something else that starts like a certificate.
    if (certificate && cursor != der.data() + der.size()) {
        return nullptr;
    }
    return certificate;
}

bool isIpAddress(const std::string& host) {
    ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str());
    if (address == nullptr) {
        ERR_clear_error();
        return false;
    }
    ASN1_OCTET_STRING_free(address);
    return true;
}

TrustResult resultFor(int verifyError) {
    switch (verifyError) {
        case X509_V_OK:
            return TrustResult::proceed;
        case X509_V_ERR_CERT_REVOKED:
            return TrustResult::fatalTrustFailure;
        default:
            return TrustResult::recoverableTrustFailure;
    }
}

}  // namespace

Bytes derOfCertificate(X509* certificate) {
    const int length = i2d_X509(certificate, nullptr);
    if (length <= 0) {
        return {};
    }
    Bytes der(static_cast<std::size_t>(length));
    unsigned char* cursor = der.data();
    i2d_X509(certificate, &cursor);
    return der;
}

bool isCertificate(const Bytes& der) {
    return !der.empty() && fromDer(der) != nullptr;
}

std::optional<Bytes> publicKeyOfCertificate(const Bytes& der) {
    const X509Ptr certificate = fromDer(der);
    if (!certificate) {
        return std::nullopt;
    }
    EVP_PKEY* key = X509_get0_pubkey(certificate.get());
    if (key == nullptr) {
        ERR_clear_error();
        return std::nullopt;
    }
    const int length = i2d_PUBKEY(key, nullptr);
    if (length <= 0) {
        return std::nullopt;
    }
    Bytes out(static_cast<std::size_t>(length));
    unsigned char* cursor = out.data();
    i2d_PUBKEY(key, &cursor);
    return out;
}

ServerTrust::ServerTrust(std::vector<Bytes> chain, std::vector<Bytes> systemAnchors,
                         TrustPolicy policy)
    : chain_(std::move(chain)), anchors_(std::move(systemAnchors)), policy_(std::move(policy)) {}

void ServerTrust::setAnchorCertificates(std::vector<Bytes> anchors) {
    anchors_ = std::move(anchors);
    systemAnchors_ = false;
}

std::optional<Bytes> ServerTrust::publicKey() const {
    if (chain_.empty()) {
        return std::nullopt;
    }
    return publicKeyOfCertificate(chain_.front());
}

TrustResult ServerTrust::evaluate() {
    evaluated_.clear();
    if (chain_.empty()) {
        return TrustResult::otherError;
    }
    const X509Ptr leaf = fromDer(chain_.front());
    if (!leaf) {
        return TrustResult::otherError;
    }
    std::unique_ptr<X509_STORE, StoreDeleter> store(X509_STORE_new());
    std::unique_ptr<STACK_OF(X509), StackDeleter> untrusted(sk_X509_new_null());
    std::unique_ptr<X509_STORE_CTX, StoreCtxDeleter> context(X509_STORE_CTX_new());
    if (!store || !untrusted || !context) {
        return TrustResult::otherError;
    }
    for (const Bytes& anchor : anchors_) {
        if (const X509Ptr certificate = fromDer(anchor)) {
            X509_STORE_add_cert(store.get(), certificate.get());
        }
    }
    for (std::size_t i = 1; i < chain_.size(); ++i) {
        if (X509Ptr certificate = fromDer(chain_[i])) {
            sk_X509_push(untrusted.get(), certificate.release());
        }
    }
    if (X509_STORE_CTX_init(context.get(), store.get(), leaf.get(), untrusted.get()) != 1) {
        ERR_clear_error();
        return TrustResult::otherError;
    }
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    // An anchor set by the judge ends the path there even when it is not self-signed (a
    // pinned intermediate), as the platform's anchors do.
    if (!systemAnchors_) {
        X509_VERIFY_PARAM_set_flags(parameters, X509_V_FLAG_PARTIAL_CHAIN);
    }
    if (policy_.kind == TrustPolicy::Kind::sslServer) {
        X509_VERIFY_PARAM_set_purpose(parameters, X509_PURPOSE_SSL_SERVER);
        if (policy_.host && !policy_.host->empty()) {
            const bool named =
                isIpAddress(*policy_.host)
                    ? X509_VERIFY_PARAM_set1_ip_asc(parameters, policy_.host->c_str()) == 1
                    : X509_VERIFY_PARAM_set1_host(parameters, policy_.host->c_str(),
                                                  policy_.host->size()) == 1;
            if (!named) {
                return TrustResult::otherError;
            }
        }
    }
    const int verified = X509_verify_cert(context.get());
    const int error = X509_STORE_CTX_get_error(context.get());
    // What verification built, up to the anchor; a failed one keeps what it got to.
    if (const std::unique_ptr<STACK_OF(X509), StackDeleter> built(
            X509_STORE_CTX_get1_chain(context.get()));
        built) {
        for (int i = 0; i < sk_X509_num(built.get()); ++i) {
            evaluated_.push_back(derOfCertificate(sk_X509_value(built.get(), i)));
        }
    }
    ERR_clear_error();
    return verified == 1 ? TrustResult::proceed : resultFor(error == X509_V_OK ? -1 : error);
}

const std::vector<Bytes>& systemAnchorCertificates() {
    static const std::vector<Bytes> anchors = [] {
        std::vector<Bytes> out;
        FILE* file = std::fopen(X509_get_default_cert_file(), "r");
        if (file == nullptr) {
            return out;
        }
        while (X509* certificate = PEM_read_X509(file, nullptr, nullptr, nullptr)) {
            if (Bytes der = derOfCertificate(certificate); !der.empty()) {
                out.push_back(std::move(der));
            }
            X509_free(certificate);
        }
        ERR_clear_error();
        std::fclose(file);
        return out;
    }();
    return anchors;
}

}  // namespace platform::net
