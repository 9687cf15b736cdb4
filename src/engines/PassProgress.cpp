#include "engines/PassProgress.h"

#include <algorithm>

namespace {

// 20000 → "20,000": counts a person reads at a glance.
std::string remaining(std::chrono::seconds left) {
    if (left < std::chrono::minutes(1)) return "less than a minute left";
    const auto minutes = std::chrono::duration_cast<std::chrono::minutes>(left + std::chrono::seconds(30)).count();
    if (minutes < 90) return "about " + std::to_string(minutes) + " min left";
    return "about " + std::to_string((minutes + 30) / 60) + " h left";
}

} // namespace

std::string PassProgress::grouped(std::int64_t n) {
    std::string digits = std::to_string(n < 0 ? -n : n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(static_cast<size_t>(at), ",");
    return n < 0 ? "-" + digits : digits;
}

std::string PassProgress::Shown::text() const {
    std::string text = grouped(done) + " of " + grouped(total);
    if (left) text += " · " + remaining(*left);
    return text;
}

std::optional<PassProgress::Shown> PassProgress::shown() const {
    Shown s;
    s.total = total_.load();
    if (s.total <= 0) return std::nullopt;
    s.done = std::min(done_.load(), s.total);
    const double elapsed = std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
    // A few files and a few seconds in, the pace says something.
    if (s.done >= 10 && elapsed >= 3)
        s.left = std::chrono::seconds(static_cast<long>(elapsed / static_cast<double>(s.done) *
                                                        static_cast<double>(s.total - s.done)));
    return s;
}
