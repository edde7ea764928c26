#include "platform/security/FileKeychain.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/foundation/FileSystem.h"
#include "platform/foundation/PropertyList.h"

namespace platform {

namespace {

constexpr mode_t kFolderMode = 0700;
// Far above a handful of short secrets, far below what would hurt to read.
constexpr std::size_t kMaxStoreBytes = std::size_t{4} << 20;

Error keychainError(long code, std::string message) {
    return Error{kKeychainErrorDomain, code, std::move(message)};
}

Error corrupt(const std::filesystem::path& file, std::string_view why) {
    return keychainError(
        EBADMSG, "the keychain store " + file.string() + " is corrupt: " + std::string(why));
}

// The folder exists and nobody but the owner may enter it.
Result<void> secureFolder(const std::filesystem::path& folder) {
    if (::mkdir(folder.c_str(), kFolderMode) != 0 && errno != EEXIST) {
        if (errno == ENOENT) {
            std::error_code ec;
            std::filesystem::create_directories(folder.parent_path(), ec);
            if (!ec && ::mkdir(folder.c_str(), kFolderMode) == 0) {
                return {};
            }
        }
        return keychainError(errno, "cannot create the keychain folder " + folder.string() + ": " +
                                        std::strerror(errno));
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        return keychainError(ENOTDIR,
                             "the keychain folder " + folder.string() + " is not a folder");
    }
    if ((info.st_mode & 0077) != 0 && ::chmod(folder.c_str(), kFolderMode) != 0) {
        return keychainError(errno, "cannot make the keychain folder " + folder.string() +
                                        " owner-only: " + std::strerror(errno));
    }
    return {};
}

// Every item: service -> account -> value. A missing file is an empty store.
Result<Dictionary> load(const std::filesystem::path& file) {
    std::error_code ec;
    if (!std::filesystem::exists(file, ec) && !ec) {
        return Dictionary{};
    }
    auto text = fs::readFile(file, kMaxStoreBytes);
    if (!text) {
        return keychainError(text.error().code,
                             "cannot read the keychain store: " + text.error().message);
    }
    auto parsed = plist::parse(*text);
    if (!parsed) {
        return corrupt(file, parsed.error().message);
    }
    const Dictionary* services = parsed->dictionaryIf();
    if (services == nullptr) {
        return corrupt(file, "not a dictionary");
    }
    for (const auto& [service, accounts] : *services) {
        const Dictionary* items = accounts.dictionaryIf();
        if (items == nullptr) {
            return corrupt(file, "service \"" + service + "\" is not a dictionary");
        }
        for (const auto& [account, value] : *items) {
            if (!value.isBytes()) {
                return corrupt(file, "item \"" + account + "\" holds no data");
            }
        }
    }
    return *services;
}

Result<void> save(const std::filesystem::path& folder, const std::filesystem::path& file,
                  const Dictionary& services) {
    if (auto secured = secureFolder(folder); !secured) {
        return secured;
    }
    auto text = plist::write(Value(services));
    if (!text) {
        return keychainError(EINVAL, "cannot encode the keychain: " + text.error().message);
    }
    // The temporary file is made owner-only (mkstemp) before any byte is written.
    if (auto written = fs::writeFileAtomically(file, *text); !written) {
        return keychainError(written.error().code, written.error().message);
    }
    return {};
}

}  // namespace

FileKeychain::FileKeychain(std::filesystem::path folder) : folder_(std::move(folder)) {}

Result<std::optional<std::string>> FileKeychain::find(std::string_view service,
                                                      std::string_view account) {
    std::lock_guard lock(mutex_);
    auto services = load(file());
    if (!services) {
        return services.error();
    }
    const Value* items = services->find(service);
    const Value* value = items != nullptr ? items->find(account) : nullptr;
    if (value == nullptr) {
        return std::optional<std::string>{};
    }
    const Bytes& bytes = *value->bytesIf();
    return std::optional<std::string>(std::string(bytes.begin(), bytes.end()));
}

Result<void> FileKeychain::store(std::string_view service, std::string_view account,
                                 std::string_view value) {
    std::lock_guard lock(mutex_);
    auto services = load(file());
    if (!services) {
        return services.error();
    }
    Value& items = (*services)[service];
    items[account] = Value(Bytes(value.begin(), value.end()));
    return save(folder_, file(), *services);
}

Result<bool> FileKeychain::remove(std::string_view service, std::string_view account) {
    std::lock_guard lock(mutex_);
    auto services = load(file());
    if (!services) {
        return services.error();
    }
    Value* items = services->find(service);
    if (items == nullptr || !items->mutableDictionary()->remove(account)) {
        return false;
    }
    if (items->size() == 0) {
        services->remove(service);
    }
    if (auto saved = save(folder_, file(), *services); !saved) {
        return saved.error();
    }
    return true;
}

Result<bool> FileKeychain::removeAll(std::string_view service) {
    std::lock_guard lock(mutex_);
    auto services = load(file());
    if (!services) {
        return services.error();
    }
    if (!services->remove(service)) {
        return false;
    }
    if (auto saved = save(folder_, file(), *services); !saved) {
        return saved.error();
    }
    return true;
}

std::string FileKeychain::describe() const {
    return "file store in " + folder_.string();
}

}  // namespace platform
