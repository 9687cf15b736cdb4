#include "core/CommonHeader.h"

#include <gtest/gtest.h>

TEST(CommonHeaderTest, SlotTableRows) {
    auto dest = CommonHeader::slotParameters(0);
    ASSERT_EQ(dest.size(), 6u);
    EXPECT_EQ(dest[sPrefCameraFolderPathKey], "prefDestinationFolderPathFormat1");
    EXPECT_EQ(dest[sPrefCameraFolderPathAliasDataIsValidKey], "prefDestinationFolderPathAliasDataIsValidFormat1");
    EXPECT_EQ(dest[sPrefStartingNoCameraKey], "prefStartingNoDestinationFormat1");
    EXPECT_EQ(CommonHeader::slotTitle(0), "Destination Backup Folder");

    auto s3 = CommonHeader::slotParameters(3);
    EXPECT_EQ(s3[sPrefCameraFolderPathKey], "prefCameraFolderPathFormat3");
    EXPECT_EQ(s3[sPrefCameraFolderPathAliasDataKey], "prefCameraFolderPathAliasDataFormat3");
    EXPECT_EQ(s3[sPrefCameraFolderPathEnableKey], "prefCameraFolderPathEnableFormat3");
    EXPECT_EQ(s3[sPrefCameraFolderPathEnableTitleStringKey], "prefCameraFolderPathEnableTitleStringFormat3");
    EXPECT_EQ(CommonHeader::slotTitle(2), "Backup ForWebFolder");

    EXPECT_TRUE(CommonHeader::slotParameters(4).empty());
    EXPECT_TRUE(CommonHeader::slotParameters(-1).empty());
}

TEST(CommonHeaderTest, FolderReferenceParametersNameThePathAliasAndValidKeys) {
    auto ref = CommonHeader::folderReferenceParameters(CommonHeader::slotParameters(1));
    ASSERT_EQ(ref.size(), 3u);
    EXPECT_EQ(ref["prefFolderNameKey"], "prefCameraFolderPathFormat1");
    EXPECT_EQ(ref["prefFolderAliasDataKey"], "prefCameraFolderPathAliasDataFormat1");
    EXPECT_EQ(ref["prefFolderNameIsValidKey"], "prefCameraFolderPathAliasDataIsValidFormat1");
}

TEST(CommonHeaderTest, FormattedKeys) {
    EXPECT_EQ(CommonHeader::inProgressKey(0), "prefWatcherObject00InProgress");
    EXPECT_EQ(CommonHeader::inProgressKey(3), "prefWatcherObject03InProgress");
    EXPECT_EQ(CommonHeader::cameraFolderPathKey(2), "prefCameraFolder2Path");
}

TEST(CommonHeaderTest, EachCopyIsIndependent) {
    auto a = CommonHeader::slotParameters(1);
    auto b = a;
    a[sPrefCameraFolderPathKey] = "changed";
    EXPECT_EQ(b[sPrefCameraFolderPathKey], "prefCameraFolderPathFormat1");
    EXPECT_EQ(CommonHeader::slotParameters(1)[sPrefCameraFolderPathKey], "prefCameraFolderPathFormat1");
}
