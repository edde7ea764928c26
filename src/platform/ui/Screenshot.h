#pragma once

#include <QWidget>
#include <filesystem>

#include "platform/foundation/Result.h"

namespace platform::ui {

// What a person would see of a view, as a PNG, for tests of the screens.
Result<void> saveScreenshot(QWidget& view, const std::filesystem::path& file);

// How far two pictures of the same size are apart: the share of pixels whose channels differ
// by more than the allowance, and the largest difference of any channel.
struct ImageDifference {
    bool sameSize = false;
    double differingShare = 1;
    int largestDelta = 255;
};

// The view as it renders now against a reference PNG.
Result<ImageDifference> compareWithReference(QWidget& view, const std::filesystem::path& reference,
                                             int channelAllowance);

}  // namespace platform::ui
