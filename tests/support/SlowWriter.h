#pragma once
// A child that keeps appending to a file, as a camera program does while a
// photo is still coming in. It is stopped when the object goes.

#include "platform/runtime/Task.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

namespace testing_support {

std::filesystem::path testProgram(const std::string& name);

class SlowWriter {
public:
    // Appends `chunk` bytes every `pause` to file (made when missing), for at
    // most maxSeconds; returns once the file has grown or the child ended.
    SlowWriter(const std::filesystem::path& file, size_t chunk, std::chrono::microseconds pause, int maxSeconds)
        : ended_(std::make_shared<std::atomic<bool>>(false)) {
        std::error_code ec;
        const auto startSize = std::filesystem::file_size(file, ec);
        platform::Task::Options options{.path = testProgram("slowwriter"),
                                        .arguments = {file.string(), std::to_string(chunk),
                                                      std::to_string(pause.count()), std::to_string(maxSeconds)},
                                        .workingDirectory = std::nullopt};
        pid_ = platform::Task::launch(options, [ended = ended_](const platform::Task::Termination&) { *ended = true; });
        while (pid_ > 0 && !*ended_) {
            auto size = std::filesystem::file_size(file, ec);
            if (!ec && (size > startSize || (startSize == 0 && size > 0))) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~SlowWriter() { stop(); }
    SlowWriter(const SlowWriter&) = delete;
    SlowWriter& operator=(const SlowWriter&) = delete;

    bool started() const { return pid_ > 0; }
    bool ended() const { return *ended_; }
    // Ends the writer and waits until it has gone.
    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGTERM);
        while (!*ended_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    std::shared_ptr<std::atomic<bool>> ended_;
};

} // namespace testing_support
