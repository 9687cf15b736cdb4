#pragma once
// The record of what every copy in an archive folder contains: one line
// "<SHA-256>  <path below the archive folder>" per copy, in the form
// sha256sum writes and reads (a name with a backslash, a newline or a
// carriage return escaped, its line begun with a backslash), so that
//
//     cd <archive folder> && sha256sum -c ../.tolv-archiver-sha256/<name>.sha256
//
// checks the archive with nothing but coreutils. It lives on the
// destination beside the archive folders. Kept versions are recorded too,
// by their path from the archive folder ("../.tolv-archiver-kept/…").
//
// The record is replaced whole (written beside, flushed, renamed): a pass
// that is killed, a disk pulled or a power cut leaves the record as it was,
// never a line that is wrong. Copies recorded from themselves, whose
// original was not there to prove them, are listed in a second file beside
// it (".from-copy"), one escaped path per line.

#include <filesystem>
#include <map>
#include <optional>
#include <set>
#include <string>

class ArchiveRecord {
public:
    static const std::string kFolderName; // ".tolv-archiver-sha256", beside the archive folders

    // The record of an archive folder, and its list of copies recorded from themselves.
    static std::filesystem::path fileFor(const std::filesystem::path& archiveFolder);
    static std::filesystem::path fromCopyFileFor(const std::filesystem::path& archiveFolder);
    // Left there while a run copies into the folder: a run that ended
    // without bringing the record up to date (killed, cut off) leaves it, and
    // the next one then looks at the whole folder.
    static std::filesystem::path pendingFileFor(const std::filesystem::path& archiveFolder);
    // Makes the folder these live in, but only on the destination the
    // archive folder is on: false once it is gone.
    static bool makeFolderFor(const std::filesystem::path& archiveFolder, std::string* why = nullptr);

    // One line as sha256sum writes it, with its newline.
    static std::string line(const std::string& hash, const std::string& path);
    // A line's hash and path; nullopt for a line sha256sum would not read.
    struct Entry {
        std::string hash;
        std::string path;
    };
    static std::optional<Entry> parse(const std::string& line);

    // The record of the folder as it is on the destination (empty when it
    // has none yet); nullopt, and why, when it cannot be read.
    static std::optional<ArchiveRecord> load(const std::filesystem::path& archiveFolder, std::string* why = nullptr);
    // The copies and hashes of a record's text, read by other means.
    static ArchiveRecord fromText(const std::filesystem::path& archiveFolder, const std::string& text);

    const std::map<std::string, std::string>& hashes() const { return hashes_; }
    std::optional<std::string> hashOf(const std::string& path) const;
    bool fromCopy(const std::string& path) const { return fromCopy_.count(path) > 0; }
    // proven: compared with its original; else taken from the copy alone.
    void set(const std::string& path, const std::string& hash, bool proven);
    bool changed() const { return changed_; }

    // Replaces the files on the destination when anything changed; false,
    // and why, when that failed. When nothing changed, the record is dated
    // now all the same: the copies just looked at need no look next time.
    bool save(std::string* why = nullptr);
    // When the record was last written; nullopt when it never was.
    std::optional<std::filesystem::file_time_type> writtenAt() const { return writtenAt_; }

private:
    explicit ArchiveRecord(std::filesystem::path archiveFolder) : folder_(std::move(archiveFolder)) {}

    std::filesystem::path folder_;
    std::map<std::string, std::string> hashes_; // path below the archive folder -> hash
    std::set<std::string> fromCopy_;
    std::optional<std::filesystem::file_time_type> writtenAt_;
    bool changed_ = false;
};
