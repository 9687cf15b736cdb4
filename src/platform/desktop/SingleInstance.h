#pragma once
// One running instance per user. The first start claims a Unix socket in a
// folder private to the user and becomes the primary; a later start hands
// its arguments to the primary and gets back a text for its standard output
// and an exit status.
//
// Threads: claim() and send() block the calling thread, whichever it is,
// for at most their timeout (claim also waits for the short claim lock of a
// start running at the same moment). A primary serves on a service thread
// of its own, started by claim() and ended by the destructor. The handler
// runs on that thread, one request at a time: a slow handler delays later
// requests (their senders may give up) but nothing else. The destructor
// waits for a handler call in progress, so it must not run inside the
// handler, and a handler that waits for the destroying thread must be able
// to give up.
//
// Where: $XDG_RUNTIME_DIR/<appName> when that variable names a folder of the
// user, else /tmp/<appName>-<uid>; the socket is instance.sock in it and the
// claim lock instance.lock. A folder that is not a real folder of the user
// closed to everyone else is never used: the primary then serves from a
// fresh private folder beside it, which later starts cannot find (logged).
//
// Wire format, integers as 4 bytes big-endian:
//   request  "TOLV1\n", argument count, then per argument its length and bytes
//   reply    "TOLV1\n", status (signed), text length, text

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <sys/types.h>
#include <thread>
#include <vector>

namespace platform {

class SingleInstance {
public:
    struct Reply {
        int status = 0;
        std::string text; // for the sender's standard output
        bool operator==(const Reply&) const = default;
    };
    using Handler = std::function<Reply(const std::vector<std::string>& arguments)>;

    // A request larger than these is refused by send() and dropped by the
    // primary, as is a connection that has not delivered a whole request,
    // or taken its whole reply, within the patience.
    static constexpr std::size_t maxRequestBytes = 64 * 1024; // everything, magic included
    static constexpr std::size_t maxArguments = 256;
    static constexpr std::size_t maxReplyBytes = 1024 * 1024; // longer texts are cut
    static constexpr std::chrono::milliseconds patience{2000};

    // What claim() found. Neither a primary nor another instance: nothing
    // could be set up (logged); the caller may run on without the service.
    struct Claim {
        std::unique_ptr<SingleInstance> primary; // this start is the primary
        bool otherInstance = false;              // another instance holds the socket
        std::optional<Reply> reply;              // its reply to the arguments; nullopt
                                                 // when none came within the timeout
    };
    // Under the claim lock, either becomes the primary (the arguments are
    // not sent anywhere: the caller handles them itself) or reaches the
    // running instance, which then answers the arguments.
    static Claim claim(const std::string& appName, const std::vector<std::string>& arguments, Handler handler,
                       std::chrono::milliseconds timeout);

    // Hands the arguments to the running instance and waits for its reply;
    // nullopt (logged) when no instance answers within the timeout.
    static std::optional<Reply> send(const std::string& appName, const std::vector<std::string>& arguments,
                                     std::chrono::milliseconds timeout);

    // The folder the instance of appName is looked for in, before any fallback.
    static std::filesystem::path preferredFolder(const std::string& appName,
                                                 const std::filesystem::path& sessionFolders = "/run/user");

    ~SingleInstance(); // stops serving; removes the socket if it is still ours
    SingleInstance(const SingleInstance&) = delete;
    SingleInstance& operator=(const SingleInstance&) = delete;

    const std::filesystem::path& folder() const { return folder_; }
    std::filesystem::path socketPath() const;
    bool inPrivateFallback() const { return privateFolder_; }

private:
    SingleInstance() = default; // claim() fills in the socket, then start()s
    bool start();
    void serve();
    void removeSocketIfOurs() const;

    std::filesystem::path folder_;
    bool privateFolder_ = false; // made by mkdtemp for this instance alone
    int listenFd_ = -1;
    dev_t boundDevice_ = 0; // the socket file as bound, to recognise it later
    ino_t boundInode_ = 0;
    int wakeRead_ = -1; // the self-pipe that ends the service thread
    int wakeWrite_ = -1;
    Handler handler_;
    std::thread thread_;
};

} // namespace platform
