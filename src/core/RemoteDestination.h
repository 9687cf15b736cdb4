#pragma once
// A destination on another machine, in rsync's own form:
// "[user@]host:/absolute/path" (the host may be an alias of the program's
// ssh configuration, which can also give it a port). Local destinations are
// stored as absolute paths, so a stored destination that does not begin
// with "/" and has a ":" before its first "/" is a remote one.

#include <optional>
#include <string>

struct RemoteDestination {
    std::string login; // "[user@]host", as ssh takes it
    std::string path;  // absolute, on the server

    // Whether the text is meant as a remote destination (it may still be
    // malformed: parse() tells).
    static bool looksRemote(const std::string& text);
    // The destination the text names, or nullopt and why in *why.
    static std::optional<RemoteDestination> parse(const std::string& text, std::string* why = nullptr);

    // "login:path", as stored and shown.
    std::string text() const { return login + ":" + path; }
    // A folder on the server as rsync's target: "login:folder".
    std::string target(const std::string& folder) const { return login + ":" + folder; }
};
