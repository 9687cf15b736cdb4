#pragma once
// What keeps passes from archiving into the destination, or stopped a pass
// there, as a kind. Its words, in a slot's state, the log, --status and the
// stored results (text), and on the destination's row (title), come from
// one table; code compares kinds, never words.

#include <string>

struct DestinationProblem {
    enum class Kind {
        None,
        Missing,       // "destination missing"
        NotMounted,    // "destination not mounted": the empty folder an unmounted disk leaves
        Foreign,       // "destination is not the chosen archive"
        Unmarkable,    // "destination cannot be marked as the archive"
        NotResponding, // "destination not responding": a look that was not waited for
        Full,          // "destination full"
        ReadOnly,      // "destination read-only"
        Other,         // words of their own (a server's), or none of the above
    };

    static const std::string& text(Kind kind); // "" for None and Other
    static Kind of(const std::string& text);   // None for "", Other for words not in the table
    // The destination row's words: "Not mounted", "Missing", …; the text
    // itself for a problem with words of its own.
    static std::string title(const std::string& text);
    // The destination is not the archive, or not there to be looked at:
    // every folder stops, whatever its own files.
    static bool stopsEveryFolder(Kind kind);
};
