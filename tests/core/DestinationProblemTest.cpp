#include "core/DestinationProblem.h"

#include <gtest/gtest.h>

#include <string>

using Kind = DestinationProblem::Kind;

// The words are what stored results and scripts hold: each kind keeps its
// own, is found again from them, and says whether it stops every folder.
TEST(DestinationProblemTest, EachKindHasItsWordsAndIsFoundAgainByThem) {
    struct Case {
        Kind kind;
        std::string text;
        std::string title;
        bool everyFolder;
    } cases[] = {
        {Kind::Missing, "destination missing", "Missing", true},
        {Kind::NotMounted, "destination not mounted", "Not mounted", true},
        {Kind::Foreign, "destination is not the chosen archive", "Not the chosen archive: choose it again if it is", true},
        {Kind::Unmarkable, "destination cannot be marked as the archive", "Cannot be marked as the archive", true},
        {Kind::NotResponding, "destination not responding", "Not responding", true},
        {Kind::Full, "destination full", "destination full", false},
        {Kind::ReadOnly, "destination read-only", "destination read-only", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DestinationProblem::text(c.kind), c.text);
        EXPECT_EQ(DestinationProblem::of(c.text), c.kind);
        EXPECT_EQ(DestinationProblem::title(c.text), c.title);
        EXPECT_EQ(DestinationProblem::stopsEveryFolder(c.kind), c.everyFolder);
    }
    // Words of their own (a server's) are shown as they are.
    const std::string server = "server unreachable: ssh: connect to host nas port 22: Connection refused";
    EXPECT_EQ(DestinationProblem::of(server), Kind::Other);
    EXPECT_EQ(DestinationProblem::title(server), server);
    EXPECT_EQ(DestinationProblem::of(""), Kind::None);
    EXPECT_EQ(DestinationProblem::text(Kind::None), "");
    EXPECT_FALSE(DestinationProblem::stopsEveryFolder(Kind::Other));
}
