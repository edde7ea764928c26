#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "http/HCHTTPSessionManager.h"
#include "listener/handlers/TQAppIconHandler.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/WeakPtr.h"

class TQAP;

// The icon of a phone application, for the watch: the store's lookup service is asked for
// the application's "artworkUrl60", that image is fetched and the watch gets it in Base64. Both
// fetches run on the HTTP client with a bounded time-out; the link never waits for them, and
// the watch is answered once they end. An icon that cannot be had goes as "icon" null.
class TQAppIconLookup final : public TQAppIconHandler {
public:
    // The user setting that holds the lookup service's base address.
    static constexpr const char* kLookupAddressKey = "kavo.store.lookupAddress";
    static constexpr const char* kDefaultLookupAddress = "https://apps.quorvel.com";
    static constexpr double kTimeout = 15;

    // Completions run on loop, the main one. loader: the process's when null.
    TQAppIconLookup(TQAP& kavoManager, platform::RunLoop& loop, std::string_view baseAddress,
                    platform::net::URLLoader* loader = nullptr);
    ~TQAppIconLookup() override;
    TQAppIconLookup(const TQAppIconLookup&) = delete;
    TQAppIconLookup& operator=(const TQAppIconLookup&) = delete;

    void processAppIcon(const platform::Value& message) override;

    // Lookups and downloads still running.
    [[nodiscard]] std::size_t pending() const { return pending_; }
    // Base64 in lines of 64 characters separated by CR LF.
    [[nodiscard]] static std::string encodeIcon(std::span<const std::uint8_t> data);
    // The first result's "artworkUrl60" of a lookup answer; nothing when it has none.
    [[nodiscard]] static std::optional<std::string> artworkAddress(const platform::Value& body);

private:
    void lookedUp(const platform::Value& bundleId, const std::optional<std::string>& artwork);
    void answer(const platform::Value& bundleId, const platform::Value& icon);

    TQAP& kavoManager_;
    platform::RunLoop& loop_;
    std::unique_ptr<HCHTTPSessionManager> client_;
    std::size_t pending_ = 0;
    platform::WeakPtrFactory<TQAppIconLookup> weak_{*this, loop_};
};
