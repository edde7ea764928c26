// The inflate of every link message: a zlib or gzip stream of the watch's choosing. Whatever
// inflates deflates and inflates back to itself.

#include <cstdlib>
#include <variant>

#include "FuzzSupport.h"
#include "utils/DataCompression.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span input(data, size);
    const auto inflated = compression::inflateLinkMessage(input);
    const auto* bytes = std::get_if<platform::Bytes>(&inflated);
    if (compression::dataInflate(input).has_value() != (bytes != nullptr)) {
        std::abort();
    }
    if (bytes == nullptr) {
        return 0;
    }
    const auto deflated = compression::dataDeflate(*bytes);
    if (!deflated) {
        std::abort();
    }
    const auto back = compression::dataInflate(*deflated);
    if (!back || *back != *bytes) {
        std::abort();
    }
    return 0;
}
