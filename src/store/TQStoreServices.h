#pragma once

#include <memory>

#include "store/TQAppManager.h"
#include "store/TQFeaturedApps.h"
#include "store/TQKavoAppAutoUpdate.h"
#include "store/TQKavoAppSequence.h"

class TQAP;
struct TQHandlers;
namespace platform::net {
class URLLoader;
}

// The store's part of the application: the application manager for the process's life, and
// with each link the message sequence and the download operations that run over it.
class TQStoreServices {
public:
    // The user setting that names the store back end's host (and port).
    static constexpr const char* kBackendHostKey = "kavo.store.backendHost";
    static constexpr const char* kDefaultBackendHost = "hub.kavoapps.com";
    // The host (and port) of the back end's HTTPS side; the plain host when unset.
    static constexpr const char* kSecureBackendHostKey = "kavo.store.secureBackendHost";
    // For tests and the simulated store only: a DER certificate file that becomes the one
    // anchor the store's HTTPS servers are judged against (verification stays on).
    static constexpr const char* kTestAnchorFileKey = "kavo.store.testAnchorFile";

    // loader: the download operations' (the process's when null); borrowed.
    explicit TQStoreServices(platform::net::URLLoader* loader = nullptr);
    ~TQStoreServices();
    TQStoreServices(const TQStoreServices&) = delete;
    TQStoreServices& operator=(const TQStoreServices&) = delete;

    // Fills the store's empty slot with the application manager; takeBack gives back only it.
    void fillHandlers(TQHandlers& handlers);
    void takeBack(TQHandlers& handlers);

    // Operations made from now on go through this link; borrowed until detachLink.
    void attachLink(TQAP& kavoManager);
    // Stops a running operation and forgets the link.
    void detachLink();

    [[nodiscard]] TQAppManager& appManager() { return appManager_; }
    // The home screen's featured row; made on first use from the user settings, and refreshed
    // after every install recorded.
    [[nodiscard]] TQFeaturedApps& featured();
    // Only while a link is attached.
    [[nodiscard]] TQKavoAppSequence* sequence() { return sequence_.get(); }
    [[nodiscard]] TQKavoAppAutoUpdate* updater() { return updater_.get(); }
    // The anchors the test-anchor setting names; empty (the machine's) when unset or unreadable.
    [[nodiscard]] static std::vector<platform::Bytes> storeAnchors();

private:
    platform::net::URLLoader* loader_;
    TQAppManager appManager_;
    std::unique_ptr<TQKavoAppSequence> sequence_;
    std::unique_ptr<TQFeaturedApps> featured_;
    std::unique_ptr<TQKavoAppAutoUpdate> updater_;
};
