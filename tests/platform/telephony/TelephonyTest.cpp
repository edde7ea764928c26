#include <gtest/gtest.h>

#include "platform/telephony/Telephony.h"

namespace platform {
namespace {

TEST(TelephonyTest, ThereIsNoSimUntilOneIsInstalled) {
    EXPECT_FALSE(Telephony::current().subscriberCarrier());

    FixedTelephony japan(Carrier{"440", "10"});
    Telephony* const previous = Telephony::install(&japan);
    EXPECT_EQ(Telephony::current().subscriberCarrier(), (Carrier{"440", "10"}));

    EXPECT_EQ(Telephony::install(previous), &japan);
    EXPECT_FALSE(Telephony::current().subscriberCarrier());
}

}  // namespace
}  // namespace platform
