#include "platform/desktop/Autostart.h"

#include "platform/preferences/AtomicFile.h"
#include "platform/runtime/UserFolders.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace fs = std::filesystem;

namespace platform {

namespace {

fs::path autostartFolder() { return UserFolders::config() / "autostart"; }

// Inside the quotes of an Exec word, then as a desktop entry string.
std::string quotedWord(const std::string& word) {
    std::string out = "\"";
    for (char c : word) {
        if (c == '"' || c == '`' || c == '$') out += std::string("\\\\") + c; // \" etc., its \ written as \\ .
        else if (c == '\\') out += "\\\\\\\\";
        else if (c == '%') out += "%%";
        else out += c;
    }
    return out + "\"";
}

} // namespace

Autostart::Autostart(std::string fileName) : fileName_(std::move(fileName)) {}

fs::path Autostart::file() const { return autostartFolder() / fileName_; }

bool Autostart::enabled() const {
    std::ifstream in(file());
    if (!in) return false;
    for (std::string line; std::getline(in, line);)
        if (line == "Hidden=true") return false;
    return true;
}

std::string Autostart::execLine(const std::vector<std::string>& command) {
    std::string line;
    for (const std::string& word : command) {
        if (word.find_first_of("\n\r") != std::string::npos) return {};
        line += (line.empty() ? "" : " ") + quotedWord(word);
    }
    return line;
}

bool Autostart::enable(const std::string& displayName, const std::vector<std::string>& command,
                       std::string* error) const {
    const std::string exec = execLine(command);
    if (exec.empty()) {
        if (error) *error = "the command cannot stand in a desktop entry";
        return false;
    }
    const std::string entry = "[Desktop Entry]\n"
                              "Type=Application\n"
                              "Name=" + displayName + "\n"
                              "Exec=" + exec + "\n"
                              "X-GNOME-Autostart-enabled=true\n"
                              "NoDisplay=true\n";
    std::error_code ec;
    fs::create_directories(file().parent_path(), ec);
    if (ec) {
        if (error) *error = "cannot make " + file().parent_path().string() + ": " + ec.message();
        return false;
    }
    return writeFileAtomically(file(), entry, error);
}

bool Autostart::disable(std::string* error) const {
    std::error_code ec;
    fs::remove(file(), ec);
    if (ec && error) *error = "cannot remove " + file().string() + ": " + ec.message();
    return !ec;
}

} // namespace platform
