// The JSON reader, as it reads the watch's message bodies: anything it accepts writes back out
// and reads again as the same value.

#include "platform/foundation/Json.h"

#include <cstdlib>
#include <string_view>

#include "FuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    namespace json = platform::json;
    const auto parsed = json::parse(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!parsed) {
        return 0;
    }
    (void)parsed->description();
    for (const auto style : {json::Style::Compact, json::Style::Pretty}) {
        const auto written = json::write(*parsed, style);
        if (!written) {
            continue;  // a real too large for JSON's numbers, say
        }
        const auto again = json::parse(*written);
        if (!again || !(*again == *parsed)) {
            std::abort();
        }
    }
    return 0;
}
