// Appends to a file in small pieces until killed, or at most for the given
// seconds: a photo still being written while the archive copies it.
//   slowwriter FILE CHUNK_BYTES PAUSE_MICROSECONDS MAX_SECONDS
#include <chrono>
#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <thread>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc != 5) return 2;
    int fd = open(argv[1], O_WRONLY | O_APPEND | O_CREAT, 0644);
    if (fd < 0) return 3;
    std::string chunk(static_cast<size_t>(std::atol(argv[2])), 'w');
    auto pause = std::chrono::microseconds(std::atol(argv[3]));
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atol(argv[4]));
    for (unsigned n = 0; std::chrono::steady_clock::now() < end; ++n) {
        chunk[0] = static_cast<char>('a' + n % 26); // no two appended pieces alike
        if (write(fd, chunk.data(), chunk.size()) != static_cast<ssize_t>(chunk.size())) return 4;
        std::this_thread::sleep_for(pause);
    }
    close(fd);
    return 0;
}
