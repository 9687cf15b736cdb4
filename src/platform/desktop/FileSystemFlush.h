#pragma once
// Puts everything written to a file system on its device: what the kernel
// still holds in memory is lost in a power cut or when a disk is pulled.

#include <string>

namespace platform {

// syncfs of the file system that holds path; false (and why in *error) when
// it cannot be opened or the device reports a write error.
bool flushFileSystem(const std::string& path, std::string* error = nullptr);

} // namespace platform
