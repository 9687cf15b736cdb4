#include "app/instance/InstanceBridge.h"

#include "platform/runtime/Log.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QTimer>

#include <chrono>
#include <future>
#include <thread>

using platform::SingleInstance;

namespace {

// Long enough for a person to answer the busy alert of --quit.
constexpr auto kGuiPatience = std::chrono::minutes(5);
constexpr auto kSlice = std::chrono::milliseconds(100);

SingleInstance::Reply refusal(const std::string& why) { return {1, why + "\n"}; }

} // namespace

SingleInstance::Handler InstanceBridge::handler() {
    return [this](const std::vector<std::string>& arguments) { return answer(arguments); };
}

void InstanceBridge::attach(InstanceRequests* requests) { requests_ = requests; }

void InstanceBridge::detach() {
    ending_ = true;
    requests_ = nullptr;
}

void InstanceBridge::answerOnGuiThread(const CommandLine& line,
                                       const std::shared_ptr<std::promise<SingleInstance::Reply>>& promise) {
    if (ending_) return promise->set_value(refusal("the application is ending"));
    // A start that comes while this one is still starting waits for it.
    if (!requests_) {
        QTimer::singleShot(kSlice, QCoreApplication::instance(), [this, line, promise] { answerOnGuiThread(line, promise); });
        return;
    }
    // Answering may run the busy alert, whose own event loop may take the
    // next request meanwhile: nothing here is held across it.
    promise->set_value(requests_->answer(line));
}

SingleInstance::Reply InstanceBridge::answer(const std::vector<std::string>& arguments) {
    std::vector<std::string> argv{TOLV_APP_NAME};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const CommandLine line = CommandLine::parse(argv);
    if (line.error) return {2, *line.error + "\n"};
    platform::logf("A later start asks: %zu argument(s)", arguments.size());

    const auto giveUp = std::chrono::steady_clock::now() + kGuiPatience;
    // The service starts before the application object does.
    while (!QCoreApplication::instance()) {
        if (ending_ || std::chrono::steady_clock::now() > giveUp) return refusal("the application is ending");
        std::this_thread::sleep_for(kSlice);
    }
    auto promise = std::make_shared<std::promise<SingleInstance::Reply>>();
    auto future = promise->get_future();
    if (!QMetaObject::invokeMethod(
            QCoreApplication::instance(), [this, line, promise] { answerOnGuiThread(line, promise); },
            Qt::QueuedConnection))
        return refusal("not running any more");
    while (future.wait_for(kSlice) != std::future_status::ready) {
        if (ending_ || std::chrono::steady_clock::now() > giveUp) return refusal("the application is ending");
    }
    return future.get();
}
