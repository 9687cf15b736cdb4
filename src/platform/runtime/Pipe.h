#pragma once
// A pipe whose two ends close themselves: one child's standard output feeds
// another child's standard input. Both ends are close-on-exec, so only the
// child that is handed an end (and dup2's it) keeps it.

namespace platform {

class Pipe {
public:
    Pipe();  // check valid(); errno-based failures are logged
    ~Pipe(); // closes what is still open
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    bool valid() const { return readFd_ >= 0 && writeFd_ >= 0; }
    int readEnd() const { return readFd_; }
    int writeEnd() const { return writeFd_; }
    // Once a child holds its copy, the parent's must go, or the reader
    // never sees the end of its input.
    // Reads from the read end into buffer until data, the end (0) or an
    // error (-1) comes; an interrupted read is retried.
    long read(char* buffer, unsigned long size);
    void closeReadEnd();
    void closeWriteEnd();

private:
    int readFd_ = -1;
    int writeFd_ = -1;
};

} // namespace platform
