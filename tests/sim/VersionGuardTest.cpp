#include "app/server/UpdateCheck.h"

#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

// With no server reachable the update check runs against the built-in configuration; a
// shipped version that sorts before it would demand an update and quit at every offline start.
TEST(ShippedVersion, PassesTheUpdateCheckWithoutAServer) {
    EXPECT_EQ(updateNotice(BRIMLOW_PROJECT_VERSION, RemoteConfig{}), UpdateNotice::none)
        << "project version " << BRIMLOW_PROJECT_VERSION;
}

} // namespace
} // namespace brimlow::testing
