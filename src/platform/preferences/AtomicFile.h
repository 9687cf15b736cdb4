#pragma once
// Whole-file reads with a size cap, and replacement of a file that a reader
// sees either whole and old or whole and new, never half written.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

// The contents of a regular file; nullopt (and why in *error) when it cannot
// be read or is larger than maxBytes.
std::optional<std::string> readWholeFile(const std::filesystem::path& file, std::size_t maxBytes,
                                         std::string* error = nullptr);

// Writes a temporary file beside the target, flushes it to the device and
// renames it over the target; a symbolic link is written through to the file
// it names. On failure the target is untouched and the temporary removed.
bool writeFileAtomically(const std::filesystem::path& file, std::string_view contents,
                         std::string* error = nullptr);

// Like writeFileAtomically, but the name itself is replaced: a symbolic link
// there is replaced, never written through, and a file there is replaced,
// never written into. Meant for fixed names in folders that others can
// write (the temporary folder). Fails when the folder refuses the rename,
// as a sticky folder does for another user's file.
bool replaceFileAtomically(const std::filesystem::path& file, std::string_view contents,
                           std::string* error = nullptr);

// Writes a new file the same way, but never in place of an existing entry:
// then it fails ("File exists") and the entry is untouched.
bool createFileAtomically(const std::filesystem::path& file, std::string_view contents,
                          std::string* error = nullptr);

enum class RenameResult { Done, TargetExists, Failed };
// Renames from to to, but never over an existing entry.
RenameResult renameWithoutReplacing(const std::filesystem::path& from, const std::filesystem::path& to,
                                    std::string* error = nullptr);

// Makes folder and the folders between it and base, which must already
// exist; base and the folders above it are never made. A path that reaches
// the archive through its marker ("<disk>/.marker/../Main") then fails once
// the disk is gone, where std::filesystem::create_directories would make the
// marker's folder, and everything after it, in the folder left behind.
bool makeFoldersBelow(const std::filesystem::path& base, const std::filesystem::path& folder,
                      std::string* error = nullptr);

} // namespace platform
