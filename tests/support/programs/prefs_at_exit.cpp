// Sets one preference in the standard store and ends at once, long before
// the store's own delayed write would run: what reaches the disk was written
// on the way out of the process.

#include "platform/preferences/UserDefaults.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    platform::UserDefaults::standard().setObject(argv[1], platform::Value(argv[2]));
    return 0;
}
