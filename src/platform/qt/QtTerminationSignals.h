#pragma once
// Turns SIGTERM and SIGINT into a call on Qt's GUI thread, so a run
// without a window can be ended cleanly through the application's quit.

#include <functional>

namespace platform {

class QtTerminationSignals {
public:
    // Needs a QCoreApplication. The handler runs on the GUI thread, once per
    // signal received. Installing again replaces the handler.
    static bool install(std::function<void(int signalNumber)> handler);
};

} // namespace platform
