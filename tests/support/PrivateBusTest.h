#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/PrivateBus.h"

namespace testing_support {

// A test on a bus of its own; skipped where no bus can start. Fixtures that set up more call
// this SetUp first and stop when the test is skipped.
class PrivateBusTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string whyNot;
        bus = PrivateBus::start(whyNot);
        if (!bus) {
            GTEST_SKIP() << "no private bus here: " << whyNot;
        }
    }

    std::unique_ptr<PrivateBus> bus;
};

}  // namespace testing_support
