#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <future>
#include <mutex>
#include <thread>

#include "platform/foundation/Dispatch.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/URLSession.h"
#include "support/LoopWait.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace platform::net {
namespace {

using testing_support::LoopbackServer;
using testing_support::runLoopUntil;

URLRequest req(std::string url, std::string method = "GET") {
    URLRequest request;
    request.url = std::move(url);
    request.method = std::move(method);
    return request;
}

// Records what the session tells, on the test's loop.
class Recorder final : public URLSessionDelegate {
public:
    std::vector<std::string> events;
    Bytes body;
    std::optional<URLResponse> response;
    std::optional<URLError> error;
    bool completed = false;
    std::int64_t sent = 0;
    std::int64_t written = 0;
    Bytes downloaded;
    std::vector<std::pair<std::int64_t, std::int64_t>> resumedAt;
    std::function<std::optional<URLRequest>(const URLResponse&, URLRequest)> redirect;
    std::function<ChallengeDisposition(ServerTrust&, const std::string&)> trust;
    std::function<void(URLSessionTask&)> onData;
    // Set: redirect decisions wait here until the test gives them.
    bool holdRedirects = false;
    std::function<void(std::optional<URLRequest>)> heldRedirect;

    ChallengeDisposition didReceiveServerTrustChallenge(URLSessionTask&, ServerTrust& serverTrust,
                                                        const std::string& host) override {
        return trust ? trust(serverTrust, host) : ChallengeDisposition::performDefaultHandling;
    }
    void willPerformRedirect(URLSessionTask&, const URLResponse& redirectResponse,
                             URLRequest proposed,
                             std::function<void(std::optional<URLRequest>)> completion) override {
        events.push_back("redirect " + std::to_string(redirectResponse.statusCode));
        if (holdRedirects) {
            heldRedirect = std::move(completion);
            return;
        }
        completion(redirect ? redirect(redirectResponse, std::move(proposed))
                            : std::optional(std::move(proposed)));
    }
    ResponseDisposition didReceiveResponse(URLSessionTask&, const URLResponse& received) override {
        events.push_back("response " + std::to_string(received.statusCode));
        response = received;
        return ResponseDisposition::allow;
    }
    void didReceiveData(URLSessionTask& task, const Bytes& data) override {
        body.insert(body.end(), data.begin(), data.end());
        if (onData) {
            onData(task);
        }
    }
    void didSendBodyData(URLSessionTask&, std::int64_t, std::int64_t totalSent,
                         std::int64_t) override {
        sent = totalSent;
    }
    void didWriteData(URLSessionTask&, std::int64_t, std::int64_t totalWritten,
                      std::int64_t) override {
        written = totalWritten;
    }
    void didResumeDownload(URLSessionTask&, std::int64_t offset, std::int64_t total) override {
        resumedAt.emplace_back(offset, total);
    }
    void didFinishDownloading(URLSessionTask&, const std::filesystem::path& location) override {
        events.push_back("downloaded");
        std::ifstream in(location, std::ios::binary);
        downloaded.assign(std::istreambuf_iterator<char>(in), {});
    }
    void didComplete(URLSessionTask&, const std::optional<URLError>& failure) override {
        events.push_back(failure ? "failed " + std::to_string(failure->code) : "complete");
        error = failure;
        completed = true;
    }
};

class URLSessionTest : public ::testing::Test {
protected:
    URLSessionTest()
        : loop_(RunLoop::Clock::virtualTime), installedLoop_(loop_), installedCenter_(&center_) {
        queue_ = std::make_shared<OperationQueue>(loop_);
        queue_->setMaxConcurrentOperationCount(1);
    }

    // The session lives as long as the test: dropping a session cancels its tasks.
    std::shared_ptr<URLSession> session(URLSessionConfiguration configuration = {}) {
        if (configuration.anchorCertificates.empty()) {
            configuration.anchorCertificates = {
                testing_support::TestCertificates::shared().ca.certificateDer};
        }
        configuration.temporaryDirectory = temp_.path();
        sessions_.push_back(
            URLSession::make(std::move(configuration), recorder_, queue_, &loader_));
        return sessions_.back();
    }

    bool runUntilComplete() {
        return runLoopUntil(loop_, [&] { return recorder_->completed; });
    }

    static std::string text(const Bytes& bytes) { return std::string(bytes.begin(), bytes.end()); }

    static bool isPattern(const Bytes& bytes, std::size_t size) {
        if (bytes.size() != size) {
            return false;
        }
        for (std::size_t i = 0; i < size; ++i) {
            if (bytes[i] != LoopbackServer::patternByte(i)) {
                return false;
            }
        }
        return true;
    }

    // A download of /bytes that the server stops after `stall` bytes, cancelled there for its
    // resume data; the server then lets bodies go on.
    Bytes interruptedDownload(URLSession& made, std::size_t size, std::size_t stall) {
        auto task = made.downloadTask(req(server_.url("/bytes?size=" + std::to_string(size) +
                                                      "&stall=" + std::to_string(stall))))
                        .value();
        task->resume();
        EXPECT_TRUE(runLoopUntil(
            loop_, [&] { return recorder_->written == static_cast<std::int64_t>(stall); }));
        std::optional<Bytes> resumeData;
        task->cancelByProducingResumeData(
            [&](std::optional<Bytes> data) { resumeData = std::move(data); });
        EXPECT_TRUE(runUntilComplete());
        EXPECT_EQ(recorder_->error->code, urlerror::cancelled);
        server_.releaseSlowBodies();
        *recorder_ = Recorder{};
        return resumeData.value_or(Bytes{});
    }

    static Bytes rewritten(const Bytes& resumeData, const std::string& key, Value value) {
        Value resume = plist::parse(text(resumeData)).value();
        resume[key] = std::move(value);
        const std::string written = plist::write(resume).value();
        return Bytes(written.begin(), written.end());
    }
    static Value json(const Bytes& bytes) { return json::parse(text(bytes)).value(); }

    RunLoop loop_;
    ScopedMainRunLoop installedLoop_;
    NotificationCenter center_;
    ScopedInstall<NotificationCenter> installedCenter_;
    testing_support::TempDir temp_;
    // Before the loader, so that the loader's kept-alive connections close first.
    LoopbackServer server_;
    URLLoader loader_;
    std::shared_ptr<OperationQueue> queue_;
    std::shared_ptr<Recorder> recorder_ = std::make_shared<Recorder>();
    std::vector<std::shared_ptr<URLSession>> sessions_;
};

TEST_F(URLSessionTest, DataTaskGathersTheBody) {
    auto task = session()->dataTask(req(server_.url("/chunked?size=100000"))).value();
    EXPECT_EQ(task->state(), URLSessionTask::State::suspended);
    task->resume();
    ASSERT_TRUE(runUntilComplete());
    EXPECT_FALSE(recorder_->error);
    EXPECT_EQ(recorder_->response->statusCode, 200);
    EXPECT_EQ(recorder_->response->expectedContentLength, -1);
    ASSERT_EQ(recorder_->body.size(), 100000u);
    for (std::size_t i = 0; i < recorder_->body.size(); i += 997) {
        ASSERT_EQ(recorder_->body[i], LoopbackServer::patternByte(i));
    }
    EXPECT_EQ(task->state(), URLSessionTask::State::completed);
    EXPECT_EQ(recorder_->events.front(), "response 200");
    EXPECT_EQ(recorder_->events.back(), "complete");
}

TEST_F(URLSessionTest, UploadsFromBytesFileAndStreamWithTheLengthTheServerSaw) {
    const std::string content(70000, 'u');
    const auto file = temp_.path() / "body.bin";
    std::ofstream(file, std::ios::binary) << content;
    auto made = session();
    const Bytes bytes(content.begin(), content.end());
    struct Case {
        const char* name;
        std::function<Result<std::shared_ptr<URLSessionTask>>()> make;
        bool chunked;
    };
    URLRequest request = req(server_.url("/echo"), "PUT");
    const Case cases[] = {
        {"bytes", [&] { return made->uploadTask(request, bytes); }, false},
        {"file", [&] { return made->uploadTask(request, file); }, false},
        {"stream",
         [&] {
             URLRequest streamed = request;
             streamed.bodyStream = [bytes] { return std::make_unique<BytesBodyStream>(bytes); };
             return made->uploadTaskWithStreamedRequest(streamed);
         },
         true},
    };
    for (const Case& c : cases) {
        *recorder_ = Recorder{};
        c.make().value()->resume();
        ASSERT_TRUE(runUntilComplete()) << c.name;
        ASSERT_FALSE(recorder_->error) << c.name;
        const Value echo = json(recorder_->body);
        EXPECT_EQ(echo["method"].stringValue(), "PUT") << c.name;
        EXPECT_EQ(echo["bodyLength"].intValue(), 70000) << c.name;
        EXPECT_EQ(echo["chunked"].boolValue(), c.chunked) << c.name;
        EXPECT_EQ(echo["contentLength"].stringValue(),
                  c.chunked ? std::nullopt : std::optional<std::string>("70000"))
            << c.name;
        EXPECT_EQ(recorder_->sent, 70000) << c.name;
        EXPECT_EQ(server_.last()->body, content) << c.name;
    }
}

TEST_F(URLSessionTest, OnlyTasksThatMaySuspendOrRunLongDropTheCallDeadline) {
    const auto file = temp_.path() / "body.bin";
    std::ofstream(file, std::ios::binary) << "body";
    auto made = session();
    URLRequest call = req(server_.url("/echo"), "PUT");
    call.limits = TransferLimits::call();
    struct Case {
        const char* name;
        std::function<Result<std::shared_ptr<URLSessionTask>>()> make;
        bool keepsDeadline;
    };
    const Case cases[] = {
        {"data", [&] { return made->dataTask(call); }, true},
        {"upload of bytes",
         [&] {
             return made->uploadTask(call, Bytes{1, 2});
         },
         true},
        {"upload of a file", [&] { return made->uploadTask(call, file); }, false},
        {"streamed upload",
         [&] {
             URLRequest streamed = call;
             streamed.bodyStream = [] { return std::make_unique<BytesBodyStream>(Bytes{1}); };
             return made->uploadTaskWithStreamedRequest(streamed);
         },
         false},
        {"download", [&] { return made->downloadTask(call); }, false},
    };
    for (const Case& c : cases) {
        const auto task = c.make().value();
        const TransferLimits& limits = task->originalRequest().limits;
        EXPECT_EQ(limits.deadline, c.keepsDeadline ? call.limits.deadline : 0) << c.name;
        EXPECT_EQ(limits.floorBytesPerSecond, call.limits.floorBytesPerSecond) << c.name;
        EXPECT_EQ(limits.floorWindow, call.limits.floorWindow) << c.name;
        task->cancel();
    }
}

TEST_F(URLSessionTest, DownloadTaskHandsOverAFileThenRemovesIt) {
    auto task = session()->downloadTask(req(server_.url("/bytes?size=300000"))).value();
    task->resume();
    ASSERT_TRUE(runUntilComplete());
    EXPECT_FALSE(recorder_->error);
    EXPECT_EQ(recorder_->events.back(), "complete");
    EXPECT_EQ(recorder_->downloaded.size(), 300000u);
    EXPECT_EQ(recorder_->written, 300000);
    EXPECT_EQ(recorder_->downloaded[1000], LoopbackServer::patternByte(1000));
    EXPECT_TRUE(std::filesystem::is_empty(temp_.path()));
}

TEST_F(URLSessionTest, RedirectsAreOfferedAndCanBeRewrittenOrStopped) {
    auto made = session();
    // Followed as proposed, relative Location resolved.
    made->dataTask(req(server_.url("/redirect?to=/echo/followed"))).value()->resume();
    ASSERT_TRUE(runUntilComplete());
    EXPECT_EQ(json(recorder_->body)["path"].stringValue(), "/echo/followed");
    EXPECT_EQ(recorder_->events.front(), "redirect 302");

    // Rewritten by the delegate.
    *recorder_ = Recorder{};
    recorder_->redirect = [&](const URLResponse&, URLRequest proposed) {
        proposed.url = server_.url("/echo/rewritten");
        proposed.headers.set("X-Rewritten", "yes");
        return std::optional(proposed);
    };
    made->dataTask(req(server_.url("/redirect?to=/echo/followed"))).value()->resume();
    ASSERT_TRUE(runUntilComplete());
    EXPECT_EQ(json(recorder_->body)["path"].stringValue(), "/echo/rewritten");
    EXPECT_EQ(server_.last()->header("X-Rewritten"), "yes");

    // Stopped: the 3xx is the answer, with its body.
    *recorder_ = Recorder{};
    recorder_->redirect = [](const URLResponse&, URLRequest) {
        return std::optional<URLRequest>();
    };
    made->dataTask(req(server_.url("/redirect?to=/echo/followed&status=307"))).value()->resume();
    ASSERT_TRUE(runUntilComplete());
    EXPECT_FALSE(recorder_->error);
    EXPECT_EQ(recorder_->response->statusCode, 307);
    EXPECT_EQ(text(recorder_->body), "redirecting");
}

TEST_F(URLSessionTest, PostRedirectedBy303GoesOnAsGetWithoutBody) {
    URLRequest request = req(server_.url("/redirect?to=/echo/after&status=303"), "POST");
    request.body = Bytes{'a', '=', '1'};
    request.headers.set("Content-Type", "application/x-www-form-urlencoded");
    session()->dataTask(request).value()->resume();
    ASSERT_TRUE(runUntilComplete());
    const Value echo = json(recorder_->body);
    EXPECT_EQ(echo["method"].stringValue(), "GET");
    EXPECT_EQ(echo["bodyLength"].intValue(), 0);
}

TEST_F(URLSessionTest, CancelMidBodyFailsWithCancelledAndTheURL) {
    const std::string url = server_.url("/slow?size=20000");
    recorder_->onData = [](URLSessionTask& task) { task.cancel(); };
    auto task = session()->dataTask(req(url)).value();
    task->resume();
    ASSERT_TRUE(runUntilComplete());
    ASSERT_TRUE(recorder_->error);
    EXPECT_EQ(recorder_->error->domain, kURLErrorDomain);
    EXPECT_EQ(recorder_->error->code, urlerror::cancelled);
    EXPECT_EQ(recorder_->error->failingURL, url);
    EXPECT_GT(recorder_->body.size(), 0u);
    EXPECT_EQ(task->state(), URLSessionTask::State::completed);
}

TEST_F(URLSessionTest, CancelBeforeResumeStillCompletesOnce) {
    auto task = session()->dataTask(req("http://127.0.0.1:9/never")).value();
    task->cancel();
    task->cancel();
    ASSERT_TRUE(runUntilComplete());
    EXPECT_EQ(recorder_->error->code, urlerror::cancelled);
    loop_.runUntilIdle();
    EXPECT_EQ(std::count(recorder_->events.begin(), recorder_->events.end(), "failed -999"), 1);
}

TEST_F(URLSessionTest, RequestsThatCannotBeMadeGiveNoTask) {
    auto made = session();
    const std::pair<const char*, long> cases[] = {
        {"http://exa mple.com/", urlerror::badURL},
        {"relative/path", urlerror::badURL},
        {"ftp://127.0.0.1/file", urlerror::unsupportedURL},
    };
    for (const auto& [url, code] : cases) {
        const auto task = made->dataTask(req(url));
        ASSERT_FALSE(task) << url;
        EXPECT_EQ(task.error().code, code) << url;
    }
    EXPECT_TRUE(made->tasks().empty());
}

TEST_F(URLSessionTest, TransportFailuresMapToTheirCodes) {
    // A port nobody listens on: take one from a server that is gone again.
    int closedPort = 0;
    {
        LoopbackServer gone;
        closedPort = gone.port();
    }
    session()
        ->dataTask(req("http://127.0.0.1:" + std::to_string(closedPort) + "/"))
        .value()
        ->resume();
    ASSERT_TRUE(runUntilComplete());
    EXPECT_EQ(recorder_->error->code, urlerror::cannotConnectToHost);
}

TEST_F(URLSessionTest, ResumeAndSuspendAnnounceStateChangesOnly) {
    std::vector<std::string> seen;
    center_.addObserver("", [&](const Notification& note) {
        if (note.name.rfind("platform.net.task.", 0) == 0) {
            seen.push_back(note.name + " " +
                           note.object["taskDescription"].stringValue().value_or(""));
        }
    });
    auto task = session()->dataTask(req(server_.url("/echo"))).value();
    task->setTaskDescription("mine");
    task->suspend();  // already suspended: nothing
    task->resume();
    task->resume();  // already running: nothing
    task->suspend();
    task->resume();
    ASSERT_TRUE(runUntilComplete());
    EXPECT_EQ(seen, (std::vector<std::string>{"platform.net.task.resume mine",
                                              "platform.net.task.suspend mine",
                                              "platform.net.task.resume mine"}));
}

TEST_F(URLSessionTest, HttpsTrustsTheTestCaAndRefusesOtherwise) {
    const auto& pki = testing_support::TestCertificates::shared();
    struct Case {
        const char* name;
        const testing_support::TestIdentity* leaf;
        bool withIntermediate;
        std::function<ChallengeDisposition(ServerTrust&, const std::string&)> judge;
        long code;  // 0: success
    };
    const Case cases[] = {
        {"the test CA's chain", &pki.localhost, true, nullptr, 0},
        {"another name", &pki.otherName, true, nullptr, urlerror::serverCertificateUntrusted},
        {"expired", &pki.expired, true, nullptr, urlerror::serverCertificateUntrusted},
        {"self-signed", &pki.selfSigned, false, nullptr, urlerror::serverCertificateUntrusted},
        {"self-signed, accepted by the delegate", &pki.selfSigned, false,
         [](ServerTrust&, const std::string&) { return ChallengeDisposition::useCredential; }, 0},
        {"good chain, refused by the delegate", &pki.localhost, true,
         [](ServerTrust&, const std::string&) { return ChallengeDisposition::cancel; },
         urlerror::serverCertificateUntrusted},
    };
    for (const Case& c : cases) {
        LoopbackServer server(
            *c.leaf, c.withIntermediate
                         ? std::vector<const testing_support::TestIdentity*>{&pki.intermediate}
                         : std::vector<const testing_support::TestIdentity*>{});
        *recorder_ = Recorder{};
        recorder_->trust = c.judge;
        session()->dataTask(req(server.url("/echo"))).value()->resume();
        ASSERT_TRUE(runUntilComplete()) << c.name;
        if (c.code == 0) {
            EXPECT_FALSE(recorder_->error) << c.name;
            EXPECT_EQ(recorder_->response->statusCode, 200) << c.name;
        } else {
            ASSERT_TRUE(recorder_->error) << c.name;
            EXPECT_EQ(recorder_->error->code, c.code) << c.name;
        }
    }
}

TEST_F(URLSessionTest, InvalidationWaitsForRunningTasks) {
    auto made = session();
    made->dataTask(req(server_.url("/echo"))).value()->resume();
    made->finishTasksAndInvalidate();
    EXPECT_FALSE(made->dataTask(req(server_.url("/echo"))));
    ASSERT_TRUE(runUntilComplete());
    EXPECT_FALSE(recorder_->error);
}

TEST_F(URLSessionTest, ACancelledDownloadResumesWithRangeToTheSameBytes) {
    auto made = session();
    const Bytes resumeData = interruptedDownload(*made, 300000, 100000);
    const Value resume = plist::parse(text(resumeData)).value();
    EXPECT_EQ(resume["bytesReceived"].intValue(), 100000);
    EXPECT_EQ(resume["entityTag"].stringValue(), "\"bytes-300000\"");

    auto task = made->downloadTaskWithResumeData(resumeData).value();
    EXPECT_EQ(task->countOfBytesReceived(), 100000);
    task->resume();
    ASSERT_TRUE(runUntilComplete());
    ASSERT_FALSE(recorder_->error);
    EXPECT_EQ(server_.last()->header("Range"), "bytes=100000-");
    EXPECT_EQ(server_.last()->header("If-Range"), "\"bytes-300000\"");
    EXPECT_EQ(recorder_->response->statusCode, 206);
    EXPECT_EQ(recorder_->resumedAt,
              (std::vector<std::pair<std::int64_t, std::int64_t>>{{100000, 300000}}));
    EXPECT_EQ(recorder_->written, 300000);
    EXPECT_TRUE(isPattern(recorder_->downloaded, 300000));
    EXPECT_TRUE(std::filesystem::is_empty(temp_.path()));
}

TEST_F(URLSessionTest, AResourceChangedSinceTheCancelComesWholeAgain) {
    auto made = session();
    const Bytes resumeData =
        rewritten(interruptedDownload(*made, 300000, 100000), "entityTag", Value("\"older\""));
    made->downloadTaskWithResumeData(resumeData).value()->resume();
    ASSERT_TRUE(runUntilComplete());
    ASSERT_FALSE(recorder_->error);
    EXPECT_EQ(recorder_->response->statusCode, 200);
    EXPECT_EQ(recorder_->resumedAt,
              (std::vector<std::pair<std::int64_t, std::int64_t>>{{0, 300000}}));
    EXPECT_TRUE(isPattern(recorder_->downloaded, 300000));
}

TEST_F(URLSessionTest, ResumeDataThatDoesNotFitGivesAnErrorAndNoFile) {
    auto made = session();
    const Bytes good = interruptedDownload(*made, 300000, 100000);
    const std::string partial =
        plist::parse(text(good)).value()["temporaryFile"].stringValue().value();
    const auto elsewhere = temp_.path() / "sub" / std::filesystem::path(partial).filename();
    struct Case {
        const char* name;
        Bytes resumeData;
        long code;
    };
    const Case cases[] = {
        {"not a property list", Bytes{'n', 'o'}, urlerror::cannotDecodeRawData},
        {"no validator", rewritten(good, "entityTag", Value(Bytes{})),
         urlerror::cannotDecodeRawData},
        {"no byte count", rewritten(good, "bytesReceived", Value("many")),
         urlerror::cannotDecodeRawData},
        {"a file outside the session's folder",
         rewritten(good, "temporaryFile", Value(elsewhere.string())),
         urlerror::cannotDecodeRawData},
        {"a file of another size", rewritten(good, "bytesReceived", Value(99999)),
         urlerror::cannotOpenFile},
    };
    for (const Case& c : cases) {
        const auto attempt = made->downloadTaskWithResumeData(c.resumeData);
        ASSERT_FALSE(attempt) << c.name;
        EXPECT_EQ(attempt.error().code, c.code) << c.name;
    }

    // The file changes between making the task and starting it: the task fails, leaving none.
    auto task = made->downloadTaskWithResumeData(good).value();
    std::ofstream(partial, std::ios::binary | std::ios::app) << "x";
    task->resume();
    ASSERT_TRUE(runUntilComplete());
    ASSERT_TRUE(recorder_->error);
    EXPECT_EQ(recorder_->error->code, urlerror::cannotOpenFile);
    EXPECT_TRUE(recorder_->downloaded.empty());
    EXPECT_TRUE(std::filesystem::is_empty(temp_.path()));
    EXPECT_FALSE(made->downloadTaskWithResumeData(good));
}

TEST_F(URLSessionTest, NothingToResumeGivesNoResumeData) {
    auto made = session();
    struct Case {
        const char* name;
        std::shared_ptr<URLSessionTask> task;
    };
    // A data task, and a download not yet started.
    const Case cases[] = {
        {"data task", made->dataTask(req(server_.url("/slow?size=1000"))).value()},
        {"download never started", made->downloadTask(req(server_.url("/bytes"))).value()},
    };
    cases[0].task->resume();
    for (const Case& c : cases) {
        recorder_->completed = false;
        std::optional<std::optional<Bytes>> heard;
        c.task->cancelByProducingResumeData([&](std::optional<Bytes> data) { heard = data; });
        ASSERT_TRUE(runLoopUntil(loop_, [&] { return heard && recorder_->completed; })) << c.name;
        EXPECT_FALSE(*heard) << c.name;
        EXPECT_EQ(recorder_->error->code, urlerror::cancelled) << c.name;
    }
    EXPECT_TRUE(std::filesystem::is_empty(temp_.path()));
}

TEST_F(URLSessionTest, ATransferWaitingForARedirectDecisionIsActive) {
    recorder_->holdRedirects = true;
    session()->dataTask(req(server_.url("/redirect?to=/echo"))).value()->resume();
    ASSERT_TRUE(runLoopUntil(loop_, [&] { return bool(recorder_->heldRedirect); }));
    EXPECT_EQ(loader_.activeTransfers(), 1u);
    recorder_->heldRedirect(std::nullopt);
    ASSERT_TRUE(runUntilComplete());
    EXPECT_EQ(loader_.activeTransfers(), 0u);
}

// Notes on which queue's thread each event ran ("" for one that runs no queue's task, as the
// network thread).
class QueueNoting final : public URLSessionDelegate {
public:
    explicit QueueNoting(bool takesEvents) : takesEvents_(takesEvents) {}

    bool takesEventsOnNetworkThread(URLSessionTask&) override { return takesEvents_; }
    ResponseDisposition didReceiveResponse(URLSessionTask&, const URLResponse&) override {
        note();
        return ResponseDisposition::allow;
    }
    void didComplete(URLSessionTask&, const std::optional<URLError>&) override {
        note();
        completed_.set_value();
    }

    std::vector<std::string> labels() {
        std::lock_guard lock(mutex_);
        return labels_;
    }
    std::vector<std::thread::id> threads() {
        std::lock_guard lock(mutex_);
        return threads_;
    }
    void waitForCompletion() { completed_.get_future().wait(); }

private:
    void note() {
        std::lock_guard lock(mutex_);
        labels_.push_back(DispatchQueue::currentLabel());
        threads_.push_back(std::this_thread::get_id());
    }

    const bool takesEvents_;
    std::mutex mutex_;
    std::vector<std::string> labels_;
    std::vector<std::thread::id> threads_;
    std::promise<void> completed_;
};

TEST_F(URLSessionTest, OnlyAnIdleDelegateQueueLetsTheNetworkThreadRunTheEvents) {
    struct Case {
        const char* name;
        bool takesEvents;
        bool busyQueue;
        bool cancelFirst;
        // Where the events ran: "" on the network thread, the pool's label on a worker.
        const char* expected;
    };
    const Case cases[] = {
        {"idle, taken", true, false, false, ""},
        {"idle, not taken", false, false, false, "global.normal"},
        {"busy, taken: it waits its turn", true, true, false, "global.normal"},
        {"cancelled by the caller before it started", true, false, true, "global.normal"},
    };
    for (const Case& c : cases) {
        auto queue = std::make_shared<OperationQueue>();
        queue->setMaxConcurrentOperationCount(1);
        auto delegate = std::make_shared<QueueNoting>(c.takesEvents);
        URLSessionConfiguration configuration;
        configuration.temporaryDirectory = temp_.path();
        auto made = URLSession::make(configuration, delegate, queue, &loader_);
        std::promise<void> release;
        if (c.busyQueue) {
            queue->addOperation([released = release.get_future().share()] { released.wait(); });
        }
        auto task = made->dataTask(req(server_.url("/bytes?size=64"))).value();
        if (c.cancelFirst) {
            task->cancel();
        } else {
            task->resume();
        }
        if (c.busyQueue) {
            // The events are queued behind the holder, not run beside it.
            while (queue->operationCount() < 2) {
                std::this_thread::yield();
            }
            EXPECT_TRUE(delegate->labels().empty()) << c.name;
            release.set_value();
        }
        delegate->waitForCompletion();
        const auto labels = delegate->labels();
        ASSERT_FALSE(labels.empty()) << c.name;
        EXPECT_EQ(labels.front(), c.expected) << c.name;
        // Once the holder is gone, a later hand-over of a busy case may find the queue idle.
        for (const std::string& label : labels) {
            EXPECT_TRUE(c.busyQueue || label == c.expected) << c.name;
        }
        for (const std::thread::id thread : delegate->threads()) {
            EXPECT_NE(thread, std::this_thread::get_id()) << c.name;
        }
        queue->waitUntilAllOperationsAreFinished();
    }
}

}  // namespace
}  // namespace platform::net
