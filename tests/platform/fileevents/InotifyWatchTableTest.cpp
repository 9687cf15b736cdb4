#include "platform/fileevents/InotifyWatchTable.h"
#include "platform/fileevents/StreamCancel.h"
#include "support/TempHome.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

namespace fs = std::filesystem;
using platform::InotifyWatchTable;
using platform::StreamCancel;

namespace {

class InotifyWatchTableTest : public ::testing::Test {
protected:
    testing_support::TempHome temp;
    fs::path root = temp.makeFolder("watched");
    std::string at(const std::string& relative) const { return (root / relative).string(); }
};

// A resync drops the watches of folders no longer found; a cancelled one
// has not looked at everything, so it drops nothing.
TEST_F(InotifyWatchTableTest, CancelledWalksStopBeforeTheNextFolderAndResyncDropsNothing) {
    struct Case {
        bool cancelled;
        std::size_t sizeAfterResync;
    };
    for (const Case& c : {Case{false, 3}, Case{true, 4}}) {
        SCOPED_TRACE(c.cancelled ? "cancelled" : "not cancelled");
        fs::remove_all(root);
        for (const char* folder : {"keep/below", "gone"}) temp.makeFolder("watched/" + std::string(folder));
        auto cancel = std::make_shared<StreamCancel>();
        InotifyWatchTable table(cancel);
        ASSERT_EQ(table.watchTree(root.string(), true).watched, 4u);
        fs::remove(root / "gone");
        if (c.cancelled) cancel->cancel();

        auto resync = table.resync(root.string());
        EXPECT_EQ(resync.cancelled, c.cancelled);
        EXPECT_EQ(table.size(), c.sizeAfterResync);

        temp.makeFolder("watched/later");
        auto added = table.watchTree(at("later"), false);
        EXPECT_EQ(added.cancelled, c.cancelled);
        EXPECT_EQ(added.watched, c.cancelled ? 0u : 1u);
    }
}

} // namespace
