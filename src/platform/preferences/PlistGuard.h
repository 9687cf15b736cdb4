#pragma once
// Checks that bytes can be handed to libplist safely. libplist 2.2 recurses
// once per nesting level (a few hundred thousand levels overflow the stack)
// and expands every shared reference of a binary list into its own copy (a
// few hundred bytes can ask for gigabytes), so both are bounded beforehand.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform::plist_guard {

inline constexpr std::size_t MaxBytes = 16u << 20;
inline constexpr int MaxDepth = 512;
inline constexpr std::uint64_t MaxNodes = 1'000'000;

// True when the bytes stay within the bounds above; otherwise false and a
// reason in *error. Says nothing about whether the bytes are a valid list.
bool withinBounds(std::string_view bytes, std::string* error = nullptr);

bool looksBinary(std::string_view bytes);

} // namespace platform::plist_guard
