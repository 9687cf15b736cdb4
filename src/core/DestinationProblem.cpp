#include "core/DestinationProblem.h"

#include <array>

namespace {

struct Entry {
    DestinationProblem::Kind kind;
    std::string text;
    std::string title; // "" when the row shows the text
};

const std::array<Entry, 7>& table() {
    using Kind = DestinationProblem::Kind;
    static const std::array<Entry, 7> entries{{
        {Kind::Missing, "destination missing", "Missing"},
        {Kind::NotMounted, "destination not mounted", "Not mounted"},
        {Kind::Foreign, "destination is not the chosen archive", "Not the chosen archive: choose it again if it is"},
        {Kind::Unmarkable, "destination cannot be marked as the archive", "Cannot be marked as the archive"},
        {Kind::NotResponding, "destination not responding", "Not responding"},
        {Kind::Full, "destination full", ""},
        {Kind::ReadOnly, "destination read-only", ""},
    }};
    return entries;
}

} // namespace

const std::string& DestinationProblem::text(Kind kind) {
    static const std::string none;
    for (const Entry& e : table())
        if (e.kind == kind) return e.text;
    return none;
}

DestinationProblem::Kind DestinationProblem::of(const std::string& text) {
    if (text.empty()) return Kind::None;
    for (const Entry& e : table())
        if (e.text == text) return e.kind;
    return Kind::Other;
}

std::string DestinationProblem::title(const std::string& text) {
    for (const Entry& e : table())
        if (e.text == text && !e.title.empty()) return e.title;
    return text;
}

bool DestinationProblem::stopsEveryFolder(Kind kind) {
    return kind == Kind::Missing || kind == Kind::NotMounted || kind == Kind::Foreign || kind == Kind::Unmarkable ||
           kind == Kind::NotResponding;
}
