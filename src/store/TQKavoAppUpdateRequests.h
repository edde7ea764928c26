#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Value.h"
#include "store/TQStoreDevice.h"

// One update the download-URL answer offers; a value the answer left out is absent.
struct TQUpdateEntry {
    std::optional<std::string> downloadURI;
    std::optional<std::string> appId;
    std::optional<std::string> productName;
    std::optional<std::string> appFileName;

    friend bool operator==(const TQUpdateEntry&, const TQUpdateEntry&) = default;
};

// The automatic update's two exchanges with the store back end, as values: the parameters of
// the update check and of the download-URL request (built from the watch's installed list and
// guarded by a salted hash the server recomputes), and what their XML answers mean. No state.
class TQKavoAppUpdateRequests {
public:
    TQKavoAppUpdateRequests() = delete;

    static constexpr const char* kUpdateCheckPath = "/stub/kavoAppUpdateCheck.as";
    static constexpr const char* kDownloadPath = "/stub/kavoAppDownload.as";
    static constexpr std::string_view kSalt = "HOLBRIMACENTY";
    // What an installed entry without a version is taken for.
    static constexpr const char* kMissingVersion = "0.0.0";

    // The watch's installed applications ("wapplist.xml"): the "item" entries, each a
    // dictionary of element texts. One entry is a list of one; a missing or broken text none.
    [[nodiscard]] static platform::Array installedList(std::string_view wapplistXml);

    [[nodiscard]] static platform::Dictionary getCommonRequestParams(const TQStoreDevice& device);
    // Package name to "preload" (the entry has a "PreLoad" field, whatever its text) or
    // "postload". Entries without a package name are skipped.
    [[nodiscard]] static platform::Dictionary buildApplistDictOnType(const platform::Array& installed);
    [[nodiscard]] static platform::Dictionary buildCheckUpdateParameter(
        const platform::Array& installed, const TQStoreDevice& device);
    // From the update check's "appInfo" elements: those with result code 2.
    [[nodiscard]] static platform::Dictionary buildDownloadAppParameter(
        const platform::Array& appInfo, const platform::Dictionary& preloadMap,
        const TQStoreDevice& device);

    // Accepts a result code of 0 (an absent or non-numeric one counts 0).
    [[nodiscard]] static bool validateResponseResultCode(const platform::Dictionary& response);
    // The answer's "appInfo" as a list; a single element is a list of one.
    [[nodiscard]] static platform::Array appInfoList(const platform::Dictionary& response);
    // One entry per element of the download-URL answer with result code 1, in order.
    [[nodiscard]] static std::vector<TQUpdateEntry> updateEntries(
        const platform::Dictionary& response);
    // The last path component of the URI naming a ".wgt" or ".npk", cleaned.
    [[nodiscard]] static std::optional<std::string> fileNameFromURI(std::string_view uri);

    // Base64 of SHA-1 over the text and the salt.
    [[nodiscard]] static std::string createHashValueForAppInfo(std::string_view text);
    // Base64 of SHA-1 over the text alone.
    [[nodiscard]] static std::string createHashValue(std::string_view text);
    [[nodiscard]] static std::string sha1AsString(std::string_view text);
    [[nodiscard]] static std::string md5AsString(std::string_view text);
    // "1.0.12" is "00100000012", "2.3" is "002003"; parts beyond the third are ignored and a
    // part longer than its width is kept whole.
    [[nodiscard]] static std::optional<std::string> changeWGTVersionFormat(
        const std::optional<std::string>& version);
    [[nodiscard]] static std::optional<std::string> prependZero(
        const std::optional<std::string>& text, std::size_t maxLength);
};
