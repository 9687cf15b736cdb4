#pragma once
// Sends descriptor 2 into a temporary file for the life of the object, so a
// test can read the log lines of its process and of the children it starts.

#include <string>
#include <string_view>
#include <vector>

namespace testing_support {

class StderrCapture {
public:
    StderrCapture();
    ~StderrCapture(); // puts the previous standard error back
    StderrCapture(const StderrCapture&) = delete;
    StderrCapture& operator=(const StderrCapture&) = delete;

    std::string text() const;               // everything written so far
    std::vector<std::string> lines() const; // split at newlines, without them
    bool contains(std::string_view part) const { return text().find(part) != std::string::npos; }
    // How often part occurs (without overlaps).
    size_t count(std::string_view part) const {
        const std::string all = text();
        size_t n = 0;
        for (auto at = all.find(part); !part.empty() && at != std::string::npos; at = all.find(part, at + part.size())) ++n;
        return n;
    }

private:
    std::string path_;
    int saved_ = -1;
};

} // namespace testing_support
