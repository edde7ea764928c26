#pragma once

#include <memory>
#include <optional>

#include "platform/bluetooth/Uuid.h"
#include "platform/ui/Navigation.h"
#include "screens/TQScreenServices.h"
#include "screens/pairing/TQPairingRoles.h"

class TQPageAlert;

// The connecting page: connects one watch picked from the pairing list and waits under an
// animated picture until the watch's initial settings are synchronised, then goes home
// ("mainViewSegue") for the known watch or to the consent page ("termSegue"). Cancel unwinds
// to the scan list ("unwindToDeviceList") and drops the link; a link that drops by itself is
// offered again.
class TQConnectingKavoViewController final : public platform::ui::Page, private TQPairingEvents {
public:
    static constexpr const char* kClassName = "TQConnectingKavoViewController";
    static constexpr double kAnimationSide = 40;

    explicit TQConnectingKavoViewController(const TQScreenServices& services);

    // The watch to connect, by its identifier; set by whoever opens the page. Without one the
    // page connects the first watch the pairing pages kept.
    void setSelectedKavo(const platform::bluetooth::Uuid& identifier) { selectedKavo_ = identifier; }
    bool perform(std::string_view operation, const platform::Value& argument) override;

    void viewDidLoad() override;
    void viewWillAppear(bool animated) override;
    void layoutSubviews() override;

    void cancelAction();

private:
    // TQPairingEvents
    void onConnectDevice() override;
    void onDisconnectDevice() override;
    void onError(const TQError& error) override;
    void onSyncInitSettingRes(bool isReconnecting) override;

    void connectSelected();

    const TQScreenServices& services_;
    std::optional<platform::bluetooth::Uuid> selectedKavo_;
    std::shared_ptr<TQPageAlert> connectionFailedPopUp_;
    platform::ui::View* topView_ = nullptr;
    platform::ui::ImageView* loadingImage_ = nullptr;
    platform::ui::Label* connectingLabel_ = nullptr;
    platform::ui::Button* cancelButton_ = nullptr;
};
