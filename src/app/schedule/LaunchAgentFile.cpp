#include "app/schedule/LaunchAgentFile.h"

#include "platform/runtime/Log.h"
#include "core/PathString.h"

#include <algorithm>
#include <cctype>

using platform::logf;
using platform::Value;

namespace {

const std::string kCalendarKey = "StartCalendarInterval";
const std::string kProgramArgumentsKey = "ProgramArguments";

std::string lowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

Value::Dictionary dictionaryOf(const Value& value) {
    const Value::Dictionary* dict = value.dictionary();
    return dict ? *dict : Value::Dictionary{};
}

void putBundlePath(Value::Dictionary& agent, const std::string& bundlePath) {
    logf("bundlepath = %s", bundlePath.c_str());
    auto found = agent.find(kProgramArgumentsKey);
    const Value::Array* arguments = found == agent.end() ? nullptr : found->second.array();
    if (!arguments || arguments->empty()) {
        logf("BAD - missing object for ProgramArguments ????");
        return;
    }
    Value::Array changed = *arguments;
    // A list with only its program gets the bundle as its second item.
    if (changed.size() >= 2) changed.erase(changed.begin() + 1);
    changed.insert(changed.begin() + 1, Value(bundlePath));
    found->second = Value(changed);
    logf("programArgs now contains: %s", found->second.description().c_str());
}

} // namespace

const std::string LaunchAgentFile::kVersionKey = "TolvAgentPlistVersion";
const std::string LaunchAgentFile::kCurrentVersion = "2";

std::string LaunchAgentFile::fileName(const std::string& bundleIdentifier) {
    return lowerCase(bundleIdentifier) + ".agent.plist";
}

std::filesystem::path LaunchAgentFile::folder() { return PathString::expandingTilde("~/Library/LaunchAgents"); }

Value::Dictionary LaunchAgentFile::build(const Value& agentTemplate, int hour, int minute,
                                         const std::optional<std::string>& bundlePath) {
    Value::Dictionary agent = dictionaryOf(agentTemplate);
    Value::Dictionary calendar = agent.count(kCalendarKey) ? dictionaryOf(agent[kCalendarKey]) : Value::Dictionary{};
    calendar["Hour"] = Value(hour);
    calendar["Minute"] = Value(minute);
    agent[kCalendarKey] = Value(calendar);
    if (bundlePath) putBundlePath(agent, *bundlePath);
    return agent;
}

bool LaunchAgentFile::isCurrent(const Value::Dictionary& installed) {
    auto mark = installed.find(kVersionKey);
    if (mark == installed.end()) return false;
    auto text = mark->second.toString();
    return text && lowerCase(*text) == lowerCase(kCurrentVersion);
}

Value::Dictionary LaunchAgentFile::refreshed(Value::Dictionary installed, const Value& agentTemplate,
                                             const std::optional<std::string>& bundlePath) {
    Value::Dictionary changes = dictionaryOf(agentTemplate);
    changes.erase(kCalendarKey);
    logf("Inside AppDelegate => updateLaunchAgentFileIfNeeded...Converting to: %s", Value(changes).description().c_str());
    for (auto& [key, value] : changes) installed[key] = value;
    // The template's program arguments name a bundle that is not there: the
    // refreshed job must start this one, as a newly installed one does.
    if (bundlePath) putBundlePath(installed, *bundlePath);
    logf("Inside AppDelegate => updateLaunchAgentFileIfNeeded...new mDict Contains: %s",
         Value(installed).description().c_str());
    return installed;
}
