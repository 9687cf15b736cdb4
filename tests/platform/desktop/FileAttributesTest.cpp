// Giving a folder another's attributes, as rsync -ptog would.
#include "platform/desktop/FileAttributes.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

namespace fs = std::filesystem;
using platform::FileAttributes;

TEST(FileAttributesTest, GivingAttributesSetsPermissionsAndTimeToTheNanosecondOrSaysWhyNot) {
    testing_support::TempHome home;
    const fs::path from = home.makeFolder("from");
    const fs::path to = home.makeFolder("to");
    fs::permissions(from, fs::perms(0750), fs::perm_options::replace);
    fs::last_write_time(from, fs::file_time_type::clock::now() - std::chrono::hours(3) + std::chrono::nanoseconds(123));
    const auto source = FileAttributes::following(from);
    ASSERT_TRUE(source);

    std::string why;
    EXPECT_TRUE(source->giveTo(to, &why)) << why;
    const auto given = FileAttributes::following(to);
    ASSERT_TRUE(given);
    EXPECT_EQ(given->permissions, 0750u);
    EXPECT_EQ(given->modificationDate, source->modificationDate);
    EXPECT_EQ(given->group, source->group);

    EXPECT_FALSE(source->giveTo(home.path() / "gone", &why));
    EXPECT_EQ(why, "it is gone");
}
