// Buffers and files in gzip, zlib or raw deflate form. The first byte picks the form and
// whether the rest goes through a file.

#include <cstdlib>
#include <fstream>

#include "FuzzSupport.h"
#include "utils/DataGZip.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const std::span input(data + 1, size - 1);
    if ((data[0] & 0x80) != 0) {
        const auto source = fuzz::scratchFolder() / "input.gz";
        const auto destination = fuzz::scratchFolder() / "output";
        {
            std::ofstream file(source, std::ios::binary | std::ios::trunc);
            file.write(reinterpret_cast<const char*>(input.data()),
                       static_cast<std::streamsize>(input.size()));
        }
        (void)gzip::decompressFile(source, destination);
        std::error_code ec;
        std::filesystem::remove(source, ec);
        std::filesystem::remove(destination, ec);
        return 0;
    }
    constexpr int kWindowBits[] = {31, 15, -15, 47};
    const int windowBits = kWindowBits[data[0] & 0x03];
    const auto inflated = gzip::decompress(input, windowBits);
    if (!inflated) {
        return 0;
    }
    const auto deflated = gzip::compress(*inflated, -1, windowBits == 47 ? 31 : windowBits);
    if (!deflated) {
        std::abort();
    }
    const auto back = gzip::decompress(*deflated, windowBits);
    if (!back || *back != *inflated) {
        std::abort();
    }
    return 0;
}
