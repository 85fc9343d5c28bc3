#include "platform/linux/base/LinuxHostIdentity.h"

#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using platform::linuxdesktop::osVersionOfRelease;
using platform::linuxdesktop::prettyHostNameIn;

TEST(HostIdentity, TheKernelReleaseGivesMajorAndMinorOrZero) {
    const std::vector<std::pair<std::string, std::pair<int, int>>> releases{
        {"6.1.0-13-amd64", {6, 1}}, {"5", {5, 0}}, {"4.19", {4, 19}}, {"-1436.1.0", {0, 0}},
        {"99999999999.2", {0, 2}},  {"", {0, 0}},  {"6.-1", {6, 0}},
    };
    for (const auto& [release, expected] : releases) {
        const auto version = osVersionOfRelease(release);
        EXPECT_EQ(std::pair(version.major, version.minor), expected) << release;
    }
}

TEST(HostIdentity, ThePrettyHostNameIsTakenAsTheShellWouldQuoteIt) {
    EXPECT_EQ(prettyHostNameIn("ICON_NAME=computer\nPRETTY_HOSTNAME=\"Lab\\\"s Laptop\"\n"),
              "Lab\"s Laptop");
    EXPECT_EQ(prettyHostNameIn("PRETTY_HOSTNAME='caf\u00e9 box'"), "caf\u00e9 box");
    EXPECT_EQ(prettyHostNameIn("HOSTNAME=x\n# PRETTY_HOSTNAME=no\n"), "");
}

} // namespace
} // namespace brimlow::testing
