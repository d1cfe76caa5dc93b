#include <gtest/gtest.h>

#include <string>

#include "order/PrintServiceDlg.h"
#include "support/RecordingWindow.h"
#include "support/TempDir.h"

namespace {

class CleanupTest : public ::testing::Test {
protected:
    CRecordingWindow window;
    CPrintServiceDlg dlg{window};
    CTempDir dir;
    std::string controlDir = dir / "Export";

    CleanupTest() { MakeDirs(controlDir); }
};

TEST_F(CleanupTest, PicturesBesideTheControlFileStay) {
    struct Case {
        std::string pictureFolder, controlFolder;
    } cases[] = {
        {dir / "Export/Images/", controlDir},
        {dir / "export/pics/", controlDir},   // letter case does not count in the test
        {dir / "ExportPics/", controlDir},     // a text test, not a folder test
        {dir / "Orders/Job17/", ""},           // an empty control folder begins every path
    };
    for (const auto& c : cases) {
        MakeDirs(c.pictureFolder);
        EXPECT_EQ(dlg.RemoveImageFolders(c.pictureFolder.c_str(), c.controlFolder.c_str()), 0);
        EXPECT_TRUE(Exists(c.pictureFolder)) << c.pictureFolder;
    }
}

TEST_F(CleanupTest, EmptiedFoldersAreRemovedUpToTheFirstThatHoldsSomething) {
    MakeDirs(dir / "Orders/Job17");
    dlg.RemoveImageFolders((dir / "Orders/Job17/").c_str(), controlDir.c_str());
    EXPECT_FALSE(Exists(dir / "Orders/Job17"));
    EXPECT_FALSE(Exists(dir / "Orders"));
    EXPECT_TRUE(Exists(dir.path()));  // it still holds the control folder
    EXPECT_TRUE(Exists(controlDir));
}

TEST_F(CleanupTest, FoldersAreRemovedByThePathAsWritten) {
    // On a case-sensitive file system the lower-cased path would be another folder.
    MakeDirs(dir / "Orders/JOB17");
    MakeDirs(dir / "orders/job17");
    WriteFile(dir / "orders/job17/keep.jpg", "x");
    dlg.RemoveImageFolders((dir / "Orders/JOB17/").c_str(), controlDir.c_str());
    EXPECT_FALSE(Exists(dir / "Orders"));
    EXPECT_TRUE(Exists(dir / "orders/job17/keep.jpg"));
}

TEST_F(CleanupTest, AFolderHoldingAUsersFileStays) {
    MakeDirs(dir / "Orders/Job17");
    WriteFile(dir / "Orders/Job17/mine.txt", "the user's");
    dlg.RemoveImageFolders((dir / "Orders/Job17/").c_str(), controlDir.c_str());
    EXPECT_TRUE(Exists(dir / "Orders/Job17/mine.txt"));
    EXPECT_TRUE(window.boxes.empty());
}

TEST_F(CleanupTest, OddPictureFoldersEndTheClimb) {
    for (const char* folder : {"", "relative", "/", "//", "ab/"}) {
        EXPECT_EQ(dlg.RemoveImageFolders(folder, controlDir.c_str()), 0) << folder;
    }
    EXPECT_TRUE(Exists(controlDir));
}

}  // namespace
