#pragma once
// A look at a file system that may stop answering (a hung share), made by a
// child process instead of a thread of ours: a thread that waits on a hung
// FUSE share cannot be ended by anyone, and holds the whole process when it
// quits; a child can be abandoned. The child is not one of the
// application's tool children (Task), so quitting never waits for it; it is
// reaped whenever it ends.
//
// Thread rules: any thread but the child spawner's.

#include <chrono>
#include <stop_token>
#include <string>
#include <vector>

namespace platform {

class BoundedProbe {
public:
    enum class Answer { Yes, No, NoAnswer };
    // Runs the program and waits for it at most bound: Yes for exit status
    // 0, No for another end or a program that cannot start, NoAnswer when it
    // is still running then, or when stop is requested first (it is left to
    // end on its own).
    static Answer run(const std::string& path, const std::vector<std::string>& arguments,
                      std::chrono::milliseconds bound, std::stop_token stop = {});
    // Whether path is a folder, asked of a child ("test -d").
    static Answer isFolder(const std::string& path, std::chrono::milliseconds bound, std::stop_token stop = {});
};

} // namespace platform
