#include "core/RemoteDestination.h"
#include "engines/RemoteListing.h"

#include <gtest/gtest.h>

namespace {

struct Form {
    std::string text;
    bool remote;        // taken for a server's folder at all
    std::string login;  // "" when refused
    std::string path;
};

// What a destination typed by a user is taken for. A local path is always
// absolute, so nothing a user stores today changes meaning.
TEST(RemoteDestinationTest, TellsServerFoldersFromLocalOnesAndRefusesWhatSshWouldMisread) {
    const std::vector<Form> forms{
        {"/media/backup", false, "", ""},
        {"/media/with:colon", false, "", ""},
        {"~/archive", false, "", ""},
        {"relative/dir:x", false, "", ""},
        {"nas:/srv/archive", true, "nas", "/srv/archive"},
        {"photo@nas.local:/srv/archive/", true, "photo@nas.local", "/srv/archive"},
        {"alias:/srv/a b/ç", true, "alias", "/srv/a b/ç"},
        {"nas:relative/path", true, "", ""},
        {"nas:", true, "", ""},
        {":/srv", true, "", ""},
        {"-oProxyCommand=x:/srv", true, "", ""},
        {"a@b@c:/srv", true, "", ""},
        {"@nas:/srv", true, "", ""},
        {"me @nas:/srv", true, "", ""},
        {"nas:/srv/{}", true, "", ""},
        {"nas:/srv/new\nline", true, "", ""},
    };
    for (const Form& f : forms) {
        SCOPED_TRACE(f.text);
        EXPECT_EQ(RemoteDestination::looksRemote(f.text), f.remote);
        std::string why;
        const auto parsed = RemoteDestination::parse(f.text, &why);
        ASSERT_EQ(parsed.has_value(), !f.login.empty()) << why;
        if (!parsed) {
            EXPECT_FALSE(why.empty());
            continue;
        }
        EXPECT_EQ(parsed->login, f.login);
        EXPECT_EQ(parsed->path, f.path);
        EXPECT_EQ(RemoteDestination::parse(parsed->text())->text(), parsed->text());
    }
}

// rsync's report is read back name by name: deletion trusts only a name it
// can map back exactly to the file it listed.
TEST(RemoteDestinationTest, ListingReadsBackEveryNameExactly) {
    const std::string output = "skipping directory .\n"
                               ".f          a b.jpg\n"
                               "<f+++++++++ sub/n\\#012l\\#134#012\xc3\xa9\n"
                               ".d..t...... sub/\n"
                               ">fcs....... back\\slash\n"
                               "sent 193 bytes  received 62 bytes  total size 3\n"
                               ".f          \n";
    const auto entries = RemoteListing::parse(output);
    ASSERT_EQ(entries.size(), 4u);
    EXPECT_EQ(entries[0].name, "a b.jpg");
    EXPECT_TRUE(entries[0].unchanged());
    EXPECT_EQ(entries[1].name, "sub/n\nl\\#012\xc3\xa9");
    EXPECT_TRUE(entries[1].transfers());
    EXPECT_FALSE(entries[2].isFile());
    EXPECT_EQ(entries[3].name, "back\\slash");
    EXPECT_TRUE(entries[3].transfers());
}

} // namespace
