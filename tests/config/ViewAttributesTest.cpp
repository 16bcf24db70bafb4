#include "config/ViewAttributes.h"
#include "support/ImageTestSupport.h"

TEST(ViewAttributes, EachUnparsableValueWarnsOnceInRecordOrder)
{
    CConfigSnippet snippet("<view type='icon' font_size='big' grid='maybe' x='left' icon_size='64' "
                           "toolbar_width='wide' text_position='Right'/>");
    testing::internal::CaptureStderr();
    CViewAttributes view = ReadViewAttributes(GetTreeNode(snippet.Root()));
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "Warning: Attribute 'x' has unknown integer value 'left'. Skipping.\n"
              "Warning: Attribute 'grid' has unknown boolean value 'maybe'. Skipping.\n"
              "Warning: Attribute 'toolbar_width' has unknown integer value 'wide'. Skipping.\n"
              "Warning: Attribute 'font_size' has unknown integer value 'big'. Skipping.\n");
    EXPECT_FALSE(view.x);
    EXPECT_FALSE(view.grid);
    EXPECT_EQ(view.iconSize, 64);
    EXPECT_TRUE(HasLabelOnRight(view));
    EXPECT_FALSE(HasWindowAttributes(view));
    EXPECT_TRUE(HasIconViewAttributes(view));
}

TEST(ViewAttributes, FalseFlagStillCountsAsGiven)
{
    CConfigSnippet snippet("<view type='icon' show_toolbar='no' grid='false'/>");
    CViewAttributes view = ReadViewAttributes(GetTreeNode(snippet.Root()));
    EXPECT_TRUE(HasWindowAttributes(view));
    EXPECT_FALSE(HasWindowRectangle(view));
    EXPECT_TRUE(HasIconViewAttributes(view));
    EXPECT_EQ(view.showToolbar, false);
}
