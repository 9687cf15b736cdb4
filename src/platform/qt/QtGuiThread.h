#pragma once
// Carrying work from any thread to the GUI thread. Notification handlers and
// preference observers run on whichever thread posted or wrote; widgets may
// only be touched on the thread that runs the application's event loop.

#include <functional>

namespace platform {

// True on the thread of the QApplication (false when there is none).
bool isGuiThread();
// Runs fn now when called on the GUI thread, else queues it there. Without
// an application object nothing can show, so the work is dropped.
void runOnGuiThread(std::function<void()> fn);
// Always queues fn on the GUI thread, even from the GUI thread itself.
void queueOnGuiThread(std::function<void()> fn);

} // namespace platform
