#include "app/CrashHandler.h"

#include <chrono>
#include <cstdio>
#include <system_error>
#include <utility>

#include "logging/LGLog.h"
#include "platform/foundation/CivilTime.h"
#include "platform/foundation/FileSystem.h"
#include "platform/system/DeviceInfo.h"

namespace {

using platform::CrashTrap;

// No producer of trace lines exists, so the trace is its closing line alone.
constexpr std::string_view kTraceEnd = "\n\n\n\n Call stack symbol";

std::int64_t modificationTime(const std::filesystem::path& file) {
    std::error_code error;
    const auto stamp = std::filesystem::last_write_time(file, error);
    if (error) {
        return 0;
    }
    const auto system = std::chrono::file_clock::to_sys(stamp);
    return std::chrono::duration_cast<std::chrono::seconds>(system.time_since_epoch()).count();
}

bool nonEmpty(const std::filesystem::path& file) {
    std::error_code error;
    return std::filesystem::is_regular_file(file, error) &&
           std::filesystem::file_size(file, error) > 0 && !error;
}

}  // namespace

std::string crashShortDateTime(std::int64_t unixSeconds) {
    const platform::DeviceInfo& device = platform::DeviceInfo::current();
    const platform::CivilTime local =
        platform::civilFromSeconds(unixSeconds + device.timeZone(unixSeconds).secondsFromGMT);
    char text[64];
    if (device.showsAmPm()) {
        const unsigned hour12 = local.hour % 12 == 0 ? 12 : local.hour % 12;
        std::snprintf(text, sizeof text, "%u/%u/%02lld, %u:%02u %s", local.month, local.day,
                      static_cast<long long>(local.year % 100), hour12, local.minute,
                      local.hour < 12 ? "AM" : "PM");
    } else {
        std::snprintf(text, sizeof text, "%u/%u/%02lld, %02u:%02u", local.month, local.day,
                      static_cast<long long>(local.year % 100), local.hour, local.minute);
    }
    return text;
}

CrashHandler::CrashHandler(Environment environment) : environment_(std::move(environment)) {}

CrashHandler::~CrashHandler() {
    *alive_ = false;
    if (installed_) {
        CrashTrap::uninstall();
    }
}

void CrashHandler::writeSignalReport(int fd, int signal) {
    CrashTrap::write(fd, "Crash");
    CrashTrap::write(fd, "\n<<Signal Crash>>\nSignalException\n");
    if (const char* name = CrashTrap::signalName(signal); name != nullptr) {
        CrashTrap::write(fd, "Signal:[");
        CrashTrap::write(fd, name);
    } else {
        CrashTrap::write(fd, "Signal(undefined):[");
        CrashTrap::writeDecimal(fd, signal);
    }
    CrashTrap::write(fd, "]");
    CrashTrap::write(fd, "\n<<Trace>>\n");
    CrashTrap::write(fd, kTraceEnd);
}

void CrashHandler::writeExceptionReport(int fd, const platform::CrashException& exception) {
    std::string report = "Crash<<Crash>>\n" + exception.description + "\n\n\n<<Call Stack>>\n(";
    for (std::size_t i = 0; i < exception.callStackSymbols.size(); ++i) {
        report += (i == 0 ? "\n    " : ",\n    ") + exception.callStackSymbols[i];
    }
    report += "\n)\n<<Trace>>\n";
    report += kTraceEnd;
    for (std::size_t i = 0; i < exception.callStackSymbols.size(); ++i) {
        const std::uintptr_t address = i < exception.callStackReturnAddresses.size()
                                           ? exception.callStackReturnAddresses[i]
                                           : 0;
        report += exception.callStackSymbols[i] + "\t" + std::to_string(address) + "\n";
    }
    CrashTrap::write(fd, report);
}

platform::mail::Mail CrashHandler::crashMail(std::string report, std::int64_t when) const {
    platform::mail::Mail mail;
    mail.recipients = {""};
    mail.subject = "[iOS CRASH_LOG] " + environment_.shortDateTime(when);
    mail.body = std::move(report);
    for (const auto& file : environment_.logFiles()) {
        mail.attachments.push_back({file, "text/plain", file.filename().string()});
    }
    return mail;
}

platform::Result<void> CrashHandler::installCrashHandlers() {
    std::error_code error;
    std::filesystem::create_directories(environment_.folder, error);
    const auto report = environment_.folder / kReportName;
    const auto pending = environment_.folder / kPendingName;
    // A report still waiting to be offered is older and wins; this one would repeat the story.
    if (nonEmpty(report) && !nonEmpty(pending)) {
        std::filesystem::rename(report, pending, error);
        if (error) {
            LG_ERROR("CrashHandler: cannot keep the last crash report: %@", error.message());
        }
    }
    auto installed = CrashTrap::install(report, CrashTrap::fatalSignals(), writeSignalReport,
                                        writeExceptionReport);
    if (!installed.ok()) {
        LG_ERROR("CrashHandler: %@", installed.error().message);
        return installed;
    }
    installed_ = true;
    offerPendingReport();
    return {};
}

void CrashHandler::offerPendingReport() {
    const auto pending = environment_.folder / kPendingName;
    if (!nonEmpty(pending)) {
        return;
    }
    auto text = platform::fs::readFile(pending, kMaxReportBytes);
    if (!text.ok()) {
        LG_ERROR("CrashHandler: cannot read the crash report: %@", text.error().message);
        return;
    }
    if (!environment_.composer.canSendMail()) {
        // Kept as it is: a mail program or a writable outbox may be there next time.
        LG_ERROR(
            "CrashHandler: the last run crashed, but no mail program is found and the outbox "
            "cannot be written; its report waits for the next launch");
        return;
    }
    LG_INFO("CrashHandler: the last run crashed; offering its report");
    offering_ = true;
    environment_.composer.compose(
        crashMail(std::move(text).value(), modificationTime(pending)),
        [this, alive = alive_, pending](const platform::Result<platform::mail::Delivery>& sent) {
            if (!*alive) {
                return;
            }
            offering_ = false;
            if (!sent.ok()) {
                LG_ERROR(
                    "CrashHandler: the crash mail was not handed over (%@); it is offered "
                    "again at the next launch",
                    sent.error().message);
                return;
            }
            if (sent->kind == platform::mail::Delivery::Kind::outbox) {
                LG_INFO("CrashHandler: the crash mail waits in %@", sent->outboxFile.string());
            }
            std::error_code removeError;
            std::filesystem::remove(pending, removeError);
        });
}
