#pragma once

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include "platform/foundation/Replaceable.h"
#include "platform/net/HTTPMessage.h"
#include "platform/net/ServerTrust.h"
#include "platform/net/URLError.h"

namespace platform::net {

// What a transfer tells its owner. Every call comes on the loader's network thread, in the
// order the events happened; a client must not block there (post the work on).
class TransferClient {
public:
    virtual ~TransferClient() = default;

    // During the TLS handshake: whether to go on with this server. The default judges the
    // chain for the host against the anchors the transfer was started with.
    virtual bool judgeServerTrust(ServerTrust& trust, const std::string& host);
    // A 3xx answer with a Location: decide (from any thread, at any later time) with the
    // request to follow, or nothing to take the 3xx response itself as the answer. The
    // default follows.
    virtual void willRedirect(const URLResponse& response, URLRequest proposed,
                              std::function<void(std::optional<URLRequest>)> decide);
    virtual void didReceiveResponse(const URLResponse& /*response*/) {}
    // Body bytes of a transfer into memory.
    virtual void didReceiveData(std::span<const std::uint8_t> /*bytes*/) {}
    // Body bytes written to the download file, with the total so far and the total expected
    // (-1 unknown).
    virtual void didWriteData(std::int64_t /*written*/, std::int64_t /*totalWritten*/,
                              std::int64_t /*totalExpected*/) {}
    virtual void didSendBodyData(std::int64_t /*sent*/, std::int64_t /*totalSent*/,
                                 std::int64_t /*totalExpected*/) {}
    // The end, once: no error, or why it failed. downloadedFile is where the body went for a
    // transfer to a file that succeeded, or, after cancelKeepingDownload, the part written so
    // far beside the cancelled error; its owner moves or removes it.
    virtual void didComplete(const std::optional<URLError>& error,
                             const std::optional<std::filesystem::path>& downloadedFile) = 0;
    // The end of a turn of the network thread in which the transfer, still running, may have
    // had events: a client that holds its events back to hand them on together lets them go.
    virtual void didEndTurn() {}
};

struct TransferOptions {
    // Write the body into a new file in this folder instead of handing it over.
    std::optional<std::filesystem::path> downloadFolder;
    // The trust anchors a server's chain is judged against; empty means the machine's.
    std::vector<Bytes> anchorCertificates;
    // Transfers of one group share kept-alive connections; those of different groups never do,
    // so a connection one judge accepted never serves another. 0: a group of its own.
    std::uint64_t connectionGroup = 0;
    // Header fields added to every request of the group unless the request has the field.
    HTTPHeaders additionalHeaders;
    // Goes on with a download whose first resumeOffset bytes are in this file (the request asks
    // for the rest with Range): a 206 from that offset appends, a 200 rewrites the file from
    // the start; a file of another size, or any other answer, fails and leaves no file.
    std::optional<std::filesystem::path> resumeFile;
    std::int64_t resumeOffset = 0;
};

// What decides whether libcurl hands a server's chain to our trust judge: only its OpenSSL
// backend runs the verification callback set on the TLS context; on any other every server
// would pass unjudged, so URL loading is then unavailable.
struct TlsBackend {
    // The backend as libcurl names it ("OpenSSL/3.0.11"); empty when it has none.
    std::string name;
    // A TLS option refused as libcurl refuses one it cannot set, by its name (tests).
    std::string refusedOption;

    // The process's libcurl, asked for its OpenSSL backend when it is built with several.
    static TlsBackend ofLibcurl();
    // Why URL loading cannot run on this backend; nothing when it can.
    [[nodiscard]] std::optional<std::string> unavailableReason() const;
};

// The URL-loading engine: one network thread drives every transfer of the process through one
// libcurl multi handle. Redirects are not followed by the library but offered to the client,
// and server trust is decided by the client on the real peer chain during the handshake.
// Every method is thread-safe and returns at once; the work happens on the network thread.
class URLLoader : public Replaceable<URLLoader> {
    struct Engine;

public:
    using TransferId = std::uint64_t;
    static constexpr int kMaxRedirects = 16;

    // The way in to a loader's network thread, shared by whoever starts transfers on it. It
    // may outlive the loader: what is posted afterwards is dropped unheard.
    class Channel {
    public:
        Channel();
        ~Channel();
        Channel(const Channel&) = delete;
        Channel& operator=(const Channel&) = delete;

        // A fresh connection group for a session; forget it with releaseConnectionGroup.
        std::uint64_t makeConnectionGroup();
        void releaseConnectionGroup(std::uint64_t group);
        // Starts a transfer and gives its identifier (never 0). A request the engine cannot
        // send ends, later and on the network thread, through didComplete with its error.
        TransferId start(URLRequest request, TransferOptions options,
                         std::shared_ptr<TransferClient> client);
        // Ends the transfer with the cancelled error (-999) and the URL it was loading;
        // nothing when it already ended.
        void cancel(TransferId id);
        // The same for a transfer into a file, except that the part written so far is kept and
        // handed to didComplete beside the error.
        void cancelKeepingDownload(TransferId id);
        // Stops moving bytes both ways until unpause; the connection stays.
        void pause(TransferId id);
        void unpause(TransferId id);

    private:
        friend class URLLoader;
        void post(std::function<void(Engine&)> work);

        void* multi_ = nullptr;  // the libcurl multi handle the network thread polls
        std::mutex mutex_;
        std::vector<std::function<void(Engine&)>> commands_;
        bool stopping_ = false;
        std::atomic<TransferId> nextId_{1};
        std::atomic<std::uint64_t> nextGroup_{1};
    };

    // On a backend that cannot run the trust judge every transfer ends at once with
    // urlerror::cannotLoadFromNetwork and unavailableReason().
    explicit URLLoader(TlsBackend backend = TlsBackend::ofLibcurl());
    // Cancels what still runs (each client hears its end) and stops the thread.
    ~URLLoader();
    URLLoader(const URLLoader&) = delete;
    URLLoader& operator=(const URLLoader&) = delete;

    // The installed loader, else one made on first use.
    static URLLoader& shared();

    [[nodiscard]] const std::shared_ptr<Channel>& channel() const { return channel_; }
    std::uint64_t makeConnectionGroup() { return channel_->makeConnectionGroup(); }
    void releaseConnectionGroup(std::uint64_t group) { channel_->releaseConnectionGroup(group); }
    TransferId start(URLRequest request, TransferOptions options,
                     std::shared_ptr<TransferClient> client) {
        return channel_->start(std::move(request), std::move(options), std::move(client));
    }
    void cancel(TransferId id) { channel_->cancel(id); }
    void cancelKeepingDownload(TransferId id) { channel_->cancelKeepingDownload(id); }
    void pause(TransferId id) { channel_->pause(id); }
    void unpause(TransferId id) { channel_->unpause(id); }

    // Transfers running or waiting for a redirect decision (for tests and diagnostics).
    [[nodiscard]] std::size_t activeTransfers() const;
    // Why this loader loads nothing; nothing when it works.
    [[nodiscard]] const std::optional<std::string>& unavailableReason() const {
        return unavailable_;
    }

private:
    void run();

    const std::shared_ptr<Channel> channel_;
    const std::optional<std::string> unavailable_;
    std::unique_ptr<Engine> engine_;
    std::atomic<std::size_t> active_{0};
    std::thread thread_;
};

}  // namespace platform::net
