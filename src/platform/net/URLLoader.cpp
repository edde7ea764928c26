#include "platform/net/URLLoader.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <unordered_map>

#include "platform/foundation/LogSink.h"
#include "platform/net/CertificateDer.h"
#include "platform/net/URL.h"

namespace platform::net {

namespace {

constexpr std::size_t kMaxHeldRedirectBody = std::size_t{1} << 20;
constexpr long kReceiveBufferSize = 256 * 1024;
// Finished easy handles kept per connection group for the group's next transfers.
constexpr std::size_t kIdleHandlesPerGroup = 8;

bool isRedirectStatus(int status) {
    return status == 301 || status == 302 || status == 303 || status == 307 || status == 308;
}

std::filesystem::path freshFileIn(const std::filesystem::path& folder) {
    static thread_local std::mt19937_64 random{std::random_device{}()};
    char name[64];
    std::snprintf(name, sizeof name, "download-%016llx.tmp",
                  static_cast<unsigned long long>(random()));
    return folder / name;
}

// Once per process, before any handle: a libcurl built with several TLS backends is asked
// for OpenSSL, the only one that runs our verification callback.
struct CurlGlobal {
    CurlGlobal() {
        curl_global_sslset(CURLSSLBACKEND_OPENSSL, nullptr, nullptr);
        curl_global_init(CURL_GLOBAL_DEFAULT);
    }
};

void initialiseCurl() {
    static CurlGlobal global;
}

}  // namespace

TlsBackend TlsBackend::ofLibcurl() {
    initialiseCurl();
    const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
    TlsBackend backend;
    if (info != nullptr && info->ssl_version != nullptr) {
        // Backends built in but not chosen follow in parentheses.
        const std::string_view text(info->ssl_version);
        const std::string_view chosen = text.substr(0, text.find(' '));
        if (!chosen.starts_with('(')) {
            backend.name = chosen;
        }
    }
    return backend;
}

std::optional<std::string> TlsBackend::unavailableReason() const {
    if (name.empty()) {
        return "URL loading is unavailable: libcurl has no TLS backend";
    }
    if (!name.starts_with("OpenSSL/")) {
        return "URL loading is unavailable: libcurl's TLS backend " + name +
               " does not run the server-trust judge (only OpenSSL does)";
    }
    return std::nullopt;
}

bool TransferClient::judgeServerTrust(ServerTrust& trust, const std::string& host) {
    trust.setPolicy(TrustPolicy::ssl(host));
    return isTrusted(trust.evaluate());
}

void TransferClient::willRedirect(const URLResponse& /*response*/, URLRequest proposed,
                                  std::function<void(std::optional<URLRequest>)> decide) {
    decide(std::move(proposed));
}

// ---- the network thread's state ----

struct URLLoader::Engine {
    struct Transfer {
        TransferId id = 0;
        URLRequest request;
        TransferOptions options;
        std::shared_ptr<TransferClient> client;
        CURL* easy = nullptr;
        curl_slist* headerList = nullptr;
        std::string host;

        // Request body.
        std::unique_ptr<BodyStream> stream;
        std::ifstream file;
        std::size_t bodyOffset = 0;
        std::int64_t uploadTotal = -1;
        std::int64_t uploadReported = 0;
        std::int64_t bodyRead = 0;
        bool bodyFailed = false;
        // Pauses: the owner's (both ways) and the body's own wait before its next bytes.
        bool pausedByOwner = false;
        bool bodyHeld = false;
        std::weak_ptr<Channel> channel;

        // Response.
        URLResponse response;
        bool statusSeen = false;
        bool holdingRedirect = false;
        Bytes heldBody;
        std::FILE* download = nullptr;
        std::filesystem::path downloadPath;
        std::int64_t written = 0;
        // The whole body's length when known: what a resumed download already had counts.
        std::int64_t expectedTotal = -1;
        bool writeFailed = false;
        bool resumeRefused = false;

        bool trustRefused = false;
        bool awaitingRedirect = false;
        int redirects = 0;
    };

    CURLM* multi = nullptr;
    std::unordered_map<TransferId, std::unique_ptr<Transfer>> transfers;
    std::map<std::uint64_t, CURLSH*> groups;
    std::map<std::uint64_t, std::vector<CURL*>> idleHandles;
    std::vector<std::uint64_t> releasedGroups;
    std::atomic<std::size_t>* active = nullptr;
    std::shared_ptr<Channel> channel;

    TlsBackend tls;
    std::optional<std::string> unavailable;

    Engine(std::shared_ptr<Channel> owner, TlsBackend backend)
        : multi(static_cast<CURLM*>(owner->multi_)),
          channel(std::move(owner)),
          tls(std::move(backend)),
          unavailable(tls.unavailableReason()) {}
    ~Engine() {
        for (auto& [id, transfer] : transfers) {
            detach(*transfer);
        }
        for (auto& [group, handles] : idleHandles) {
            std::for_each(handles.begin(), handles.end(), curl_easy_cleanup);
        }
        for (auto& [id, share] : groups) {
            curl_share_cleanup(share);
        }
    }

    CURLSH* share(std::uint64_t group) {
        auto found = groups.find(group);
        if (found != groups.end()) {
            return found->second;
        }
        CURLSH* made = curl_share_init();
        curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_CONNECT);
        curl_share_setopt(made, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS);
        groups.emplace(group, made);
        return made;
    }

    void releaseGroup(std::uint64_t group) {
        releasedGroups.push_back(group);
        collectGroups();
    }

    // A share can only go once no handle uses it.
    void collectGroups() {
        std::erase_if(releasedGroups, [&](std::uint64_t group) {
            const bool used = std::any_of(
                transfers.begin(), transfers.end(),
                [&](const auto& entry) { return entry.second->options.connectionGroup == group; });
            if (used) {
                return false;
            }
            if (auto idle = idleHandles.find(group); idle != idleHandles.end()) {
                std::for_each(idle->second.begin(), idle->second.end(), curl_easy_cleanup);
                idleHandles.erase(idle);
            }
            if (auto found = groups.find(group); found != groups.end()) {
                curl_share_cleanup(found->second);
                groups.erase(found);
            }
            return true;
        });
    }

    // ---- libcurl callbacks ----

    static std::size_t onHeader(char* data, std::size_t size, std::size_t count, void* context) {
        auto& transfer = *static_cast<Transfer*>(context);
        const std::size_t length = size * count;
        std::string_view line(data, length);
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) {
            line.remove_suffix(1);
        }
        if (line.rfind("HTTP/", 0) == 0) {
            transfer.response = URLResponse{};
            transfer.statusSeen = true;
            const auto space = line.find(' ');
            if (space != std::string_view::npos) {
                transfer.response.statusCode =
                    std::atoi(std::string(line.substr(space + 1, 3)).c_str());
            }
            return length;
        }
        if (!line.empty()) {
            const auto colon = line.find(':');
            if (colon != std::string_view::npos) {
                std::string_view value = line.substr(colon + 1);
                while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
                    value.remove_prefix(1);
                }
                transfer.response.headers.add(line.substr(0, colon), value);
            }
            return length;
        }
        // The blank line: the header block is complete. An interim 1xx block is not the answer.
        if (transfer.response.statusCode >= 100 && transfer.response.statusCode < 200) {
            return length;
        }
        transfer.response.url = transfer.request.url;
        deriveContentFields(transfer.response);
        if (transfer.options.resumeFile && transfer.download != nullptr &&
            !isRedirectStatus(transfer.response.statusCode) && !acceptResumedAnswer(transfer)) {
            transfer.resumeRefused = true;
            return 0;
        }
        const std::int64_t announced = transfer.response.expectedContentLength;
        transfer.expectedTotal = announced < 0 ? -1 : transfer.written + announced;
        if (isRedirectStatus(transfer.response.statusCode) &&
            transfer.response.headers.contains("Location")) {
            transfer.holdingRedirect = true;
            return length;
        }
        transfer.client->didReceiveResponse(transfer.response);
        return length;
    }

    static std::size_t onBody(char* data, std::size_t size, std::size_t count, void* context) {
        auto& transfer = *static_cast<Transfer*>(context);
        const std::size_t length = size * count;
        const std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(data),
                                                  length);
        if (transfer.holdingRedirect) {
            const std::size_t room =
                kMaxHeldRedirectBody - std::min(kMaxHeldRedirectBody, transfer.heldBody.size());
            transfer.heldBody.insert(transfer.heldBody.end(), bytes.begin(),
                                     bytes.begin() + static_cast<long>(std::min(room, length)));
            return length;
        }
        deliverBody(transfer, bytes);
        return transfer.writeFailed ? 0 : length;
    }

    static void deliverBody(Transfer& transfer, std::span<const std::uint8_t> bytes) {
        if (!transfer.options.downloadFolder) {
            transfer.client->didReceiveData(bytes);
            return;
        }
        if (transfer.download == nullptr ||
            std::fwrite(bytes.data(), 1, bytes.size(), transfer.download) != bytes.size()) {
            transfer.writeFailed = true;
            return;
        }
        transfer.written += static_cast<std::int64_t>(bytes.size());
        transfer.client->didWriteData(static_cast<std::int64_t>(bytes.size()), transfer.written,
                                      transfer.expectedTotal);
    }

    // A resumed download's answer: the rest from where the file ends, or the whole body anew.
    static bool acceptResumedAnswer(Transfer& transfer) {
        if (transfer.response.statusCode == 200) {
            std::fclose(transfer.download);
            transfer.download = std::fopen(transfer.downloadPath.c_str(), "wb");
            transfer.written = 0;
            return transfer.download != nullptr;
        }
        if (transfer.response.statusCode != 206) {
            return false;
        }
        // "bytes <first>-<last>/<length>"
        const std::string range = transfer.response.headers.get("Content-Range").value_or("");
        long long first = -1;
        char unit[8] = {};
        return std::sscanf(range.c_str(), "%7s %lld-", unit, &first) == 2 &&
               std::string_view(unit) == "bytes" && first == transfer.written;
    }

    static std::size_t onRead(char* buffer, std::size_t size, std::size_t count, void* context) {
        auto& transfer = *static_cast<Transfer*>(context);
        if (transfer.stream && !transfer.bodyHeld &&
            !transfer.stream->readyToRead(bodyReady(transfer))) {
            transfer.bodyHeld = true;
            return CURL_READFUNC_PAUSE;
        }
        const std::size_t given = readBody(transfer, buffer, size * count);
        if (given != CURL_READFUNC_ABORT) {
            transfer.bodyRead += static_cast<std::int64_t>(given);
        }
        return given;
    }

    // What a held body calls when its next bytes may go; the transfer may have ended by then.
    static std::function<void()> bodyReady(const Transfer& transfer) {
        return [weak = transfer.channel, id = transfer.id] {
            if (const auto channel = weak.lock()) {
                channel->post([id](Engine& engine) { engine.releaseBody(id); });
            }
        };
    }

    static std::size_t readBody(Transfer& transfer, char* buffer, std::size_t room) {
        const URLRequest& request = transfer.request;
        if (request.body) {
            const std::size_t n = std::min(room, request.body->size() - transfer.bodyOffset);
            std::memcpy(buffer, request.body->data() + transfer.bodyOffset, n);
            transfer.bodyOffset += n;
            return n;
        }
        if (transfer.file.is_open()) {
            transfer.file.read(buffer, static_cast<std::streamsize>(room));
            if (transfer.file.bad()) {
                transfer.bodyFailed = true;
                return CURL_READFUNC_ABORT;
            }
            return static_cast<std::size_t>(transfer.file.gcount());
        }
        if (transfer.stream) {
            auto read = transfer.stream->read(
                std::span<std::uint8_t>(reinterpret_cast<std::uint8_t*>(buffer), room));
            if (!read) {
                transfer.bodyFailed = true;
                return CURL_READFUNC_ABORT;
            }
            return *read;
        }
        return 0;
    }

    static int onProgress(void* context, curl_off_t /*dltotal*/, curl_off_t /*dlnow*/,
                          curl_off_t /*ultotal*/, curl_off_t ulnow) {
        auto& transfer = *static_cast<Transfer*>(context);
        // Body bytes, not wire bytes: a chunked body's framing does not count.
        const std::int64_t body = std::min<std::int64_t>(ulnow, transfer.bodyRead);
        if (body > transfer.uploadReported) {
            const std::int64_t sent = body - transfer.uploadReported;
            transfer.uploadReported = body;
            transfer.client->didSendBodyData(sent, body, transfer.uploadTotal);
        }
        return 0;
    }

    static CURLcode onSslContext(CURL* /*easy*/, void* sslContext, void* context) {
        SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext), onVerify, context);
        return CURLE_OK;
    }

    // Replaces OpenSSL's own verification: the chain the server sent goes to the client.
    static int onVerify(X509_STORE_CTX* store, void* context) {
        auto& transfer = *static_cast<Transfer*>(context);
        std::vector<Bytes> chain;
        if (STACK_OF(X509)* sent = X509_STORE_CTX_get0_untrusted(store)) {
            for (int i = 0; i < sk_X509_num(sent); ++i) {
                chain.push_back(derOfCertificate(sk_X509_value(sent, i)));
            }
        }
        if (chain.empty()) {
            if (X509* leaf = X509_STORE_CTX_get0_cert(store)) {
                chain.push_back(derOfCertificate(leaf));
            }
        }
        ServerTrust trust(std::move(chain),
                          transfer.options.anchorCertificates.empty()
                              ? systemAnchorCertificates()
                              : transfer.options.anchorCertificates,
                          TrustPolicy::ssl(transfer.host));
        if (transfer.client->judgeServerTrust(trust, transfer.host)) {
            return 1;
        }
        transfer.trustRefused = true;
        X509_STORE_CTX_set_error(store, X509_V_ERR_APPLICATION_VERIFICATION);
        return 0;
    }

    // ---- transfers ----

    void fail(std::unique_ptr<Transfer> transfer, long code, std::string message) {
        URLError error{kURLErrorDomain, code, std::move(message), transfer->request.url};
        transfer->client->didComplete(error, std::nullopt);
    }

    void begin(std::unique_ptr<Transfer> transfer) {
        if (unavailable) {
            fail(std::move(transfer), urlerror::cannotLoadFromNetwork, *unavailable);
            return;
        }
        const auto url = URL::parse(transfer->request.url);
        if (!url) {
            fail(std::move(transfer), urlerror::badURL, "bad URL");
            return;
        }
        const std::string scheme = url->scheme();
        if (scheme != "http" && scheme != "https") {
            fail(std::move(transfer), urlerror::unsupportedURL, "unsupported URL");
            return;
        }
        transfer->host = url->host();
        if (transfer->host.size() > 2 && transfer->host.front() == '[') {
            transfer->host = transfer->host.substr(1, transfer->host.size() - 2);
        }
        transfer->channel = channel;
        if (!prepareBody(*transfer)) {
            fail(std::move(transfer), urlerror::fileDoesNotExist, "the body file cannot be read");
            return;
        }
        if (transfer->options.downloadFolder && transfer->options.resumeFile) {
            if (!openResumedFile(*transfer)) {
                fail(std::move(transfer), urlerror::cannotOpenFile,
                     "the partial download is gone or changed");
                return;
            }
        } else if (transfer->options.downloadFolder) {
            transfer->downloadPath = freshFileIn(*transfer->options.downloadFolder);
            transfer->download = std::fopen(transfer->downloadPath.c_str(), "wbx");
            if (transfer->download == nullptr) {
                fail(std::move(transfer), urlerror::cannotCreateFile,
                     "the download file cannot be made");
                return;
            }
        }
        CURL* easy = idleHandle(transfer->options.connectionGroup);
        transfer->easy = easy;
        if (const auto refused = configureTrust(*transfer)) {
            // A handle that refused an option is not kept for another transfer.
            transfer->easy = nullptr;
            curl_easy_cleanup(easy);
            if (transfer->download != nullptr) {
                std::fclose(transfer->download);
                transfer->download = nullptr;
                std::error_code ignored;
                std::filesystem::remove(transfer->downloadPath, ignored);
            }
            fail(std::move(transfer), urlerror::secureConnectionFailed, *refused);
            return;
        }
        configure(*transfer, url->absoluteString());
        curl_multi_add_handle(multi, easy);
        const TransferId id = transfer->id;
        transfers.emplace(id, std::move(transfer));
        active->store(transfers.size());
    }

    // Only a file of exactly the size the resume was made for goes on; another is removed.
    static bool openResumedFile(Transfer& transfer) {
        transfer.downloadPath = *transfer.options.resumeFile;
        std::error_code error;
        const auto size = std::filesystem::file_size(transfer.downloadPath, error);
        if (error || static_cast<std::int64_t>(size) != transfer.options.resumeOffset) {
            std::filesystem::remove(transfer.downloadPath, error);
            return false;
        }
        transfer.download = std::fopen(transfer.downloadPath.c_str(), "ab");
        transfer.written = transfer.options.resumeOffset;
        return transfer.download != nullptr;
    }

    // A handle the group used before keeps nothing but its connections' cache, which is the
    // group's own; a fresh one otherwise.
    CURL* idleHandle(std::uint64_t group) {
        auto idle = idleHandles.find(group);
        if (idle == idleHandles.end() || idle->second.empty()) {
            return curl_easy_init();
        }
        CURL* easy = idle->second.back();
        idle->second.pop_back();
        curl_easy_reset(easy);
        return easy;
    }

    void keepIdle(std::uint64_t group, CURL* easy) {
        if (group == 0 || !groups.contains(group) ||
            idleHandles[group].size() >= kIdleHandlesPerGroup) {
            curl_easy_cleanup(easy);
            return;
        }
        idleHandles[group].push_back(easy);
    }

    static bool prepareBody(Transfer& transfer) {
        const URLRequest& request = transfer.request;
        transfer.bodyOffset = 0;
        transfer.uploadReported = 0;
        transfer.bodyRead = 0;
        transfer.bodyHeld = false;
        transfer.stream.reset();
        if (transfer.file.is_open()) {
            transfer.file.close();
        }
        if (request.body) {
            transfer.uploadTotal = static_cast<std::int64_t>(request.body->size());
        } else if (request.bodyFile) {
            std::error_code error;
            const auto size = std::filesystem::file_size(*request.bodyFile, error);
            transfer.file.open(*request.bodyFile, std::ios::binary);
            if (error || !transfer.file.is_open()) {
                return false;
            }
            transfer.uploadTotal = static_cast<std::int64_t>(size);
        } else if (request.bodyStream) {
            transfer.stream = request.bodyStream();
            if (!transfer.stream) {
                return false;
            }
            transfer.uploadTotal = transfer.stream->length().value_or(-1);
        } else {
            transfer.uploadTotal = 0;
        }
        return true;
    }

    // Our judge decides on every new connection: no resumed TLS sessions that skip it. An
    // option libcurl refuses would let a server through unjudged, so it ends the transfer:
    // the refusal, or nothing when every option is set.
    std::optional<std::string> configureTrust(Transfer& transfer) {
        CURL* easy = transfer.easy;
        const auto set = [&](const char* name, CURLoption option, auto value) {
            const CURLcode code = name == tls.refusedOption ? CURLE_NOT_BUILT_IN
                                                            : curl_easy_setopt(easy, option, value);
            return code == CURLE_OK
                       ? std::nullopt
                       : std::optional<std::string>(std::string("libcurl refused the TLS option ") +
                                                    name + ": " + curl_easy_strerror(code));
        };
        const curl_ssl_ctx_callback onContext = onSslContext;
        for (auto refused :
             {set("CURLOPT_SSL_VERIFYPEER", CURLOPT_SSL_VERIFYPEER, 1L),
              set("CURLOPT_SSL_VERIFYHOST", CURLOPT_SSL_VERIFYHOST, 0L),
              set("CURLOPT_SSL_SESSIONID_CACHE", CURLOPT_SSL_SESSIONID_CACHE, 0L),
              set("CURLOPT_SSL_CTX_FUNCTION", CURLOPT_SSL_CTX_FUNCTION, onContext),
              set("CURLOPT_SSL_CTX_DATA", CURLOPT_SSL_CTX_DATA, static_cast<void*>(&transfer))}) {
            if (refused) {
                return refused;
            }
        }
        return std::nullopt;
    }

    void configure(Transfer& transfer, const std::string& url) {
        CURL* easy = transfer.easy;
        const URLRequest& request = transfer.request;
        curl_easy_setopt(easy, CURLOPT_URL, url.c_str());
        curl_easy_setopt(easy, CURLOPT_PRIVATE, &transfer);
        curl_easy_setopt(easy, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(easy, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(easy, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(easy, CURLOPT_BUFFERSIZE, kReceiveBufferSize);
        curl_easy_setopt(easy, CURLOPT_HEADERFUNCTION, onHeader);
        curl_easy_setopt(easy, CURLOPT_HEADERDATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_WRITEFUNCTION, onBody);
        curl_easy_setopt(easy, CURLOPT_WRITEDATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_READFUNCTION, onRead);
        curl_easy_setopt(easy, CURLOPT_READDATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_XFERINFOFUNCTION, onProgress);
        curl_easy_setopt(easy, CURLOPT_XFERINFODATA, &transfer);
        curl_easy_setopt(easy, CURLOPT_NOPROGRESS, 0L);
        if (transfer.options.connectionGroup != 0) {
            curl_easy_setopt(easy, CURLOPT_SHARE, share(transfer.options.connectionGroup));
        } else {
            curl_easy_setopt(easy, CURLOPT_FRESH_CONNECT, 1L);
            curl_easy_setopt(easy, CURLOPT_FORBID_REUSE, 1L);
        }
        const TransferTimeouts timeouts = transferTimeouts(request);
        curl_easy_setopt(easy, CURLOPT_CONNECTTIMEOUT_MS, timeouts.connectMilliseconds);
        curl_easy_setopt(easy, CURLOPT_TIMEOUT_MS, timeouts.totalMilliseconds);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_LIMIT, timeouts.floorBytesPerSecond);
        curl_easy_setopt(easy, CURLOPT_LOW_SPEED_TIME, timeouts.floorSeconds);

        const std::string& method = request.method;
        if (method == "HEAD") {
            curl_easy_setopt(easy, CURLOPT_NOBODY, 1L);
        } else if (request.hasBody() || method == "POST") {
            curl_easy_setopt(easy, CURLOPT_POST, 1L);
            curl_easy_setopt(easy, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(transfer.uploadTotal));
            if (method != "POST") {
                curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
            }
        } else if (method == "GET") {
            curl_easy_setopt(easy, CURLOPT_HTTPGET, 1L);
        } else {
            curl_easy_setopt(easy, CURLOPT_CUSTOMREQUEST, method.c_str());
        }

        HTTPHeaders headers = request.headers;
        for (const auto& [name, value] : transfer.options.additionalHeaders.fields()) {
            if (!headers.contains(name)) {
                headers.set(name, value);
            }
        }
        if (!headers.contains("Accept-Encoding")) {
            curl_easy_setopt(easy, CURLOPT_ACCEPT_ENCODING, "");
        }
        curl_slist* list = nullptr;
        for (const auto& [name, value] : headers.fields()) {
            // "Name;" sends a field with an empty value; "Name:" would remove it.
            const std::string line = value.empty() ? name + ";" : name + ": " + value;
            list = curl_slist_append(list, line.c_str());
        }
        // No 100-continue pause, and no form type the caller did not ask for.
        if (!headers.contains("Expect")) {
            list = curl_slist_append(list, "Expect:");
        }
        if (!headers.contains("Content-Type")) {
            list = curl_slist_append(list, "Content-Type:");
        }
        transfer.headerList = list;
        curl_easy_setopt(easy, CURLOPT_HTTPHEADER, list);
    }

    // Takes the handle out of the multi handle and frees what the attempt held.
    void detach(Transfer& transfer) {
        if (transfer.easy != nullptr) {
            curl_multi_remove_handle(multi, transfer.easy);
            keepIdle(transfer.options.connectionGroup, transfer.easy);
            transfer.easy = nullptr;
        }
        curl_slist_free_all(transfer.headerList);
        transfer.headerList = nullptr;
        if (transfer.download != nullptr) {
            std::fclose(transfer.download);
            transfer.download = nullptr;
        }
    }

    void finishAttempt(Transfer& transfer, CURLcode result) {
        if (result == CURLE_OK && transfer.holdingRedirect) {
            offerRedirect(transfer);
            return;
        }
        std::unique_ptr<Transfer> owned = take(transfer.id);
        detach(*owned);
        std::optional<URLError> error;
        if (owned->writeFailed) {
            error = URLError{kURLErrorDomain, urlerror::cannotWriteToFile,
                             "the download file cannot be written", owned->request.url};
        } else if (owned->resumeRefused) {
            error = URLError{kURLErrorDomain, urlerror::badServerResponse,
                             "the server cannot resume the download", owned->request.url};
        } else if (owned->bodyFailed) {
            error = URLError{kURLErrorDomain, urlerror::requestBodyStreamExhausted,
                             "the request body cannot be read", owned->request.url};
        } else if (result != CURLE_OK) {
            error =
                URLError{kURLErrorDomain, urlErrorCodeForCurlResult(result, owned->trustRefused),
                         curl_easy_strerror(result), owned->request.url};
        }
        std::optional<std::filesystem::path> file;
        if (owned->options.downloadFolder) {
            if (error) {
                std::error_code ignored;
                std::filesystem::remove(owned->downloadPath, ignored);
            } else {
                file = owned->downloadPath;
            }
        }
        owned->client->didComplete(error, file);
        collectGroups();
    }

    std::unique_ptr<Transfer> take(TransferId id) {
        auto found = transfers.find(id);
        std::unique_ptr<Transfer> owned = std::move(found->second);
        transfers.erase(found);
        active->store(transfers.size());
        return owned;
    }

    URLRequest proposedRedirect(Transfer& transfer) {
        URLRequest next = transfer.request;
        char* location = nullptr;
        curl_easy_getinfo(transfer.easy, CURLINFO_REDIRECT_URL, &location);
        if (location != nullptr) {
            next.url = location;
        } else if (const auto base = URL::parse(transfer.request.url)) {
            if (const auto resolved =
                    URL::resolve(*transfer.response.headers.get("Location"), *base)) {
                next.url = resolved->absoluteString();
            }
        }
        const int status = transfer.response.statusCode;
        // As browsers do: 303 always, and 301/302 after a POST, go on as a GET without body.
        if (status == 303 || ((status == 301 || status == 302) && next.method == "POST")) {
            next.method = next.method == "HEAD" ? "HEAD" : "GET";
            next.body.reset();
            next.bodyFile.reset();
            next.bodyStream = nullptr;
            next.headers.remove("Content-Type");
            next.headers.remove("Content-Length");
        }
        return next;
    }

    void offerRedirect(Transfer& transfer) {
        URLRequest proposed = proposedRedirect(transfer);
        detach(transfer);
        transfer.awaitingRedirect = true;
        const TransferId id = transfer.id;
        std::weak_ptr<Channel> weak = channel;
        transfer.client->willRedirect(
            transfer.response, std::move(proposed), [weak, id](std::optional<URLRequest> decision) {
                const auto channel = weak.lock();
                if (!channel) {
                    return;
                }
                channel->post([id, decision = std::move(decision)](Engine& engine) mutable {
                    engine.decideRedirect(id, std::move(decision));
                });
            });
    }

    void decideRedirect(TransferId id, std::optional<URLRequest> decision) {
        auto found = transfers.find(id);
        if (found == transfers.end() || !found->second->awaitingRedirect) {
            return;
        }
        Transfer& transfer = *found->second;
        transfer.awaitingRedirect = false;
        if (!decision) {
            // The 3xx is the answer, with the body it came with.
            std::unique_ptr<Transfer> owned = take(id);
            if (owned->options.downloadFolder) {
                owned->download = std::fopen(owned->downloadPath.c_str(), "wb");
            }
            owned->holdingRedirect = false;
            owned->client->didReceiveResponse(owned->response);
            deliverBody(*owned, owned->heldBody);
            if (owned->download != nullptr) {
                std::fclose(owned->download);
                owned->download = nullptr;
            }
            owned->client->didComplete(std::nullopt, owned->options.downloadFolder
                                                         ? std::optional(owned->downloadPath)
                                                         : std::nullopt);
            collectGroups();
            return;
        }
        std::unique_ptr<Transfer> owned = take(id);
        if (++owned->redirects > kMaxRedirects) {
            fail(std::move(owned), urlerror::httpTooManyRedirects, "too many redirects");
            return;
        }
        owned->request = std::move(*decision);
        owned->response = URLResponse{};
        owned->statusSeen = false;
        owned->holdingRedirect = false;
        owned->heldBody.clear();
        owned->trustRefused = false;
        if (owned->download != nullptr) {
            std::fclose(owned->download);
            owned->download = nullptr;
        }
        if (owned->options.downloadFolder && !owned->options.resumeFile) {
            std::error_code ignored;
            std::filesystem::remove(owned->downloadPath, ignored);
        }
        begin(std::move(owned));
    }

    void cancel(TransferId id, bool keepDownload = false) {
        auto found = transfers.find(id);
        if (found == transfers.end()) {
            return;
        }
        std::unique_ptr<Transfer> owned = take(id);
        detach(*owned);
        std::optional<std::filesystem::path> kept;
        if (owned->options.downloadFolder && keepDownload) {
            kept = owned->downloadPath;
        } else if (owned->options.downloadFolder) {
            std::error_code ignored;
            std::filesystem::remove(owned->downloadPath, ignored);
        }
        owned->client->didComplete(
            URLError{kURLErrorDomain, urlerror::cancelled, "cancelled", owned->request.url}, kept);
        collectGroups();
    }

    void pause(TransferId id, bool paused) {
        auto found = transfers.find(id);
        if (found != transfers.end()) {
            found->second->pausedByOwner = paused;
            applyPauses(*found->second);
        }
    }

    void releaseBody(TransferId id) {
        auto found = transfers.find(id);
        if (found != transfers.end() && found->second->bodyHeld) {
            found->second->bodyHeld = false;
            applyPauses(*found->second);
        }
    }

    // One pause must not lift another: the owner's pause outlasts a body's wait, and a
    // body's wait outlasts the owner's unpause.
    static void applyPauses(Transfer& transfer) {
        if (transfer.easy == nullptr) {
            return;
        }
        const int directions = transfer.pausedByOwner ? CURLPAUSE_ALL
                               : transfer.bodyHeld    ? CURLPAUSE_SEND
                                                      : CURLPAUSE_CONT;
        curl_easy_pause(transfer.easy, directions);
    }

    void pump() {
        int running = 0;
        curl_multi_perform(multi, &running);
        int left = 0;
        while (CURLMsg* message = curl_multi_info_read(multi, &left)) {
            if (message->msg != CURLMSG_DONE) {
                continue;
            }
            Transfer* transfer = nullptr;
            curl_easy_getinfo(message->easy_handle, CURLINFO_PRIVATE, &transfer);
            const CURLcode result = message->data.result;
            if (transfer != nullptr) {
                finishAttempt(*transfer, result);
            }
        }
        for (const auto& [id, transfer] : transfers) {
            transfer->client->didEndTurn();
        }
    }
};

// ---- the channel ----

URLLoader::Channel::Channel() {
    initialiseCurl();
    multi_ = curl_multi_init();
}

URLLoader::Channel::~Channel() {
    curl_multi_cleanup(static_cast<CURLM*>(multi_));
}

void URLLoader::Channel::post(std::function<void(Engine&)> work) {
    {
        std::lock_guard lock(mutex_);
        if (stopping_) {
            return;
        }
        commands_.push_back(std::move(work));
    }
    curl_multi_wakeup(static_cast<CURLM*>(multi_));
}

std::uint64_t URLLoader::Channel::makeConnectionGroup() {
    return nextGroup_.fetch_add(1);
}

void URLLoader::Channel::releaseConnectionGroup(std::uint64_t group) {
    post([group](Engine& engine) { engine.releaseGroup(group); });
}

URLLoader::TransferId URLLoader::Channel::start(URLRequest request, TransferOptions options,
                                                std::shared_ptr<TransferClient> client) {
    const TransferId id = nextId_.fetch_add(1);
    auto transfer = std::make_shared<Engine::Transfer>();
    transfer->id = id;
    transfer->request = std::move(request);
    transfer->options = std::move(options);
    transfer->client = std::move(client);
    post([transfer](Engine& engine) {
        auto owned = std::make_unique<Engine::Transfer>();
        std::swap(*owned, *transfer);
        engine.begin(std::move(owned));
    });
    return id;
}

void URLLoader::Channel::cancel(TransferId id) {
    post([id](Engine& engine) { engine.cancel(id); });
}

void URLLoader::Channel::cancelKeepingDownload(TransferId id) {
    post([id](Engine& engine) { engine.cancel(id, true); });
}

void URLLoader::Channel::pause(TransferId id) {
    post([id](Engine& engine) { engine.pause(id, true); });
}

void URLLoader::Channel::unpause(TransferId id) {
    post([id](Engine& engine) { engine.pause(id, false); });
}

// ---- URLLoader ----

URLLoader::URLLoader(TlsBackend backend)
    : channel_(std::make_shared<Channel>()),
      unavailable_(backend.unavailableReason()),
      engine_(std::make_unique<Engine>(channel_, std::move(backend))) {
    if (unavailable_) {
        logLine(LogLevel::error, {__FILE__, __func__, __LINE__}, *unavailable_);
    }
    engine_->active = &active_;
    thread_ = std::thread([this] { run(); });
}

URLLoader::~URLLoader() {
    {
        std::lock_guard lock(channel_->mutex_);
        channel_->stopping_ = true;
    }
    curl_multi_wakeup(static_cast<CURLM*>(channel_->multi_));
    thread_.join();
}

URLLoader& URLLoader::shared() {
    return installedOr([]() -> URLLoader& {
        static URLLoader made;
        return made;
    });
}

void URLLoader::run() {
    Channel& channel = *channel_;
    for (;;) {
        std::vector<std::function<void(Engine&)>> commands;
        bool stopping = false;
        {
            std::lock_guard lock(channel.mutex_);
            commands.swap(channel.commands_);
            stopping = channel.stopping_;
        }
        for (auto& command : commands) {
            command(*engine_);
        }
        if (stopping) {
            // Whatever still runs ends as cancelled; later posts are refused by the channel.
            std::vector<TransferId> ids;
            for (const auto& [id, transfer] : engine_->transfers) {
                ids.push_back(id);
            }
            for (const TransferId id : ids) {
                engine_->cancel(id);
            }
            return;
        }
        engine_->pump();
        curl_multi_poll(engine_->multi, nullptr, 0, 1000, nullptr);
    }
}

std::size_t URLLoader::activeTransfers() const {
    return active_.load();
}

}  // namespace platform::net
