#include "app/server/ClientIdentity.h"

#include "app/server/SCL.h"
#include "platform/sim/SimDesktop.h"

#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

TEST(ClientIdentity, KeepsOnlyTheAllowedCharactersInOrder) {
    EXPECT_EQ(filteredIdentity("user1", "Lab's Laptop"), "user1 - Labs Laptop");
    EXPECT_EQ(filteredIdentity("lab_3", "B\u00fcro-PC 2"), "lab_3 - Bro-PC 2");
    EXPECT_EQ(filteredIdentity("user1", "Caf\u00e9's Mac"), "user1 - Cafs Mac");
    EXPECT_EQ(filteredIdentity("Zz_09", "a.b,c;d~e"), "Zz_09 - abcde");
}

TEST(ClientIdentity, ANameWithNothingAllowedLeavesTheSeparator) {
    EXPECT_EQ(filteredIdentity("user1", "\U0001F4BB"), "user1 - ");
    // One user-perceived character built from several code points.
    EXPECT_EQ(filteredIdentity("user1", "\U0001F9D1\u200D\U0001F4BB\U0001F1E9\U0001F1EA"),
              "user1 - ");
    EXPECT_EQ(filteredIdentity("", ""), " - ");
}

TEST(ClientIdentity, CharactersCompareByCanonicalEquivalence) {
    // The Kelvin sign is canonically a K and passes as it is.
    EXPECT_EQ(filteredIdentity("user1", "\u212A-Box"), "user1 - \u212A-Box");
    // A letter with a combining accent is one character outside the set: it goes whole.
    EXPECT_EQ(filteredIdentity("user1", "Cafe\u0301 Mac"), "user1 - Caf Mac");
    EXPECT_EQ(filteredIdentity("n\u0303o", "PC"), "o - PC");
    // The Angstrom sign is canonically an A with a ring, not an A.
    EXPECT_EQ(filteredIdentity("user1", "\u212B1"), "user1 - 1");
}

TEST(ClientIdentity, TheSeparatorSurvivesANameThatBeginsWithAMark) {
    EXPECT_EQ(filteredIdentity("user1", "\u0301Lab"), "user1 - Lab");
}

TEST(ClientIdentity, OsVersionIsMajorDotMinor) {
    EXPECT_EQ(osVersionText({10, 15}), "10.15");
    EXPECT_EQ(osVersionText({11, 0}), "11.0");
    EXPECT_EQ(osVersionText({6, 10}), "6.10");
}

TEST(ClientIdentity, ValuesAreKeptForTheLifeOfTheProcess) {
    platform::sim::SimDesktop sim;
    const std::string identity = SCL::clientIdentity(sim.desktop);
    const std::string os = SCL::osVersion(sim.desktop);
    const std::string app = SCL::appVersion(sim.desktop);

    sim.host.login = "someone-else";
    sim.host.computer = "Renamed";
    sim.host.os = {99, 9};
    sim.bundle.version = "9.9";
    EXPECT_EQ(SCL::clientIdentity(sim.desktop), identity);
    EXPECT_EQ(SCL::osVersion(sim.desktop), os);
    EXPECT_EQ(SCL::appVersion(sim.desktop), app);
    EXPECT_NE(identity, filteredIdentity("someone-else", "Renamed"));
}

} // namespace
} // namespace brimlow::testing
