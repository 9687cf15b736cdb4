#pragma once
// The SHA-256 of a file's bytes, read once from start to end.

#include <filesystem>
#include <optional>
#include <string>

namespace platform {

// 64 lowercase hexadecimal digits; nullopt, and why in *why, when the file
// could not be read to its end.
std::optional<std::string> sha256OfFile(const std::filesystem::path& file, std::string* why = nullptr);

} // namespace platform
