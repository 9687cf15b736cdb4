#pragma once
// Setting the application up without its window: --set-destination PATH,
// --set-source N PATH, --enable N, --disable N and --set NAME VALUE do what
// choosing in the window does (the same refusals and texts, alias data and
// the archive's marker), on the running application or, when none runs,
// on the preference file. Bad input is refused with exit status 2.

#include "app/instance/CommandLine.h"
#include "platform/desktop/SingleInstance.h"

#include <string>
#include <vector>

struct SetupCommand {
    using Reply = platform::SingleInstance::Reply;

    // running: a running application answers, and switching a slot on or
    // off starts or stops its watching as the row's switch does.
    static Reply run(const CommandLine& line, bool running);

    // The window's numeric and switch settings by their command-line names.
    struct Setting {
        const char* name;
        const std::string& key;
        bool isSwitch;
    };
    static const std::vector<Setting>& settings();
};
