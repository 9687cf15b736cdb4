#include "app/lifecycle/Relaunch.h"

#include "platform/desktop/Bundle.h"
#include "platform/runtime/DetachedProcess.h"
#include "platform/runtime/Log.h"

#include <QAbstractButton>

#include <QCoreApplication>

using platform::logf;

namespace {

std::string describe(const Relaunch::Parameter& parameter) {
    if (std::holds_alternative<std::monostate>(parameter)) return "(null)";
    if (std::holds_alternative<QAbstractButton*>(parameter)) return "button";
    const auto& options = std::get<Relaunch::Options>(parameter);
    return "{LSLaunchFlags = " + (options.launchFlags ? std::to_string(*options.launchFlags) : "(none)") +
           "; sender = " + (options.sender ? "object" : "(null)") + "}";
}

} // namespace

namespace Relaunch {

Plan plan(const Parameter& parameter, const std::string& bundlePath, int processIdentifier) {
    long long flags = 1;
    QObject* sender = nullptr;
    if (const auto* options = std::get_if<Options>(&parameter)) {
        sender = options->sender;
        flags = options->launchFlags.value_or(0);
    } else if (const auto* button = std::get_if<QAbstractButton*>(&parameter)) {
        sender = *button;
    }
    return Plan{{bundlePath, std::to_string(processIdentifier), std::to_string(flags)}, sender};
}

void relaunch(const Parameter& parameter, const std::function<void(QObject* sender)>& terminate) {
    logf("Inside NSApplication => relaunch:...info = [%s]", describe(parameter).c_str());
    const auto& bundle = platform::Bundle::main();
    const Plan p = plan(parameter, bundle.bundlePath().string(), static_cast<int>(QCoreApplication::applicationPid()));
    const std::string tool = (bundle.executableFolder() / "relaunch").string();
    // Started whatever the quit guard answers next: a refused quit leaves a
    // tool that gives up once its wait runs out.
    platform::DetachedProcess::start(tool, p.arguments);
    terminate(p.sender);
}

} // namespace Relaunch
