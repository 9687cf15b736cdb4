#include "platform/qt/QtMainLoop.h"

#include "platform/runtime/Log.h"
#include "platform/runtime/RunLoop.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <cmath>
#include <limits>

namespace platform {
namespace {

int toMilliseconds(double seconds) {
    if (!(seconds > 0)) return 0;
    double ms = std::ceil(seconds * 1000.0);
    return ms > std::numeric_limits<int>::max() ? std::numeric_limits<int>::max() : static_cast<int>(ms);
}

void queueAfterDelayOnGuiThread(double seconds, std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    if (!app) {
        log("performAfterDelay => no application object: work dropped");
        return;
    }
    const int ms = toMilliseconds(seconds);
    // A timer belongs to the thread that starts it, so the timer itself is
    // started on the GUI thread; the delay counts from there.
    QMetaObject::invokeMethod(
        app, [app, ms, fn = std::move(fn)] { QTimer::singleShot(ms, Qt::PreciseTimer, app, fn); },
        Qt::QueuedConnection);
}

} // namespace

void QtMainLoop::install() { MainLoop::setBackend(queueAfterDelayOnGuiThread); }

void QtMainLoop::uninstall() { MainLoop::setBackend(nullptr); }

} // namespace platform
