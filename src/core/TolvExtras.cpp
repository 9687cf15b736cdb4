#include "core/TolvExtras.h"

#include "platform/runtime/Log.h"
#include "platform/runtime/Task.h"
#include "core/PathString.h"

#include <filesystem>
#include <mutex>
#include <system_error>

namespace fs = std::filesystem;
using platform::log;
using platform::logf;

namespace {

// Length of the UTF-8 sequence that starts with this byte; 0 for a byte
// that cannot start one.
int sequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

bool isUtf8(const std::string& bytes) {
    for (size_t i = 0; i < bytes.size();) {
        auto lead = static_cast<unsigned char>(bytes[i]);
        int n = sequenceLength(lead);
        if (n == 0 || i + n > bytes.size()) return false;
        auto second = static_cast<unsigned char>(n > 1 ? bytes[i + 1] : 0x80);
        // Overlong forms, UTF-16 surrogates and code points past U+10FFFF.
        if ((lead == 0xE0 && second < 0xA0) || (lead == 0xED && second > 0x9F) ||
            (lead == 0xF0 && second < 0x90) || (lead == 0xF4 && second > 0x8F))
            return false;
        for (int k = 1; k < n; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        i += n;
    }
    return true;
}

std::optional<std::string> decoded(std::string bytes) {
    if (!isUtf8(bytes)) return std::nullopt;
    return bytes;
}

std::string describeParameters(const std::vector<std::string>& parameters) {
    std::string text = "(";
    for (size_t i = 0; i < parameters.size(); ++i) text += (i ? ",\n    " : "\n    ") + parameters[i];
    return text + "\n)";
}

bool succeeded(const platform::Task::Termination& end) {
    return end.started && !end.signaled && end.status == 0;
}

platform::Task::Output runCollectingOutput(const std::string& path, const ScriptParameters& parameters) {
    platform::Task::Options options{
        .path = path, .arguments = parameters.value_or(std::vector<std::string>{}), .workingDirectory = std::nullopt};
    return platform::Task::runCapturingOutput(options);
}

std::optional<fs::path> scriptInBundle(const platform::Bundle& bundle, const std::string& name) {
    if (auto executable = bundle.pathForAuxiliaryExecutable(name)) return executable;
    fs::path file(name);
    std::string type = file.extension().string();
    if (!type.empty()) type.erase(0, 1);
    return bundle.pathForResource(file.stem().string(), type);
}

std::mutex gBeepMutex;
std::function<void()> gBeepHook;

} // namespace

namespace {

struct ScriptRun {
    bool succeeded = false;
    std::optional<std::string> text; // as runThisShellScript answers
    std::string told;                // the standard output, whatever the status
};

ScriptRun runLogged(const std::string& path, const ScriptParameters& parameters) {
    logf("runThisShellScript => scriptName = [%s]", path.c_str());
    if (parameters)
        logf("runThisShellScript => param:\n%s", describeParameters(*parameters).c_str());
    else
        log("runThisShellScript => NO param");
    platform::Task::Output output = runCollectingOutput(path, parameters);
    if (!succeeded(output.termination)) {
        log("runThisShellScript Task failed.");
        return {false, std::string("Task failed."), decoded(std::move(output.standardOutput)).value_or("")};
    }
    log("runThisShellScript Task succeeded.");
    auto text = decoded(std::move(output.standardOutput));
    logf("runThisShellScript got back:\n%s\n", text ? text->c_str() : "(null)");
    return {true, text, text.value_or("")};
}

} // namespace

std::optional<std::string> runThisShellScript(const std::optional<std::string>& path, const ScriptParameters& parameters) {
    if (!path) {
        log("\n\nrunThisShellScript FAILED => scriptName==nil!\n\n");
        return std::nullopt;
    }
    return runLogged(*path, parameters).text;
}

bool runShellScript(const std::optional<std::string>& name, const ScriptParameters& parameters) {
    if (!name) {
        log("\n\nrunShellScript FAILED => scriptName==nil!\n\n");
        return false;
    }
    return runShellScript(platform::Bundle::main(), name, parameters);
}

bool runShellScript(const platform::Bundle& bundle, const std::optional<std::string>& name,
                    const ScriptParameters& parameters) {
    if (!name) {
        log("\n\nrunShellScript FAILED => scriptName==nil!\n\n");
        return false;
    }
    auto script = scriptInBundle(bundle, *name);
    if (!script) {
        logf("\n\nrunShellScript FAILED => UNABLE to find script named: [%s]!\n\n", name->c_str());
        return false;
    }
    return runLogged(script->string(), parameters).succeeded;
}

bool runShellScript(const std::string& name, const ScriptParameters& parameters, std::string* answer) {
    auto script = scriptInBundle(platform::Bundle::main(), name);
    if (!script) {
        logf("\n\nrunShellScript FAILED => UNABLE to find script named: [%s]!\n\n", name.c_str());
        *answer = "the bundle has no " + name;
        return false;
    }
    ScriptRun run = runLogged(script->string(), parameters);
    *answer = std::move(run.told);
    return run.succeeded;
}

std::optional<std::string> runShellScript2(const std::optional<std::string>& path, const ScriptParameters& parameters) {
    if (!path) {
        log("\n\nrunShellScript2 FAILED => scriptName==nil!\n\n");
        return std::nullopt;
    }
    if (!parameters) log("runShellScript2 => NO param");
    platform::Task::Output output = runCollectingOutput(*path, parameters);
    if (!succeeded(output.termination)) log("runShellScript2 Task failed.");
    return decoded(std::move(output.standardOutput));
}

void revealItemInFinder(const std::optional<std::string>& path) {
    logf("Inside revealItemInFinder...revealItemInFinder => %s...", path ? path->c_str() : "(null)");
    if (path && !path->empty()) {
        std::string folder = PathString::expandingTilde(*path);
        std::error_code ec;
        if (fs::is_directory(folder, ec)) {
            runShellScript("revealInFinder.sh", std::vector<std::string>{folder});
            return;
        }
    }
    systemBeep();
    log("User Needs to Select a Valid Existing Folder...");
}

void setSystemBeepHook(std::function<void()> hook) {
    std::lock_guard lock(gBeepMutex);
    gBeepHook = std::move(hook);
}

void systemBeep() {
    std::function<void()> hook;
    {
        std::lock_guard lock(gBeepMutex);
        hook = gBeepHook;
    }
    if (hook)
        hook();
    else
        log("systemBeep => no sound connected yet: beep");
}

std::string computeCurrentDaysFolderString2(int hours, int minutes) {
    return computeCurrentDaysFolderString2(hours, minutes, std::chrono::system_clock::now());
}

std::string computeCurrentDaysFolderString2(int hours, int minutes, platform::Date now) {
    std::chrono::seconds back(static_cast<long long>(hours) * 3600 + static_cast<long long>(minutes) * 60);
    return platform::DateFormat::format(now - back, "yyyy-MM-dd");
}
