#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Base64.h"
#include "platform/foundation/RunLoop.h"
#include "platform/mail/EmlMessage.h"
#include "platform/mail/XdgEmailComposer.h"
#include "support/LoopWait.h"
#include "support/ScopedEnvironment.h"
#include "support/TempDir.h"

namespace mail = platform::mail;

namespace {

// One part of a message: its header fields (names as written) and its decoded body.
struct Part {
    std::map<std::string, std::string> fields;
    std::string body;
};

std::vector<std::string> splitLines(const std::string& text) {
    std::vector<std::string> lines;
    std::size_t at = 0;
    while (at < text.size()) {
        const auto end = text.find("\r\n", at);
        EXPECT_NE(end, std::string::npos) << "a line without CR LF";
        if (end == std::string::npos) {
            break;
        }
        lines.push_back(text.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// Header fields (continuation lines joined) and the lines after the empty one.
std::map<std::string, std::string> fieldsOf(const std::vector<std::string>& lines,
                                            std::size_t& at) {
    std::map<std::string, std::string> fields;
    std::string last;
    for (; at < lines.size() && !lines[at].empty(); ++at) {
        if (lines[at][0] == ' ') {
            fields[last] += lines[at];
            continue;
        }
        const auto colon = lines[at].find(": ");
        last = lines[at].substr(0, colon);
        fields[last] = lines[at].substr(colon + 2);
    }
    ++at;
    return fields;
}

std::string decodeBase64Lines(const std::vector<std::string>& lines, std::size_t from,
                              std::size_t to) {
    std::string joined;
    for (std::size_t i = from; i < to; ++i) {
        EXPECT_LE(lines[i].size(), 76U);
        joined += lines[i];
    }
    const auto bytes = platform::base64::decode(joined);
    EXPECT_TRUE(bytes.has_value());
    return bytes ? std::string(bytes->begin(), bytes->end()) : std::string();
}

// The top-level fields and, for a multipart message, its parts in order.
struct Parsed {
    std::map<std::string, std::string> fields;
    std::vector<Part> parts;
};

Parsed parse(const std::string& message, const std::string& boundary) {
    const auto lines = splitLines(message);
    for (const auto& line : lines) {
        EXPECT_LE(line.size(), 998U);
    }
    Parsed parsed;
    std::size_t at = 0;
    parsed.fields = fieldsOf(lines, at);
    if (parsed.fields["Content-Type"].rfind("multipart/mixed", 0) != 0) {
        parsed.parts.push_back({{}, decodeBase64Lines(lines, at, lines.size())});
        return parsed;
    }
    EXPECT_EQ(lines.back(), "--" + boundary + "--");
    while (at < lines.size() && lines[at] == "--" + boundary) {
        ++at;
        Part part;
        part.fields = fieldsOf(lines, at);
        std::size_t end = at;
        while (end < lines.size() && lines[end].rfind("--" + boundary, 0) != 0) {
            ++end;
        }
        part.body = decodeBase64Lines(lines, at, end);
        parsed.parts.push_back(std::move(part));
        at = end;
    }
    return parsed;
}

void writeFile(const std::filesystem::path& path, const std::string& content) {
    std::ofstream(path, std::ios::binary) << content;
}

}  // namespace

TEST(EmlMessage, CarriesTheBodyAndEveryAttachmentInMimeParts) {
    testing_support::TempDir temp;
    std::string binary;
    for (int i = 0; i < 3000; ++i) {
        binary += static_cast<char>(i % 256);
    }
    writeFile(temp.path() / "a.log", "first log\n");
    writeFile(temp.path() / "b.bin", binary);
    mail::Mail message{
        .recipients = {"", "-o@evil", "someone@example.org", "a b@c", "x@y\r\nBcc: z@w"},
        .subject = "[iOS CRASH_LOG] 12/11/26, 00:15",
        .body = std::string(2000, 'x') + "\nline two\n",
        .attachments = {{temp.path() / "a.log", "text/plain", ""},
                        {temp.path() / "b.bin", "bad type\r\n", "r\xC3\xA9sum\xC3\xA9 \"1\".bin"}}};

    const auto eml =
        mail::emlMessage(message, {.from = "me@host", .unixTime = 1796947200, .boundary = "=_b"});
    ASSERT_TRUE(eml.ok()) << eml.error().message;
    const Parsed parsed = parse(*eml, "=_b");

    EXPECT_EQ(parsed.fields.at("Date"), "Fri, 11 Dec 2026 00:00:00 +0000");
    EXPECT_EQ(parsed.fields.at("From"), "me@host");
    EXPECT_EQ(parsed.fields.at("To"), "someone@example.org");
    EXPECT_EQ(parsed.fields.at("Subject"), "[iOS CRASH_LOG] 12/11/26, 00:15");
    EXPECT_EQ(parsed.fields.at("MIME-Version"), "1.0");
    EXPECT_EQ(parsed.fields.at("X-Unsent"), "1");
    EXPECT_FALSE(parsed.fields.contains("Bcc"));
    EXPECT_EQ(parsed.fields.at("Content-Type"), "multipart/mixed; boundary=\"=_b\"");
    ASSERT_EQ(parsed.parts.size(), 3U);
    EXPECT_EQ(parsed.parts[0].fields.at("Content-Type"), "text/plain; charset=utf-8");
    EXPECT_EQ(parsed.parts[0].body, message.body);
    EXPECT_EQ(parsed.parts[1].fields.at("Content-Type"), "text/plain; name=\"a.log\"");
    EXPECT_EQ(parsed.parts[1].fields.at("Content-Disposition"), "attachment; filename=\"a.log\"");
    EXPECT_EQ(parsed.parts[1].body, "first log\n");
    // A type that is no token is sent as bytes; a name that is no plain ASCII in RFC 2231 form.
    EXPECT_EQ(parsed.parts[2].fields.at("Content-Type"),
              "application/octet-stream; name*=UTF-8''r%C3%A9sum%C3%A9%20%221%22.bin");
    EXPECT_EQ(parsed.parts[2].fields.at("Content-Disposition"),
              "attachment; filename*=UTF-8''r%C3%A9sum%C3%A9%20%221%22.bin");
    EXPECT_EQ(parsed.parts[2].body, binary);
}

TEST(EmlMessage, CodesSubjectsThatCouldBreakTheHeader) {
    struct Case {
        std::string subject;
        bool plain;
    };
    const Case cases[] = {
        {"Crash report", true},
        {"Evil\r\nBcc: someone@example.org", false},
        {"Caf\xC3\xA9 \xE2\x82\xAC", false},
        {std::string(200, '\xE2'), false},  // not UTF-8: replaced, never passed on
        {std::string(1200, 's'), false},
        {"=?UTF-8?B?QQ==?=", false},
    };
    for (const Case& c : cases) {
        const auto eml = mail::emlMessage({.subject = c.subject}, {.from = "me@host"});
        ASSERT_TRUE(eml.ok());
        const Parsed parsed = parse(*eml, "");
        const std::string& field = parsed.fields.at("Subject");
        EXPECT_FALSE(parsed.fields.contains("Bcc"));
        if (c.plain) {
            EXPECT_EQ(field, c.subject);
            continue;
        }
        // Decode the encoded words back.
        std::string decoded;
        std::size_t at = 0;
        while ((at = field.find("=?UTF-8?B?", at)) != std::string::npos) {
            const auto end = field.find("?=", at + 10);
            const auto bytes = platform::base64::decode(field.substr(at + 10, end - at - 10));
            ASSERT_TRUE(bytes.has_value());
            decoded.append(bytes->begin(), bytes->end());
            at = end + 2;
        }
        EXPECT_EQ(decoded, c.subject[0] == '\xE2' && c.subject.size() == 200 ? "?" : c.subject);
    }
}

TEST(EmlMessage, RefusesAnAttachmentItCannotRead) {
    testing_support::TempDir temp;
    const auto eml =
        mail::emlMessage({.attachments = {{temp.path() / "gone.log", "text/plain", ""}}}, {});
    ASSERT_FALSE(eml.ok());
    EXPECT_EQ(eml.error().code, mail::kAttachmentUnreadable);
    EXPECT_NE(eml.error().message.find("gone.log"), std::string::npos);
}

TEST(EmlOutbox, NamesFilesByTimeAndNeverOverwrites) {
    testing_support::TempDir temp;
    const mail::EmlOutbox outbox(
        temp.path() / "Outbox", [] { return std::int64_t{1796947200}; }, "me@host");
    const auto first = outbox.store({.subject = "one"});
    const auto second = outbox.store({.subject = "two"});
    ASSERT_TRUE(first.ok() && second.ok());
    EXPECT_EQ(first->filename(), "20261211-000000.eml");
    EXPECT_EQ(second->filename(), "20261211-000000-2.eml");
    std::ifstream in(*first, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    EXPECT_NE(content.find("Subject: one\r\n"), std::string::npos);
}

TEST(XdgEmailComposer, HandsTheMailOverAsAnArgumentVector) {
    const mail::Mail message{
        .recipients = {"", "--option@x", "a@example.org"},
        .subject = "-s; rm -rf /",
        .body = "$(body)",
        .attachments = {{"relative.log", "text/plain", ""}, {"/abs/b.log", "text/plain", ""}}};
    const auto words = mail::XdgEmailComposer::arguments("xdg-email", message);
    const std::vector<std::string> expected{
        "xdg-email",    "--utf8",
        "--subject",    "-s; rm -rf /",
        "--body",       "$(body)",
        "--attach",     (std::filesystem::current_path() / "relative.log").string(),
        "--attach",     "/abs/b.log",
        "a@example.org"};
    EXPECT_EQ(words, expected);
}

// The program's fate decides where the mail goes; the completion comes on the loop.
TEST(XdgEmailComposer, FallsBackToTheOutboxWhenTheProgramFailsOrIsMissing) {
    struct Case {
        const char* name;
        std::string program;
        std::optional<mail::XdgEmailComposer::Run> run;
        mail::Delivery::Kind expected;
    };
    const Case cases[] = {
        {"succeeds", "xdg-email", [](auto) { return std::optional<int>(0); },
         mail::Delivery::Kind::mailProgram},
        {"no mail program configured", "xdg-email", [](auto) { return std::optional<int>(3); },
         mail::Delivery::Kind::outbox},
        {"not installed", "/nonexistent/xdg-email", std::nullopt, mail::Delivery::Kind::outbox},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        testing_support::TempDir temp;
        platform::RunLoop loop(platform::RunLoop::Clock::virtualTime);
        std::vector<std::vector<std::string>> ran;
        mail::XdgEmailComposer::Run run = mail::XdgEmailComposer::runToEnd;
        if (c.run) {
            run = *c.run;
        }
        mail::XdgEmailComposer composer(
            loop, mail::EmlOutbox(temp.path() / "Outbox", [] { return std::int64_t{0}; }),
            c.program, run);
        std::optional<platform::Result<mail::Delivery>> result;
        bool onLoop = false;
        composer.compose({.subject = "s", .body = "b"},
                         [&](const platform::Result<mail::Delivery>& delivered) {
                             onLoop = loop.isCurrent();
                             result = delivered;
                         });
        ASSERT_TRUE(testing_support::runLoopUntil(loop, [&] { return result.has_value(); }));
        EXPECT_TRUE(onLoop);
        ASSERT_TRUE(result->ok());
        EXPECT_EQ((*result)->kind, c.expected);
        if (c.expected == mail::Delivery::Kind::outbox) {
            EXPECT_EQ((*result)->outboxFile, temp.path() / "Outbox" / "19700101-000000.eml");
            EXPECT_TRUE(std::filesystem::exists((*result)->outboxFile));
        } else {
            EXPECT_FALSE(std::filesystem::exists(temp.path() / "Outbox"));
        }
    }
}

namespace {

// A feedback mail as the screens make it: a form to fill in and two files.
struct FeedbackWorld {
    FeedbackWorld() {
        writeFile(temp.path() / "app.log", "the log\n");
        writeFile(temp.path() / "TQA_DB.db", std::string("SQLite format 3\0\x01\x02", 18));
        std::filesystem::create_directories(bin());
    }
    [[nodiscard]] std::filesystem::path bin() const { return temp.path() / "bin"; }
    [[nodiscard]] mail::Mail feedback() const {
        return {.recipients = {""},
                .subject = "[KavoManager VOC] 1.0",
                .body = "Step to reproduce :\n",
                .attachments = {{temp.path() / "app.log", "text/plain", ""},
                                {temp.path() / "TQA_DB.db", "application/x-sqlite3", "db.sqlite"}}};
    }
    // Composes through xdg-email found on PATH (only the test's folder) and waits for the end.
    platform::Result<mail::Delivery> send(const std::filesystem::path& outbox) {
        testing_support::ScopedEnvironment path("PATH", bin().string());
        mail::XdgEmailComposer composer(
            loop, mail::EmlOutbox(outbox, [] { return std::int64_t{1796947200}; }, "me@host"));
        EXPECT_TRUE(composer.canSendMail());
        std::optional<platform::Result<mail::Delivery>> result;
        composer.compose(feedback(), [&](const auto& delivered) { result = delivered; });
        EXPECT_TRUE(testing_support::runLoopUntil(loop, [&] { return result.has_value(); }));
        return result.value_or(platform::Error{"test", 0, "no answer"});
    }

    testing_support::TempDir temp;
    platform::RunLoop loop{platform::RunLoop::Clock::virtualTime};
};

std::vector<std::string> readLines(const std::filesystem::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

}  // namespace

TEST(XdgEmailComposer, AMailProgramOnThePathGetsEveryAttachment) {
    FeedbackWorld world;
    // Records its arguments, one a line, and takes the mail.
    writeFile(world.bin() / "xdg-email",
              "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$0.args\"\n");
    std::filesystem::permissions(world.bin() / "xdg-email", std::filesystem::perms::owner_all);

    const auto sent = world.send(world.temp.path() / "Outbox");
    ASSERT_TRUE(sent.ok()) << sent.error().message;
    EXPECT_EQ(sent->kind, mail::Delivery::Kind::mailProgram);
    const std::vector<std::string> expected{"--utf8",
                                            "--subject",
                                            "[KavoManager VOC] 1.0",
                                            "--body",
                                            "Step to reproduce :",
                                            "",
                                            "--attach",
                                            (world.temp.path() / "app.log").string(),
                                            "--attach",
                                            (world.temp.path() / "TQA_DB.db").string()};
    EXPECT_EQ(readLines(world.bin() / "xdg-email.args"), expected);
    EXPECT_FALSE(std::filesystem::exists(world.temp.path() / "Outbox"));
}

TEST(XdgEmailComposer, WithoutAMailProgramTheOutboxHoldsTheMailWithEveryAttachment) {
    FeedbackWorld world;
    const auto sent = world.send(world.temp.path() / "Outbox");
    ASSERT_TRUE(sent.ok()) << sent.error().message;
    ASSERT_EQ(sent->kind, mail::Delivery::Kind::outbox);
    EXPECT_EQ(sent->outboxFile, world.temp.path() / "Outbox" / "20261211-000000.eml");

    std::ifstream in(sent->outboxFile, std::ios::binary);
    const std::string content((std::istreambuf_iterator<char>(in)), {});
    const Parsed parsed = parse(content, mail::EmlEnvelope{}.boundary);
    EXPECT_EQ(parsed.fields.at("Subject"), "[KavoManager VOC] 1.0");
    ASSERT_EQ(parsed.parts.size(), 3U);
    EXPECT_EQ(parsed.parts[0].body, "Step to reproduce :\n");
    EXPECT_EQ(parsed.parts[1].fields.at("Content-Disposition"), "attachment; filename=\"app.log\"");
    EXPECT_EQ(parsed.parts[1].body, "the log\n");
    EXPECT_EQ(parsed.parts[2].fields.at("Content-Type"), "application/x-sqlite3; name=\"db.sqlite\"");
    EXPECT_EQ(parsed.parts[2].body, std::string("SQLite format 3\0\x01\x02", 18));
}

// Whether a mail can go anywhere: to the program found on the path, or into an outbox that can
// be written (made when missing).
TEST(XdgEmailComposer, CanSendMailWhenTheProgramIsFoundOrTheOutboxIsWritable) {
    testing_support::TempDir temp;
    platform::RunLoop loop(platform::RunLoop::Clock::virtualTime);
    writeFile(temp.path() / "file", "a file, no folder");
    writeFile(temp.path() / "xdg-email", "#!/bin/sh\n");
    std::filesystem::permissions(temp.path() / "xdg-email", std::filesystem::perms::owner_all);
    struct Case {
        const char* name;
        std::filesystem::path outbox;
        bool programFound;
        bool canSend;
    };
    const Case cases[] = {
        {"an outbox folder still to make", temp.path() / "new" / "Outbox", false, true},
        {"an outbox folder there", temp.path(), false, true},
        {"an outbox under a file", temp.path() / "file" / "Outbox", false, false},
        {"the outbox is a file", temp.path() / "file", false, false},
        {"the program, whatever the outbox", temp.path() / "file" / "Outbox", true, true},
    };
    testing_support::ScopedEnvironment path("PATH", (temp.path() / "nothing").string());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const mail::XdgEmailComposer composer(
            loop, mail::EmlOutbox(c.outbox, [] { return std::int64_t{0}; }),
            c.programFound ? (temp.path() / "xdg-email").string() : "xdg-email");
        EXPECT_EQ(composer.canSendMail(), c.canSend);
        EXPECT_EQ(mail::EmlOutbox(c.outbox, [] { return std::int64_t{0}; }).isWritable(),
                  c.canSend && !c.programFound);
    }
    EXPECT_FALSE(std::filesystem::exists(temp.path() / "new"));  // asking makes nothing
}
