#pragma once
// --check-destination: tries the chosen destination as a pass would, and
// says what it found, one line per finding, for someone setting it up.

#include <string>

class DestinationReport {
public:
    struct Result {
        bool ok = false; // passes can archive into it
        std::string text;
    };
    DestinationReport() = delete;
    static Result check();
};
