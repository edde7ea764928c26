// The property-list reader: a file in the preferences may have been written by anyone. Only
// the reader is under test here; the writer has tests of its own.

#include <string_view>

#include "FuzzSupport.h"
#include "platform/foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed =
        platform::plist::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (parsed) {
        (void)parsed->description();
    }
    return 0;
}
