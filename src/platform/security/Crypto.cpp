#include "platform/security/Crypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>

#include <climits>
#include <memory>

namespace platform::crypto {

namespace {

struct ContextDeleter {
    void operator()(EVP_CIPHER_CTX* context) const { EVP_CIPHER_CTX_free(context); }
};
using Context = std::unique_ptr<EVP_CIPHER_CTX, ContextDeleter>;

std::optional<Bytes> run(Operation operation, std::span<const std::uint8_t> key16,
                         std::span<const std::uint8_t> iv16, std::span<const std::uint8_t> input) {
    const Context context(EVP_CIPHER_CTX_new());
    if (!context) {
        return std::nullopt;
    }
    const int encrypt = operation == Operation::Encrypt ? 1 : 0;
    if (EVP_CipherInit_ex(context.get(), EVP_aes_128_cbc(), nullptr, key16.data(), iv16.data(),
                          encrypt) != 1) {
        return std::nullopt;
    }
    // Padding adds at most one block; decryption never grows.
    Bytes output(input.size() + kAesBlockSize);
    int updated = 0;
    if (EVP_CipherUpdate(context.get(), output.data(), &updated, input.data(),
                         static_cast<int>(input.size())) != 1) {
        return std::nullopt;
    }
    int finished = 0;
    if (EVP_CipherFinal_ex(context.get(), output.data() + updated, &finished) != 1) {
        return std::nullopt;
    }
    output.resize(static_cast<std::size_t>(updated) + static_cast<std::size_t>(finished));
    return output;
}

}  // namespace

std::optional<Bytes> aes128Cbc(Operation operation, std::span<const std::uint8_t> key16,
                               std::span<const std::uint8_t> iv16,
                               std::span<const std::uint8_t> input) {
    // The cipher counts in int; anything near that size is not a message this program sends.
    if (key16.size() != kAes128KeySize || iv16.size() != kAesBlockSize ||
        input.size() > static_cast<std::size_t>(INT_MAX) - kAesBlockSize) {
        return std::nullopt;
    }
    auto output = run(operation, key16, iv16, input);
    if (!output) {
        // A failure leaves entries on this thread's error queue; they must not be blamed on
        // whichever unrelated call looks at the queue next.
        ERR_clear_error();
    }
    return output;
}

std::array<std::uint8_t, kMd5DigestSize> md5(std::span<const std::uint8_t> input) {
    std::array<std::uint8_t, kMd5DigestSize> digest{};
    unsigned int length = 0;
    // The one-shot digest cannot fail for MD5 short of an allocation failure, which the
    // zeroed digest then stands for.
    if (EVP_Digest(input.data(), input.size(), digest.data(), &length, EVP_md5(), nullptr) != 1) {
        ERR_clear_error();
        digest.fill(0);
    }
    return digest;
}

std::array<std::uint8_t, kSha1DigestSize> sha1(std::span<const std::uint8_t> input) {
    std::array<std::uint8_t, kSha1DigestSize> digest{};
    unsigned int length = 0;
    if (EVP_Digest(input.data(), input.size(), digest.data(), &length, EVP_sha1(), nullptr) != 1) {
        ERR_clear_error();
        digest.fill(0);
    }
    return digest;
}

}  // namespace platform::crypto
