#include "TestSupport.h"
#include "platform/linux/qt/TrayStatusBar.h"

#include <QIcon>
#include <filesystem>
#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using platform::linuxdesktop::BundleImageLibrary;

class ImageLibrary : public ::testing::Test {
protected:
    void SetUp() override {
        ensureQtApplication();
        for (const char* name : {"trayicon-16.png", "trayicon-32.png", "trayicon_bw-16.png",
                                 "trayicon-x.png", "other.png"}) {
            std::filesystem::copy_file(BRIMLOW_SOURCE_DIR "/app/resources/icons/trayicon-16.png",
                                       directory.path() + "/" + name);
        }
    }

    TemporaryDirectory directory;
    BundleImageLibrary images{directory.path()};
};

TEST_F(ImageLibrary, FindsEverySizeOfANameAndNothingElse) {
    EXPECT_NE(images.imageNamed("trayicon"), nullptr);
    EXPECT_NE(images.imageNamed("trayicon_bw"), nullptr);
    EXPECT_EQ(images.imageNamed("trayicon_green"), nullptr);
    EXPECT_EQ(images.imageNamed("other"), nullptr);
    EXPECT_EQ(images.imageNamed("tray"), nullptr);
    EXPECT_EQ(images.imageNamed(""), nullptr);
}

TEST_F(ImageLibrary, ANameIsNeverAPath) {
    std::filesystem::create_directories(directory.path() + "/sub");
    std::filesystem::copy_file(BRIMLOW_SOURCE_DIR "/app/resources/icons/trayicon-16.png",
                               directory.path() + "/sub/x-16.png");
    BundleImageLibrary inner(directory.path() + "/sub");
    EXPECT_NE(inner.imageNamed("x"), nullptr);
    EXPECT_EQ(inner.imageNamed("../sub/x"), nullptr);
    EXPECT_EQ(images.imageNamed("sub/x"), nullptr);
}

TEST(ShippedImages, EveryImageTheProgramAsksForShipsInEverySize) {
    ensureQtApplication();
    BundleImageLibrary images(BRIMLOW_SOURCE_DIR "/app/resources/icons");
    for (const char* name : {"trayicon", "trayicon_green", "trayicon_bw"}) {
        EXPECT_NE(images.imageNamed(name), nullptr) << name;
    }
    EXPECT_TRUE(images.useAsWindowIcon("com.pellvane.Brimlow2"));
    EXPECT_FALSE(images.useAsWindowIcon("no-such-icon"));
}

} // namespace
} // namespace brimlow::testing
