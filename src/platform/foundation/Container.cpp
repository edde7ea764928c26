#include "platform/foundation/Container.h"

#include <cstdlib>
#include <system_error>

#include "platform/foundation/FileSystem.h"

namespace platform {

namespace {

std::filesystem::path environmentRoot() {
    if (const char* home = std::getenv("KAVO_HOME"); home != nullptr && *home != '\0') {
        return home;
    }
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && *data != '\0') {
        return std::filesystem::path(data) / "kavomanager";
    }
    const char* home = std::getenv("HOME");
    const std::filesystem::path base = home != nullptr && *home != '\0' ? home : "/tmp";
    return base / ".local" / "share" / "kavomanager";
}

}  // namespace

Container::Container(std::filesystem::path root) : root_(std::move(root)) {}

Container Container::fromEnvironment() {
    return Container(environmentRoot());
}

const Container& Container::current() {
    return installedOr([]() -> const Container& {
        static const Container fromEnvironmentOnce = fromEnvironment();
        return fromEnvironmentOnce;
    });
}

Result<void> Container::createFolders() const {
    std::error_code ec;
    for (const auto& folder : {documents(), preferences(), caches(), keychain()}) {
        std::filesystem::create_directories(folder, ec);
        if (ec) {
            return Error{fs::kErrorDomain, ec.value(),
                         "cannot create " + folder.string() + ": " + ec.message()};
        }
    }
    std::filesystem::permissions(keychain(), std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::replace, ec);
    if (ec) {
        return Error{fs::kErrorDomain, ec.value(),
                     "cannot restrict " + keychain().string() + ": " + ec.message()};
    }
    return {};
}

}  // namespace platform
