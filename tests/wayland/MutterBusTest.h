#pragma once

#include "../e2e/WaylandTest.h"
#include "harness/Sandbox.h"

#include <QCoreApplication>
#include <cstdlib>
#include <memory>

namespace brimlow::e2e {

// A test of the program's Wayland services in this process, on the session bus of a headless
// mutter of its own. Qt's session bus is the process's one, set before Qt first connects: one
// test per process, as ctest runs them.
class MutterBusTest : public WaylandTest {
protected:
    void SetUp() override {
        WaylandTest::SetUp();
        if (IsSkipped()) {
            return;
        }
        sandbox = std::make_unique<Sandbox>("");
        mutter = std::make_unique<HeadlessMutter>(*sandbox);
        setenv("DBUS_SESSION_BUS_ADDRESS", mutter->busAddress().c_str(), 1);
        static int argc = 1;
        static char name[] = "brimlow-wayland-tests";
        static char* argv[] = {name, nullptr};
        application = std::make_unique<QCoreApplication>(argc, argv);
    }
    void TearDown() override {
        application.reset();
        mutter.reset();
        sandbox.reset();
        WaylandTest::TearDown();
    }

    // Runs Qt's events until `done` holds or `limit` has passed; whether it holds.
    template <typename Done> bool runUntil(Done done, Clock::duration limit) {
        const auto deadline = Clock::now() + limit;
        while (!done() && Clock::now() < deadline) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
        }
        return done();
    }

    std::unique_ptr<Sandbox> sandbox;
    std::unique_ptr<HeadlessMutter> mutter;
    std::unique_ptr<QCoreApplication> application;
};

} // namespace brimlow::e2e
