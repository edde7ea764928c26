#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "platform/foundation/CrashTrap.h"
#include "platform/foundation/Result.h"
#include "platform/mail/Mail.h"

// The crash capture. A fatal signal or an uncaught exception writes the crash report into a
// file opened at launch (the process then ends by its signal, or by abort); the next launch
// offers that report as the crash mail with every log file attached, and forgets it once the
// mail was handed over. The report is the mail's body, in the system's own form:
//   signal:    "Crash\n<<Signal Crash>>\nSignalException\nSignal:[SIGSEGV]\n<<Trace>>\n" ...
//   exception: "Crash<<Crash>>\n<description>\n\n\n<<Call Stack>>\n(symbols)\n<<Trace>>\n" ...
class CrashHandler {
public:
    // What it needs at launch. Log files are asked for when the mail is made.
    struct Environment {
        std::filesystem::path folder;  // where reports wait
        platform::mail::MailComposer& composer;
        std::function<std::vector<std::filesystem::path>()> logFiles;
        // The subject's time: "[iOS CRASH_LOG] <short date>, <short time>" of the report's
        // time (seconds since 1970).
        std::function<std::string(std::int64_t)> shortDateTime;
    };

    // The file the trap writes and the one a report waits in until it was offered.
    static constexpr const char* kReportName = "CrashReport.txt";
    static constexpr const char* kPendingName = "CrashReport.pending.txt";
    // A report is read up to this size; the trap writes far less.
    static constexpr std::size_t kMaxReportBytes = 1 << 20;

    explicit CrashHandler(Environment environment);
    // Takes the trap away again.
    ~CrashHandler();
    CrashHandler(const CrashHandler&) = delete;
    CrashHandler& operator=(const CrashHandler&) = delete;

    // Keeps a report the last run left, installs the handlers (emptying the trap's file) and
    // offers the kept report when the composer can send mail. A report whose mail could not
    // be offered or handed over waits for the next launch.
    platform::Result<void> installCrashHandlers();

    // The report texts as the handlers write them.
    static void writeSignalReport(int fd, int signal);
    static void writeExceptionReport(int fd, const platform::CrashException& exception);

    // "[iOS CRASH_LOG] <time>", the report as the body, no recipient but the empty one, and the
    // log files as "text/plain" under their names.
    [[nodiscard]] platform::mail::Mail crashMail(std::string report, std::int64_t when) const;

    // Whether a report is being offered (its mail not yet handed over).
    [[nodiscard]] bool isOffering() const { return offering_; }

private:
    void offerPendingReport();

    Environment environment_;
    bool installed_ = false;
    bool offering_ = false;
    std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
};

// "M/d/yy, h:mm AM" (or "HH:mm" where the clock shows 24 hours) of the phone's time zone.
[[nodiscard]] std::string crashShortDateTime(std::int64_t unixSeconds);
