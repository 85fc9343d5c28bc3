#pragma once

#include "harness/HeadlessMutter.h"
#include "harness/Process.h"

#include <gtest/gtest.h>
#include <string>

namespace brimlow::e2e {

// A test on a headless mutter of its own: it needs no display of the test process's, and fails
// if any process it started is still there when it ends.
class WaylandTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (auto missing = missingMutterPackage()) {
            GTEST_SKIP() << *missing << " is not installed; scripts/test installs it";
        }
        becomeSubreaper();
    }
    void TearDown() override {
        auto left = collectLeftoverChildren(5s);
        std::string names;
        for (const auto& name : left) {
            names += " " + name;
        }
        EXPECT_TRUE(left.empty()) << "still running when the test ended:" << names;
    }
};

} // namespace brimlow::e2e
