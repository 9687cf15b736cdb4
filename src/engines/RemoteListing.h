#pragma once
// What rsync told of each file it handled, one "%i %n" line per file (its
// itemized change, a space, its name), read back from its standard output.
// Other lines (a skipped folder, the totals) are not of this form and are
// left out. rsync escapes control characters, and a backslash before "#",
// as "\#ooo" (octal); decoded() undoes it exactly, so every name read back
// is the name rsync was given, without its leading "./".

#include <string>
#include <string_view>
#include <vector>

struct RemoteListing {
    struct Entry {
        std::string change; // the 11 characters of %i
        std::string name;   // decoded
        bool isFile() const { return change.size() > 1 && change[1] == 'f'; }
        // rsync sent, or would send, the file's data.
        bool transfers() const { return isFile() && (change[0] == '<' || change[0] == '>'); }
        // The copy is there (with --checksum: has the same bytes).
        bool unchanged() const { return isFile() && change[0] == '.'; }
    };

    static std::vector<Entry> parse(std::string_view output);
    static std::string decoded(std::string_view printed);
};
