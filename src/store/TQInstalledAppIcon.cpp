#include "store/TQInstalledAppIcon.h"

#include <system_error>
#include <utility>

#include "listener/TQWatchAppIcons.h"
#include "logging/LGLog.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/Dispatch.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/RunLoop.h"
#include "platform/image/Canvas.h"
#include "platform/image/ImageSource.h"
#include "store/TQAppManager.h"
#include "utils/TQUtils.h"

namespace fs = std::filesystem;

namespace {

constexpr const char* kExtractFolder = "Extract";

// The package's icon as PNG; nothing for a file or a picture larger than an icon may be.
std::optional<platform::Bytes> pngOf(const fs::path& icon) {
    const auto file = platform::fs::readFile(icon, TQWatchAppIcons::kMaxIconBytes);
    if (!file.ok()) {
        return std::nullopt;
    }
    const std::string& bytes = file.value();
    platform::image::DecodeLimits limits;
    limits.maxPixelsPerFrame = TQWatchAppIcons::kMaxIconPixels;
    const auto source = platform::image::ImageSource::create(
        std::span<const std::uint8_t>(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                      bytes.size()),
        platform::image::Completeness::whole, limits);
    if (!source.ok() || source.value().count() == 0) {
        return std::nullopt;
    }
    auto encoded = platform::image::encodePNG(source.value().frame(0));
    if (!encoded.ok()) {
        return std::nullopt;
    }
    return std::move(encoded).value();
}

}  // namespace

struct TQInstalledAppIcon::State {
    std::string modelNumber;
    std::string folder;
    bool started = false;
    bool extracting = false;
    bool discarded = false;
    std::optional<fs::path> icon;
    std::function<void()> then;

    void removeFolder() const {
        if (folder.empty()) {
            return;
        }
        std::error_code error;
        fs::remove_all(
            platform::Container::current().documents() / modelNumber / kExtractFolder / folder,
            error);
    }
};

TQInstalledAppIcon::TQInstalledAppIcon(Lines lines)
    : lines_(lines), state_(std::make_shared<State>()) {}

TQInstalledAppIcon::~TQInstalledAppIcon() {
    discard();
}

bool TQInstalledAppIcon::started() const {
    return state_->started;
}

void TQInstalledAppIcon::unpack(const fs::path& package, std::optional<std::string> modelNumber,
                                std::string folder) {
    if (state_->started) {
        return;
    }
    state_->started = true;
    if (!modelNumber || !TQUtils::isSafePathComponent(*modelNumber) ||
        !TQUtils::isSafePathComponent(folder)) {
        LG_VERBOSE(lines_.iconFilePath, std::string("(null)"));
        return;
    }
    state_->modelNumber = std::move(*modelNumber);
    state_->folder = std::move(folder);
    state_->extracting = true;
    platform::DispatchQueue::global().async(
        [state = state_, package, line = lines_.iconFilePath]() mutable {
            auto icon = TQUtils::getWgtIconFilePath(package, state->modelNumber, state->folder);
            LG_VERBOSE(line, icon ? icon->string() : std::string("(null)"));
            platform::RunLoop::main().post([state = std::move(state), icon = std::move(icon)] {
                state->extracting = false;
                state->icon = icon;
                if (state->discarded) {
                    state->removeFolder();
                } else if (auto then = std::exchange(state->then, nullptr)) {
                    then();
                }
            });
        });
}

void TQInstalledAppIcon::whenUnpacked(std::function<void()> then) {
    if (state_->extracting) {
        state_->then = std::move(then);
    } else {
        then();
    }
}

void TQInstalledAppIcon::save(const std::string& packageName) {
    const State& state = *state_;
    if (!state.icon) {
        LG_VERBOSE(lines_.iconPathNil);
    } else if (auto png = pngOf(*state.icon); png && TQUtils::isSafePathComponent(packageName)) {
        const auto written =
            TQWatchAppIcons::writeIcon(platform::Container::current().documents() /
                                           state.modelNumber / TQAppManager::kAppIconsFolder,
                                       packageName, *png);
        if (written.folderError) {
            LG_VERBOSE(lines_.createDirectoryError, *written.folderError);
        }
        if (written.saved) {
            LG_VERBOSE(lines_.saved, written.path.string());
        } else {
            LG_VERBOSE(lines_.saveFailed);
        }
    } else {
        LG_VERBOSE(lines_.saveFailed);
    }
    discard();
    LG_VERBOSE(lines_.folderRemoved);
}

void TQInstalledAppIcon::discard() {
    state_->then = nullptr;
    state_->discarded = true;
    if (!state_->extracting) {
        state_->removeFolder();
    }
}
