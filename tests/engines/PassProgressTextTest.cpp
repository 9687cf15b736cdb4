#include "engines/PassProgress.h"

#include <gtest/gtest.h>

TEST(PassProgressTest, ReadsAsAPersonCountsAndClocks) {
    using namespace std::chrono_literals;
    struct Case {
        PassProgress::Shown shown;
        const char* text;
    } cases[] = {
        {{0, 5, std::nullopt}, "0 of 5"},
        {{3412, 20000, 125s}, "3,412 of 20,000 · about 2 min left"},
        {{999, 1000, 20s}, "999 of 1,000 · less than a minute left"},
        {{1, 1234567, 5h}, "1 of 1,234,567 · about 5 h left"},
    };
    for (const Case& c : cases) EXPECT_EQ(c.shown.text(), c.text);
    PassProgress none;
    EXPECT_EQ(none.shown(), std::nullopt) << "nothing to copy shows nothing";
    none.addTotal(2);
    none.addDone(3);
    EXPECT_EQ(none.shown()->done, 2) << "a name handed twice never counts past the total";
}
