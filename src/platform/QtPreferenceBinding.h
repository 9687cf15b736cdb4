#pragma once
// Two-way bindings of widgets to preference keys: a bound widget shows the
// key's value, writes every change of the user at once (continuously, not
// on leaving the field), and follows writes made to the key on any thread,
// which are carried to the GUI thread. A write that the binding itself made
// does not come back into the widget (no feedback loop).

#include <QObject>

#include <string>

class QAbstractButton;
class QDateTimeEdit;
class QLabel;
class QLineEdit;
class QSpinBox;

namespace platform {

class UserDefaults;

class QtPreferenceBinding : public QObject {
    Q_OBJECT
public:
    // The binding is owned by the widget and ends with it.
    static QtPreferenceBinding* bindText(QLineEdit* field, const std::string& key);
    static QtPreferenceBinding* bindInteger(QSpinBox* box, const std::string& key);
    static QtPreferenceBinding* bindChecked(QAbstractButton* checkable, const std::string& key);
    static QtPreferenceBinding* bindTime(QDateTimeEdit* edit, const std::string& key);
    // Display only: the label shows the key's string (or number) value.
    static QtPreferenceBinding* bindLabel(QLabel* label, const std::string& key);

    const std::string& key() const { return key_; }
    ~QtPreferenceBinding() override;

protected:
    QtPreferenceBinding(QObject* widget, std::string key);

private:
    std::string key_;
    unsigned long long observer_ = 0;
};

} // namespace platform
