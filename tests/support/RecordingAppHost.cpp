#include "support/RecordingAppHost.h"

#include <utility>

namespace testing_support {

void RecordingBannerPresenter::finish(std::size_t index) {
    if (auto completion = std::exchange(banners.at(index).completion, nullptr)) {
        completion();
    }
}

void RecordingBannerPresenter::interact(std::size_t index, int interactionType) {
    const auto responders = banners.at(index).banner.interactionResponders;
    for (const auto& responder : responders) {
        if ((responder.interactionType & interactionType) == interactionType && responder.action) {
            responder.action(interactionType);
        }
    }
}

}  // namespace testing_support
