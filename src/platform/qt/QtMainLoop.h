#pragma once
// Makes Qt's event loop the main thread's run loop: once installed, work
// queued with performAfterDelay from any thread runs on Qt's GUI thread
// after its delay.

namespace platform {

class QtMainLoop {
public:
    // Needs a QCoreApplication; call on the GUI thread after creating it.
    static void install();
    // Back to the plain main loop (the application object is going away).
    static void uninstall();
};

} // namespace platform
