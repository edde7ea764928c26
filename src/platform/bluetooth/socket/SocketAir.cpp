#include "platform/bluetooth/socket/SocketAir.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <system_error>
#include <thread>

#include "platform/bluetooth/Advertisement.h"
#include "platform/bluetooth/socket/SocketLink.h"
#include "platform/foundation/Container.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/LogSink.h"
#include "platform/foundation/WeakPtr.h"

namespace platform::bluetooth {

namespace fs = std::filesystem;

class SocketRadio;

struct SocketAir::Registry {
    std::mutex mutex;
    std::map<Uuid, SocketRadio*> radios;
};

namespace {

constexpr std::size_t kMaxAdvertisementFile = 1024;

std::string systemText(int error) {
    return std::system_category().message(error);
}

// A thread that can be told to stop while it waits, in poll() on wakeFd() or in waitForStop().
class Worker {
public:
    Worker() : wake_(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {
        if (wake_ < 0) {
            throw std::system_error(errno, std::system_category(), "eventfd");
        }
    }
    ~Worker() {
        {
            std::lock_guard lock(mutex_);
            stop_ = true;
        }
        stopped_.notify_all();
        const std::uint64_t one = 1;
        [[maybe_unused]] const auto written = ::write(wake_, &one, sizeof one);
        if (thread_.joinable()) {
            thread_.join();
        }
        ::close(wake_);
    }
    Worker(const Worker&) = delete;
    Worker& operator=(const Worker&) = delete;

    void start(std::function<void(Worker&)> body) {
        thread_ = std::thread([this, body = std::move(body)] { body(*this); });
    }
    int wakeFd() const { return wake_; }
    bool stopping() {
        std::lock_guard lock(mutex_);
        return stop_;
    }
    bool waitForStop(double seconds) {
        std::unique_lock lock(mutex_);
        return stopped_.wait_for(lock, std::chrono::duration<double>(seconds),
                                 [this] { return stop_; });
    }

private:
    const int wake_;
    std::mutex mutex_;
    std::condition_variable stopped_;
    bool stop_ = false;
    std::thread thread_;
};

}  // namespace

class SocketRadio final : public Radio {
public:
    SocketRadio(std::shared_ptr<SocketAir::Registry> registry, fs::path directory,
                const Uuid& identifier, SocketAirOptions options)
        : registry_(std::move(registry)),
          directory_(std::move(directory)),
          identifier_(identifier),
          options_(options),
          greetings_(options.greetingCapacity) {}

    ~SocketRadio() override {
        {
            std::lock_guard lock(registry_->mutex);
            registry_->radios.erase(identifier_);
        }
        takeDown();
    }

    // Binds the socket; the radio is on once this succeeded.
    Result<void> open() {
        std::lock_guard lock(mutex_);
        return openEndpoint();
    }

    void setPowered(bool on) {
        if (!on) {
            {
                std::lock_guard lock(mutex_);
                if (state_ != ManagerState::poweredOn) {
                    return;
                }
                state_ = ManagerState::poweredOff;
            }
            takeDown();
            postState(ManagerState::poweredOff);
            return;
        }
        {
            std::lock_guard lock(mutex_);
            if (state_ == ManagerState::poweredOn) {
                return;
            }
            if (auto opened = openEndpoint(); !opened) {
                PLATFORM_LOG_ERROR("Bluetooth air: cannot power ", identifier_.toString(),
                                   " on: ", opened.error().message);
                return;
            }
            // Until start() gives a loop, peers wait in the backlog; start() begins listening.
            if (loop_.load() != nullptr) {
                startListener();
            }
            state_ = ManagerState::poweredOn;
        }
        postState(ManagerState::poweredOn);
    }

    const Uuid& identifier() const override { return identifier_; }

    void start(RadioClient& client, RunLoop& loop) override {
        std::lock_guard lock(mutex_);
        client_ = &client;
        // Before the loop is published: whoever sees the loop finds the factory made.
        weak_.emplace(*this, loop);
        loop_.store(&loop);
        // Peers that connected since open() waited in the backlog until events had a loop.
        if (state_ == ManagerState::poweredOn) {
            startListener();
        }
    }

    ManagerState state() const override {
        std::lock_guard lock(mutex_);
        return state_;
    }

    void startAdvertising(const AdvertisementData& data) override {
        std::lock_guard lock(mutex_);
        if (state_ != ManagerState::poweredOn) {
            return;
        }
        const auto encoded = encodeAdvertisement(data);
        if (!encoded) {
            PLATFORM_LOG_ERROR("Bluetooth air: cannot advertise: ", encoded.error().message);
            return;
        }
        const std::string text(encoded->begin(), encoded->end());
        if (auto written = platform::fs::writeFileAtomically(advertisementPath(), text); !written) {
            PLATFORM_LOG_ERROR("Bluetooth air: cannot advertise: ", written.error().message);
        }
    }

    void stopAdvertising() override {
        std::error_code ignored;
        fs::remove(advertisementPath(), ignored);
    }

    void startScanning() override {
        std::lock_guard lock(mutex_);
        if (state_ != ManagerState::poweredOn || scanner_) {
            return;
        }
        scanner_ = std::make_unique<Worker>();
        scanner_->start([this](Worker& worker) { scan(worker); });
    }

    void stopScanning() override {
        std::unique_ptr<Worker> scanner;
        {
            std::lock_guard lock(mutex_);
            scanner = std::move(scanner_);
        }
    }

    bool knows(const Uuid& peer) const override {
        std::error_code ignored;
        return peer != identifier_ && (fs::exists(socketPath(peer), ignored) ||
                                       fs::exists(advertisementPath(peer), ignored));
    }

    void connect(const Uuid& peer) override {
        std::lock_guard lock(mutex_);
        if (state_ != ManagerState::poweredOn || connecting_.contains(peer) ||
            peer == identifier_) {
            return;
        }
        const LinkId id = nextLink_++;
        auto link = SocketLink::connect(socketPath(peer), peer, linkOptions(),
                                        callbacks(id, LinkRole::central, peer));
        if (!link) {
            PLATFORM_LOG_WARN("Bluetooth air: cannot connect to ", peer.toString(), ": ",
                              link.error().message);
            post([this, peer, reason = link.error()] { client_->connectFailed(peer, reason); });
            return;
        }
        connecting_[peer] = id;
        links_[id] = std::move(link).value();
    }

    void cancelConnect(const Uuid& peer) override {
        std::unique_ptr<SocketLink> link;
        {
            std::lock_guard lock(mutex_);
            const auto found = connecting_.find(peer);
            if (found == connecting_.end()) {
                return;
            }
            link = take(found->second);
        }
    }

    void disconnect(LinkId link) override {
        std::unique_ptr<SocketLink> taken;
        {
            std::lock_guard lock(mutex_);
            taken = take(link);
        }
    }

    SendResult send(LinkId link, Bytes pdu, bool flowControlled) override {
        std::lock_guard lock(mutex_);
        const auto found = links_.find(link);
        return found == links_.end() ? SendResult::refused
                                     : found->second->send(pdu, flowControlled);
    }

private:
    fs::path socketPath(const Uuid& device) const {
        return directory_ / (device.toLongString() + ".sock");
    }
    fs::path advertisementPath(const Uuid& device) const {
        return directory_ / (device.toLongString() + ".adv");
    }
    fs::path advertisementPath() const { return advertisementPath(identifier_); }

    SocketLink::Options linkOptions() const {
        return {identifier_, options_.retryInterval, options_.transmitQueueCapacity,
                options_.greetingTimeout, options_.answerQueueCapacity};
    }

    // With mutex_ held.
    Result<void> openEndpoint() {
        std::error_code error;
        fs::create_directories(directory_, error);
        if (error) {
            return makeError(ErrorCode::unknown,
                             "cannot make " + directory_.string() + ": " + error.message());
        }
        const std::string path = socketPath(identifier_).string();
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        if (path.size() >= sizeof address.sun_path) {
            return makeError(ErrorCode::invalidParameters, "socket path too long: " + path);
        }
        std::copy(path.begin(), path.end(), address.sun_path);
        const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0) {
            return makeError(ErrorCode::unknown, "socket: " + systemText(errno));
        }
        // A socket left by an earlier run of this device would refuse the bind.
        ::unlink(path.c_str());
        if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
            ::listen(fd, 16) != 0) {
            const int failure = errno;
            ::close(fd);
            return makeError(ErrorCode::unknown,
                             "cannot listen on " + path + ": " + systemText(failure));
        }
        listenFd_ = fd;
        return {};
    }

    // With mutex_ held. One listener at a time: replacing a running one would join its
    // thread under the lock it may be waiting for.
    void startListener() {
        if (listener_) {
            return;
        }
        listener_ = std::make_unique<Worker>();
        listener_->start([this, fd = listenFd_](Worker& worker) { listen(worker, fd); });
    }

    // Closes the endpoint, the scan and every link, joining their threads outside the lock.
    void takeDown() {
        std::unique_ptr<Worker> listener;
        std::unique_ptr<Worker> scanner;
        std::map<LinkId, std::unique_ptr<SocketLink>> links;
        int listenFd = -1;
        {
            std::lock_guard lock(mutex_);
            std::error_code ignored;
            fs::remove(socketPath(identifier_), ignored);
            fs::remove(advertisementPath(), ignored);
            listener = std::move(listener_);
            scanner = std::move(scanner_);
            links.swap(links_);
            connecting_.clear();
            listenFd = std::exchange(listenFd_, -1);
        }
        listener.reset();
        scanner.reset();
        links.clear();
        if (listenFd >= 0) {
            ::close(listenFd);
        }
    }

    std::unique_ptr<SocketLink> take(LinkId id) {
        std::unique_ptr<SocketLink> link;
        const auto found = links_.find(id);
        if (found != links_.end()) {
            link = std::move(found->second);
            links_.erase(found);
        }
        std::erase_if(connecting_, [id](const auto& entry) { return entry.second == id; });
        return link;
    }

    void listen(Worker& worker, int fd) {
        // Refusals come in floods: the first is logged, the rest counted.
        std::size_t refused = 0;
        while (!worker.stopping()) {
            pollfd fds[2] = {{fd, POLLIN, 0}, {worker.wakeFd(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
                const int failure = errno;
                PLATFORM_LOG_ERROR("Bluetooth air: listener stopped: ", systemText(failure));
                return;
            }
            if (worker.stopping()) {
                return;
            }
            if ((fds[0].revents & POLLIN) == 0) {
                continue;
            }
            const int accepted = ::accept4(fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
            if (accepted < 0) {
                if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR &&
                    errno != ECONNABORTED) {
                    // Out of descriptors, say: let the peers wait rather than spin.
                    const int failure = errno;
                    PLATFORM_LOG_WARN("Bluetooth air: accept failed: ", systemText(failure));
                    worker.waitForStop(options_.retryInterval);
                }
                continue;
            }
            auto ticket = greetings_.enter();
            if (!ticket) {
                ::close(accepted);
                if (refused++ == 0) {
                    PLATFORM_LOG_WARN("Bluetooth air: refusing connections: ",
                                      options_.greetingCapacity, " peers have not greeted yet");
                }
                continue;
            }
            if (refused > 0) {
                PLATFORM_LOG_WARN("Bluetooth air: refused ", refused,
                                  " connections while peers had not greeted");
                refused = 0;
            }
            std::lock_guard lock(mutex_);
            const LinkId id = nextLink_++;
            auto link = SocketLink::accept(accepted, std::move(*ticket), linkOptions(),
                                           callbacks(id, LinkRole::peripheral, std::nullopt));
            if (!link) {
                PLATFORM_LOG_WARN("Bluetooth air: cannot serve a connection: ",
                                  link.error().message);
                continue;
            }
            links_[id] = std::move(link).value();
        }
    }

    void scan(Worker& worker) {
        std::set<fs::path> unreadable;
        do {
            std::vector<std::pair<Uuid, AdvertisementData>> found;
            std::error_code error;
            for (fs::directory_iterator it(directory_, error), end; !error && it != end;
                 it.increment(error)) {
                const fs::path& path = it->path();
                const auto advertiser = Uuid::parse(path.stem().string());
                if (path.extension() != ".adv" || !advertiser || *advertiser == identifier_) {
                    continue;
                }
                const auto bytes = platform::fs::readFile(path, kMaxAdvertisementFile);
                if (!bytes) {
                    continue;  // gone meanwhile, or too long to be an advertisement
                }
                const auto data = decodeAdvertisement(
                    std::span(reinterpret_cast<const std::uint8_t*>(bytes->data()), bytes->size()));
                if (!data) {
                    if (unreadable.insert(path).second) {
                        PLATFORM_LOG_WARN("Bluetooth air: ignoring ", path.string(), ": ",
                                          data.error().message);
                    }
                    continue;
                }
                unreadable.erase(path);
                found.emplace_back(*advertiser, *data);
            }
            if (!found.empty()) {
                post([this, found = std::move(found)] {
                    RadioClient* client = nullptr;
                    {
                        std::lock_guard lock(mutex_);
                        if (!scanner_) {
                            return;
                        }
                        client = client_;
                    }
                    for (const auto& [advertiser, data] : found) {
                        client->advertisementReceived(advertiser, data, options_.rssi);
                    }
                });
            }
        } while (!worker.waitForStop(options_.scanInterval));
    }

    SocketLink::Callbacks callbacks(LinkId id, LinkRole role, std::optional<Uuid> expected) {
        SocketLink::Callbacks callbacks;
        callbacks.opened = [this, id, role](const Uuid& peer) {
            post([this, id, role, peer] {
                {
                    std::lock_guard lock(mutex_);
                    if (!links_.contains(id)) {
                        return;
                    }
                    std::erase_if(connecting_,
                                  [id](const auto& entry) { return entry.second == id; });
                }
                client_->linkOpened(id, peer, role);
            });
        };
        callbacks.failed = [this, id, expected](const Error& reason) {
            post([this, id, expected, reason] {
                std::unique_ptr<SocketLink> link;
                {
                    std::lock_guard lock(mutex_);
                    link = take(id);
                }
                if (link && expected) {
                    client_->connectFailed(*expected, reason);
                }
            });
        };
        callbacks.closed = [this, id](const Error& reason) {
            post([this, id, reason] {
                std::unique_ptr<SocketLink> link;
                {
                    std::lock_guard lock(mutex_);
                    link = take(id);
                }
                if (link) {
                    client_->linkClosed(id, reason);
                }
            });
        };
        callbacks.received = [this, id](Bytes pdu) {
            post([this, id, pdu = std::move(pdu)]() mutable {
                if (isOpen(id)) {
                    client_->pdusReceived(id, {std::move(pdu)});
                }
            });
        };
        callbacks.ready = [this, id] {
            post([this, id] {
                if (isOpen(id)) {
                    client_->linkReady(id);
                }
            });
        };
        return callbacks;
    }

    bool isOpen(LinkId id) {
        std::lock_guard lock(mutex_);
        return links_.contains(id);
    }

    void postState(ManagerState state) {
        post([this, state] { client_->radioStateChanged(state); });
    }

    // Every event reaches the client on its loop, and none after this radio is gone.
    void post(std::function<void()> task) {
        RunLoop* loop = loop_.load();
        if (loop == nullptr) {
            return;
        }
        loop->post([weak = weak_->weakPtr(), task = std::move(task)] {
            if (weak) {
                task();
            }
        });
    }

    std::shared_ptr<SocketAir::Registry> registry_;
    const fs::path directory_;
    const Uuid identifier_;
    const SocketAirOptions options_;

    mutable std::mutex mutex_;
    RadioClient* client_ = nullptr;
    std::atomic<RunLoop*> loop_{nullptr};
    ManagerState state_ = ManagerState::poweredOn;
    int listenFd_ = -1;
    std::unique_ptr<Worker> listener_;
    std::unique_ptr<Worker> scanner_;
    std::map<LinkId, std::unique_ptr<SocketLink>> links_;
    std::map<Uuid, LinkId> connecting_;
    LinkId nextLink_ = 1;
    GreetingGate greetings_;
    // Made by start(), once the loop is known; the workers are joined before it goes.
    std::optional<WeakPtrFactory<SocketRadio>> weak_;
};

SocketAir::SocketAir(fs::path directory, SocketAirOptions options)
    : directory_(std::move(directory)),
      options_(options),
      registry_(std::make_shared<Registry>()) {}

SocketAir::~SocketAir() = default;

fs::path SocketAir::defaultDirectory() {
    if (const char* air = std::getenv("KAVO_AIR"); air != nullptr && *air != '\0') {
        return air;
    }
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR");
        runtime != nullptr && *runtime != '\0') {
        return fs::path(runtime) / "kavo-air";
    }
    return Container::current().root() / "air";
}

Result<std::unique_ptr<Radio>> SocketAir::attach(const Uuid& identifier) {
    // A radio that failed to open goes after the lock is released: its destructor takes it.
    std::unique_ptr<SocketRadio> failed;
    std::lock_guard lock(registry_->mutex);
    if (registry_->radios.contains(identifier)) {
        return makeError(ErrorCode::invalidParameters,
                         "device " + identifier.toString() + " is already attached");
    }
    auto radio = std::make_unique<SocketRadio>(registry_, directory_, identifier, options_);
    if (auto opened = radio->open(); !opened) {
        failed = std::move(radio);
        return opened.error();
    }
    registry_->radios[identifier] = radio.get();
    return std::unique_ptr<Radio>(std::move(radio));
}

void SocketAir::powerOff(const Uuid& device) {
    std::lock_guard lock(registry_->mutex);
    if (const auto found = registry_->radios.find(device); found != registry_->radios.end()) {
        found->second->setPowered(false);
    }
}

void SocketAir::powerOn(const Uuid& device) {
    std::lock_guard lock(registry_->mutex);
    if (const auto found = registry_->radios.find(device); found != registry_->radios.end()) {
        found->second->setPowered(true);
    }
}

}  // namespace platform::bluetooth
