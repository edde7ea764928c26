#include "platform/ui/web/WebView.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <utility>

namespace platform::ui::web {

bool loadsScheme(std::string_view url) {
    const std::size_t colon = url.find(':');
    if (colon == std::string_view::npos || colon == 0) {
        return false;
    }
    std::string scheme(url.substr(0, colon));
    std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static constexpr std::array<std::string_view, 6> kLoaded = {"http", "https", "file",
                                                                "data", "about", "blob"};
    return std::find(kLoaded.begin(), kLoaded.end(), scheme) != kLoaded.end();
}

UnavailableWebViewFactory::UnavailableWebViewFactory(std::string reason)
    : error_{kErrorDomain, kUnavailable, std::move(reason)} {}

}  // namespace platform::ui::web
