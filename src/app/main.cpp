// Process entry of Tolv-Archiver.

#include "app/AppDelegate.h"
#include "platform/Log.h"

int main(int argc, char** argv) {
    (void)argc;
    (void)argv;
    AppDelegate::initialize();
    platform::log("Tolv-Archiver started: factory defaults registered.");
    return 0;
}
