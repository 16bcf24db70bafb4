#include "config/PathRules.h"

#include <gtest/gtest.h>

TEST(PathRules, SingleComponentNames)
{
    for (char const* good : {"a", "Read Me", ".hidden", "...", "a..b", "-x", "a\\b"})
        EXPECT_TRUE(IsSingleComponentName(good)) << good;
    for (char const* bad : {"", ".", "..", "a/b", "/", "a/", "/a"})
        EXPECT_FALSE(IsSingleComponentName(bad)) << bad;
}

TEST(PathRules, ContainedRelativePaths)
{
    for (char const* good : {"", "a", "a/b", "./a", "a//b", "a/", "..a/b..", "a/.../b"})
        EXPECT_TRUE(IsContainedRelativePath(good)) << good;
    for (char const* bad : {"/", "/a", "..", "../a", "a/..", "a/../b", "a//../b"})
        EXPECT_FALSE(IsContainedRelativePath(bad)) << bad;
}
