#include "app/AppDelegate.h"

#include "app/CommonHeader.h"
#include "platform/Bundle.h"
#include "platform/Log.h"
#include "platform/UserDefaults.h"

using platform::logf;

void AppDelegate::initialize() {
    setupFactoryDefaults();
}

std::optional<platform::Value::Dictionary> AppDelegate::setupFactoryDefaults() {
    auto path = platform::Bundle::main().pathForResource("FactoryDefault", "plist");
    logf("userDefaultsValuesPath = [%s]", path ? path->c_str() : "(null)");
    std::optional<platform::Value> dict;
    std::string error;
    if (path) dict = platform::Value::readPlistFile(*path, &error);
    if (!dict || !dict->dictionary()) {
        logf("userDefaultsValuesDict == NIL!!!!");
        return std::nullopt;
    }
    logf("About to register factory default dictionary:\n%s\n\n", dict->description().c_str());
    platform::UserDefaults::standard().registerDefaults(*dict->dictionary());
    return *dict->dictionary();
}
