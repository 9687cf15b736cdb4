#pragma once
// How this program talks to another machine: OpenSSH's client as a child
// process (platform::Task, so it ends with the application), never asking
// anyone anything, with one shared connection per server so that the many
// short runs of a pass do not each log in again.
//
// Thread rules: every member may be called from any thread; run() and
// identityFor() block the calling thread while ssh runs.

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace platform {

class SecureShell {
public:
    struct Result {
        bool started = false;  // ssh could be run at all
        int status = -1;       // ssh's exit status (255: ssh itself failed), or the remote command's;
                               // -1 when ssh was ended by a signal other than the bound's
        bool timedOut = false; // killed after the bound
        std::string output;    // standard output
        std::string errors;    // standard error; when not started, why ("ssh is not installed")
    };

    SecureShell() = delete;

    // "<XDG_CONFIG_HOME, or $HOME/.config>/tolv-archiver/ssh_config": the program's own ssh client
    // configuration (ssh reads ~/.ssh/config from the passwd home, not $HOME, so admins and tests need
    // one of ours). Used (-F) only when the file exists; ssh then reads no other configuration.
    static std::filesystem::path configFile();

    // ssh's options for every connection: -F configFile() when present, BatchMode=yes (never a prompt),
    // ConnectTimeout=10, ServerAliveInterval=5, ServerAliveCountMax=3, and connection sharing:
    // ControlMaster=auto, ControlPath=<private 0700 folder>/%C, ControlPersist=60. The private folder:
    // $XDG_RUNTIME_DIR/tolv-archiver-ssh when XDG_RUNTIME_DIR is set, absolute and short enough for
    // a socket path, else /tmp/tolv-archiver-ssh-<uid>; created 0700, and refused when it exists but
    // is not ours or not 0700: no sharing then (ControlMaster=no, ControlPath=none).
    static std::vector<std::string> options();

    // The same as one command line for rsync's -e: ssh's absolute path (from the search path)
    // followed by options(), each argument quoted the way rsync's -e splitter understands when it
    // holds spaces or quotes.
    static std::string rsyncShellCommand();

    // Runs `remoteCommand` (a POSIX shell command line for the server's shell) on login ("[user@]host",
    // passed after "--" so a host never reads as an option), with `input` on its standard input
    // (empty: /dev/null), capturing standard output and error. Kills ssh (SIGKILL) when it has not
    // ended within `bound`, and returns then with timedOut.
    static Result run(const std::string& login, const std::string& remoteCommand, const std::string& input,
                      std::chrono::milliseconds bound);

    // A word quoted for a POSIX shell: 'it'\''s'.
    static std::string quoted(const std::string& word);

    // Why a Result shows that the server could not be used, "" when ssh itself did not fail (status
    // != 255 and not timed out): "server not responding" (timed out, or ssh gave up on a server that
    // took the connection and then said nothing), "login refused: <ssh's last error line>"
    // (permission denied, host key verification failed, too many authentication failures), else
    // "server unreachable: <ssh's last error line>" (connection refused, no route, name not known,
    // connection timed out). ssh not started: "server unreachable: ssh is not installed" (or "ssh
    // could not be started"). A remote command that itself exits with 255 reads as a failure of
    // ssh: ssh cannot tell them apart.
    static std::string failureReason(const Result& result);

    // The key ssh would offer for login: the first identity file `ssh -G` names (with options()) that
    // exists, with ~ and ssh's %d %u %i %h %r %p %% expanded as ssh would; nullopt when none does.
    static std::optional<std::string> identityFor(const std::string& login);
};

} // namespace platform
