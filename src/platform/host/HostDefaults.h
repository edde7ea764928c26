#pragma once

#include <string_view>

namespace platform::host_detail {

// One line on standard error, for what a headless host cannot show anyone.
void writeHeadlessLine(std::string_view kind, std::string_view text);

}  // namespace platform::host_detail
