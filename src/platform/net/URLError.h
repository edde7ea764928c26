#pragma once

#include <string>

namespace platform::net {

// The URL-loading error domain and the codes callers read, with the phone platform's numbers.
inline constexpr const char* kURLErrorDomain = "NSURLErrorDomain";

namespace urlerror {
inline constexpr long cancelled = -999;
inline constexpr long badURL = -1000;
inline constexpr long timedOut = -1001;
inline constexpr long unsupportedURL = -1002;
inline constexpr long cannotFindHost = -1003;
inline constexpr long cannotConnectToHost = -1004;
inline constexpr long networkConnectionLost = -1005;
inline constexpr long httpTooManyRedirects = -1007;
inline constexpr long badServerResponse = -1011;
inline constexpr long cannotDecodeRawData = -1015;
inline constexpr long cannotDecodeContentData = -1016;
inline constexpr long cannotParseResponse = -1017;
inline constexpr long requestBodyStreamExhausted = -1021;
inline constexpr long fileDoesNotExist = -1100;
inline constexpr long dataLengthExceedsMaximum = -1103;
inline constexpr long secureConnectionFailed = -1200;
inline constexpr long serverCertificateUntrusted = -1202;
inline constexpr long cannotLoadFromNetwork = -2000;
inline constexpr long cannotCreateFile = -3000;
inline constexpr long cannotOpenFile = -3001;
inline constexpr long cannotWriteToFile = -3003;
inline constexpr long cannotMoveFile = -3005;
inline constexpr long unknown = -1;
}  // namespace urlerror

// A failed transfer: the code, a text for logs and the URL it failed on.
struct URLError {
    std::string domain = kURLErrorDomain;
    long code = urlerror::unknown;
    std::string message;
    std::string failingURL;

    friend bool operator==(const URLError&, const URLError&) = default;
};

// The code for one of libcurl's results (its CURLcode as a number). A refusal of the server's
// certificate by our own judge is told apart from other TLS failures by trustRefused.
long urlErrorCodeForCurlResult(int curlResult, bool trustRefused);

}  // namespace platform::net
