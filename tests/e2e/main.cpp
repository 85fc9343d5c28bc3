#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Qt D-Bus, which reads the accessibility bus, wants an application object.
    QCoreApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
