#include "platform/alias/MountTable.h"

#include <dirent.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <charconv>
#include <fstream>
#include <sstream>

namespace platform {

namespace {

// mountinfo escapes space, tab, newline and backslash as \ooo.
std::string unescapeOctal(std::string_view field) {
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            std::string_view digits = field.substr(i + 1, 3);
            bool octal = true;
            for (char c : digits) octal = octal && c >= '0' && c <= '7';
            if (octal) {
                out += static_cast<char>((digits[0] - '0') * 64 + (digits[1] - '0') * 8 + (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string_view> splitSpaces(std::string_view line) {
    std::vector<std::string_view> fields;
    std::size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && line[i] == ' ') ++i;
        std::size_t start = i;
        while (i < line.size() && line[i] != ' ') ++i;
        if (i > start) fields.push_back(line.substr(start, i - start));
    }
    return fields;
}

std::optional<std::uint64_t> parseDevice(std::string_view field) {
    auto colon = field.find(':');
    if (colon == std::string_view::npos) return std::nullopt;
    unsigned major = 0, minor = 0;
    auto a = std::from_chars(field.data(), field.data() + colon, major);
    auto b = std::from_chars(field.data() + colon + 1, field.data() + field.size(), minor);
    if (a.ec != std::errc() || a.ptr != field.data() + colon) return std::nullopt;
    if (b.ec != std::errc() || b.ptr != field.data() + field.size()) return std::nullopt;
    return makedev(major, minor);
}

// "id parent major:minor root mountpoint options [optional...] - fstype source superoptions"
std::optional<MountEntry> parseLine(std::string_view line) {
    auto fields = splitSpaces(line);
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-") ++dash;
    if (fields.size() < 6 || dash + 2 >= fields.size()) return std::nullopt;
    auto device = parseDevice(fields[2]);
    if (!device) return std::nullopt;
    MountEntry e;
    e.device = *device;
    e.root = unescapeOctal(fields[3]);
    e.mountPoint = unescapeOctal(fields[4]);
    e.fsType = unescapeOctal(fields[dash + 1]);
    e.source = unescapeOctal(fields[dash + 2]);
    if (e.root.empty() || e.root[0] != '/' || e.mountPoint.empty() || e.mountPoint[0] != '/') return std::nullopt;
    return e;
}

} // namespace

MountTable MountTable::parse(std::string_view mountinfo) {
    MountTable table;
    std::size_t pos = 0;
    while (pos < mountinfo.size()) {
        std::size_t end = mountinfo.find('\n', pos);
        if (end == std::string_view::npos) end = mountinfo.size();
        if (auto entry = parseLine(mountinfo.substr(pos, end - pos))) table.entries_.push_back(std::move(*entry));
        pos = end + 1;
    }
    return table;
}

MountTable MountTable::current() {
    std::ifstream in("/proc/self/mountinfo");
    std::ostringstream text;
    text << in.rdbuf();
    return parse(text.str());
}

std::optional<MountEntry> MountTable::mountOf(const std::string& path, std::uint64_t device) const {
    const MountEntry* best = nullptr;
    const MountEntry* bestAnyDevice = nullptr;
    for (const auto& e : entries_) {
        if (!relativeBelow(path, e.mountPoint)) continue;
        if (!bestAnyDevice || e.mountPoint.size() >= bestAnyDevice->mountPoint.size()) bestAnyDevice = &e;
        if (e.device == device && (!best || e.mountPoint.size() >= best->mountPoint.size())) best = &e;
    }
    if (best) return *best;
    if (bestAnyDevice) return *bestAnyDevice;
    return std::nullopt;
}

std::string MountTable::uuidOfDevice(std::uint64_t device) {
    const std::string folder = "/dev/disk/by-uuid";
    DIR* dir = opendir(folder.c_str());
    if (!dir) return {};
    std::string uuid;
    while (dirent* d = readdir(dir)) {
        std::string name = d->d_name;
        if (name == "." || name == "..") continue;
        struct stat st {};
        if (stat((folder + "/" + name).c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == device) {
            uuid = name;
            break;
        }
    }
    closedir(dir);
    return uuid;
}

std::optional<std::string> MountTable::relativeBelow(const std::string& path, const std::string& base) {
    if (base.empty() || base[0] != '/' || path.empty() || path[0] != '/') return std::nullopt;
    std::string b = base;
    while (b.size() > 1 && b.back() == '/') b.pop_back();
    if (b == "/") {
        std::size_t start = path.find_first_not_of('/');
        return start == std::string::npos ? std::string() : path.substr(start);
    }
    if (path.compare(0, b.size(), b) != 0) return std::nullopt;
    if (path.size() == b.size()) return std::string();
    if (path[b.size()] != '/') return std::nullopt;
    std::size_t start = path.find_first_not_of('/', b.size());
    return start == std::string::npos ? std::string() : path.substr(start);
}

std::string MountTable::join(const std::string& base, const std::string& relative) {
    if (relative.empty()) return base;
    if (base.empty() || base.back() == '/') return base + relative;
    return base + "/" + relative;
}

} // namespace platform
