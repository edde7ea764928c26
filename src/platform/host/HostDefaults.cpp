#include "platform/host/HostDefaults.h"

#include <cstdio>
#include <string>

namespace platform::host_detail {

void writeHeadlessLine(std::string_view kind, std::string_view text) {
    std::string line = "kavomanager: ";
    line.append(kind).append(": ").append(text).append("\n");
    // One call per line, so lines from several threads do not interleave.
    std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace platform::host_detail
