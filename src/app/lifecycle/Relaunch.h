#pragma once
// Relaunching the application: the relaunch tool of the bundle is started
// with the bundle path, this process's identifier and the launch flags; it
// waits for this process to end and starts the application again. Then the
// application is asked to quit, which the quit guard may still refuse.

#include <QObject>

#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

class QAbstractButton;

namespace Relaunch {

// What a relaunch may be given: nothing, the button that asked, or options.
struct Options {
    QObject* sender = nullptr;
    std::optional<long long> launchFlags; // 0 when absent
};
using Parameter = std::variant<std::monostate, QAbstractButton*, Options>;

// The tool's three arguments and the sender of the quit request.
struct Plan {
    std::vector<std::string> arguments;
    QObject* sender = nullptr;
};
Plan plan(const Parameter& parameter, const std::string& bundlePath, int processIdentifier);

// Starts the tool (detached: it must outlive us), then calls terminate with
// the plan's sender.
void relaunch(const Parameter& parameter, const std::function<void(QObject* sender)>& terminate);

} // namespace Relaunch
