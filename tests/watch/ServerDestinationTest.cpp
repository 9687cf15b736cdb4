// A destination on another machine, reached through rsync over ssh: a real
// sshd on a free local port, with its own keys, serves a folder of this
// machine.
#include "core/RemoteArchive.h"
#include "platform/remote/SecureShell.h"
#include "support/ChildrenInTheFuture.h"
#include "support/SshServer.h"
#include "pass/FolderChoice.h"
#include "pass/PassResult.h"
#include "watch/WatcherTestFixture.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

using namespace watch_test;
using testing_support::SshServer;

namespace {

class ServerDestinationTest : public WatcherTest {
protected:
    std::unique_ptr<SshServer> server;
    fs::path serverFolder;

    void SetUp() override {
        WatcherTest::SetUp();
        if (const std::string why = SshServer::unavailable(); !why.empty()) GTEST_SKIP() << why;
        server = std::make_unique<SshServer>();
        server->installClientConfig(platform::SecureShell::configFile());
        serverFolder = tmp.makeFolder("Server/Archive");
        RemoteArchive::resetBackOff();
        ASSERT_EQ(FolderChoice::chooseTyped(CommonHeader::kDestinationSlot, server->destination(serverFolder)),
                  std::nullopt);
        prefs().synchronize();
        makeWatcher(1);
    }

    void TearDown() override {
        if (!server) return;
        WatcherTest::TearDown();
        server.reset();
    }

    void runPass() {
        scan();
        ASSERT_TRUE(waitIdle(120s));
    }
    fs::path onServer(const std::string& relative) const { return serverFolder / "Main" / relative; }
    std::optional<PassResult> last() const { return PassResult::load(1); }

    static struct timespec modified(const fs::path& file) {
        struct stat st {};
        ::stat(file.c_str(), &st);
        return st.st_mtim;
    }
};

// The file names a camera and a user give: spaces, quotes, a leading dash,
// braces, a newline, letters beyond ASCII.
std::string nameOf(int i) {
    static const char* const kinds[] = {"IMG_%04d.jpg", "day one/%d 'a'.jpg", "-%d.raw", "{x}/%d.tif",
                                        "line\nbreak %d.jpg", "Ärger/é %d.heic"};
    char name[64];
    std::snprintf(name, sizeof name, kinds[i % 6], i);
    return name;
}

TEST_F(ServerDestinationTest, BothEnginesArchiveToTheServerAndDeleteOnlyCopiesIdenticalByContent) {
    struct Case {
        bool fast;
        int files;
    };
    // The per-file engine runs rsync, and an ssh session, for every file.
    for (const Case& c : {Case{true, 2000}, Case{false, 30}}) {
        SCOPED_TRACE(c.fast ? "fast" : "per file");
        fs::remove_all(src[1]);
        fs::create_directories(src[1]);
        fs::remove_all(serverFolder / "Main");
        prefs().setBool(kPrefUseBatchedSynchronization, c.fast);
        prefs().setBool(kPrefEnableDeleteOldSourceImages, false);
        for (int i = 0; i < c.files; ++i) writeFile(src[1] / nameOf(i), "photo " + std::to_string(i));

        // The pass counts as it goes, from what rsync tells, as a local one does.
        std::vector<PassProgress::Shown> seen;
        scan();
        ASSERT_TRUE(waitUntil(
            [&] {
                if (const auto shown = w[1]->progress()) seen.push_back(*shown);
                return !w[1]->_insideFoundItemLoop() && !seen.empty();
            },
            120s, 20ms));
        ASSERT_TRUE(waitIdle(120s));
        EXPECT_EQ(seen.back().total, c.files);
        EXPECT_TRUE(std::is_sorted(seen.begin(), seen.end(), [](auto& a, auto& b) { return a.done < b.done; }));
        // One fast run may be over within one look; a file at a time never is.
        if (!c.fast)
            EXPECT_TRUE(std::any_of(seen.begin(), seen.end(), [&](auto& s) { return s.done > 0 && s.done < c.files; }))
                << "a count between none and all";

        ASSERT_TRUE(last());
        EXPECT_EQ(last()->error, "");
        EXPECT_EQ(last()->copied, c.files);
        for (int i = 0; i < c.files; ++i) {
            ASSERT_EQ(testing_support::readFile(onServer(nameOf(i))), "photo " + std::to_string(i)) << nameOf(i);
            EXPECT_EQ(modified(onServer(nameOf(i))).tv_sec, modified(src[1] / nameOf(i)).tv_sec);
        }

        // A copy changed on the server in the same second and size is not trusted.
        const fs::path altered = onServer(nameOf(1));
        const struct timespec times[2] = {modified(altered), modified(altered)};
        writeFile(altered, "PHOTO 1");
        ::utimensat(AT_FDCWD, altered.c_str(), times, 0);
        prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
        prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 30);
        {
            testing_support::ChildrenInTheFuture future(40);
            if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";
            runPass();
        }
        EXPECT_EQ(last()->error, "");
        EXPECT_EQ(last()->deleted, c.files - 1);
        EXPECT_TRUE(fs::exists(src[1] / nameOf(1)));
        EXPECT_FALSE(fs::exists(src[1] / nameOf(0)));
        // Unlike its original, the copy is made again, the one there kept
        // (a photo sharing an archived one's name, size and time alike).
        EXPECT_EQ(last()->copied, 1);
        EXPECT_EQ(testing_support::readFile(altered), "photo 1");
        std::vector<std::string> kept;
        for (const auto& e : fs::recursive_directory_iterator(serverFolder / ".tolv-archiver-kept"))
            if (e.is_regular_file() && e.path().filename() == altered.filename())
                kept.push_back(testing_support::readFile(e.path()));
        EXPECT_EQ(kept, std::vector<std::string>{"PHOTO 1"});
        fs::remove_all(serverFolder / ".tolv-archiver-kept");
    }
}

TEST_F(ServerDestinationTest, AWatchedFolderSendsTheServerWhatItsEventsNamed) {
    prefs().setBool(kPrefUseBatchedSynchronization, true);
    writeFile(src[1] / "old.jpg", "old");
    post(kWatcherDoStart, index(1));
    ASSERT_TRUE(waitUntil([&] { return fs::exists(onServer("old.jpg")); }, 30s)) << "switching on catches up";
    ASSERT_TRUE(waitIdle());

    writeFile(src[1] / "day two/new 'one'.jpg", "new");

    EXPECT_TRUE(waitUntil([&] { return fs::exists(onServer("day two/new 'one'.jpg")); }, 30s));
    ASSERT_TRUE(waitIdle());
    EXPECT_EQ(last()->error, "");
    EXPECT_EQ(last()->copied, 1);

    // A photo taking an archived one's name: the earlier copy is kept on the server.
    writeFile(src[1] / "old.jpg", "newer");
    EXPECT_TRUE(waitUntil([&] { return testing_support::readFile(onServer("old.jpg")) == "newer"; }, 30s));
    std::vector<std::string> kept;
    for (const auto& e : fs::recursive_directory_iterator(serverFolder / ".tolv-archiver-kept"))
        if (e.is_regular_file()) kept.push_back(testing_support::readFile(e.path()));
    EXPECT_EQ(kept, std::vector<std::string>{"old"});
}

// A TCP listener in sshd's place that counts the connections and drops them.
class CountingListener {
public:
    explicit CountingListener(int port) {
        fd_ = ::socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        ::setsockopt(fd_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd_, 16) != 0) return;
        thread_ = std::thread([this] {
            for (int client; (client = ::accept(fd_, nullptr, nullptr)) >= 0;) {
                ++accepted;
                ::close(client);
            }
        });
    }
    ~CountingListener() { close(); }
    void close() {
        if (fd_ < 0) return;
        ::shutdown(fd_, SHUT_RDWR);
        ::close(fd_);
        fd_ = -1;
        if (thread_.joinable()) thread_.join();
    }
    std::atomic<int> accepted{0};

private:
    int fd_ = -1;
    std::thread thread_;
};

TEST_F(ServerDestinationTest, AnUnreachableServerIsAnErrorThatBacksOffAndCatchesUpOnceItAnswers) {
    prefs().setBool(kPrefUseBatchedSynchronization, true);
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 30);
    server->stop();
    CountingListener listener(server->port());
    writeFile(src[1] / "a.jpg", "a");
    const auto began = std::chrono::steady_clock::now();

    // Passes asked for every half second while the server drops every connection.
    testing_support::ChildrenInTheFuture future(40);
    runPass();
    ASSERT_TRUE(last());
    EXPECT_TRUE(RemoteArchive::isConnectionProblem(last()->error)) << last()->error;
    while (std::chrono::steady_clock::now() - began < 6s) {
        runPass();
        std::this_thread::sleep_for(500ms);
    }
    EXPECT_EQ(listener.accepted.load(), 1) << "retried within the first back-off";
    EXPECT_TRUE(fs::exists(src[1] / "a.jpg"));
    EXPECT_FALSE(fs::exists(onServer("a.jpg")));

    // The server answers again: the next try, at the end of the back-off, catches up.
    listener.close();
    server->start();
    writeFile(src[1] / "b.jpg", "b");
    EXPECT_TRUE(waitUntil(
        [&] {
            runPass();
            return fs::exists(onServer("b.jpg"));
        },
        RemoteArchive::kFirstBackOff + 10s));
    EXPECT_EQ(testing_support::readFile(onServer("a.jpg")), "a");
    EXPECT_EQ(last()->error, "");
}

TEST_F(ServerDestinationTest, AServerThatGoesMidPassCostsNoPhoto) {
    prefs().setBool(kPrefUseBatchedSynchronization, false);
    prefs().setBool(kPrefEnableDeleteOldSourceImages, true);
    prefs().setInteger(kPrefDeleteSourceImagesAfterDaysOld, 30);
    for (int i = 0; i < 40; ++i) writeFile(src[1] / nameOf(i), "photo " + std::to_string(i));
    testing_support::ChildrenInTheFuture future(40);
    if (!future.active()) GTEST_SKIP() << "libfaketime is not installed";

    scan();
    ASSERT_TRUE(waitUntil([&] { return fs::exists(onServer(nameOf(2))); }, 60s));
    server->stop();
    ASSERT_TRUE(waitIdle(120s));

    EXPECT_TRUE(ArchiveDestination::isDestinationProblem(last()->error)) << last()->error;
    for (int i = 0; i < 40; ++i) EXPECT_TRUE(fs::exists(src[1] / nameOf(i))) << nameOf(i);
}

TEST_F(ServerDestinationTest, AServerThatStopsAnsweringEndsThePassWithinTheTimeouts) {
    prefs().setBool(kPrefUseBatchedSynchronization, true);
    writeFile(src[1] / "a.jpg", "a");
    runPass();
    ASSERT_EQ(last()->error, "");
    server->pause();
    writeFile(src[1] / "b.jpg", "b");
    const auto began = std::chrono::steady_clock::now();

    runPass();

    EXPECT_LT(std::chrono::steady_clock::now() - began, 60s);
    EXPECT_TRUE(ArchiveDestination::isDestinationProblem(last()->error)) << last()->error;
    EXPECT_FALSE(fs::exists(onServer("b.jpg")));
    server->resume();
}

TEST_F(ServerDestinationTest, AnArchiveFolderOfAnotherStationIsRefusedAndLeftAlone) {
    prefs().setBool(kPrefUseBatchedSynchronization, true);
    writeFile(src[1] / "a.jpg", "first station");
    runPass();
    ASSERT_EQ(last()->error, "");

    // Another station: its own preferences, and a source folder of the same name.
    prefs().setObject(RemoteArchive::kStationIdKey, platform::Value(std::string("0123456789ABCDEF0123456789ABCDEF")));
    writeFile(src[1] / "a.jpg", "second station");
    runPass();

    EXPECT_TRUE(RemoteArchive::isClaimProblem(last()->error)) << last()->error;
    EXPECT_NE(last()->error.find(server->user()), std::string::npos) << "names the owning station";
    EXPECT_EQ(testing_support::readFile(onServer("a.jpg")), "first station");
    // Refused when chosen, too, with the owner told apart from a station of the same host name.
    const auto chosen = FolderChoice::chooseTyped(1, src[1].string());
    ASSERT_TRUE(chosen) << "the same-name source is refused at set-up";
    EXPECT_TRUE(RemoteArchive::isClaimProblem(*chosen)) << *chosen;
    EXPECT_NE(chosen->find(", station "), std::string::npos) << *chosen;
}

} // namespace
