// Listing host folders into the volume tree: what a copy keeps, and what it refuses whole.
#include "support/TempFolder.h"
#include "volume/HostTree.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

TEST(HostTree, ListsAFolderAsACopyTakesItWithoutFollowingLinksOrApplyingTheUmask)
{
    CTempFolder folder;
    folder.WriteFile("App/Contents/MacOS/run", "#!/bin/sh\n");
    folder.WriteFile("App/b.txt", "bee");
    folder.WriteFile("App/a.txt", "a");
    ASSERT_EQ(chmod(folder.Join("App/Contents/MacOS/run").c_str(), 04751), 0);
    ASSERT_EQ(symlink("/etc/passwd", folder.Join("App/link").c_str()), 0);

    CVolumeTree tree;
    size_t app = CVolumeTree::kNone;
    std::string error;
    ASSERT_TRUE(AddHostItem(&tree, CVolumeTree::kRoot, "Renamed.app", folder.Join("App"), &app, &error)) << error;

    EXPECT_EQ(tree.GetPath(app), "Renamed.app");
    std::vector<std::string> names;
    for (size_t child : tree.Get(app).children)
        names.push_back(tree.Get(child).name);
    EXPECT_EQ(names, (std::vector<std::string>{"Contents", "a.txt", "b.txt", "link"}));

    size_t run = tree.FindPath("Renamed.app/Contents/MacOS/run");
    ASSERT_NE(run, CVolumeTree::kNone);
    EXPECT_EQ(tree.Get(run).mode, 04751);
    EXPECT_EQ(tree.Get(run).size, 10u);
    EXPECT_EQ(tree.GetSourcePath(run), folder.Join("App/Contents/MacOS/run"));

    size_t link = tree.FindPath("Renamed.app/link");
    ASSERT_NE(link, CVolumeTree::kNone);
    EXPECT_EQ(tree.Get(link).kind, EVolumeItemKind::Symlink);
    EXPECT_EQ(tree.Get(link).linkTarget, "/etc/passwd");
    EXPECT_EQ(tree.FindPath("Renamed.app/link/x"), CVolumeTree::kNone); // never through a link
}

TEST(HostTree, RefusesAFolderHoldingAFifoOrAMissingSourceAndAddsNothing)
{
    CTempFolder folder;
    folder.WriteFile("Payload/ok.txt", "fine");
    ASSERT_EQ(mkfifo(folder.Join("Payload/pipe").c_str(), 0644), 0);

    CVolumeTree tree;
    size_t added = CVolumeTree::kNone;
    std::string error;
    EXPECT_FALSE(AddHostItem(&tree, CVolumeTree::kRoot, "Payload", folder.Join("Payload"), &added, &error));
    EXPECT_EQ(error, "cannot put " + folder.Join("Payload/pipe") + " on an HFS+ volume: it is a FIFO (named pipe)");
    EXPECT_TRUE(tree.Get(CVolumeTree::kRoot).children.empty());

    EXPECT_FALSE(ReadHostTree(folder.Join("Payload"), &tree, &error));
    EXPECT_TRUE(tree.Get(CVolumeTree::kRoot).children.empty());
    EXPECT_FALSE(AddHostItem(&tree, CVolumeTree::kRoot, "gone", folder.Join("missing"), &added, &error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}
