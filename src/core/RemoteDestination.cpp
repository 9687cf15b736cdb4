#include "core/RemoteDestination.h"

namespace {

bool isControl(char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }

// A user or host name: no spaces, no control characters, and nothing ssh
// would read as an option or rsync as another form.
std::optional<std::string> loginProblem(const std::string& login) {
    if (login.empty()) return "no server is named before the \":\"";
    if (login.front() == '-') return "a server name cannot begin with \"-\"";
    const auto at = login.find('@');
    if (at == 0 || at + 1 == login.size()) return "the user or the server is missing around \"@\"";
    if (login.find('@', at == std::string::npos ? 0 : at + 1) != std::string::npos) return "it holds \"@\" twice";
    for (char c : login)
        if (c == ' ' || isControl(c) || c == '/' || c == '\'' || c == '"' || c == '\\')
            return "the server's name holds a character ssh cannot take";
    return std::nullopt;
}

std::optional<std::string> pathProblem(const std::string& path) {
    if (path.empty() || path.front() != '/') return "the folder on the server must be given as an absolute path";
    for (char c : path)
        if (isControl(c)) return "the folder on the server holds a control character";
    if (path.find("{}") != std::string::npos)
        return "the folder holds \"{}\", which the copying tools would take for a file's name";
    return std::nullopt;
}

} // namespace

bool RemoteDestination::looksRemote(const std::string& text) {
    if (text.empty() || text.front() == '/' || text.front() == '~') return false;
    const auto colon = text.find(':');
    return colon != std::string::npos && text.find('/') > colon;
}

std::optional<RemoteDestination> RemoteDestination::parse(const std::string& text, std::string* why) {
    auto fail = [why](const std::string& reason) -> std::optional<RemoteDestination> {
        if (why) *why = reason;
        return std::nullopt;
    };
    if (!looksRemote(text)) return fail("it is not of the form [user@]host:/folder");
    const auto colon = text.find(':');
    RemoteDestination d{text.substr(0, colon), text.substr(colon + 1)};
    if (auto problem = loginProblem(d.login)) return fail(*problem);
    if (auto problem = pathProblem(d.path)) return fail(*problem);
    // One form only, so two spellings never name two archives.
    while (d.path.size() > 1 && d.path.back() == '/') d.path.pop_back();
    return d;
}
