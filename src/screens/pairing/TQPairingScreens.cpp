#include "screens/pairing/TQPairingScreens.h"

#include <memory>

#include "screens/pairing/TQConnectingKavoViewController.h"
#include "screens/pairing/TQDeviceListViewController.h"
#include "screens/pairing/TQDeviceTableViewController.h"
#include "ui/TQStoryboard.h"

void registerPairingScreens(TQStoryboard& storyboard, const TQScreenServices& services) {
    const TQScreenServices* shared = &services;
    storyboard.registerScene(TQScene{
        "setupView", TQDeviceListViewController::kClassName,
        [shared] { return std::make_unique<TQDeviceListViewController>(*shared); }});
    storyboard.registerScene(TQScene{
        "deviceTablePageid", TQDeviceTableViewController::kClassName,
        [shared] { return std::make_unique<TQDeviceTableViewController>(*shared); }});
    storyboard.registerScene(TQScene{
        TQConnectingKavoViewController::kClassName, TQConnectingKavoViewController::kClassName,
        [shared] { return std::make_unique<TQConnectingKavoViewController>(*shared); }});
}
