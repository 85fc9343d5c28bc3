#include "TestSupport.h"
#include "platform/linux/qt/QtMainLoop.h"
#include "platform/linux/qt/UiMainInterface.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSpinBox>
#include <QTest>
#include <gtest/gtest.h>

namespace brimlow::testing {
namespace {

using platform::linuxdesktop::QtMainLoop;
using platform::linuxdesktop::UiMainInterface;

// What the window sent, with the sender's value at that moment.
class RecordingController final : public platform::PreferencesController {
public:
    void stepperChanged(platform::Stepper& sender) override {
        events.push_back("stepperChanged " + sender.stringValue());
    }
    void hideIconChecked(platform::CheckBox& sender) override {
        events.push_back("hideIconChecked " + std::to_string(sender.state()));
    }
    void appRunningComboEdited(platform::ComboBox& sender) override {
        events.push_back("appRunningComboEdited " + sender.stringValue());
    }
    void showprefWindow() override { events.push_back("showprefWindow"); }
    void exclaimBtnPressed() override { events.push_back("exclaimBtnPressed"); }
    void viewWillAppear() override { events.push_back("viewWillAppear"); }
    void viewWillDisappear() override { events.push_back("viewWillDisappear"); }
    void viewDidDisappear() override { events.push_back("viewDidDisappear"); }

    std::vector<std::string> events;
};

class MainInterface : public ::testing::Test {
protected:
    void SetUp() override {
        ensureQtApplication();
        interface = std::make_unique<UiMainInterface>(loop, [this] { ++quits; });
        interface->window().setController(&controller);
    }

    template <typename T> T* child(const char* name) {
        return interface->widget()->findChild<T*>(QString::fromLatin1(name));
    }

    QtMainLoop loop;
    RecordingController controller;
    int quits = 0;
    std::unique_ptr<UiMainInterface> interface;
};

TEST_F(MainInterface, StartsHiddenWithTheWarningShownAndTheCountHidden) {
    EXPECT_FALSE(interface->window().isVisible());
    EXPECT_EQ(interface->window().title(), "Brimlow");
    EXPECT_FALSE(interface->exclaimBtn().isHidden());
    EXPECT_TRUE(interface->movedLbl().isHidden());
    EXPECT_FALSE(interface->idleDurationLabel().isHidden());
    EXPECT_FALSE(interface->appRunningCombo().isHidden());
    EXPECT_FALSE(interface->hideIconCheckBox().isHidden());
    EXPECT_EQ(interface->hideIconCheckBox().state(), 0);
    EXPECT_TRUE(interface->appRunningCombo().items().empty());
    EXPECT_TRUE(child<QComboBox>("appRunningCombo")->isEditable());
    EXPECT_FALSE(child<QPushButton>("exclaimBtn")->icon().isNull());
    auto* menu = child<QMenu>("mnu");
    ASSERT_NE(menu, nullptr);
    QStringList items;
    for (QAction* action : menu->actions()) {
        if (!action->isSeparator()) {
            items << action->text();
        }
    }
    EXPECT_EQ(items, (QStringList{"Preferences\u2026", "Quit Brimlow"}));
}

TEST_F(MainInterface, TheStepperKeepsItsBoundsAndSteps) {
    platform::Stepper& stepper = interface->idleStepper();
    stepper.setIntValue(1);
    EXPECT_EQ(stepper.intValue(), 15);
    stepper.setIntValue(99999);
    EXPECT_EQ(stepper.intValue(), 3600);
    EXPECT_EQ(stepper.stringValue(), "3600");
    stepper.setIntValue(60);
    EXPECT_EQ(stepper.doubleValue(), 60.0);
    auto* spin = child<QSpinBox>("idleStepper");
    spin->stepBy(1);
    EXPECT_EQ(stepper.intValue(), 75);
}

// Like the desktop's controls: the program's own changes send no action, the user's do.
TEST_F(MainInterface, OnlyTheUsersChangesReachTheController) {
    interface->idleStepper().setIntValue(120);
    interface->hideIconCheckBox().setState(1);
    interface->appRunningCombo().setStringValue("Mail");
    interface->appRunningCombo().addItems({"Mail", "Notes"});
    interface->appRunningCombo().removeAllItems();
    EXPECT_TRUE(controller.events.empty()) << ::testing::PrintToString(controller.events);

    QTest::keyClick(child<QSpinBox>("idleStepper"), Qt::Key_Up);
    QTest::mouseClick(child<QCheckBox>("hideIconCheckBox"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("exclaimBtn"), Qt::LeftButton);
    EXPECT_EQ(
        controller.events,
        (std::vector<std::string>{"stepperChanged 135", "hideIconChecked 0", "exclaimBtnPressed"}));
}

TEST_F(MainInterface, TheComboSendsOneActionPerReturnOrPick) {
    platform::ComboBox& combo = interface->appRunningCombo();
    auto* box = child<QComboBox>("appRunningCombo");
    combo.addItems({"firefox", "thunderbird"});
    // Suggestions never replace what the field shows.
    EXPECT_EQ(combo.stringValue(), "");
    EXPECT_EQ(combo.items(), (std::vector<std::string>{"firefox", "thunderbird"}));

    // Keys go to the combo box, the focus widget, as the user's do.
    // A name that is not in the list.
    QTest::keyClicks(box, "gimp");
    QTest::keyClick(box, Qt::Key_Return);
    // A name that is: the combo box would report this Return a second time.
    box->lineEdit()->clear();
    QTest::keyClicks(box, "thunderbird");
    QTest::keyClick(box, Qt::Key_Return);
    // Picked from the list.
    box->showPopup();
    QAbstractItemView* list = box->view();
    const QPoint first = list->visualRect(list->model()->index(0, 0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, first);
    EXPECT_EQ(controller.events, (std::vector<std::string>{"appRunningComboEdited gimp",
                                                           "appRunningComboEdited thunderbird",
                                                           "appRunningComboEdited firefox"}));
    EXPECT_EQ(box->count(), 2) << "a typed name must not join the list";

    combo.setStringValue("Notes");
    combo.removeAllItems();
    EXPECT_EQ(combo.stringValue(), "Notes");
    EXPECT_TRUE(combo.items().empty());
}

TEST_F(MainInterface, TheWindowTellsItsControllerAroundShowingAndClosing) {
    platform::Window& window = interface->window();
    window.makeKeyAndOrderFront();
    EXPECT_TRUE(window.isVisible());
    window.makeKeyAndOrderFront();
    EXPECT_EQ(controller.events, std::vector<std::string>{"viewWillAppear"});

    controller.events.clear();
    interface->widget()->close();
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(controller.events,
              (std::vector<std::string>{"viewWillDisappear", "viewDidDisappear"}));

    // Closing a window that is not on screen is no disappearance.
    controller.events.clear();
    interface->widget()->close();
    EXPECT_TRUE(controller.events.empty());

    window.setTitle("Brimlow 2.1");
    EXPECT_EQ(interface->widget()->windowTitle(), "Brimlow 2.1");
    EXPECT_EQ(window.title(), "Brimlow 2.1");
}

TEST_F(MainInterface, TheFirstResponderGetsTheFocusWhenTheWindowShows) {
    interface->window().makeFirstResponder(interface->appRunningCombo());
    interface->window().makeKeyAndOrderFront();
    ASSERT_TRUE(runEventsUntil([] { return QApplication::focusWidget() != nullptr; }));
    QWidget* focused = QApplication::focusWidget();
    auto* combo = child<QComboBox>("appRunningCombo");
    EXPECT_TRUE(focused == combo || focused == combo->lineEdit());
}

// Menu actions wait their turn in the main queue.
TEST_F(MainInterface, TheMenuOpensThePreferencesAndQuits) {
    child<QAction>("actionPreferences")->trigger();
    EXPECT_TRUE(controller.events.empty());
    ASSERT_TRUE(runEventsUntil([&] { return !controller.events.empty(); }));
    EXPECT_EQ(controller.events, std::vector<std::string>{"showprefWindow"});

    child<QAction>("actionQuit")->trigger();
    EXPECT_EQ(quits, 0);
    ASSERT_TRUE(runEventsUntil([&] { return quits == 1; }));
}

} // namespace
} // namespace brimlow::testing
