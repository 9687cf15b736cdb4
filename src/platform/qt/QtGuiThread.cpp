#include "platform/qt/QtGuiThread.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>

namespace platform {

bool isGuiThread() {
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void runOnGuiThread(std::function<void()> fn) {
    if (isGuiThread()) fn();
    else queueOnGuiThread(std::move(fn));
}

void queueOnGuiThread(std::function<void()> fn) {
    // The application object lives as long as the event loop that would run
    // the work, so it is the one safe context to queue on from a thread.
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

} // namespace platform
