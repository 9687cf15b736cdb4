#pragma once
// Two-way bindings of widgets to preference keys: a bound widget shows the
// key's value, writes every change of the user at once (continuously, not
// on leaving the field), and follows writes made to the key on any thread,
// which are carried to the GUI thread. A write that the binding itself made
// does not come back into the widget (no feedback loop).

#include <QObject>

#include <functional>
#include <string>

class QAbstractButton;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace platform {

class UserDefaults;
class Value;

class QtPreferenceBinding : public QObject {
    Q_OBJECT
public:
    // The binding is owned by the widget and ends with it. All bind calls
    // are made on the GUI thread, with the standard preference store.
    static QtPreferenceBinding* bindText(QLineEdit* field, const std::string& key);
    // A field whose text is only a candidate until editing ends (Enter, or
    // leaving the field): then, if it differs from the stored value, commit
    // gets it and stores it or not; either way the field then shows what
    // is stored. Nothing is written while the user types.
    using Commit = std::function<void(const std::string& text)>;
    static QtPreferenceBinding* bindCommittedText(QLineEdit* field, const std::string& key, Commit commit);
    static QtPreferenceBinding* bindInteger(QSpinBox* box, const std::string& key);
    // Writes on `toggled`, which a click emits before `clicked`: an action
    // connected to `clicked` reads the state the click has just stored.
    static QtPreferenceBinding* bindChecked(QAbstractButton* checkable, const std::string& key);
    static QtPreferenceBinding* bindTime(QDateTimeEdit* edit, const std::string& key);
    // Display only: the label shows the key's string (or number) value.
    static QtPreferenceBinding* bindLabel(QLabel* label, const std::string& key);

    // The binding that a widget carries, or nullptr.
    static QtPreferenceBinding* of(const QObject* widget);

    const std::string& key() const { return key_; }
    ~QtPreferenceBinding() override;

private:
    using Show = std::function<void(const Value&)>;
    QtPreferenceBinding(QObject* widget, std::string key, Show show);
    // Shows the stored value now and follows later writes.
    void follow();
    // Shows the value stored now; GUI thread only.
    void refresh();
    // Stores a change that the user made in the widget.
    void write(const Value& value);

    UserDefaults& store_;
    std::string key_;
    Show show_;
    unsigned long long observer_ = 0;
    bool writing_ = false; // inside our own write
    bool showing_ = false; // the widget changes because we show a value
    bool committing_ = false; // a commit's dialog may end the editing again
};

} // namespace platform
