#pragma once
// Path texts as the file operations read them: a leading tilde stands for
// the user's home folder, and symbolic links may be resolved away before
// paths are compared as strings.

#include <string>

namespace PathString {

// "~" and "~/x" become the home folder and x inside it; anything else is
// returned unchanged.
std::string expandingTilde(const std::string& path);

// The path with its tilde expanded and "." components, doubled and trailing
// separators removed; symbolic links, the item's own included, are kept.
std::string standardizing(const std::string& path);

// The path with its tilde expanded, "." and ".." and doubled or trailing
// separators removed, and, for an absolute path, every symbolic link of
// its existing part resolved. A relative path stays relative; "" stays "".
std::string resolvingSymlinks(const std::string& path);

// Whether path is folder itself or lies below it, compared whole component
// by component: /a/bc is not inside /a/b. Neither path is resolved here.
bool isWithin(const std::string& path, const std::string& folder);

} // namespace PathString
