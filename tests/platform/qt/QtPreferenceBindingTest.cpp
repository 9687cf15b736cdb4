#include "platform/qt/QtPreferenceBinding.h"

#include "platform/preferences/UserDefaults.h"
#include "support/QtTestApp.h"
#include "support/StderrCapture.h"
#include "support/TempHome.h"

#include <QCheckBox>
#include <QDateTimeEdit>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QSpinBox>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

using platform::QtPreferenceBinding;
using platform::UserDefaults;
using platform::Value;
using testing_support::processEventsUntil;
using testing_support::TempHome;

namespace {

// Every value written to one key, in order, on whichever thread wrote it.
class WriteLog {
public:
    explicit WriteLog(const std::string& key) {
        id_ = UserDefaults::standard().addObserver(key, [this](const std::string&, const Value& v) {
            std::lock_guard lock(mutex_);
            values_.push_back(v);
        });
    }
    ~WriteLog() { UserDefaults::standard().removeObserver(id_); }
    std::vector<Value> values() const {
        std::lock_guard lock(mutex_);
        return values_;
    }

private:
    UserDefaults::ObserverId id_ = 0;
    mutable std::mutex mutex_;
    std::vector<Value> values_;
};

// What a person typing does: key events, which edit the text and emit textEdited.
void typeInto(QWidget* widget, const QString& text) {
    for (QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(widget, &press);
    }
}

void writeOnAnotherThread(const std::string& key, const Value& value) {
    std::thread([&] { UserDefaults::standard().setObject(key, value); }).join();
}

class QtPreferenceBindingTest : public ::testing::Test {
protected:
    QtPreferenceBindingTest() { testing_support::qtTestApp(); }
    UserDefaults& prefs() { return UserDefaults::standard(); }

    TempHome home_;
};

TEST_F(QtPreferenceBindingTest, TextFieldShowsValueFollowsWorkerWritesAndWritesEveryKeystroke) {
    prefs().setObject("k", Value("/photos"));
    QLineEdit field;
    QtPreferenceBinding::bindText(&field, "k");
    EXPECT_EQ(field.text(), "/photos");

    writeOnAnotherThread("k", Value("/elsewhere"));
    // Not before the GUI thread gets to it: the worker never touches the widget.
    EXPECT_EQ(field.text(), "/photos");
    EXPECT_TRUE(processEventsUntil([&] { return field.text() == "/elsewhere"; }));

    WriteLog writes("k");
    field.setFocus();
    field.end(false);
    typeInto(&field, "/a");
    ASSERT_EQ(writes.values().size(), 2u);
    EXPECT_EQ(writes.values()[0], Value("/elsewhere/"));
    EXPECT_EQ(writes.values()[1], Value("/elsewhere/a"));
    EXPECT_EQ(field.cursorPosition(), field.text().size()); // not reset by its own write coming back

    // A write on the GUI thread by someone else shows at once.
    prefs().setObject("k", Value("/chosen"));
    EXPECT_EQ(field.text(), "/chosen");
}

TEST_F(QtPreferenceBindingTest, CheckBoxWritesBeforeClickedHandlersRun) {
    prefs().setBool("on", false);
    QCheckBox box;
    QtPreferenceBinding::bindChecked(&box, "on");
    std::vector<bool> seenByAction;
    // Connected before any later connection could reorder it: the order is
    // toggled-then-clicked, not connection order.
    QObject::connect(&box, &QCheckBox::clicked, [&] { seenByAction.push_back(prefs().boolForKey("on")); });

    box.click();
    box.click();
    EXPECT_EQ(seenByAction, (std::vector<bool>{true, false}));

    WriteLog writes("on");
    writeOnAnotherThread("on", Value(true));
    EXPECT_TRUE(processEventsUntil([&] { return box.isChecked(); }));
    // Showing the value wrote nothing back: the worker's write is the only one.
    EXPECT_EQ(writes.values().size(), 1u);
    EXPECT_TRUE(seenByAction.size() == 2u); // showing is not a click
}

TEST_F(QtPreferenceBindingTest, SpinBoxClampsOnScreenButKeepsTheStoredValue) {
    prefs().setInteger("days", 1000);
    QSpinBox box;
    box.setRange(0, 99);
    WriteLog writes("days");
    QtPreferenceBinding::bindInteger(&box, "days");
    EXPECT_EQ(box.value(), 99);
    EXPECT_EQ(prefs().integerForKey("days"), 1000);
    EXPECT_TRUE(writes.values().empty());

    box.stepBy(-1); // as the arrow key does
    EXPECT_EQ(prefs().integerForKey("days"), 98);
    ASSERT_EQ(writes.values().size(), 1u);

    // A number kept as a string (hand-edited preferences) reads as a number.
    prefs().setObject("days", Value("12"));
    EXPECT_EQ(box.value(), 12);
    EXPECT_EQ(prefs().objectForKey("days"), Value("12"));
}

TEST_F(QtPreferenceBindingTest, TimeEditRoundTripsADate) {
    const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
    prefs().setObject("time", Value(when));
    QDateTimeEdit edit;
    QtPreferenceBinding::bindTime(&edit, "time");
    EXPECT_EQ(edit.dateTime().toSecsSinceEpoch(), 1'700'000'000);

    edit.setDateTime(edit.dateTime().addSecs(3600)); // the user turns the hour up
    EXPECT_EQ(prefs().objectForKey("time").date(), when + std::chrono::hours(1));
}

TEST_F(QtPreferenceBindingTest, LabelShowsStringsAndNumbersAndDamagedValuesAreLoggedNotShown) {
    QLabel label;
    prefs().setObject("shown", Value("Vers: 1.0 (1)"));
    QtPreferenceBinding::bindLabel(&label, "shown");
    EXPECT_EQ(label.text(), "Vers: 1.0 (1)");
    prefs().setInteger("shown", 42);
    EXPECT_EQ(label.text(), "42");

    testing_support::StderrCapture log;
    prefs().setObject("shown", Value(Value::Data{1, 2, 3}));
    EXPECT_EQ(label.text(), "");
    EXPECT_TRUE(log.contains("key [shown] holds"));
    EXPECT_EQ(prefs().objectForKey("shown"), Value(Value::Data{1, 2, 3})); // left as it was

    QLineEdit field;
    prefs().setObject("list", Value(Value::Array{Value("a")}));
    QtPreferenceBinding::bindText(&field, "list");
    EXPECT_EQ(field.text(), "");
    EXPECT_EQ(prefs().objectForKey("list"), Value(Value::Array{Value("a")}));
}

TEST_F(QtPreferenceBindingTest, RemovedKeyShowsEmptyAndTheBindingEndsWithItsWidget) {
    prefs().setObject("k", Value("x"));
    auto field = std::make_unique<QLineEdit>();
    QtPreferenceBinding::bindText(field.get(), "k");
    EXPECT_EQ(QtPreferenceBinding::of(field.get())->key(), "k");
    prefs().removeObjectForKey("k");
    EXPECT_EQ(field->text(), "");

    // Writes queued from a worker while the widget goes away find nothing to update.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i) UserDefaults::standard().setObject("k", Value(std::to_string(i)));
    });
    ASSERT_TRUE(processEventsUntil([&] { return !field->text().isEmpty(); }));
    field.reset();
    for (int i = 0; i < 20; ++i) QApplication::processEvents();
    stop = true;
    writer.join();
    testing_support::drainEvents();
}

TEST_F(QtPreferenceBindingTest, BurstOfWorkerWritesEndsShowingTheLastValue) {
    QSpinBox box;
    box.setRange(0, 100000);
    QtPreferenceBinding::bindInteger(&box, "n");
    std::thread([] {
        for (int i = 1; i <= 5000; ++i) UserDefaults::standard().setInteger("n", i);
    }).join();
    EXPECT_TRUE(processEventsUntil([&] { return box.value() == 5000; }));
}

} // namespace
