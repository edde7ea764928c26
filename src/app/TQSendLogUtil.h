#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>

#include "http/HCURLSessionManager.h"
#include "listener/handlers/TQUsageLogHandler.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/WeakPtr.h"

namespace platform::net {
class URLLoader;
}

// The usage logs: a launch or a connection by the user becomes a small JSON record, enciphered,
// kept in the database (TQDBLog) until the feedback server took it, and POSTed gzip-coded over
// HTTPS within the daily budget the server hands out. Records that could not go are kept (at
// most 20) and up to five are sent again after the next success. Every upload remembers the
// row it sends, and only that row is deleted after it; a row on its way is never sent twice.
// One session manager serves every upload. Runs on the main loop.
class TQSendLogUtil final : public TQUsageLogHandler {
public:
    // The user setting that holds the feedback server's HTTPS origin.
    static constexpr const char* kFeedbackAddressKey = "kavo.feedback.address";
    static constexpr const char* kDefaultFeedbackAddress = "https://feedback.quorvel.com";
    static constexpr const char* kUploadPath = "/feedback/kmgr/v1.0/";
    // The upload key's seed; the feedback server derives the same key.
    static constexpr const char* kKeySeed = "KvMg";
    static constexpr double kTimeout = 30;
    static constexpr double kWindow = 86400;
    static constexpr int kMaxStored = 20;
    static constexpr int kResendRun = 5;

    struct Environment {
        platform::RunLoop& loop;
        platform::UserDefaults& defaults;
        // Seconds since 1970.
        std::function<double()> now;
        // The feedback server's origin, e.g. "https://feedback.quorvel.com".
        std::string origin;
        // The session's configuration (trust anchors); the default when none.
        std::optional<platform::net::URLSessionConfiguration> configuration = std::nullopt;
        platform::net::URLLoader* loader = nullptr;
    };

    explicit TQSendLogUtil(Environment environment);
    ~TQSendLogUtil() override;
    TQSendLogUtil(const TQSendLogUtil&) = delete;
    TQSendLogUtil& operator=(const TQSendLogUtil&) = delete;

    void generateJSONForAppLaunch();
    void generateJSONForConnByUsr() override;
    void generateJSONForFailedLog();

    // The record's compact JSON ("appln" for a non-zero type, else "connbyusr").
    [[nodiscard]] std::optional<std::string> generateJSONWithType(int type) const;
    // The phone model's name for a machine identifier.
    [[nodiscard]] static std::string getDeviceName(std::string_view machine);
    // 16 characters of 0-9, A-Z and a-z, the same for the same seed.
    [[nodiscard]] static std::string getHash(std::string_view seed);
    // Lower-case hexadecimal of AES-128-CBC of text, with key as key and IV.
    [[nodiscard]] static std::optional<std::string> encipheredHex(std::string_view text,
                                                                  std::string_view key);

    // Uploads on their way, all on the one session manager.
    [[nodiscard]] std::size_t uploadsInFlight() const { return inFlight_.size(); }
    [[nodiscard]] HCURLSessionManager& sessionManager();

private:
    struct Upload {
        std::uint32_t row = 0;
        std::string body;
        std::string recordIdentifier;
        bool stored = false;  // a record resent, not a new one
    };

    void sendJSONLogWithType(int type, const std::string& key);
    void sendJSONFailedLogWithType(const std::string& key);
    // Opens a new window or charges cost to the open one; absentStampIsZero for resends.
    void chargeBudget(float cost, bool absentStampIsZero);
    // Whether the budget lets a record go.
    [[nodiscard]] bool budgetAllows() const;
    void giveBack(float cost);
    void post(Upload upload);
    void succeeded(const Upload& upload, const HCResponseObject& answer);
    void failed(const Upload& upload, const HCError& error);
    void takeQuota(const HCResponseObject& answer);
    // The oldest stored row not on its way.
    [[nodiscard]] std::optional<std::pair<std::uint32_t, std::string>> oldestWaiting() const;
    [[nodiscard]] int waitingCount() const;
    void deleteOldestWaiting();
    void deleteRow(std::uint32_t row);
    void logCount();

    platform::RunLoop& loop_;
    platform::UserDefaults& defaults_;
    std::function<double()> now_;
    std::string origin_;
    // Made at the first upload, so that no network thread starts before the program is ready
    // for threads (its signal mask set).
    std::optional<platform::net::URLSessionConfiguration> configuration_;
    platform::net::URLLoader* loader_;
    std::unique_ptr<HCURLSessionManager> session_;
    std::set<std::uint32_t> inFlight_;
    int sentFailedLogCount_ = 0;
    bool startSendingFailedLog_ = false;
    double initialPayload_ = 0;
    platform::WeakPtrFactory<TQSendLogUtil> weak_{*this, loop_};
};
