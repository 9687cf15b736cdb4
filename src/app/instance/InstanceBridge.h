#pragma once
// Carries the requests that later starts send to this instance from the
// single-instance service's thread to the GUI thread, where InstanceRequests
// answers them, and the reply back. A request that comes while this
// instance is still starting waits for it; one that comes while it ends is
// refused at once.

#include "app/instance/InstanceRequests.h"
#include "platform/desktop/SingleInstance.h"

#include <atomic>
#include <future>
#include <memory>

class InstanceBridge {
public:
    // The service's handler; it stays valid as long as the bridge lives.
    platform::SingleInstance::Handler handler();
    // GUI thread: from now on requests are answered by `requests`.
    void attach(InstanceRequests* requests);
    // GUI thread: requests arriving from now on are refused; one waiting
    // for the GUI thread gives up.
    void detach();

private:
    platform::SingleInstance::Reply answer(const std::vector<std::string>& arguments);
    void answerOnGuiThread(const CommandLine& line,
                           const std::shared_ptr<std::promise<platform::SingleInstance::Reply>>& promise);

    InstanceRequests* requests_ = nullptr; // GUI thread only
    std::atomic<bool> ending_{false};
};
