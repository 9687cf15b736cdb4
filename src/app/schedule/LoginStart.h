#pragma once
// Watching from login: an XDG autostart entry that starts the application
// with --start-all when the user logs in, so that a power cut does not end
// watching until someone opens the window. Off until the user asks for it.

#include <string>

namespace LoginStart {

bool isOn();
// Writes or removes the entry; false with *error when it cannot.
bool set(bool on, std::string* error);

} // namespace LoginStart
