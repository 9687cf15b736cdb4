#include "core/ArchiveRecord.h"

#include "platform/preferences/AtomicFile.h"

#include <cctype>
#include <sstream>

namespace fs = std::filesystem;

const std::string ArchiveRecord::kFolderName = ".tolv-archiver-sha256";

namespace {

// A record of a million copies is about 100 MB.
constexpr std::size_t kMostRecordBytes = std::size_t{1} << 30;

bool needsEscape(const std::string& path) { return path.find_first_of("\\\n\r") != std::string::npos; }

std::string escaped(const std::string& path) {
    std::string out;
    for (char c : path) {
        if (c == '\\') out += "\\\\";
        else if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else out += c;
    }
    return out;
}

std::optional<std::string> unescaped(const std::string& text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\') {
            out += text[i];
            continue;
        }
        if (++i == text.size()) return std::nullopt;
        if (text[i] == '\\') out += '\\';
        else if (text[i] == 'n') out += '\n';
        else if (text[i] == 'r') out += '\r';
        else return std::nullopt;
    }
    return out;
}

bool isHash(const std::string& text) {
    if (text.size() != 64) return false;
    for (char c : text)
        if (!std::isxdigit(static_cast<unsigned char>(c)) || std::isupper(static_cast<unsigned char>(c))) return false;
    return true;
}

std::optional<std::string> readIfThere(const fs::path& file, std::string* why) {
    std::error_code ec;
    if (!fs::exists(file, ec) && !ec) return std::string();
    return platform::readWholeFile(file, kMostRecordBytes, why);
}

} // namespace

fs::path ArchiveRecord::fileFor(const fs::path& archiveFolder) {
    return archiveFolder.parent_path() / kFolderName / (archiveFolder.filename().string() + ".sha256");
}

fs::path ArchiveRecord::fromCopyFileFor(const fs::path& archiveFolder) {
    return archiveFolder.parent_path() / kFolderName / (archiveFolder.filename().string() + ".from-copy");
}

fs::path ArchiveRecord::pendingFileFor(const fs::path& archiveFolder) {
    return archiveFolder.parent_path() / kFolderName / (archiveFolder.filename().string() + ".pending");
}

bool ArchiveRecord::makeFolderFor(const fs::path& archiveFolder, std::string* why) {
    return platform::makeFoldersBelow(archiveFolder.parent_path(), fileFor(archiveFolder).parent_path(), why);
}

std::string ArchiveRecord::line(const std::string& hash, const std::string& path) {
    if (!needsEscape(path)) return hash + "  " + path + "\n";
    return "\\" + hash + "  " + escaped(path) + "\n";
}

std::optional<ArchiveRecord::Entry> ArchiveRecord::parse(const std::string& text) {
    const bool escapedLine = !text.empty() && text[0] == '\\';
    const std::string rest = escapedLine ? text.substr(1) : text;
    if (rest.size() < 67 || rest.compare(64, 2, "  ") != 0) return std::nullopt;
    Entry entry{rest.substr(0, 64), rest.substr(66)};
    if (!isHash(entry.hash) || entry.path.empty()) return std::nullopt;
    if (escapedLine) {
        auto path = unescaped(entry.path);
        if (!path) return std::nullopt;
        entry.path = std::move(*path);
    }
    return entry;
}

std::optional<ArchiveRecord> ArchiveRecord::load(const fs::path& archiveFolder, std::string* why) {
    const fs::path file = fileFor(archiveFolder);
    const auto text = readIfThere(file, why);
    if (!text) return std::nullopt;
    ArchiveRecord record = fromText(archiveFolder, *text);
    if (const auto fromCopy = readIfThere(fromCopyFileFor(archiveFolder), why)) {
        std::istringstream paths(*fromCopy);
        for (std::string l; std::getline(paths, l);)
            if (auto path = unescaped(l)) record.fromCopy_.insert(*path);
    }
    std::error_code ec;
    if (!text->empty())
        if (const auto at = fs::last_write_time(file, ec); !ec) record.writtenAt_ = at;
    return record;
}

ArchiveRecord ArchiveRecord::fromText(const fs::path& archiveFolder, const std::string& text) {
    ArchiveRecord record(archiveFolder);
    std::istringstream lines(text);
    for (std::string l; std::getline(lines, l);)
        if (auto entry = parse(l)) record.hashes_[entry->path] = entry->hash;
    return record;
}

std::optional<std::string> ArchiveRecord::hashOf(const std::string& path) const {
    const auto it = hashes_.find(path);
    return it == hashes_.end() ? std::nullopt : std::optional(it->second);
}

void ArchiveRecord::set(const std::string& path, const std::string& hash, bool proven) {
    auto& known = hashes_[path];
    const bool wasFromCopy = fromCopy_.count(path) > 0;
    if (known == hash && wasFromCopy == !proven) return;
    known = hash;
    if (proven) fromCopy_.erase(path);
    else fromCopy_.insert(path);
    changed_ = true;
}

bool ArchiveRecord::save(std::string* why) {
    std::error_code ec;
    if (!changed_) {
        if (!writtenAt_) return true;
        const auto now = fs::file_time_type::clock::now();
        fs::last_write_time(fileFor(folder_), now, ec);
        if (!ec) writtenAt_ = now;
        return true;
    }
    if (!makeFolderFor(folder_, why)) return false;
    std::string text, fromCopy;
    for (const auto& [path, hash] : hashes_) text += line(hash, path);
    for (const auto& path : fromCopy_) fromCopy += escaped(path) + "\n";
    // The list of copies recorded from themselves first: a record whose list
    // did not follow only calls a proven copy unproven, never the reverse.
    if (!platform::writeFileAtomically(fromCopyFileFor(folder_), fromCopy, why)) return false;
    if (!platform::writeFileAtomically(fileFor(folder_), text, why)) return false;
    changed_ = false;
    if (const auto at = fs::last_write_time(fileFor(folder_), ec); !ec) writtenAt_ = at;
    return true;
}
