#include "link/support/LinkWorld.h"

namespace link_test {

LinkWorld::LinkWorld(std::uint64_t seed, const LinkConditions& conditions)
    : defaults_(folder_.path() / "defaults.plist"),
      previousDefaults_(platform::UserDefaults::install(&defaults_)),
      link_(seed, conditions) {}

LinkWorld::~LinkWorld() {
    platform::UserDefaults::install(previousDefaults_);
}

bool LinkWorld::runUntil(const std::function<bool()>& done, double limit, double step) {
    const double end = loop_.now() + limit;
    while (!done() && loop_.now() < end) {
        loop_.advance(step);
    }
    return done();
}

}  // namespace link_test
