#include "platform/desktop/SingleInstance.h"

#include "platform/runtime/Log.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <string_view>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <system_error>
#include <unistd.h>

namespace fs = std::filesystem;

namespace platform {
namespace {

using Clock = std::chrono::steady_clock;
using Reply = SingleInstance::Reply;

constexpr std::string_view magic = "TOLV1\n";
constexpr std::size_t replyHeaderBytes = magic.size() + 8;
constexpr int backlog = 16;
// Open connections at once; each costs a descriptor until its patience ends.
constexpr std::size_t maxConnections = 64;
// A failing accept (out of descriptors) would otherwise wake poll at once, again and again.
constexpr std::chrono::milliseconds acceptPause{100};
constexpr const char* socketName = "instance.sock";
constexpr const char* lockName = "instance.lock";

std::string reason(int error) { return std::strerror(error); }

void closeFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

// ---- the wire format ------------------------------------------------------

void appendU32(std::string& out, std::uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out += static_cast<char>((value >> shift) & 0xff);
}

std::uint32_t u32At(std::string_view bytes, std::size_t at) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

std::string encodeRequest(const std::vector<std::string>& arguments) {
    std::string out(magic);
    appendU32(out, static_cast<std::uint32_t>(arguments.size()));
    for (const auto& a : arguments) {
        appendU32(out, static_cast<std::uint32_t>(a.size()));
        out += a;
    }
    return out;
}

std::string encodeReply(const Reply& reply) {
    std::string out(magic);
    appendU32(out, static_cast<std::uint32_t>(reply.status));
    appendU32(out, static_cast<std::uint32_t>(reply.text.size()));
    out += reply.text;
    return out;
}

struct Parsed {
    enum State { Incomplete, Complete, Malformed } state = Incomplete;
    std::vector<std::string> arguments;
    std::string why; // for Malformed
};

Parsed malformed(std::string why) { return {Parsed::Malformed, {}, std::move(why)}; }

// Judges the bytes received so far, so a bad request is refused as soon as
// it shows, not when the peer stops sending.
Parsed parseRequest(std::string_view bytes) {
    std::size_t head = std::min(bytes.size(), magic.size());
    if (bytes.substr(0, head) != magic.substr(0, head)) return malformed("not our magic");
    if (bytes.size() < magic.size() + 4) return {};
    std::uint32_t count = u32At(bytes, magic.size());
    if (count > SingleInstance::maxArguments) return malformed("too many arguments (" + std::to_string(count) + ")");
    Parsed parsed;
    std::size_t at = magic.size() + 4;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (bytes.size() < at + 4) return {};
        std::uint32_t length = u32At(bytes, at);
        at += 4;
        if (length > SingleInstance::maxRequestBytes - at)
            return malformed("argument length " + std::to_string(length) + " beyond the limit");
        if (bytes.size() < at + length) return {};
        parsed.arguments.emplace_back(bytes.substr(at, length));
        at += length;
    }
    if (bytes.size() > at) return malformed("bytes after the request");
    parsed.state = Parsed::Complete;
    return parsed;
}

// The reply once it is whole; sets bad for bytes that cannot become one.
std::optional<Reply> parseReply(std::string_view bytes, bool& bad) {
    std::size_t head = std::min(bytes.size(), magic.size());
    bad = bytes.substr(0, head) != magic.substr(0, head);
    if (bad || bytes.size() < replyHeaderBytes) return std::nullopt;
    std::uint32_t length = u32At(bytes, magic.size() + 4);
    bad = length > SingleInstance::maxReplyBytes || bytes.size() > replyHeaderBytes + length;
    if (bad || bytes.size() < replyHeaderBytes + length) return std::nullopt;
    return Reply{static_cast<int>(u32At(bytes, magic.size())), std::string(bytes.substr(replyHeaderBytes))};
}

// ---- the folder -----------------------------------------------------------

// Why the folder must not hold our socket, or nothing when it may: anyone
// who can write into it could put a socket of theirs in our place.
std::optional<std::string> whyUnusable(const fs::path& folder) {
    struct stat st {};
    if (lstat(folder.c_str(), &st) != 0) return "cannot be examined: " + reason(errno);
    if (S_ISLNK(st.st_mode)) return std::string("is a symbolic link");
    if (!S_ISDIR(st.st_mode)) return std::string("is not a folder");
    if (st.st_uid != geteuid()) return "belongs to uid " + std::to_string(st.st_uid);
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%03o", static_cast<unsigned>(st.st_mode & 0777));
        return std::string("is open to group or others (mode ") + mode + ")";
    }
    return std::nullopt;
}

struct Place {
    fs::path folder;
    bool privateFolder = false;
};

// The preferred folder when it is safe, else a fresh one beside it that
// only this instance knows, so the application still starts.
std::optional<Place> usableFolder(const fs::path& preferred) {
    if (mkdir(preferred.c_str(), 0700) != 0 && errno != EEXIST)
        logf("single instance: cannot make %s: %s", preferred.c_str(), reason(errno).c_str());
    auto why = whyUnusable(preferred);
    if (!why) return Place{preferred, false};
    std::string pattern = preferred.string() + ".XXXXXX";
    if (!mkdtemp(pattern.data())) {
        logf("single instance: %s %s, and no private folder can be made beside it: %s", preferred.c_str(),
             why->c_str(), reason(errno).c_str());
        return std::nullopt;
    }
    logf("single instance: %s %s; serving from %s, where later starts cannot find this instance",
         preferred.c_str(), why->c_str(), pattern.c_str());
    return Place{pattern, true};
}

// The claim lock's descriptor, or -1 (logged).
int lockFolder(const fs::path& folder) {
    const fs::path file = folder / lockName;
    int fd = open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (fd < 0) {
        logf("single instance: cannot open %s: %s", file.c_str(), reason(errno).c_str());
        return -1;
    }
    int r;
    do r = flock(fd, LOCK_EX);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        logf("single instance: cannot lock %s: %s", file.c_str(), reason(errno).c_str());
        closeFd(fd);
    }
    return fd;
}

// ---- sockets --------------------------------------------------------------

bool socketAddress(const fs::path& socket, sockaddr_un& address) {
    address = {};
    address.sun_family = AF_UNIX;
    const std::string& path = socket.native();
    if (path.size() >= sizeof address.sun_path) return false;
    std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
    return true;
}

// A socket connected to the primary, or -1 with errno set.
int connectTo(const fs::path& socket, std::chrono::milliseconds timeout) {
    sockaddr_un address;
    if (!socketAddress(socket, address)) {
        errno = ENAMETOOLONG;
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    // A primary whose backlog is full makes connect wait, at most this long
    // (0 would mean for ever).
    auto wait = std::max(timeout, std::chrono::milliseconds(1));
    timeval tv{static_cast<time_t>(wait.count() / 1000), static_cast<suseconds_t>(wait.count() % 1000 * 1000)};
    setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);
    int r;
    do r = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    while (r != 0 && errno == EINTR);
    if (r != 0) {
        int error = errno;
        closeFd(fd);
        errno = error;
    }
    return fd;
}

// A listening socket bound at the path, its file recorded in bound, or -1 (logged).
int listenAt(const fs::path& socket, struct stat& bound) {
    sockaddr_un address;
    if (!socketAddress(socket, address)) {
        logf("single instance: socket path too long: %s", socket.c_str());
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        logf("single instance: cannot bind %s: %s", socket.c_str(), reason(errno).c_str());
        closeFd(fd);
        return -1;
    }
    if (::listen(fd, backlog) != 0 || chmod(socket.c_str(), 0600) != 0 || lstat(socket.c_str(), &bound) != 0) {
        logf("single instance: cannot listen at %s: %s", socket.c_str(), reason(errno).c_str());
        unlink(socket.c_str());
        closeFd(fd);
    }
    return fd;
}

// Waits until fd is ready for events; false when the deadline passed.
bool waitFor(int fd, short events, Clock::time_point deadline) {
    for (;;) {
        auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        pollfd p{fd, events, 0};
        int r = poll(&p, 1, static_cast<int>(std::min<long long>(left.count(), 60000)));
        if (r > 0) return true;
        if (r < 0 && errno != EINTR) return false;
    }
}

bool sendAll(int fd, std::string_view bytes, Clock::time_point deadline, std::string& why) {
    for (std::size_t sent = 0; sent < bytes.size();) {
        if (!waitFor(fd, POLLOUT, deadline)) {
            why = "timed out sending the request";
            return false;
        }
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno != EINTR && errno != EAGAIN) {
            why = "sending failed: " + reason(errno);
            return false;
        }
        if (n > 0) sent += static_cast<std::size_t>(n);
    }
    return true;
}

std::optional<Reply> receiveReply(int fd, Clock::time_point deadline, std::string& why) {
    std::string received;
    char buffer[16384];
    for (;;) {
        bool bad = false;
        if (auto reply = parseReply(received, bad)) return reply;
        if (bad) {
            why = "the reply is not one of ours";
            return std::nullopt;
        }
        if (!waitFor(fd, POLLIN, deadline)) {
            why = "no reply in time";
            return std::nullopt;
        }
        ssize_t n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n == 0 || (n < 0 && errno != EINTR && errno != EAGAIN)) {
            why = n == 0 ? "the instance closed without a reply" : "receiving failed: " + reason(errno);
            return std::nullopt;
        }
        if (n > 0) received.append(buffer, static_cast<std::size_t>(n));
    }
}

bool withinLimits(const std::vector<std::string>& arguments, const fs::path& socket) {
    std::size_t bytes = magic.size() + 4;
    for (const auto& a : arguments) bytes += 4 + a.size();
    if (bytes <= SingleInstance::maxRequestBytes && arguments.size() <= SingleInstance::maxArguments) return true;
    logf("single instance: not sent to %s: %zu arguments of %zu bytes in all exceed the request limits",
         socket.c_str(), arguments.size(), bytes);
    return false;
}

// Sends the request over a connected socket (closed here) and waits for the reply.
std::optional<Reply> exchange(int fd, const std::vector<std::string>& arguments, Clock::time_point deadline,
                              const fs::path& socket) {
    if (!withinLimits(arguments, socket)) {
        closeFd(fd);
        return std::nullopt;
    }
    std::string why;
    std::optional<Reply> reply;
    if (sendAll(fd, encodeRequest(arguments), deadline, why)) reply = receiveReply(fd, deadline, why);
    closeFd(fd);
    if (!reply) logf("single instance: no answer at %s: %s", socket.c_str(), why.c_str());
    return reply;
}

// ---- serving --------------------------------------------------------------

// One client of the primary: first its request comes in, then the reply goes out.
struct Connection {
    int fd = -1;
    Clock::time_point deadline;
    std::string received;
    std::string reply;
    std::size_t sent = 0;
    bool replying = false;
};

void drop(Connection& c, const std::string& why) {
    logf("single instance: dropped a connection: %s", why.c_str());
    closeFd(c.fd);
}

bool fromThisUser(int fd) {
    ucred peer{};
    socklen_t length = sizeof peer;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &length) != 0) {
        logf("single instance: dropped a connection: no peer credentials: %s", reason(errno).c_str());
        return false;
    }
    if (peer.uid == geteuid()) return true;
    logf("single instance: dropped a connection from uid %u (pid %d)", static_cast<unsigned>(peer.uid),
         static_cast<int>(peer.pid));
    return false;
}

// The handler's reply, cut to the limit; nothing when it threw.
std::optional<Reply> answer(const SingleInstance::Handler& handler, const std::vector<std::string>& arguments) {
    try {
        Reply reply = handler(arguments);
        if (reply.text.size() > SingleInstance::maxReplyBytes) {
            logf("single instance: reply text of %zu bytes cut to %zu", reply.text.size(), SingleInstance::maxReplyBytes);
            reply.text.resize(SingleInstance::maxReplyBytes);
        }
        return reply;
    } catch (const std::exception& e) {
        logf("single instance: the handler failed: %s", e.what());
    } catch (...) {
        logf("single instance: the handler failed");
    }
    return std::nullopt; // the service thread must go on for the next start
}

void transmit(Connection& c) {
    while (c.sent < c.reply.size()) {
        ssize_t n = ::send(c.fd, c.reply.data() + c.sent, c.reply.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n < 0) return drop(c, "sending the reply failed: " + reason(errno));
        c.sent += static_cast<std::size_t>(n);
    }
    closeFd(c.fd); // done: one request per connection
}

// Reads what has come so far, and answers once the request is whole.
void receive(Connection& c, const SingleInstance::Handler& handler) {
    char buffer[16384];
    while (c.fd >= 0 && !c.replying) {
        ssize_t n = ::recv(c.fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno == EAGAIN) return;
        if (n < 0) return drop(c, "receiving failed: " + reason(errno));
        if (n == 0) return drop(c, c.received.empty() ? "closed without a request" : "closed within its request");
        c.received.append(buffer, static_cast<std::size_t>(n));
        Parsed parsed = parseRequest(c.received);
        if (parsed.state == Parsed::Malformed) return drop(c, parsed.why);
        if (parsed.state == Parsed::Complete) {
            auto reply = answer(handler, parsed.arguments);
            if (!reply) return drop(c, "no reply to give");
            c.reply = encodeReply(*reply);
            c.replying = true;
            c.deadline = Clock::now() + SingleInstance::patience;
            transmit(c);
        }
    }
}

void progress(Connection& c, short revents, const SingleInstance::Handler& handler) {
    // One that looks late gets a last try: its bytes may have come in while
    // the handler was busy with another connection.
    if (revents == 0 && Clock::now() < c.deadline) return;
    if (c.replying) transmit(c);
    else receive(c, handler);
    if (c.fd >= 0 && Clock::now() >= c.deadline)
        drop(c, c.replying ? "did not take its reply in time" : "sent no whole request in time");
}

// Accepts what waits, as far as there is room; false when accepting fails.
bool acceptAll(int listenFd, std::vector<Connection>& connections) {
    while (connections.size() < maxConnections) {
        int fd = accept4(listenFd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0 && (errno == EAGAIN || errno == EINTR || errno == ECONNABORTED)) return true;
        if (fd < 0) {
            logf("single instance: cannot accept: %s", reason(errno).c_str());
            return false;
        }
        if (!fromThisUser(fd)) {
            closeFd(fd);
            continue;
        }
        connections.push_back(Connection{fd, Clock::now() + SingleInstance::patience, {}, {}, 0, false});
    }
    return true;
}

int pollTimeout(const std::vector<Connection>& connections, std::optional<Clock::time_point> acceptResumes) {
    std::optional<Clock::time_point> next = acceptResumes;
    for (const auto& c : connections) next = next ? std::min(*next, c.deadline) : c.deadline;
    if (!next) return -1;
    auto left = std::chrono::ceil<std::chrono::milliseconds>(*next - Clock::now()).count();
    return static_cast<int>(std::clamp<long long>(left, 0, 60000));
}

} // namespace

namespace {

bool isUsersFolder(const char* path) {
    struct stat st {};
    return path && path[0] == '/' && stat(path, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == geteuid();
}

} // namespace

fs::path SingleInstance::preferredFolder(const std::string& appName, const fs::path& sessionFolders) {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (isUsersFolder(runtime)) return fs::path(runtime) / appName;
    // Started without the session's variables (by cron, say): the session's
    // own runtime folder, where an instance started on the desktop listens.
    const fs::path session = sessionFolders / std::to_string(geteuid());
    if (isUsersFolder(session.c_str())) return session / appName;
    return fs::path("/tmp") / (appName + "-" + std::to_string(geteuid()));
}

SingleInstance::Claim SingleInstance::claim(const std::string& appName, const std::vector<std::string>& arguments,
                                            Handler handler, std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    auto place = usableFolder(preferredFolder(appName));
    if (!place) return {};
    const fs::path socket = place->folder / socketName;
    int lock = lockFolder(place->folder);
    if (lock < 0) return {};
    int fd = connectTo(socket, timeout);
    const int error = errno;
    if (fd >= 0) {
        closeFd(lock); // the lock only orders claims; the exchange needs none
        return Claim{nullptr, true, exchange(fd, arguments, deadline, socket)};
    }
    if (error != ECONNREFUSED && error != ENOENT) {
        closeFd(lock);
        logf("single instance: cannot reach %s: %s", socket.c_str(), reason(error).c_str());
        // A full backlog until the timeout: an instance is there, just too busy.
        return error == EAGAIN ? Claim{nullptr, true, std::nullopt} : Claim{};
    }
    // Refused: a socket file nobody listens at any more, left by an instance that died.
    if (error == ECONNREFUSED) unlink(socket.c_str());

    std::unique_ptr<SingleInstance> instance(new SingleInstance());
    instance->folder_ = place->folder;
    instance->privateFolder_ = place->privateFolder;
    instance->handler_ = std::move(handler);
    struct stat bound {};
    instance->listenFd_ = listenAt(socket, bound);
    closeFd(lock); // listening now: from here on later claims connect
    instance->boundDevice_ = bound.st_dev;
    instance->boundInode_ = bound.st_ino;
    if (instance->listenFd_ < 0 || !instance->start()) return {};
    return Claim{std::move(instance), false, std::nullopt};
}

std::optional<SingleInstance::Reply> SingleInstance::send(const std::string& appName,
                                                          const std::vector<std::string>& arguments,
                                                          std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    const fs::path folder = preferredFolder(appName);
    if (auto why = whyUnusable(folder)) {
        // No folder yet: no instance has ever run here, which is no complaint.
        std::error_code ec;
        if (fs::exists(fs::symlink_status(folder, ec)))
            logf("single instance: no instance to reach: %s %s", folder.c_str(), why->c_str());
        return std::nullopt;
    }
    const fs::path socket = folder / socketName;
    if (!withinLimits(arguments, socket)) return std::nullopt; // not even a connection for nothing
    int fd = connectTo(socket, timeout);
    if (fd < 0) {
        // Nobody listening is the usual answer, and no complaint: a start
        // then acts on its own (--status reports the stored state).
        if (errno != ENOENT && errno != ECONNREFUSED)
            logf("single instance: no instance at %s: %s", socket.c_str(), reason(errno).c_str());
        return std::nullopt;
    }
    return exchange(fd, arguments, deadline, socket);
}

fs::path SingleInstance::socketPath() const { return folder_ / socketName; }

bool SingleInstance::start() {
    int ends[2];
    if (pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
        logf("single instance: cannot make the wake-up pipe: %s", reason(errno).c_str());
        return false;
    }
    wakeRead_ = ends[0];
    wakeWrite_ = ends[1];
    try {
        thread_ = std::thread([this] { serve(); });
    } catch (const std::system_error& e) {
        logf("single instance: cannot start the service thread: %s", e.what());
        return false;
    }
    return true;
}

SingleInstance::~SingleInstance() {
    // First, so that a start from now on becomes the primary instead of
    // queueing at a socket that will not be served any more.
    removeSocketIfOurs();
    if (thread_.joinable()) {
        char wake = 1;
        while (::write(wakeWrite_, &wake, 1) < 0 && errno == EINTR) {}
        thread_.join();
    }
    closeFd(listenFd_);
    closeFd(wakeRead_);
    closeFd(wakeWrite_);
    if (privateFolder_) {
        unlink((folder_ / lockName).c_str());
        rmdir(folder_.c_str());
    }
}

// A later primary may have replaced a socket file that someone removed;
// that one is not ours to remove.
void SingleInstance::removeSocketIfOurs() const {
    if (listenFd_ < 0) return;
    const fs::path socket = socketPath();
    struct stat st {};
    if (lstat(socket.c_str(), &st) == 0 && st.st_dev == boundDevice_ && st.st_ino == boundInode_)
        unlink(socket.c_str());
}

void SingleInstance::serve() {
    std::vector<Connection> connections;
    std::optional<Clock::time_point> acceptResumes;
    for (;;) {
        if (acceptResumes && Clock::now() >= *acceptResumes) acceptResumes.reset();
        const bool room = !acceptResumes && connections.size() < maxConnections;
        std::vector<pollfd> fds{{wakeRead_, POLLIN, 0}, {listenFd_, static_cast<short>(room ? POLLIN : 0), 0}};
        for (const auto& c : connections)
            fds.push_back({c.fd, static_cast<short>(c.replying ? POLLOUT : POLLIN), 0});
        int r = poll(fds.data(), fds.size(), pollTimeout(connections, acceptResumes));
        if (r < 0 && errno != EINTR) {
            logf("single instance: the service stops: poll failed: %s", reason(errno).c_str());
            break;
        }
        if (fds[0].revents != 0) break; // the instance is going away
        for (std::size_t i = 0; i < connections.size(); ++i) progress(connections[i], fds[i + 2].revents, handler_);
        std::erase_if(connections, [](const Connection& c) { return c.fd < 0; });
        if ((fds[1].revents & POLLIN) && !acceptAll(listenFd_, connections)) acceptResumes = Clock::now() + acceptPause;
    }
    for (auto& c : connections) closeFd(c.fd);
}

} // namespace platform
