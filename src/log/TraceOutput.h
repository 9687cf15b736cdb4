#pragma once
// Where the trace lines go. A command prints only its answer: its trace
// lines are kept back unless --verbose. The application writes them into
// today's log file while "Save a log file" is on; otherwise to standard
// error only with --verbose, or when standard error is no terminal (a
// scheduler's journal keeps them). The setting takes effect at once.

class TraceOutput {
public:
    TraceOutput() = delete;

    static void forCommand(bool verbose);
    // Before the start's decision on the log file; follows the setting's
    // changes from then on.
    static void forApplication(bool verbose);
    // Opens or closes today's log file as the setting now says.
    static void follow(bool saveLogs);
};
