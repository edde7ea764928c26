#include "ui/TQActivityBarView.h"

#include "logging/LGFormat.h"
#include "logging/LGLog.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/TextMetrics.h"
#include "store/TQActivityBar.h"
#include "utils/TQLocalization.h"

using platform::ui::Color;

TQActivityBarView::TQActivityBarView()
    : progressLabel_(new platform::ui::Label(this)),
      progressBar_(new platform::ui::ProgressBar(this)),
      cancelButton_(new platform::ui::Button(this)) {
    setName("activityBar");
    setBackgroundColor(Color{0.16, 0.17, 0.19, 0.96});
    progressLabel_->setName("progressLabel");
    progressLabel_->setFontSize(13);
    progressLabel_->setTextColor(Color{1, 1, 1, 1});
    progressLabel_->setNumberOfLines(1);
    progressBar_->setName("progressBar");
    progressBar_->setTrackColor(Color{1, 1, 1, 0.25});
    progressBar_->setProgressColor(Color{1, 0.5, 0, 1});
    cancelButton_->setName("cancelButton");
    cancelButton_->setTitle("\u2715");
    cancelButton_->setTitleColor(Color{1, 1, 1, 1});
    cancelButton_->setFont("", 15);
    cancelButton_->onAction([this] { cancelButtonTouched(); });
    awakeFromNib();
}

void TQActivityBarView::awakeFromNib() {
    const double s = platform::ui::Screen::main().scaleFactor();
    downloadTextLeft.constant = 58 * s;
    downloadTextRight.constant = 58 * s;
    cancelButtonWidth.constant = 24 * s;
    cancelButtonHeight.constant = 24 * s;
    cancelButtonRight.constant = 18 * s;
    layoutSubviews();
}

void TQActivityBarView::layoutSubviews() {
    const double w = width();
    const double textWidth = std::max(0.0, w - downloadTextLeft.constant - downloadTextRight.constant);
    progressLabel_->setFrame({downloadTextLeft.constant, 6, textWidth, 20});
    progressBar_->setFrame({downloadTextLeft.constant, 30, textWidth, 4});
    cancelButton_->setFrame({w - cancelButtonRight.constant - cancelButtonWidth.constant,
                             (kHeight - cancelButtonHeight.constant) / 2, cancelButtonWidth.constant,
                             cancelButtonHeight.constant});
}

void TQActivityBarView::updateProgress(float progress, std::string_view appName,
                                       std::int32_t type) {
    progressType_ = type;
    const float percentage = progress * 100.0F;
    std::string text;
    if (type == 2) {
        text = lg::format(TQLocalization::localizedString("WDS_WMGR_HEADER_INSTALLING_P1SS__P2SDP_ABB"),
                          appName, double{percentage});
    } else if (type == 1) {
        text = lg::format(
            TQLocalization::localizedString("WDS_WMGR_HEADER_DOWNLOADING_P1SS__P2SDP_ABB"), appName,
            double{percentage});
    }
    progressLabel_->setText(text);
    progressBar_->setProgress(progress, false);
}

void TQActivityBarView::cancelButtonTouched() {
    LG_VERBOSE("%s", "-[TQActivityBarView cancelButtonTouched:]");
    platform::NotificationCenter::defaultCenter().post(TQActivityBar::kCancel);
}
