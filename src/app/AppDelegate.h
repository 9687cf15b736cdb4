#pragma once
// The application delegate: class set-up, launch phases and the commands
// that act on all watchers.

#include "platform/Value.h"

#include <optional>

class AppDelegate {
public:
    // Class set-up, run once before the first instance exists.
    static void initialize();
    // Registers the bundle's FactoryDefault.plist as the preference store's
    // defaults; returns the dictionary registered (nullopt when unreadable).
    static std::optional<platform::Value::Dictionary> setupFactoryDefaults();
};
