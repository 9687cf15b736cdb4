#pragma once
// How a step of loading or unloading a job says it failed: the reason goes
// to *error (when the caller asks for it) and the step answers false, or
// nothing.

#include <optional>
#include <string>

namespace platform {

inline bool fail(std::string* error, std::string why) {
    if (error) *error = std::move(why);
    return false;
}

template <typename T>
std::optional<T> refuse(std::string* error, std::string why) {
    fail(error, std::move(why));
    return std::nullopt;
}

} // namespace platform
