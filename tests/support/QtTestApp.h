#pragma once
// The one QApplication of a widget test program, on Qt's offscreen platform
// unless the environment names another, and a wait that keeps the event
// loop turning while work queued from other threads arrives.

#include <QApplication>
#include <QThread>

#include <chrono>
#include <cstdlib>
#include <functional>

namespace testing_support {

// Made on first use, on the calling (main) thread; never destroyed, since
// widgets of a failed test may still be alive at exit.
inline QApplication& qtTestApp() {
    static QApplication* app = [] {
        setenv("QT_QPA_PLATFORM", "offscreen", 0);
        static int argc = 1;
        static char name[] = "tolv-widget-test";
        static char* argv[] = {name, nullptr};
        return new QApplication(argc, argv);
    }();
    return *app;
}

// Processes events until done() holds or the timeout passes; returns done().
// The timeout is generous: it only bounds a failing test.
inline bool processEventsUntil(const std::function<bool()>& done,
                               std::chrono::milliseconds timeout = std::chrono::seconds(20)) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return done();
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

// Runs everything already queued on the GUI thread.
inline void drainEvents() {
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
}

} // namespace testing_support
