#include "screens/support/PairingAir.h"

#include <QApplication>

#include "link/TQPeripheral.h"

namespace screens_test {

namespace {

kavowatch::WatchConfig configFor(const platform::bluetooth::Uuid& identifier,
                                 const std::string& name, std::uint8_t hiddenCondition = 0) {
    kavowatch::WatchConfig config;
    config.identifier = identifier;
    config.advertising.name = name;
    config.advertising.hiddenCondition = hiddenCondition;
    return config;
}

kavowatch::WatchState stateFor(const std::string& name, const std::string& address) {
    kavowatch::WatchState state;
    state.identity.modelName = name;
    state.identity.btMacAddress = address;
    return state;
}

}  // namespace

PairingAir::PairingAir(ScreenDriver& screens)
    : driver(screens),
      first(driver.loop, kavowatch::simulatedRadios(air), configFor(kFirstWatch, kFirstName)),
      second(driver.loop, kavowatch::simulatedRadios(air), configFor(kSecondWatch, kSecondName, 0x01)),
      stranger(driver.loop, kavowatch::simulatedRadios(air),
               configFor(kStranger, kStrangerName)),
      firstResponder(first, stateFor(kFirstName, "A0:B1:C2:D3:1A:2B")),
      secondResponder(second, stateFor(kSecondName, "A0:B1:C2:D3:3C:4D")),
      roles([this]() -> std::optional<TQPairingLink> {
          if (!ap) {
              return std::nullopt;
          }
          return TQPairingLink{.kavoManager = *ap,
                               .sequence = *sequence,
                               .handlers = handlers,
                               .appManager = appManager};
      }) {
    TQPeripheral::setWillRestore(false);
    manager = std::make_unique<TQBleManager>(phone);
    ap = std::make_unique<TQAP>(*manager, driver.loop, driver.defaults);
    sequence = std::make_unique<TQInitSequence>(*ap, handlers);
    handlers.initSequence = sequence.get();
    handlers.store = &appManager;
    core = TQCoreManager::create(*ap, handlers);
    core->setup();
    driver.services.pairing = &roles;
    driver.coreManager = core.get();
}

PairingAir::~PairingAir() {
    // The pages that stay in the window find no link from now on.
    driver.services.pairing = nullptr;
    driver.coreManager = nullptr;
    if (sequence->delegate() != nullptr && sequence->delegate() != core.get()) {
        sequence->setDelegate(nullptr);
    }
    core.reset();
    sequence.reset();
    ap.reset();
    manager.reset();
    TQPeripheral::setWillRestore(false);
}

void PairingAir::settleLink() {
    driver.advance(TQPeripheral::kAddServiceRetryDelay + 0.2);
}

void PairingAir::powerOn(kavowatch::Watch& device) {
    if (!device.isOn()) {
        device.powerOn();
    }
    device.advertise(1);
    const int rssi = &device == &first ? kFirstRssi : &device == &second ? kSecondRssi
                                                                          : kStrangerRssi;
    air.setRssi(device.identifier(), rssi);
}

void PairingAir::powerOnAll() {
    for (kavowatch::Watch* device : {&first, &second, &stranger}) {
        powerOn(*device);
    }
}

bool PairingAir::runUntil(const std::function<bool()>& done, double seconds) {
    constexpr double kStep = 0.05;
    for (double waited = 0; waited < seconds; waited += kStep) {
        if (done()) {
            return true;
        }
        driver.advance(kStep);
    }
    return done();
}

void PairingAir::setPhoneBluetooth(bool on) {
    if (on) {
        air.powerOn(kPhone);
    } else {
        air.powerOff(kPhone);
    }
    driver.advance(0.2);
}

std::vector<std::string> PairingAir::requests(const kavowatch::Watch& watch) {
    std::vector<std::string> names;
    for (const auto& message : watch.messages().all()) {
        if (message.appId == 1 && !message.msgId.empty()) {
            names.push_back(message.msgId);
        }
    }
    return names;
}

}  // namespace screens_test
