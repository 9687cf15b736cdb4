#include "platform/qt/QtPreferenceBinding.h"

#include "platform/runtime/Log.h"
#include "platform/qt/QtGuiThread.h"
#include "platform/preferences/UserDefaults.h"
#include "platform/preferences/Value.h"

#include <QAbstractButton>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QSpinBox>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <limits>
#include <memory>
#include <optional>

namespace platform {

namespace {

void logUnshowable(const std::string& key, const Value& value, const char* widgetKind) {
    logf("QtPreferenceBinding => key [%s] holds %s, which a %s cannot show: shown as empty", key.c_str(),
         value.description().c_str(), widgetKind);
}

// The text a field shows for a value: strings as they are, numbers and dates
// described; nullopt for values that have no sensible text (data, lists).
std::optional<QString> textOf(const Value& value) {
    if (value.isNone()) return QString();
    if (value.isDate()) return QString::fromStdString(value.description());
    if (auto text = value.toString()) return QString::fromStdString(*text);
    return std::nullopt;
}

// Numbers, and strings read the way the store's typed reads coerce them.
bool readsAsNumber(const Value& value) { return value.isNone() || value.isNumber() || value.isString(); }

int clampToInt(std::int64_t v) {
    return static_cast<int>(std::clamp<std::int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

} // namespace

QtPreferenceBinding::QtPreferenceBinding(QObject* widget, std::string key, Show show)
    : QObject(widget), store_(UserDefaults::standard()), key_(std::move(key)), show_(std::move(show)) {}

QtPreferenceBinding::~QtPreferenceBinding() {
    // An observer call already under way on another thread only holds a
    // guarded pointer to us, so it finds nothing to show.
    store_.removeObserver(observer_);
}

QtPreferenceBinding* QtPreferenceBinding::of(const QObject* widget) {
    return widget ? widget->findChild<QtPreferenceBinding*>(QString(), Qt::FindDirectChildrenOnly) : nullptr;
}

void QtPreferenceBinding::follow() {
    refresh();
    QPointer<QtPreferenceBinding> self(this);
    // One queued refresh at a time: it reads the latest value when it runs,
    // so a burst of writes on a worker thread costs the GUI one update.
    auto pending = std::make_shared<std::atomic<bool>>(false);
    observer_ = store_.addObserver(key_, [self, pending](const std::string&, const Value&) {
        if (isGuiThread()) {
            if (self && !self->writing_) self->refresh();
            return;
        }
        if (pending->exchange(true)) return;
        queueOnGuiThread([self, pending] {
            pending->store(false);
            if (self) self->refresh();
        });
    });
}

void QtPreferenceBinding::refresh() {
    const bool wasShowing = showing_;
    showing_ = true;
    show_(store_.objectForKey(key_));
    showing_ = wasShowing;
}

void QtPreferenceBinding::write(const Value& value) {
    if (showing_) return;
    writing_ = true;
    store_.setObject(key_, value);
    writing_ = false;
}

QtPreferenceBinding* QtPreferenceBinding::bindText(QLineEdit* field, const std::string& key) {
    if (!field) return nullptr;
    auto* binding = new QtPreferenceBinding(field, key, [field, key](const Value& value) {
        auto text = textOf(value);
        if (!text) logUnshowable(key, value, "text field");
        const QString shown = text.value_or(QString());
        // setText would move the cursor of a field being typed in.
        if (field->text() != shown) field->setText(shown);
    });
    connect(field, &QLineEdit::textEdited, binding,
            [binding](const QString& text) { binding->write(Value(text.toStdString())); });
    binding->follow();
    return binding;
}

QtPreferenceBinding* QtPreferenceBinding::bindCommittedText(QLineEdit* field, const std::string& key, Commit commit) {
    if (!field) return nullptr;
    auto* binding = new QtPreferenceBinding(field, key, [field, key](const Value& value) {
        auto text = textOf(value);
        if (!text) logUnshowable(key, value, "text field");
        if (field->text() != text.value_or(QString())) field->setText(text.value_or(QString()));
    });
    connect(field, &QLineEdit::editingFinished, binding, [binding, field, commit = std::move(commit)] {
        if (binding->committing_) return;
        const std::string typed = field->text().toStdString();
        const auto stored = textOf(binding->store_.objectForKey(binding->key_));
        if (stored && stored->toStdString() == typed) return;
        binding->committing_ = true;
        commit(typed);
        binding->refresh();
        binding->committing_ = false;
    });
    binding->follow();
    return binding;
}

QtPreferenceBinding* QtPreferenceBinding::bindInteger(QSpinBox* box, const std::string& key) {
    if (!box) return nullptr;
    auto* binding = new QtPreferenceBinding(box, key, [box, key](const Value& value) {
        if (!readsAsNumber(value)) logUnshowable(key, value, "number field");
        // A value outside the box's range is shown clamped but not written
        // back: the stored value stays the user's until they change it.
        box->setValue(clampToInt(value.toInteger()));
    });
    connect(box, &QSpinBox::valueChanged, binding, [binding](int v) { binding->write(Value(v)); });
    binding->follow();
    return binding;
}

QtPreferenceBinding* QtPreferenceBinding::bindChecked(QAbstractButton* checkable, const std::string& key) {
    if (!checkable) return nullptr;
    checkable->setCheckable(true);
    auto* binding = new QtPreferenceBinding(checkable, key, [checkable, key](const Value& value) {
        if (!readsAsNumber(value)) logUnshowable(key, value, "check box");
        checkable->setChecked(value.toBool());
    });
    connect(checkable, &QAbstractButton::toggled, binding, [binding](bool on) { binding->write(Value(on)); });
    binding->follow();
    return binding;
}

QtPreferenceBinding* QtPreferenceBinding::bindTime(QDateTimeEdit* edit, const std::string& key) {
    if (!edit) return nullptr;
    auto* binding = new QtPreferenceBinding(edit, key, [edit, key](const Value& value) {
        const auto date = value.date();
        if (!date) {
            // Nothing to show: the edit keeps the time it has.
            if (!value.isNone()) logUnshowable(key, value, "time field");
            return;
        }
        const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(date->time_since_epoch()).count();
        const QDateTime shown = QDateTime::fromMSecsSinceEpoch(ms);
        if (edit->dateTime() != shown) edit->setDateTime(shown);
    });
    connect(edit, &QDateTimeEdit::dateTimeChanged, binding, [binding](const QDateTime& time) {
        binding->write(Value(Value::Date(std::chrono::milliseconds(time.toMSecsSinceEpoch()))));
    });
    binding->follow();
    return binding;
}

QtPreferenceBinding* QtPreferenceBinding::bindLabel(QLabel* label, const std::string& key) {
    if (!label) return nullptr;
    auto* binding = new QtPreferenceBinding(label, key, [label, key](const Value& value) {
        auto text = textOf(value);
        if (!text) logUnshowable(key, value, "label");
        label->setText(text.value_or(QString()));
    });
    binding->follow();
    return binding;
}

} // namespace platform
