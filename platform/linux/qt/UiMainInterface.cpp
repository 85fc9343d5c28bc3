#include "UiMainInterface.h"

#include "ui_MainMenu.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QStyle>
#include <QWidget>
#include <stdexcept>

namespace brimlow::platform::linuxdesktop {
namespace {

template <typename T> T* outlet(QWidget* root, const char* name) {
    auto* found = root->findChild<T*>(QString::fromLatin1(name));
    if (found == nullptr) {
        throw std::runtime_error(std::string("MainMenu.ui has no ") +
                                 T::staticMetaObject.className() + " named " + name);
    }
    return found;
}

class QtView : public virtual View {
public:
    explicit QtView(QWidget* widget) : widget_(widget) {}
    bool isHidden() const override { return widget_->isHidden(); }
    void setHidden(bool hidden) override { widget_->setHidden(hidden); }
    QWidget* widget() const { return widget_; }

private:
    QWidget* widget_;
};

class PreferencesWindow final : public QObject, public Window {
public:
    explicit PreferencesWindow(QWidget* widget) : widget_(widget) {
        widget_->installEventFilter(this);
    }

    PreferencesController* controller() const { return controller_; }
    void setController(PreferencesController* controller) override { controller_ = controller; }
    std::string title() const override { return widget_->windowTitle().toStdString(); }
    void setTitle(const std::string& title) override {
        widget_->setWindowTitle(QString::fromStdString(title));
    }

    void makeKeyAndOrderFront() override {
        if (!widget_->isVisible() && controller_ != nullptr) {
            controller_->viewWillAppear();
        }
        widget_->setWindowState(widget_->windowState() & ~Qt::WindowMinimized);
        widget_->show();
        widget_->raise();
        widget_->activateWindow();
    }

    bool isVisible() const override { return widget_->isVisible(); }

    void makeFirstResponder(View& view) override {
        if (auto* qtView = dynamic_cast<QtView*>(&view)) {
            // In a hidden window the widget takes the focus when the window is next activated.
            qtView->widget()->setFocus(Qt::OtherFocusReason);
        }
    }

protected:
    // A close that is accepted hides the window; minimising it also sends a hide, which is not
    // the window going away, so only the hide that follows a close counts.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (watched != widget_) {
            return false;
        }
        if (event->type() == QEvent::Close && widget_->isVisible()) {
            closing_ = true;
            if (controller_ != nullptr) {
                controller_->viewWillDisappear();
            }
        } else if (event->type() == QEvent::Hide && closing_) {
            closing_ = false;
            if (controller_ != nullptr) {
                controller_->viewDidDisappear();
            }
        }
        return false;
    }

private:
    QWidget* widget_;
    PreferencesController* controller_ = nullptr;
    bool closing_ = false;
};

class LabelField final : public TextField, public QtView {
public:
    explicit LabelField(QLabel* label) : QtView(label), label_(label) {}
    std::string stringValue() const override { return label_->text().toStdString(); }
    void setStringValue(const std::string& text) override {
        label_->setText(QString::fromStdString(text));
    }

private:
    QLabel* label_;
};

class PushButton final : public Button, public QtView {
public:
    PushButton(QPushButton* button, PreferencesWindow& window) : QtView(button) {
        QObject::connect(button, &QPushButton::clicked, button, [&window] {
            if (window.controller() != nullptr) {
                window.controller()->exclaimBtnPressed();
            }
        });
    }
};

// Values the program sets send no action; only the user's changes do.
class SpinStepper final : public Stepper, public QtView {
public:
    SpinStepper(QSpinBox* box, PreferencesWindow& window) : QtView(box), box_(box) {
        QObject::connect(box, &QSpinBox::valueChanged, box, [this, &window] {
            if (window.controller() != nullptr) {
                window.controller()->stepperChanged(*this);
            }
        });
    }
    int intValue() const override { return box_->value(); }
    void setIntValue(int value) override {
        QSignalBlocker quiet(box_);
        box_->setValue(value);
    }
    double doubleValue() const override { return box_->value(); }
    std::string stringValue() const override { return box_->text().toStdString(); }

private:
    QSpinBox* box_;
};

class CheckButton final : public CheckBox, public QtView {
public:
    CheckButton(QCheckBox* box, PreferencesWindow& window) : QtView(box), box_(box) {
        // clicked comes from the user (mouse or keyboard), never from setChecked.
        QObject::connect(box, &QCheckBox::clicked, box, [this, &window] {
            if (window.controller() != nullptr) {
                window.controller()->hideIconChecked(*this);
            }
        });
    }
    int state() const override { return box_->isChecked() ? 1 : 0; }
    void setState(int state) override {
        QSignalBlocker quiet(box_);
        box_->setChecked(state != 0);
    }

private:
    QCheckBox* box_;
};

// The list only suggests: changing it never changes the text the user sees, and the text
// may name a program that is not in it.
class EditableCombo final : public ComboBox, public QtView {
public:
    EditableCombo(QComboBox* box, PreferencesWindow& window) : QtView(box), box_(box) {
        QLineEdit* edit = box->lineEdit();
        edit->setPlaceholderText(box->placeholderText());
        auto send = [this, &window] {
            if (window.controller() != nullptr) {
                window.controller()->appRunningComboEdited(*this);
            }
        };
        // Return sends returnPressed and then editingFinished; on the latter the combo box
        // itself emits activated when the text matches an item. That second report of the same
        // Return is dropped: the combo box connected before us, so our editingFinished handler
        // runs after its activated and ends the Return.
        QObject::connect(edit, &QLineEdit::returnPressed, box, [this, send] {
            returnPending_ = true;
            send();
        });
        QObject::connect(box, &QComboBox::activated, box, [this, send] {
            if (!returnPending_) {
                send();
            }
        });
        QObject::connect(edit, &QLineEdit::editingFinished, box,
                         [this] { returnPending_ = false; });
    }

    std::string stringValue() const override { return box_->currentText().toStdString(); }
    void setStringValue(const std::string& text) override {
        QSignalBlocker quiet(box_);
        box_->setEditText(QString::fromStdString(text));
    }
    void removeAllItems() override {
        QSignalBlocker quiet(box_);
        QString text = box_->currentText();
        box_->clear();
        box_->setEditText(text);
    }
    void addItems(const std::vector<std::string>& items) override {
        QSignalBlocker quiet(box_);
        QString text = box_->currentText();
        for (const auto& item : items) {
            box_->addItem(QString::fromStdString(item));
        }
        box_->setCurrentIndex(-1);
        box_->setEditText(text);
    }
    std::vector<std::string> items() const override {
        std::vector<std::string> texts;
        for (int i = 0; i < box_->count(); ++i) {
            texts.push_back(box_->itemText(i).toStdString());
        }
        return texts;
    }

private:
    QComboBox* box_;
    bool returnPending_ = false;
};

} // namespace

class UiMainInterface::Impl {
public:
    Impl(MainQueue& queue, const std::function<void()>& quit)
        : root(load()), window(root.get()),
          idleDurationLabel(outlet<QLabel>(root.get(), "idleDurationLabel")),
          idleStepper(outlet<QSpinBox>(root.get(), "idleStepper"), window),
          hideIconCheckBox(outlet<QCheckBox>(root.get(), "hideIconCheckBox"), window),
          mnu(outlet<QMenu>(root.get(), "mnu")),
          exclaimBtn(outlet<QPushButton>(root.get(), "exclaimBtn"), window),
          appRunningCombo(outlet<QComboBox>(root.get(), "appRunningCombo"), window),
          movedLbl(outlet<QLabel>(root.get(), "movedLbl")) {
        auto* warning = static_cast<QPushButton*>(exclaimBtn.widget());
        // Icon themes are optional on a Linux desktop; the style's warning sign always exists.
        if (warning->icon().isNull()) {
            warning->setIcon(warning->style()->standardIcon(QStyle::SP_MessageBoxWarning));
        }
        QObject::connect(outlet<QAction>(root.get(), "actionPreferences"), &QAction::triggered,
                         root.get(), [this, &queue] {
                             queue.async([this] {
                                 if (window.controller() != nullptr) {
                                     window.controller()->showprefWindow();
                                 }
                             });
                         });
        QObject::connect(outlet<QAction>(root.get(), "actionQuit"), &QAction::triggered, root.get(),
                         [&queue, quit] { queue.async(quit); });
    }

    // The widgets go first: a widget being destroyed may still signal the controls above.
    ~Impl() { root.reset(); }

    static std::unique_ptr<QWidget> load() {
        auto widget = std::make_unique<QWidget>();
        Ui::PreferencesWindow layout;
        layout.setupUi(widget.get());
        return widget;
    }

    std::unique_ptr<QWidget> root;
    PreferencesWindow window;
    LabelField idleDurationLabel;
    SpinStepper idleStepper;
    CheckButton hideIconCheckBox;
    QtMenu mnu;
    PushButton exclaimBtn;
    EditableCombo appRunningCombo;
    LabelField movedLbl;
};

UiMainInterface::UiMainInterface(MainQueue& queue, std::function<void()> quit)
    : impl_(std::make_unique<Impl>(queue, quit)) {}

UiMainInterface::~UiMainInterface() = default;

Window& UiMainInterface::window() {
    return impl_->window;
}
TextField& UiMainInterface::idleDurationLabel() {
    return impl_->idleDurationLabel;
}
Stepper& UiMainInterface::idleStepper() {
    return impl_->idleStepper;
}
CheckBox& UiMainInterface::hideIconCheckBox() {
    return impl_->hideIconCheckBox;
}
Menu& UiMainInterface::mnu() {
    return impl_->mnu;
}
Button& UiMainInterface::exclaimBtn() {
    return impl_->exclaimBtn;
}
ComboBox& UiMainInterface::appRunningCombo() {
    return impl_->appRunningCombo;
}
TextField& UiMainInterface::movedLbl() {
    return impl_->movedLbl;
}
QWidget* UiMainInterface::widget() const {
    return impl_->root.get();
}

} // namespace brimlow::platform::linuxdesktop
