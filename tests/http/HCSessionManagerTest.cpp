#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <mutex>

#include "http/HCHTTPSessionManager.h"
#include "platform/foundation/Json.h"
#include "platform/foundation/PropertyList.h"
#include "platform/foundation/RunLoop.h"
#include "support/LoopWait.h"
#include "support/LoopbackServer.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace {

using platform::Bytes;
using platform::Value;
using platform::net::URLRequest;
using platform::net::URLResponse;
using platform::net::URLSessionTask;
using testing_support::LoopbackServer;
using testing_support::TestCertificates;

URLRequest req(std::string url, std::string method = "GET") {
    URLRequest request;
    request.url = std::move(url);
    request.method = std::move(method);
    return request;
}

// What one completion handler heard.
struct Outcome {
    bool done = false;
    bool onLoop = false;
    std::optional<URLResponse> response;
    Value object;
    std::optional<HCError> error;
};

class HCSessionManagerTest : public ::testing::Test {
protected:
    HCSessionManagerTest()
        : loop_(platform::RunLoop::Clock::virtualTime),
          installedLoop_(loop_),
          installedCenter_(&center_) {
        // The record is shared with the observer, which a manager's last callbacks may still
        // reach while the fixture goes.
        center_.addObserver("", [recorded = recorded_](const platform::Notification& note) {
            if (note.name.rfind("com.kavo.networking.", 0) == 0) {
                std::lock_guard lock(recorded->mutex);
                recorded->notes.push_back(note);
            }
        });
    }

    platform::net::URLSessionConfiguration configuration() {
        platform::net::URLSessionConfiguration made;
        made.anchorCertificates = {TestCertificates::shared().ca.certificateDer};
        made.temporaryDirectory = temp_.path();
        return made;
    }

    std::unique_ptr<HCURLSessionManager> manager() {
        return std::make_unique<HCURLSessionManager>(configuration(), &loader_);
    }
    std::unique_ptr<HCHTTPSessionManager> httpManager(
        std::optional<std::string> base = std::nullopt) {
        return std::make_unique<HCHTTPSessionManager>(std::move(base), configuration(), &loader_);
    }

    HCURLSessionManager::CompletionHandler recordInto(Outcome& outcome) {
        return [this, &outcome](const std::optional<URLResponse>& response, const Value& object,
                                const std::optional<HCError>& error) {
            outcome.onLoop = loop_.isCurrent();
            outcome.response = response;
            outcome.object = object;
            outcome.error = error;
            outcome.done = true;
        };
    }

    bool wait(const std::function<bool()>& done) {
        return testing_support::runLoopUntil(loop_, done);
    }

    std::vector<platform::Notification> notes(const std::string& name) {
        std::lock_guard lock(recorded_->mutex);
        std::vector<platform::Notification> out;
        for (const auto& note : recorded_->notes) {
            if (note.name == name) {
                out.push_back(note);
            }
        }
        return out;
    }

    static std::string text(const Value& bytes) {
        const Bytes* data = bytes.bytesIf();
        return data ? std::string(data->begin(), data->end()) : "";
    }

    struct Recorded {
        std::mutex mutex;
        std::vector<platform::Notification> notes;
    };
    std::shared_ptr<Recorded> recorded_ = std::make_shared<Recorded>();
    platform::RunLoop loop_;
    platform::ScopedMainRunLoop installedLoop_;
    platform::NotificationCenter center_;
    platform::ScopedInstall<platform::NotificationCenter> installedCenter_;
    testing_support::TempDir temp_;
    LoopbackServer server_;
    platform::net::URLLoader loader_;
};

TEST_F(HCSessionManagerTest, DataTaskCompletesOnTheMainLoopWithTheSerializedBody) {
    auto sessionManager = manager();
    Outcome outcome;
    auto task =
        sessionManager->dataTask(req(server_.url("/echo?x=1")), recordInto(outcome)).value();
    EXPECT_EQ(task->taskDescription(), sessionManager->taskDescriptionForSessionTasks());
    task->resume();
    ASSERT_TRUE(wait(
        [&] { return outcome.done && !notes(HCNetworkingTaskDidCompleteNotification).empty(); }));
    EXPECT_TRUE(outcome.onLoop);
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.object["target"].stringValue(), "/echo?x=1");
    const auto complete = notes(HCNetworkingTaskDidCompleteNotification).front();
    EXPECT_EQ(complete.sender, task.get());
    EXPECT_EQ(complete.userInfo[HCNetworkingTaskDidCompleteResponseSerializerKey].stringValue(),
              "HCJSONResponseSerializer");
    EXPECT_TRUE(complete.userInfo[HCNetworkingTaskDidCompleteResponseDataKey].isBytes());
    EXPECT_EQ(complete.userInfo[HCNetworkingTaskDidCompleteSerializedResponseKey], outcome.object);
    EXPECT_FALSE(complete.userInfo.find(HCNetworkingTaskDidCompleteErrorKey));
    EXPECT_TRUE(sessionManager->tasks().empty());
}

TEST_F(HCSessionManagerTest, ACompletionHandlerNoLongerFindsItsTaskListed) {
    auto sessionManager = manager();
    std::optional<std::size_t> listed;
    auto task = sessionManager
                    ->dataTask(req(server_.url("/echo")),
                               [&](const std::optional<URLResponse>&, const Value&,
                                   const std::optional<HCError>&) {
                                   listed = sessionManager->tasks().size();
                               })
                    .value();
    task->resume();
    ASSERT_TRUE(wait([&] { return listed.has_value(); }));
    EXPECT_EQ(*listed, 0u);
}

TEST_F(HCSessionManagerTest, TheGatheredBodyIsHandedOnWithoutCopies) {
    auto sessionManager = manager();
    sessionManager->setResponseSerializer(HCHTTPResponseSerializer::serializer());
    Outcome outcome;
    sessionManager->dataTask(req(server_.url("/bytes?size=500000")), recordInto(outcome))
        .value()
        ->resume();
    ASSERT_TRUE(wait(
        [&] { return outcome.done && !notes(HCNetworkingTaskDidCompleteNotification).empty(); }));
    ASSERT_FALSE(outcome.error);
    const Bytes* body = outcome.object.bytesIf();
    ASSERT_TRUE(body);
    ASSERT_EQ(body->size(), 500000u);
    EXPECT_EQ((*body)[499999], LoopbackServer::patternByte(499999));
    // The notification's body and the result are one buffer.
    const Value noted = notes(HCNetworkingTaskDidCompleteNotification)
                            .front()
                            .userInfo[HCNetworkingTaskDidCompleteResponseDataKey];
    EXPECT_EQ(noted.bytesIf(), body);
}

// Notes where it serializes: on the processing queue, and whether the delegate queue still
// held an operation then.
class WhereSerialized final : public HCHTTPResponseSerializer {
public:
    struct Seen {
        std::atomic<bool> onProcessingQueue = false;
        std::atomic<std::size_t> delegateQueueCount = 0;
    };
    WhereSerialized(std::shared_ptr<Seen> seen,
                    std::shared_ptr<platform::OperationQueue> delegateQueue)
        : seen_(std::move(seen)), delegateQueue_(std::move(delegateQueue)) {}

    HCResponseObject responseObjectTakingBody(const std::optional<URLResponse>& response,
                                              std::optional<Bytes>& data,
                                              std::optional<HCError>* error) const override {
        seen_->onProcessingQueue = platform::DispatchQueue::global().isCurrent();
        seen_->delegateQueueCount = delegateQueue_->operationCount();
        return HCHTTPResponseSerializer::responseObjectTakingBody(response, data, error);
    }

private:
    const std::shared_ptr<Seen> seen_;
    const std::shared_ptr<platform::OperationQueue> delegateQueue_;
};

TEST_F(HCSessionManagerTest, AnswersAreSerializedOnTheProcessingQueueOnceTheDelegateQueueIsDone) {
    for (const std::size_t size : {std::size_t{64}, std::size_t{40000}}) {
        auto sessionManager = manager();
        auto seen = std::make_shared<WhereSerialized::Seen>();
        sessionManager->setResponseSerializer(
            std::make_shared<WhereSerialized>(seen, sessionManager->operationQueue()));
        Outcome outcome;
        sessionManager
            ->dataTask(req(server_.url("/bytes?size=" + std::to_string(size))), recordInto(outcome))
            .value()
            ->resume();
        ASSERT_TRUE(wait([&] { return outcome.done; })) << size;
        EXPECT_TRUE(outcome.onLoop) << size;
        EXPECT_EQ(outcome.object.size(), size) << size;
        EXPECT_TRUE(seen->onProcessingQueue) << size;
        if (size == 64) {
            // Serialized by the thread the delegate queue let go, after its operation ended.
            EXPECT_EQ(seen->delegateQueueCount, 0u);
        }
    }
}

TEST_F(HCSessionManagerTest, CallerBlocksRunOnTheDelegateQueueNeverOnTheNetworkThread) {
    auto sessionManager = manager();
    std::mutex mutex;
    std::vector<std::string> labels;
    const auto note = [&] {
        std::lock_guard lock(mutex);
        labels.push_back(platform::DispatchQueue::currentLabel());
    };
    sessionManager->setDataTaskDidReceiveResponseBlock(
        [&](platform::net::URLSession&, URLSessionTask&, const URLResponse&) {
            note();
            return platform::net::ResponseDisposition::allow;
        });
    sessionManager->setTaskDidCompleteBlock([&](platform::net::URLSession&, URLSessionTask&,
                                                const std::optional<HCError>&) { note(); });
    Outcome outcome;
    sessionManager->dataTask(req(server_.url("/bytes?size=64")), recordInto(outcome))
        .value()
        ->resume();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    sessionManager->operationQueue()->waitUntilAllOperationsAreFinished();
    std::lock_guard lock(mutex);
    EXPECT_EQ(labels, (std::vector<std::string>{"global.normal", "global.normal"}));
}

// The destruction waits for completions in flight: one kept for after the running callback
// would never come.
TEST_F(HCSessionManagerTest, AManagerLetGoInItsOwnCompletionBlockStillCompletesTheTask) {
    auto sessionManager = manager();
    sessionManager->setResponseSerializer(HCHTTPResponseSerializer::serializer());
    bool gone = false;
    sessionManager->setTaskDidCompleteBlock(
        [&](platform::net::URLSession&, URLSessionTask&, const std::optional<HCError>&) {
            sessionManager.reset();
            platform::DispatchQueue::main().async([&] { gone = true; });
        });
    Outcome outcome;
    sessionManager->dataTask(req(server_.url("/bytes?size=64")), recordInto(outcome))
        .value()
        ->resume();
    ASSERT_TRUE(wait([&] { return outcome.done && gone; }));
    EXPECT_EQ(outcome.object.size(), 64u);
}

TEST_F(HCSessionManagerTest, ABodyCutShortStillReachesTheNotification) {
    auto sessionManager = manager();
    Outcome outcome;
    auto task =
        sessionManager->dataTask(req(server_.url("/slow?size=30000")), recordInto(outcome)).value();
    task->resume();
    // The count moves on the network thread, which does not wake the loop: look again soon.
    ASSERT_TRUE(wait([&] {
        const bool all = task->countOfBytesReceived() == 30000;
        if (!all) {
            platform::DispatchQueue::main().async([] {});
        }
        return all;
    }));
    task->cancel();
    ASSERT_TRUE(wait(
        [&] { return outcome.done && !notes(HCNetworkingTaskDidCompleteNotification).empty(); }));
    EXPECT_EQ(outcome.error->code, platform::net::urlerror::cancelled);
    EXPECT_EQ(notes(HCNetworkingTaskDidCompleteNotification)
                  .front()
                  .userInfo[HCNetworkingTaskDidCompleteResponseDataKey]
                  .size(),
              30000u);
}

TEST_F(HCSessionManagerTest, ResumeAndSuspendAreRepostedOnlyByTheOwningManager) {
    auto first = manager();
    auto second = manager();
    // Ends are heard on the session's queue; each wakes the loop so the wait sees it.
    std::atomic<int> ended{0};
    first->setTaskDidCompleteBlock(
        [&](platform::net::URLSession&, URLSessionTask&, const std::optional<HCError>&) {
            ++ended;
            loop_.post([] {});
        });
    Outcome outcome;
    auto task = first->dataTask(req(server_.url("/echo")), recordInto(outcome)).value();
    task->resume();
    task->suspend();
    task->resume();
    // A task made on the platform session directly has no manager's description.
    auto direct = first->session()->dataTask(req(server_.url("/echo"))).value();
    direct->resume();
    ASSERT_TRUE(wait([&] { return outcome.done && ended == 2; }));
    loop_.runUntilIdle();
    const auto resumes = notes(HCNetworkingTaskDidResumeNotification);
    ASSERT_EQ(resumes.size(), 2u);
    EXPECT_EQ(resumes[0].sender, task.get());
    EXPECT_EQ(notes(HCNetworkingTaskDidSuspendNotification).size(), 1u);
}

TEST_F(HCSessionManagerTest, CancelMidBodyGivesCancelledWithTheFailingURL) {
    auto sessionManager = manager();
    Outcome outcome;
    const std::string url = server_.url("/slow?size=30000");
    std::shared_ptr<URLSessionTask> task;
    sessionManager->setDataTaskDidReceiveDataBlock(
        [&task](platform::net::URLSession&, URLSessionTask&, const Bytes&) { task->cancel(); });
    task = sessionManager->dataTask(req(url), recordInto(outcome)).value();
    task->resume();
    ASSERT_TRUE(wait(
        [&] { return outcome.done && !notes(HCNetworkingTaskDidCompleteNotification).empty(); }));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->domain, platform::net::kURLErrorDomain);
    EXPECT_EQ(outcome.error->code, -999);
    EXPECT_EQ(outcome.error->failingURL, url);
    EXPECT_TRUE(outcome.object.isNull());
    const auto complete = notes(HCNetworkingTaskDidCompleteNotification).front();
    EXPECT_EQ(complete.userInfo[HCNetworkingTaskDidCompleteErrorKey]["code"].intValue(), -999);
    EXPECT_FALSE(complete.userInfo.find(HCNetworkingTaskDidCompleteSerializedResponseKey));
}

TEST_F(HCSessionManagerTest, UploadsReportProgressAndTheServerSawTheBody) {
    auto sessionManager = manager();
    sessionManager->setResponseSerializer(HCJSONResponseSerializer::serializer());
    // Unknown length: the Content-Length header gives the total.
    URLRequest streamed = req(server_.url("/echo"), "POST");
    streamed.headers.set("Content-Length", "1000");
    streamed.bodyStream = [] {
        return std::make_unique<platform::net::BytesBodyStream>(Bytes(1000, 'x'));
    };
    std::shared_ptr<HCProgress> progress;
    Outcome streamedOutcome;
    auto task =
        sessionManager
            ->uploadTaskWithStreamedRequest(streamed, &progress, recordInto(streamedOutcome))
            .value();
    EXPECT_EQ(progress->totalUnitCount, 1000);
    EXPECT_EQ(sessionManager->uploadProgressForTask(task), progress);
    task->resume();
    ASSERT_TRUE(wait([&] { return streamedOutcome.done; }));
    EXPECT_EQ(streamedOutcome.object["bodyLength"].intValue(), 1000);
    EXPECT_EQ(progress->completedUnitCount, 1000);

    const auto file = temp_.path() / "upload.bin";
    std::ofstream(file, std::ios::binary) << std::string(50000, 'f');
    Outcome fileOutcome;
    std::shared_ptr<HCProgress> fileProgress;
    sessionManager
        ->uploadTask(req(server_.url("/echo"), "PUT"), file, &fileProgress, recordInto(fileOutcome))
        .value()
        ->resume();
    ASSERT_TRUE(wait([&] { return fileOutcome.done; }));
    EXPECT_EQ(fileOutcome.object["bodyLength"].intValue(), 50000);
    EXPECT_EQ(fileOutcome.object["contentLength"].stringValue(), "50000");
    EXPECT_EQ(fileProgress->totalUnitCount, 50000);
    EXPECT_EQ(fileProgress->completedUnitCount, 50000);
}

TEST_F(HCSessionManagerTest, DownloadMovesToTheDestinationAndHandsItOn) {
    auto sessionManager = manager();
    const auto destination = temp_.path() / "kept.bin";
    Outcome outcome;
    std::shared_ptr<HCProgress> progress;
    sessionManager
        ->downloadTask(
            req(server_.url("/bytes?size=200000")), &progress,
            [&](const std::filesystem::path&, const std::optional<URLResponse>& response) {
                EXPECT_EQ(response->statusCode, 200);
                return std::optional(destination);
            },
            recordInto(outcome))
        .value()
        ->resume();
    ASSERT_TRUE(wait(
        [&] { return outcome.done && !notes(HCNetworkingTaskDidCompleteNotification).empty(); }));
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.object.stringValue(), destination.string());
    EXPECT_EQ(std::filesystem::file_size(destination), 200000u);
    EXPECT_EQ(progress->completedUnitCount, 200000);
    EXPECT_EQ(notes(HCNetworkingTaskDidCompleteNotification)
                  .front()
                  .userInfo[HCNetworkingTaskDidCompleteAssetPathKey]
                  .stringValue(),
              destination.string());
}

TEST_F(HCSessionManagerTest, ACancelledDownloadResumesIntoTheDestination) {
    auto sessionManager = manager();
    Outcome cancelled;
    std::shared_ptr<HCProgress> progress;
    auto task = sessionManager
                    ->downloadTask(req(server_.url("/bytes?size=300000&stall=120000")), &progress,
                                   nullptr, recordInto(cancelled))
                    .value();
    // Progress moves on the session's queue: a post wakes the loop to look at it.
    sessionManager->setDownloadTaskDidWriteDataBlock(
        [](auto&, auto&, std::int64_t, std::int64_t, std::int64_t) {
            platform::DispatchQueue::main().async([] {});
        });
    task->resume();
    ASSERT_TRUE(wait([&] { return progress->completedUnitCount == 120000; }));
    std::optional<Bytes> resumeData;
    task->cancelByProducingResumeData([&](std::optional<Bytes> data) { resumeData = data; });
    ASSERT_TRUE(wait([&] { return cancelled.done; }));
    EXPECT_EQ(cancelled.error->code, platform::net::urlerror::cancelled);
    ASSERT_TRUE(resumeData);
    server_.releaseSlowBodies();

    const auto destination = temp_.path() / "resumed.bin";
    std::vector<std::pair<std::int64_t, std::int64_t>> resumedAt;
    sessionManager->setDownloadTaskDidResumeBlock(
        [&](auto&, auto&, std::int64_t offset, std::int64_t total) {
            resumedAt.emplace_back(offset, total);
        });
    Outcome outcome;
    sessionManager
        ->downloadTaskWithResumeData(
            *resumeData, &progress,
            [&](const std::filesystem::path&, const std::optional<URLResponse>&) {
                return std::optional(destination);
            },
            recordInto(outcome))
        .value()
        ->resume();
    ASSERT_TRUE(wait([&] { return outcome.done; }));
    EXPECT_FALSE(outcome.error);
    EXPECT_EQ(outcome.response->statusCode, 206);
    EXPECT_EQ(progress->completedUnitCount, 300000);
    EXPECT_EQ(progress->totalUnitCount, 300000);
    EXPECT_EQ(resumedAt, (std::vector<std::pair<std::int64_t, std::int64_t>>{{120000, 300000}}));
    std::ifstream in(destination, std::ios::binary);
    const Bytes file{std::istreambuf_iterator<char>(in), {}};
    ASSERT_EQ(file.size(), 300000u);
    for (std::size_t i = 0; i < file.size(); ++i) {
        ASSERT_EQ(file[i], LoopbackServer::patternByte(i)) << i;
    }

    EXPECT_EQ(sessionManager->downloadTaskWithResumeData(Bytes{'x'}, nullptr, nullptr, nullptr)
                  .error()
                  .code,
              platform::net::urlerror::cannotDecodeRawData);
    EXPECT_TRUE(sessionManager->downloadTasks().empty());
}

TEST_F(HCSessionManagerTest, AFailedMoveCompletesWithTheMoveError) {
    auto sessionManager = manager();
    const auto destination = temp_.path() / "missing-folder" / "kept.bin";
    Outcome outcome;
    sessionManager
        ->downloadTask(
            req(server_.url("/bytes?size=1000")), nullptr,
            [&](const std::filesystem::path&, const std::optional<URLResponse>&) {
                return std::optional(destination);
            },
            recordInto(outcome))
        .value()
        ->resume();
    ASSERT_TRUE(wait(
        [&] { return outcome.done && !notes(HCNetworkingTaskDidCompleteNotification).empty(); }));
    ASSERT_TRUE(outcome.error);
    EXPECT_EQ(outcome.error->code, platform::net::urlerror::cannotMoveFile);
    EXPECT_TRUE(outcome.object.isNull());
    EXPECT_EQ(notes(HCURLSessionDownloadTaskDidFailToMoveFileNotification).size(), 1u);
    const auto complete = notes(HCNetworkingTaskDidCompleteNotification).front();
    EXPECT_FALSE(complete.userInfo.find(HCNetworkingTaskDidCompleteAssetPathKey));
    EXPECT_TRUE(complete.userInfo.find(HCNetworkingTaskDidCompleteErrorKey));
    // The temporary file does not stay behind.
    EXPECT_FALSE(std::filesystem::exists(destination));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(temp_.path()), {}), 0);
}

TEST_F(HCSessionManagerTest, NoTaskMeansNoDelegateAndAnError) {
    auto sessionManager = manager();
    Outcome outcome;
    for (const char* url : {"http://exa mple.com/", "", "mailto:someone@example.com"}) {
        const auto made = sessionManager->dataTask(req(url), recordInto(outcome));
        ASSERT_FALSE(made) << url;
        EXPECT_EQ(made.error().domain, platform::net::kURLErrorDomain);
    }
    EXPECT_TRUE(sessionManager->tasks().empty());
    loop_.runUntilIdle();
    EXPECT_FALSE(outcome.done);
}

TEST_F(HCSessionManagerTest, TaskListsAnswerFromTheRegistryByKind) {
    auto sessionManager = manager();
    auto download =
        sessionManager->downloadTask(req(server_.url("/bytes")), nullptr, nullptr, nullptr).value();
    auto data = sessionManager->dataTask(req(server_.url("/echo")), nullptr).value();
    auto upload =
        sessionManager->uploadTask(req(server_.url("/echo"), "POST"), Bytes{1}, nullptr, nullptr)
            .value();
    EXPECT_EQ(sessionManager->tasks(),
              (std::vector<HCURLSessionManager::Task>{data, upload, download}));
    EXPECT_EQ(sessionManager->dataTasks(), std::vector<HCURLSessionManager::Task>{data});
    EXPECT_EQ(sessionManager->uploadTasks(), std::vector<HCURLSessionManager::Task>{upload});
    EXPECT_EQ(sessionManager->downloadTasks(), std::vector<HCURLSessionManager::Task>{download});
}

TEST_F(HCSessionManagerTest, RedirectBlockRewritesOrStops) {
    auto sessionManager = manager();
    sessionManager->setTaskWillPerformHTTPRedirectionBlock(
        [this](platform::net::URLSession&, URLSessionTask&, const URLResponse& response,
               const URLRequest& proposed) -> std::optional<URLRequest> {
            if (response.url.find("stop") != std::string::npos) {
                return std::nullopt;
            }
            URLRequest rewritten = proposed;
            rewritten.url = server_.url("/echo/rewritten");
            return rewritten;
        });
    sessionManager->setResponseSerializer(HCHTTPResponseSerializer::serializer());
    Outcome rewritten;
    sessionManager->dataTask(req(server_.url("/redirect?to=/echo/proposed")), recordInto(rewritten))
        .value()
        ->resume();
    ASSERT_TRUE(wait([&] { return rewritten.done; }));
    EXPECT_NE(text(rewritten.object).find("/echo/rewritten"), std::string::npos);

    Outcome stopped;
    sessionManager
        ->dataTask(req(server_.url("/redirect?to=/echo/proposed&stop=1")), recordInto(stopped))
        .value()
        ->resume();
    ASSERT_TRUE(wait([&] { return stopped.done; }));
    EXPECT_EQ(stopped.response->statusCode, 302);
    // 302 is outside the acceptable codes: the body comes with the status error.
    EXPECT_EQ(stopped.error->code, -1011);
    EXPECT_EQ(text(stopped.object), "redirecting");
}

TEST_F(HCSessionManagerTest, ResponseValidationErrorsReachTheCaller) {
    auto sessionManager = manager();
    struct Case {
        const char* path;
        long code;
        std::optional<long> underlying;
        bool hasObject;
    };
    const Case cases[] = {
        {"/status/404?type=text/html&body=%3Cp%3Egone%3C/p%3E", -1011, -1016, false},
        {"/status/500?type=application/json&body=%7B%22a%22:1%7D", -1011, std::nullopt, true},
        // A 2xx JSON body that does not decode is an error, not an empty success.
        {"/status/200?type=application/json&body=%5B%22%FF%22%5D", -1016, std::nullopt, false},
    };
    for (const Case& c : cases) {
        Outcome outcome;
        sessionManager->dataTask(req(server_.url(c.path)), recordInto(outcome)).value()->resume();
        ASSERT_TRUE(wait([&] { return outcome.done; })) << c.path;
        ASSERT_TRUE(outcome.error) << c.path;
        EXPECT_EQ(outcome.error->code, c.code) << c.path;
        EXPECT_EQ(outcome.error->domain, kHCURLResponseSerializationErrorDomain) << c.path;
        if (c.underlying) {
            ASSERT_TRUE(outcome.error->underlying) << c.path;
            EXPECT_EQ(outcome.error->underlying->code, *c.underlying) << c.path;
        }
        EXPECT_EQ(!outcome.object.isNull(), c.hasObject) << c.path;
    }
}

TEST_F(HCSessionManagerTest, HttpsFollowsTheSecurityPolicy) {
    const auto& pki = TestCertificates::shared();
    const auto server = LoopbackServer::https();
    struct Case {
        const char* name;
        HCSecurityPolicy policy;
        bool succeeds;
    };
    HCSecurityPolicy pinnedKey;
    pinnedKey.setSSLPinningMode(HCSSLPinningMode::PublicKey);
    pinnedKey.setPinnedCertificates(std::vector<Bytes>{pki.intermediate.certificateDer});
    HCSecurityPolicy wrongPin = pinnedKey;
    wrongPin.setPinnedCertificates(std::vector<Bytes>{pki.otherName.certificateDer});
    HCSecurityPolicy pinnedCertificate;
    pinnedCertificate.setSSLPinningMode(HCSSLPinningMode::Certificate);
    pinnedCertificate.setPinnedCertificates(std::vector<Bytes>{pki.intermediate.certificateDer});
    // The server sends its leaf and the intermediate, never the root.
    HCSecurityPolicy rootKey = pinnedKey;
    rootKey.setPinnedCertificates(std::vector<Bytes>{pki.ca.certificateDer});
    HCSecurityPolicy rootCertificate = pinnedCertificate;
    rootCertificate.setPinnedCertificates(std::vector<Bytes>{pki.ca.certificateDer});
    const Case cases[] = {
        {"default", HCSecurityPolicy::defaultPolicy(), true},
        {"key of the intermediate", pinnedKey, true},
        {"certificate of the intermediate", pinnedCertificate, true},
        {"another key", wrongPin, false},
        {"key of the root", rootKey, true},
        {"certificate of the root", rootCertificate, true},
    };
    for (const Case& c : cases) {
        auto sessionManager = manager();
        sessionManager->setSecurityPolicy(c.policy);
        Outcome outcome;
        sessionManager->dataTask(req(server->url("/echo")), recordInto(outcome)).value()->resume();
        ASSERT_TRUE(wait([&] { return outcome.done; })) << c.name;
        EXPECT_EQ(!outcome.error, c.succeeds) << c.name;
        if (!c.succeeds) {
            EXPECT_EQ(outcome.error->code, platform::net::urlerror::serverCertificateUntrusted)
                << c.name;
        }
    }
}

// ---- the HTTP session manager ----

TEST_F(HCSessionManagerTest, BaseURLJoinsRelativePaths) {
    EXPECT_EQ(httpManager("http://h/api")->baseURL()->absoluteString(), "http://h/api/");
    EXPECT_EQ(httpManager("http://h/api/")->baseURL()->absoluteString(), "http://h/api/");
    EXPECT_EQ(httpManager("http://h")->baseURL()->absoluteString(), "http://h/");

    auto http = httpManager(server_.url("/echo"));
    Value answer;
    http->GET(
        "items", Value(),
        [&](const HCURLSessionManager::Task&, const Value& object) { answer = object; }, nullptr);
    ASSERT_TRUE(wait([&] { return !answer.isNull(); }));
    EXPECT_EQ(answer["path"].stringValue(), "/echo/items");
}

TEST_F(HCSessionManagerTest, VerbsPutParametersWhereTheyBelong) {
    auto http = httpManager(server_.url("/"));
    const Value parameters{{"a", Value("1 2")}, {"b", Value("x")}};
    using Verb = HCURLSessionManager::Task (HCHTTPSessionManager::*)(std::string_view, const Value&,
                                                                     HCHTTPSessionManager::Success,
                                                                     HCHTTPSessionManager::Failure);
    struct Case {
        const char* method;
        Verb verb;
        bool inQuery;
    };
    const Case cases[] = {
        {"GET", &HCHTTPSessionManager::GET, true},
        {"DELETE", &HCHTTPSessionManager::DELETE, true},
        {"POST", &HCHTTPSessionManager::POST, false},
        {"PUT", &HCHTTPSessionManager::PUT, false},
        {"PATCH", &HCHTTPSessionManager::PATCH, false},
    };
    for (const Case& c : cases) {
        bool done = false;
        (http.get()->*c.verb)(
            "echo", parameters,
            [&](const HCURLSessionManager::Task&, const Value&) { done = true; },
            [&](const HCURLSessionManager::Task&, const HCError&) { done = true; });
        ASSERT_TRUE(wait([&] { return done; })) << c.method;
        const auto seen = server_.last();
        EXPECT_EQ(seen->method, c.method);
        if (c.inQuery) {
            EXPECT_EQ(seen->target, "/echo?a=1%202&b=x") << c.method;
            EXPECT_EQ(seen->body, "") << c.method;
        } else {
            EXPECT_EQ(seen->target, "/echo") << c.method;
            EXPECT_EQ(seen->body, "a=1%202&b=x") << c.method;
            EXPECT_EQ(seen->header("Content-Type"), "application/x-www-form-urlencoded")
                << c.method;
        }
    }
    HCURLSessionManager::Task headTask;
    bool headDone = false;
    auto made = http->HEAD(
        "echo", parameters,
        [&](const HCURLSessionManager::Task& task) {
            headTask = task;
            headDone = true;
        },
        nullptr);
    ASSERT_TRUE(wait([&] { return headDone; }));
    EXPECT_EQ(headTask, made);
    EXPECT_EQ(server_.last()->method, "HEAD");
    EXPECT_EQ(server_.last()->target, "/echo?a=1%202&b=x");
}

TEST_F(HCSessionManagerTest, SerializerHeadersArriveAsSet) {
    auto http = httpManager(server_.url("/"));
    HCClientFacts facts;
    facts.preferredLanguages = {"de", "en"};
    facts.executableName = "KavoManager";
    facts.shortVersion = "2.0";
    facts.deviceModel = "x86_64";
    facts.systemVersion = "6.1";
    http->setRequestSerializer(std::make_shared<HCHTTPRequestSerializer>(facts));

    std::optional<HCError> refused;
    bool done = false;
    http->GET("basic?user=kavo&password=secret", Value(), nullptr,
              [&](const HCURLSessionManager::Task& task, const HCError& error) {
                  EXPECT_TRUE(task);
                  refused = error;
                  done = true;
              });
    ASSERT_TRUE(wait([&] { return done; }));
    ASSERT_TRUE(refused);
    EXPECT_EQ(refused->code, -1011);
    EXPECT_EQ(refused->response->statusCode, 401);

    http->requestSerializer()->setAuthorizationHeaderFieldWithUsername("kavo", "secret");
    Value answer;
    http->GET(
        "basic?user=kavo&password=secret", Value(),
        [&](const HCURLSessionManager::Task&, const Value& object) { answer = object; }, nullptr);
    ASSERT_TRUE(wait([&] { return !answer.isNull(); }));
    EXPECT_EQ(answer["authenticated"].boolValue(), true);
    const auto seen = server_.last();
    EXPECT_EQ(seen->header("Accept-Language"), "de;q=1, en;q=0.9");
    EXPECT_EQ(seen->header("User-Agent"), "KavoManager/2.0 (x86_64; iOS 6.1; Scale/1.00)");
    EXPECT_EQ(seen->header("Authorization"), "Basic a2F2bzpzZWNyZXQ=");
}

TEST_F(HCSessionManagerTest, BodySerializersAsTheServerReceivedThem) {
    auto http = httpManager(server_.url("/"));
    const Value parameters{{"name", Value("kavo")}, {"n", Value(3)}};
    const auto post = [&](std::shared_ptr<HCHTTPRequestSerializer> serializer, const char* path) {
        http->setRequestSerializer(std::move(serializer));
        Value answer;
        http->POST(
            path, parameters,
            [&](const HCURLSessionManager::Task&, const Value& object) { answer = object; },
            [](const HCURLSessionManager::Task&, const HCError& error) {
                ADD_FAILURE() << error.localizedDescription;
            });
        EXPECT_TRUE(wait([&] { return !answer.isNull(); }));
        return answer;
    };
    post(HCJSONRequestSerializer::serializer(), "echo");
    EXPECT_EQ(server_.last()->body, R"({"name":"kavo","n":3})");
    EXPECT_EQ(platform::json::parse(server_.last()->body).value(), parameters);
    EXPECT_EQ(server_.last()->header("Content-Type"), "application/json");

    post(HCPropertyListRequestSerializer::serializer(), "echo");
    EXPECT_EQ(platform::plist::parse(server_.last()->body).value(), parameters);
    EXPECT_EQ(server_.last()->header("Content-Type"), "application/x-plist");

    // The server inflates the gzip body, and answers gzip-coded, which the engine decodes.
    const Value answer = post(
        HCgzipRequestSerializer::serializerWithSerializer(HCJSONRequestSerializer::serializer()),
        "gzip-echo");
    EXPECT_EQ(server_.last()->header("Content-Encoding"), "gzip");
    EXPECT_EQ(answer["contentEncoding"].stringValue(), "gzip");
    EXPECT_EQ(platform::json::parse(answer["decodedBody"].stringValue().value()).value(),
              parameters);
}

TEST_F(HCSessionManagerTest, ARequestThatCannotBeBuiltFailsLaterWithoutATask) {
    auto http = httpManager();
    bool failed = false;
    const auto task = http->GET("no base and not absolute", Value(), nullptr,
                                [&](const HCURLSessionManager::Task& none, const HCError& error) {
                                    EXPECT_FALSE(none);
                                    EXPECT_EQ(error.code, platform::net::urlerror::badURL);
                                    failed = true;
                                });
    EXPECT_FALSE(task);
    EXPECT_FALSE(failed);
    ASSERT_TRUE(wait([&] { return failed; }));
    EXPECT_TRUE(http->tasks().empty());
}

TEST_F(HCSessionManagerTest, EveryManagerIsItsOwn) {
    const auto first = HCHTTPSessionManager::manager();
    const auto second = HCHTTPSessionManager::manager();
    EXPECT_NE(first->session(), second->session());
    EXPECT_NE(first->operationQueue(), second->operationQueue());
    EXPECT_NE(first->taskDescriptionForSessionTasks(), second->taskDescriptionForSessionTasks());
}

TEST_F(HCSessionManagerTest, ArchivedAndCopiedManagersKeepConfigurationBaseAndSerializers) {
    auto made = configuration();
    made.additionalHeaders.set("X-Session", "kept");
    auto http = std::make_unique<HCHTTPSessionManager>(server_.url("/echo"), made, &loader_);
    http->setRequestSerializer(HCJSONRequestSerializer::serializerWithWritingOptions(1));
    http->setResponseSerializer(HCXMLParserResponseSerializer::serializer());

    const std::string archive = platform::plist::write(http->encode()).value();
    std::unique_ptr<HCHTTPSessionManager> decoded =
        HCHTTPSessionManager::decode(platform::plist::parse(archive).value(), &loader_);
    std::unique_ptr<HCURLSessionManager> copied = http->copy();
    for (HCURLSessionManager* other :
         {static_cast<HCURLSessionManager*>(decoded.get()), copied.get()}) {
        auto& manager = dynamic_cast<HCHTTPSessionManager&>(*other);
        EXPECT_NE(manager.session(), http->session());
        EXPECT_EQ(manager.baseURL()->absoluteString(), server_.url("/echo/"));
        EXPECT_EQ(manager.session()->configuration().temporaryDirectory, temp_.path());
        EXPECT_EQ(manager.session()->configuration().anchorCertificates, made.anchorCertificates);
        EXPECT_NE(manager.requestSerializer(), http->requestSerializer());
        EXPECT_EQ(manager.requestSerializer()->encode(), http->requestSerializer()->encode());
        EXPECT_STREQ(manager.responseSerializer()->className(), "HCXMLParserResponseSerializer");

        // It works: the header of the configuration reaches the server, the body is JSON.
        std::optional<HCError> failed;
        bool done = false;
        manager.setResponseSerializer(HCJSONResponseSerializer::serializer());
        manager.POST(
            "sub", Value{{"a", 1}},
            [&](const HCURLSessionManager::Task&, const Value&) { done = true; },
            [&](const HCURLSessionManager::Task&, const HCError& error) {
                failed = error;
                done = true;
            });
        ASSERT_TRUE(wait([&] { return done; }));
        EXPECT_FALSE(failed);
        EXPECT_EQ(server_.last()->path, "/echo/sub");
        EXPECT_EQ(server_.last()->header("X-Session"), "kept");
        EXPECT_EQ(server_.last()->header("Content-Type"), "application/json");
    }

    // The base manager codes its configuration alone.
    const auto plain = HCURLSessionManager::decode(manager()->encode(), &loader_);
    EXPECT_EQ(plain->session()->configuration().temporaryDirectory, temp_.path());
    const auto plainCopy = manager()->copy();
    const auto& copiedObject = *plainCopy;
    EXPECT_EQ(typeid(copiedObject), typeid(HCURLSessionManager));
}

}  // namespace
