#include "platform/preferences/PlistGuard.h"

#include <cctype>
#include <optional>
#include <unordered_map>
#include <vector>

namespace platform::plist_guard {

namespace {

bool fail(std::string* error, const std::string& text) {
    if (error) *error = text;
    return false;
}

std::string tooDeep() { return "nesting deeper than " + std::to_string(MaxDepth) + " levels"; }
std::string tooMany() { return "more than " + std::to_string(MaxNodes) + " values"; }

// ---- XML: tags are counted as text. Tags inside comments count too, which
// can only overestimate, never let a deeper list through.

bool isNameChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-' || c == ':'; }

std::size_t skipSpace(std::string_view s, std::size_t i) {
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    return i;
}

bool isContainerName(std::string_view name) {
    auto same = [&](std::string_view word) {
        if (name.size() != word.size()) return false;
        for (std::size_t i = 0; i < word.size(); ++i)
            if (std::tolower(static_cast<unsigned char>(name[i])) != word[i]) return false;
        return true;
    };
    return same("array") || same("dict");
}

bool endsSelfClosed(std::string_view s, std::size_t from) {
    std::size_t close = s.find('>', from);
    return close != std::string_view::npos && close > 0 && s[close - 1] == '/';
}

bool xmlWithinBounds(std::string_view s, std::string* error) {
    int depth = 0;
    std::uint64_t elements = 0;
    for (std::size_t i = s.find('<'); i != std::string_view::npos; i = s.find('<', i + 1)) {
        std::size_t j = skipSpace(s, i + 1);
        bool closing = j < s.size() && s[j] == '/';
        if (closing) j = skipSpace(s, j + 1);
        std::size_t end = j;
        while (end < s.size() && isNameChar(s[end])) ++end;
        if (end == j) continue; // declarations, comments, stray '<'
        if (!closing && ++elements > MaxNodes) return fail(error, tooMany());
        if (!isContainerName(s.substr(j, end - j))) continue;
        if (closing) {
            depth = depth > 0 ? depth - 1 : 0;
        } else if (!endsSelfClosed(s, end) && ++depth > MaxDepth) {
            return fail(error, tooDeep());
        }
    }
    return true;
}

// ---- Binary: the object graph is walked without recursion, each object's
// expanded size and height remembered, so shared references cost nothing
// here but are counted as often as libplist would copy them.

std::uint64_t bigEndian(std::string_view s, std::uint64_t at, unsigned width) {
    std::uint64_t v = 0;
    for (unsigned k = 0; k < width; ++k) v = (v << 8) | static_cast<unsigned char>(s[at + k]);
    return v;
}

struct Trailer {
    unsigned offsetSize = 0;
    unsigned refSize = 0;
    std::uint64_t objects = 0;
    std::uint64_t top = 0;
    std::uint64_t table = 0;
};

constexpr std::size_t HeaderSize = 8;
constexpr std::size_t TrailerSize = 32;

std::optional<Trailer> readTrailer(std::string_view s) {
    if (s.size() < HeaderSize + TrailerSize) return std::nullopt;
    const std::uint64_t t = s.size() - TrailerSize;
    Trailer tr;
    tr.offsetSize = static_cast<unsigned char>(s[t + 6]);
    tr.refSize = static_cast<unsigned char>(s[t + 7]);
    tr.objects = bigEndian(s, t + 8, 8);
    tr.top = bigEndian(s, t + 16, 8);
    tr.table = bigEndian(s, t + 24, 8);
    if (tr.offsetSize < 1 || tr.offsetSize > 8 || tr.refSize < 1 || tr.refSize > 8) return std::nullopt;
    if (tr.objects == 0 || tr.top >= tr.objects) return std::nullopt;
    if (tr.table < HeaderSize || tr.table >= t) return std::nullopt;
    if (tr.objects > (t - tr.table) / tr.offsetSize) return std::nullopt;
    return tr;
}

// One object's marker: its kind (high nibble), its length or member count,
// and where the bytes or references after that count begin.
struct Span {
    unsigned kind = 0;
    std::uint64_t count = 0;
    std::uint64_t first = 0;
};

// Where the references of one container start and how many there are.
struct RefList {
    bool container = false;
    bool dictionary = false;
    std::uint64_t first = 0;
    std::uint64_t count = 0;
};

class BinaryGraph {
public:
    BinaryGraph(std::string_view s, const Trailer& tr) : s_(s), tr_(tr), end_(s.size() - TrailerSize) {}

    // nullopt for damage; an empty list for a value that holds no others.
    std::optional<RefList> refsOf(std::uint64_t object) const {
        auto span = spanOf(object);
        if (!span) return std::nullopt;
        const unsigned kind = span->kind;
        if (kind != 0xA && kind != 0xC && kind != 0xD) return RefList{};
        const std::uint64_t room = (end_ - span->first) / tr_.refSize;
        if (span->count > room || (kind == 0xD && span->count > room / 2)) return std::nullopt;
        return RefList{true, kind == 0xD, span->first, kind == 0xD ? span->count * 2 : span->count};
    }

    std::optional<std::uint64_t> refAt(const RefList& refs, std::uint64_t k) const {
        std::uint64_t object = bigEndian(s_, refs.first + k * tr_.refSize, tr_.refSize);
        if (object >= tr_.objects) return std::nullopt;
        return object;
    }

    // libplist 2.2 asserts (and so aborts) on a dictionary key that holds a
    // NUL character, which only a binary list can carry.
    bool keyHoldsNul(std::uint64_t object) const {
        auto span = spanOf(object);
        if (!span) return false;
        const std::uint64_t unit = span->kind == 0x5 ? 1 : span->kind == 0x6 ? 2 : 0;
        if (unit == 0 || span->count > (end_ - span->first) / unit) return false;
        for (std::uint64_t i = 0; i < span->count; ++i) {
            const std::uint64_t at = span->first + i * unit;
            if (s_[at] == '\0' && (unit == 1 || s_[at + 1] == '\0')) return true;
        }
        return false;
    }

    std::uint64_t top() const { return tr_.top; }

private:
    std::optional<Span> spanOf(std::uint64_t object) const {
        const std::uint64_t at = bigEndian(s_, tr_.table + object * tr_.offsetSize, tr_.offsetSize);
        if (at < HeaderSize || at >= end_) return std::nullopt;
        const unsigned char marker = static_cast<unsigned char>(s_[at]);
        Span span{static_cast<unsigned>(marker >> 4), static_cast<std::uint64_t>(marker & 0x0F), at + 1};
        if (span.count != 0x0F) return span;
        // Fifteen or more: the count follows as an integer object.
        const std::uint64_t p = span.first;
        if (p >= end_ || (static_cast<unsigned char>(s_[p]) >> 4) != 0x1) return std::nullopt;
        const unsigned width = 1u << (static_cast<unsigned char>(s_[p]) & 0x0F);
        if (width > 8 || end_ - p - 1 < width) return std::nullopt;
        span.count = bigEndian(s_, p + 1, width);
        span.first = p + 1 + width;
        return span;
    }

    std::string_view s_;
    Trailer tr_;
    std::uint64_t end_;
};

struct Walked {
    bool done = false;
    int height = 0;
    std::uint64_t nodes = 0;
};

struct Frame {
    std::uint64_t object;
    RefList refs;
    std::uint64_t next = 0;
    int height = 1;
    std::uint64_t nodes = 1;
};

class BinaryWalk {
public:
    explicit BinaryWalk(const BinaryGraph& graph) : graph_(graph) {}

    bool run(std::string* error) {
        if (!enter(graph_.top(), error)) return false;
        while (!stack_.empty()) {
            Frame& f = stack_.back();
            if (f.next == f.refs.count) {
                if (!leave(error)) return false;
                continue;
            }
            const bool isKey = f.refs.dictionary && f.next < f.refs.count / 2;
            auto child = graph_.refAt(f.refs, f.next++);
            if (!child) return fail(error, "damaged binary property list (reference out of range)");
            if (isKey && graph_.keyHoldsNul(*child)) return fail(error, "dictionary key with a NUL character");
            if (!visit(*child, error)) return false;
        }
        return true;
    }

private:
    bool visit(std::uint64_t object, std::string* error) {
        auto seen = walked_.find(object);
        if (seen == walked_.end()) return enter(object, error);
        if (!seen->second.done) return fail(error, "damaged binary property list (a value contains itself)");
        return addChild(seen->second.height, seen->second.nodes, error);
    }

    bool enter(std::uint64_t object, std::string* error) {
        auto refs = graph_.refsOf(object);
        if (!refs) return fail(error, "damaged binary property list (object out of range)");
        if (!refs->container) return stack_.empty() || addChild(0, 1, error);
        if (static_cast<int>(stack_.size()) + 1 > MaxDepth) return fail(error, tooDeep());
        walked_[object] = Walked{};
        if (walked_.size() > MaxNodes) return fail(error, tooMany());
        stack_.push_back(Frame{object, *refs});
        return true;
    }

    bool leave(std::string* error) {
        Frame f = stack_.back();
        stack_.pop_back();
        walked_[f.object] = Walked{true, f.height, f.nodes};
        if (stack_.empty()) return true;
        return addChild(f.height, f.nodes, error);
    }

    bool addChild(int height, std::uint64_t nodes, std::string* error) {
        Frame& parent = stack_.back();
        if (static_cast<int>(stack_.size()) + height > MaxDepth) return fail(error, tooDeep());
        parent.height = std::max(parent.height, height + 1);
        parent.nodes += nodes;
        if (parent.nodes > MaxNodes) return fail(error, tooMany());
        return true;
    }

    const BinaryGraph& graph_;
    std::vector<Frame> stack_;
    std::unordered_map<std::uint64_t, Walked> walked_;
};

bool binaryWithinBounds(std::string_view s, std::string* error) {
    auto trailer = readTrailer(s);
    if (!trailer) return fail(error, "damaged binary property list (bad trailer)");
    BinaryGraph graph(s, *trailer);
    return BinaryWalk(graph).run(error);
}

} // namespace

bool looksBinary(std::string_view bytes) { return bytes.substr(0, 6) == "bplist"; }

bool withinBounds(std::string_view bytes, std::string* error) {
    if (bytes.size() > MaxBytes)
        return fail(error, "larger than " + std::to_string(MaxBytes) + " bytes");
    return looksBinary(bytes) ? binaryWithinBounds(bytes, error) : xmlWithinBounds(bytes, error);
}

} // namespace platform::plist_guard
