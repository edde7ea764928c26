#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "logging/LGRedaction.h"

namespace {

using platform::Value;

TEST(RedactionTest, SecretsAndPersonalFieldsShowOnlyTheirPresenceAtAnyDepth) {
    const struct {
        const char* name;
        Value value;
        Value shown;
    } cases[] = {
        {"kmRegistrationId", "01AB", "(present)"},
        {"APNSDeviceToken", "DEADBEEF", "(present)"},
        {"accessTokenValue", "TmRw5yKqZe", "(present)"},
        {"at", "TmRw5yKqZe", "(present)"},
        {"Password", "hunter2", "(present)"},
        {"mail_password", "hunter2", "(present)"},
        {"Set-Cookie", "session=1", "(present)"},
        {"Authorization", "Basic a2F2bzpzZWNyZXQ=", "(present)"},
        {"duid", "6F1E2D3C4B5A", "(present)"},
        {"vcs", "BEGIN:VCALENDAR", "(present)"},
        {"display_name", "Ada Lovelace", "(present)"},
        {"phone_number", "+44 20 7946 0000", "(present)"},
        {"email", "ada@example.org", "(present)"},
        // The keys the contact copy and the push message really use.
        {"first", "Ada", "(present)"},
        {"last", "Lovelace", "(present)"},
        {"phone_label", "Lab", "(present)"},
        {"deviceid", "6F1E2D3C4B5A", "(present)"},
        {"pushTimestamp", "{\"aps\":{\"alert\":\"Hi Ada\"}}", "(present)"},
        {"title", "", "(null)"},
        {"buddyList", Value(platform::Array{Value("a"), Value("b")}), "(present)"},
        {"latitude", 52.516274, "52.52"},
        {"longitude", -13.377704, "-13.38"},
        {"lat", "48.85837", "48.86"},
        {"longitude", std::numeric_limits<double>::quiet_NaN(), "(not a number)"},
        {"photo", Value(platform::Bytes{1, 2, 3}), "(3 bytes)"},
        {"msgId", "mgr_push_km_reg_id_req", "mgr_push_km_reg_id_req"},
        {"count", 3, 3},
    };
    for (const auto& c : cases) {
        const Value nested{{"msgId", "m"},
                           {"list", platform::Array{Value{{std::string(c.name), c.value}}}}};
        const Value shown = lg::redacted(nested);
        EXPECT_EQ((*shown["list"].arrayIf())[0][c.name], c.shown) << c.name;
        EXPECT_EQ(lg::redactedField(c.name, c.value), c.shown) << c.name;
    }
}

TEST(RedactionTest, PresenceAndRounding) {
    EXPECT_EQ(lg::presence(std::optional<std::string>("secret")), "(present)");
    EXPECT_EQ(lg::presence(std::optional<std::string>("")), "(null)");
    EXPECT_EQ(lg::presence(std::optional<std::string>()), "(null)");
    EXPECT_EQ(lg::roundedCoordinate(0.004), "0.00");
    EXPECT_EQ(lg::roundedCoordinate(-0.006), "-0.01");
    EXPECT_EQ(lg::roundedCoordinate(179.999), "180.00");
}

}  // namespace
