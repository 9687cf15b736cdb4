#pragma once
// A real OpenSSH server for one test: sshd as a child process on a free
// port of 127.0.0.1, with a throwaway host key, a user key it lets in, and
// the client configuration that reaches it with that key, all in a
// temporary folder that goes with the object. It logs in the user the test
// runs as; as root it needs /run/sshd, which it makes.
//
// sshd is killed when the thread that started it ends (PR_SET_PDEATHSIG), so
// that a test program that dies without its destructors leaves no server
// listening: start it on a thread that outlives its use.
//
// sshd runs in a process group of its own, apart from the test's, and each
// connection it accepts moves to a session of its own: pause() and stop()
// therefore reach the listener and every process below it, so that an
// established connection (one an ssh connection master holds) stops
// answering, or goes away, as well as new ones.

#include <filesystem>
#include <string>
#include <sys/types.h>
#include <vector>

namespace testing_support {

class SshServer {
public:
    // Why this machine cannot run one ("" when it can): the test skips then.
    static std::string unavailable();

    SshServer();  // started and accepting; throws std::runtime_error (with sshd's log) when not
    ~SshServer(); // resumed if paused, stopped, and its folder removed
    SshServer(const SshServer&) = delete;
    SshServer& operator=(const SshServer&) = delete;

    // Starts again on the same port after stop(); returns once it accepts.
    void start();
    // SIGTERM to the listener and its connections; returns once the listener is reaped.
    void stop();
    // SIGSTOP (SIGCONT) to the listener and every connection's processes: it still accepts TCP
    // connections (the kernel does that), but answers nothing on them, new or established.
    void pause();
    void resume();

    int port() const { return port_; }
    // How many logins it has let in so far: one per ssh connection (shared ones count once).
    int acceptedLogins() const;
    static std::string user(); // the current user's name
    std::string login() const; // "user@localhost"
    // "user@localhost:" followed by the absolute folder, as rsync names a remote folder.
    std::string destination(const std::filesystem::path& remoteFolder) const;

    std::filesystem::path userKey() const { return folder_ / "user_key"; }
    // Another key, which the server does not let in.
    std::filesystem::path strangerKey() const { return folder_ / "stranger_key"; }
    // Text of an ssh client configuration for localhost and 127.0.0.1 that reaches this server
    // with userKey() and no host key checks.
    std::string clientConfig() const;
    // Writes clientConfig() to file, parents made.
    void installClientConfig(const std::filesystem::path& file) const;

private:
    void writeServerConfig() const;
    void waitUntilAccepting();
    void signalAll(int signalNumber) const;
    std::vector<pid_t> processes() const;

    std::filesystem::path folder_;
    int port_ = 0;
    pid_t pid_ = -1;
    bool paused_ = false;
};

} // namespace testing_support
