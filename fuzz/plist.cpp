// The property-list readers: a file in the preferences may have been written by anyone, and a
// server's answer too, in the XML or the binary form. Only the readers are under test here;
// the writers have tests of their own.

#include <span>

#include "FuzzSupport.h"
#include "platform/foundation/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto parsed = platform::plist::parse(std::span<const std::uint8_t>(data, size));
    if (parsed) {
        (void)parsed->description();
    }
    return 0;
}
