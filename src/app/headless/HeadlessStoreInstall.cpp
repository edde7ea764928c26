#include "app/headless/HeadlessStoreInstall.h"

#include <utility>

#include "listener/TQCoreManager.h"
#include "logging/LGLog.h"
#include "store/TQAppManager.h"
#include "store/TQDownloadKavoAppOperation.h"

HeadlessStoreInstall::HeadlessStoreInstall(TQAppManager& appManager,
                                           platform::NotificationCenter& center,
                                           platform::RunLoop& loop, Request request)
    : appManager_(appManager), center_(center), loop_(loop), request_(std::move(request)) {
    if (request_.title.empty()) {
        request_.title = titleFromURL(request_.url);
    }
}

HeadlessStoreInstall::~HeadlessStoreInstall() {
    if (timer_) {
        timer_->invalidate();
    }
    center_.removeObserver(installed_);
    center_.removeObserver(cancelled_);
}

std::string HeadlessStoreInstall::titleFromURL(std::string_view url) {
    url = url.substr(0, url.find_first_of("?#"));
    if (const auto slash = url.rfind('/'); slash != std::string_view::npos) {
        url.remove_prefix(slash + 1);
    }
    if (url.ends_with(".wgt")) {
        url.remove_suffix(4);
    }
    return std::string(url);
}

void HeadlessStoreInstall::start() {
    // The store view hears both while it is shown.
    installed_ = center_.addObserver(TQAppManager::kAppsInstalled,
                                     [this](const platform::Notification& note) {
                                         if (requested_) {
                                             finish(true, note.object.stringValue().value_or(""));
                                         }
                                     });
    cancelled_ = center_.addObserver(TQDownloadKavoAppOperation::kAppsCanceled,
                                     [this](const platform::Notification&) {
                                         if (requested_) {
                                             finish(false, request_.title);
                                         }
                                     });
    timer_ = loop_.scheduleTimer(kPollInterval, true, [this] { poll(); });
    poll();
}

void HeadlessStoreInstall::poll() {
    if (requested_ || !TQCoreManager::isWMSConnected()) {
        return;
    }
    requested_ = true;
    timer_->invalidate();
    LG_INFO("Headless store: installing %@ from %@", request_.title, request_.url);
    // The user named this URL: it may be plain HTTP.
    appManager_.performDownload(request_.url, request_.title, request_.title + ".wgt",
                                request_.appID, TQPackageDownload::Source::user);
}

void HeadlessStoreInstall::finish(bool installed, const std::string& what) {
    if (finished_) {
        return;
    }
    finished_ = true;
    succeeded_ = installed;
    if (installed) {
        LG_INFO("Headless store: installed %@", what);
    } else {
        LG_WARN("Headless store: the install of %@ did not complete", what);
    }
}
