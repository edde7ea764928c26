#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <fstream>
#include <string>
#include <vector>

#include "app/CrashHandler.h"
#include "platform/foundation/Base64.h"
#include "platform/foundation/FileSystem.h"
#include "platform/foundation/RunLoop.h"
#include "platform/mail/XdgEmailComposer.h"
#include "support/LoopWait.h"
#include "support/Spawn.h"
#include "support/TempDir.h"

namespace {

namespace mail = platform::mail;

// Runs the crash child to its end; its wait status.
int crashChild(const std::filesystem::path& folder, const std::string& kind) {
    // The sanitizer's own handlers stand aside, as the program's would without it.
    const pid_t child = testing_support::spawnProgram(
        {KAVO_CRASH_CHILD, folder.string(), kind}, nullptr,
        {"ASAN_OPTIONS=handle_segv=0:handle_abort=0:allow_user_segv_handler=1:detect_leaks=0"});
    EXPECT_GT(child, 0);
    int status = 0;
    EXPECT_EQ(waitpid(child, &status, WUNTRACED), child);
    if (WIFSTOPPED(status)) {
        kill(child, SIGKILL);
        int ended = 0;
        waitpid(child, &ended, 0);
    }
    return status;
}

std::string readAll(const std::filesystem::path& file) {
    auto text = platform::fs::readFile(file);
    return text.ok() ? std::move(text).value() : std::string();
}

class CrashHandlerTest : public ::testing::Test {
protected:
    CrashHandler::Environment environment(mail::MailComposer& composer) {
        return {.folder = temp.path() / "crash",
                .composer = composer,
                .logFiles = [this] { return logFiles; },
                .shortDateTime = [](std::int64_t) { return std::string("12/11/26, 0:15 AM"); }};
    }

    testing_support::TempDir temp;
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
    std::vector<std::filesystem::path> logFiles;
};

TEST_F(CrashHandlerTest, ACrashLeavesItsReportAndTheProcessStillDiesByItsSignal) {
    {
        SCOPED_TRACE("segmentation fault");
        const int status = crashChild(temp.path() / "segv", "segv");
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), SIGSEGV);
        EXPECT_EQ(readAll(temp.path() / "segv" / CrashHandler::kReportName),
                  "Crash\n<<Signal Crash>>\nSignalException\nSignal:[SIGSEGV]\n<<Trace>>\n"
                  "\n\n\n\n Call stack symbol");
    }
    {
        SCOPED_TRACE("uncaught exception");
        const int status = crashChild(temp.path() / "exception", "exception");
        ASSERT_TRUE(WIFSIGNALED(status)) << status;
        EXPECT_EQ(WTERMSIG(status), SIGABRT);
        const std::string report = readAll(temp.path() / "exception" / CrashHandler::kReportName);
        EXPECT_EQ(report.rfind("Crash<<Crash>>\nstd::runtime_error: the disk is on fire\n\n\n"
                               "<<Call Stack>>\n(\n    ",
                               0),
                  0U)
            << report;
        // One report only: the abort that ends the process is not a second crash.
        EXPECT_EQ(report.find("<<Signal Crash>>"), std::string::npos);
        const auto trace = report.find("\n<<Trace>>\n\n\n\n\n Call stack symbol");
        ASSERT_NE(trace, std::string::npos);
        // Symbol, tab, decimal return address, per frame.
        const std::string frames = report.substr(trace + 30);
        EXPECT_NE(frames.find("crash_child"), std::string::npos);
        EXPECT_NE(frames.find('\t'), std::string::npos);
        EXPECT_EQ(frames.back(), '\n');
    }
    {
        SCOPED_TRACE("terminal stop: no crash");
        const int status = crashChild(temp.path() / "stop", "stop");
        EXPECT_TRUE(WIFSTOPPED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
            << status;
        EXPECT_EQ(readAll(temp.path() / "stop" / CrashHandler::kReportName), "");
    }
}

TEST_F(CrashHandlerTest, TheNextLaunchOffersTheReportWithEveryLogFileAttached) {
    for (const char* name : {"a.log", "b.log", "c.log"}) {
        logFiles.push_back(temp.path() / name);
        std::ofstream(logFiles.back()) << "lines of " << name << "\n";
    }
    ASSERT_TRUE(WIFSIGNALED(crashChild(temp.path() / "crash", "segv")));
    const std::string report = readAll(temp.path() / "crash" / CrashHandler::kReportName);

    mail::RecordingMailComposer composer(loop);
    {
        CrashHandler handler(environment(composer));
        ASSERT_TRUE(handler.installCrashHandlers().ok());
        ASSERT_EQ(composer.mails.size(), 1U);
        const mail::Mail& offered = composer.mails[0];
        EXPECT_EQ(offered.subject, "[iOS CRASH_LOG] 12/11/26, 0:15 AM");
        EXPECT_EQ(offered.body, report);
        EXPECT_EQ(offered.recipients, std::vector<std::string>{""});
        ASSERT_EQ(offered.attachments.size(), 3U);
        for (std::size_t i = 0; i < 3; ++i) {
            EXPECT_EQ(offered.attachments[i].path, logFiles[i]);
            EXPECT_EQ(offered.attachments[i].mimeType, "text/plain");
            EXPECT_EQ(offered.attachments[i].shownName(), logFiles[i].filename().string());
        }
        // Kept until handed over; the trap's file is fresh meanwhile.
        EXPECT_TRUE(handler.isOffering());
        EXPECT_EQ(readAll(temp.path() / "crash" / CrashHandler::kReportName), "");
        loop.runUntilIdle();
        EXPECT_FALSE(handler.isOffering());
    }
    // Handed over: nothing is offered twice.
    CrashHandler again(environment(composer));
    ASSERT_TRUE(again.installCrashHandlers().ok());
    EXPECT_EQ(composer.mails.size(), 1U);
}

TEST_F(CrashHandlerTest,
       AReportWhoseMailFailedIsOfferedAgainAndWithoutAMailProgramGoesToTheOutbox) {
    logFiles.push_back(temp.path() / "only.log");
    std::ofstream(logFiles.back()) << "log\n";
    ASSERT_TRUE(WIFSIGNALED(crashChild(temp.path() / "crash", "segv")));
    const std::string report = readAll(temp.path() / "crash" / CrashHandler::kReportName);
    {
        mail::RecordingMailComposer failing(loop);
        failing.answer = platform::Error{mail::kErrorDomain, mail::kOutboxUnwritable, "full"};
        CrashHandler handler(environment(failing));
        ASSERT_TRUE(handler.installCrashHandlers().ok());
        loop.runUntilIdle();
        ASSERT_EQ(failing.mails.size(), 1U);
    }
    mail::XdgEmailComposer composer(
        loop, mail::EmlOutbox(temp.path() / "Outbox", [] { return std::int64_t{0}; }),
        "/nonexistent/xdg-email");
    CrashHandler handler(environment(composer));
    ASSERT_TRUE(handler.installCrashHandlers().ok());
    ASSERT_TRUE(testing_support::runLoopUntil(loop, [&] { return !handler.isOffering(); }));
    const std::string eml = readAll(temp.path() / "Outbox" / "19700101-000000.eml");
    EXPECT_NE(eml.find("Subject: [iOS CRASH_LOG] 12/11/26, 0:15 AM\r\n"), std::string::npos);
    EXPECT_NE(eml.find("Content-Disposition: attachment; filename=\"only.log\"\r\n"),
              std::string::npos);
    const std::string body = eml.substr(eml.find("\r\n\r\n", eml.find("charset=utf-8")) + 4);
    const auto coded = body.substr(0, body.find("\r\n--"));
    std::string joined;
    for (const char c : coded) {
        if (c != '\r' && c != '\n') {
            joined += c;
        }
    }
    const auto decoded = platform::base64::decode(joined);
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(std::string(decoded->begin(), decoded->end()), report);
    EXPECT_FALSE(std::filesystem::exists(temp.path() / "crash" / CrashHandler::kPendingName));
}

// Neither a mail program nor a writable outbox: the mail is not even offered, and the report
// waits for a launch that has somewhere to send it.
TEST_F(CrashHandlerTest, WithNowhereForTheMailTheReportWaitsForALaunchThatHasOne) {
    ASSERT_TRUE(WIFSIGNALED(crashChild(temp.path() / "crash", "segv")));
    const std::string report = readAll(temp.path() / "crash" / CrashHandler::kReportName);
    std::ofstream(temp.path() / "blocked") << "a file where the outbox's folder would be";
    {
        mail::XdgEmailComposer nowhere(
            loop,
            mail::EmlOutbox(temp.path() / "blocked" / "Outbox", [] { return std::int64_t{0}; }),
            "/nonexistent/xdg-email");
        ASSERT_FALSE(nowhere.canSendMail());
        CrashHandler handler(environment(nowhere));
        ASSERT_TRUE(handler.installCrashHandlers().ok());
        EXPECT_FALSE(handler.isOffering());
        loop.runUntilIdle();
    }
    EXPECT_EQ(readAll(temp.path() / "crash" / CrashHandler::kPendingName), report);
    mail::RecordingMailComposer composer(loop);
    CrashHandler handler(environment(composer));
    ASSERT_TRUE(handler.installCrashHandlers().ok());
    ASSERT_EQ(composer.mails.size(), 1U);
    EXPECT_EQ(composer.mails[0].body, report);
}

}  // namespace
