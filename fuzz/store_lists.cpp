// The watch's application and face lists as the store reads them, whatever the watch sent:
// every entry is read, one of one item included, and what an install writes reads again with
// the new entry in it and its texts intact; its uninstall takes it out again.

#include <cstdlib>
#include <string>
#include <string_view>
#include <system_error>

#include "FuzzSupport.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/NotificationCenter.h"
#include "store/TQAppManager.h"
#include "utils/TQUtils.h"

namespace {

namespace fs = std::filesystem;

constexpr const char* kModel = "M";
constexpr const char* kPackage = "fuzz.pkg";
constexpr const char* kName = "Fuzz <&> \"app\"";

void check(bool holds) {
    if (!holds) {
        std::abort();
    }
}

bool listed(const std::vector<TQUninstallObject>& objects, bool ignoringCase) {
    for (const auto& object : objects) {
        std::string name = object.packageName;
        if (ignoringCase) {
            for (char& c : name) {
                c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            }
        }
        if (name == kPackage) {
            return true;
        }
    }
    return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 1) {
        return 0;
    }
    const bool faces = (data[0] & 1) != 0;
    fuzz::World world;
    const fs::path home = fuzz::scratchFolder() / "store";
    std::error_code ec;
    fs::remove_all(home, ec);
    platform::Container container(home);
    platform::ScopedInstall<const platform::Container> installContainer(&container);
    platform::NotificationCenter center;
    platform::ScopedInstall<platform::NotificationCenter> installCenter(&center);
    TQUtils::setPreferenceByGroup(TQUtils::kGroupKavoInfo,
                                  platform::Dictionary{{"kavoModelNumber", kModel}});
    const std::string_view list(reinterpret_cast<const char*>(data + 1), size - 1);
    const char* file = faces ? TQAppManager::kClockListFile : TQAppManager::kAppListFile;
    check(platform::fs::writeFileAtomically(container.documents() / kModel / file, list).ok());

    TQAppManager manager;
    const auto read = [&] { return faces ? manager.clockItems() : manager.appItems(); };
    const auto before = TQAppManager::uninstallObjects(read());
    (void)manager.filteredAppItemsUsingPredicate(true);
    (void)manager.filteredClockItemsWithUsingPredicate(true);

    const platform::Value record{{"appname", kName}, {"packagename", kPackage},
                                 {"version", "1.0"}, {"classname", "C"}};
    faces ? manager.installClockWithDict(record) : manager.installAppWithDict(record);
    const auto after = TQAppManager::uninstallObjects(read());
    if (listed(before, true)) {
        return 0;
    }
    check(after.size() == before.size() + 1);
    check(after.back().packageName == kPackage && after.back().name == kName);
    faces ? manager.uninstallClockWithPackageName(kPackage)
          : manager.uninstallAppWithPackageName(kPackage);
    const auto removed = TQAppManager::uninstallObjects(read());
    check(removed.size() == before.size() && !listed(removed, false));
    return 0;
}
