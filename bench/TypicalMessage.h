#pragma once

#include <string>

#include "platform/foundation/Value.h"

namespace bench {

// About 1 KB of JSON once pretty-printed: the size of a typical settings or application-list
// message, the yardstick of the per-message benchmarks.
inline platform::Value typicalMessage() {
    using platform::Value;
    Value apps = platform::Array();
    for (int i = 0; i < 6; ++i) {
        apps.mutableArray()->push_back(
            Value{{"packageName", "com.kavo.watch.app" + std::to_string(i)},
                  {"version", "1.0." + std::to_string(i)},
                  {"size", 102400 + i},
                  {"preloaded", i % 2 == 0}});
    }
    return Value{{"msgId", "mgr_sync_init_setting_req"},
                 {"timezone", "Europe/Berlin"},
                 {"dateformat", "dd/MM/yyyy"},
                 {"date1224", "24"},
                 {"datetime", "1765368000000"},
                 {"autotimesync", 1},
                 {"locale", "en_GB"},
                 {"gmt", 3600000},
                 {"apps", apps}};
}

}  // namespace bench
