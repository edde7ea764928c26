#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Value.h"
#include "platform/ui/Navigation.h"
#include "screens/TQScreenServices.h"

namespace platform::ui {
class Button;
class TableView;
class TextView;
}  // namespace platform::ui

// A plain scan-and-connect list: every peripheral the link reports, by name, and a scan
// button. It leaves the link's delegate role with the core manager and follows the link
// through its notifications; once a tapped device is connected it goes home ("homeSegue").
class TQScanScreenViewController final : public platform::ui::Page {
public:
    static constexpr const char* kClassName = "TQScanScreenViewController";
    // The row of a device that gave no name.
    static constexpr const char* kUnknownDevice = "Unknown Device";
    static constexpr double kRowHeight = 44;
    // How long the scan button stays selected after a tap.
    static constexpr double kDeselectDelay = 0.1;

    explicit TQScanScreenViewController(const TQScreenServices& services);
    ~TQScanScreenViewController() override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void viewDidAppear(bool animated) override;
    void viewDidDisappear(bool animated) override;
    void layoutSubviews() override;
    void prepareForSegue(std::string_view identifier, platform::ui::Page& destination) override;

    // The rows: each discovered peripheral as the link reported it ({"identifier", "name"}).
    [[nodiscard]] const platform::Array& kavos() const { return kavos_; }

private:
    void onScanButtonTouchDown();
    void onScanButtonClick();
    void onDiscoverDevices(const platform::Notification& notification);
    void onConnectDevice();
    void onError(const platform::Notification& notification);
    void stopObserving();
    void reloadList();
    void didSelectRow(std::size_t row);

    TQScreenServices services_;
    platform::Array kavos_;
    // The name of the device the user tapped, the home page's title.
    std::string deviceName_;
    platform::ui::TextView* txtView_ = nullptr;
    platform::ui::Button* scanButton_ = nullptr;
    platform::ui::TableView* kavoListTable_ = nullptr;
};
