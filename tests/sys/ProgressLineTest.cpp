#include "sys/ProgressLine.h"

#include <gtest/gtest.h>

TEST(ProgressLine, PercentAndRate)
{
    EXPECT_EQ(FormatProgressLine("Compressing", 0, 200, 0), "Compressing:   0% 0.0 MB/s");
    EXPECT_EQ(FormatProgressLine("Compressing", 99, 200, 3.5 * 1024 * 1024), "Compressing:  49% 3.5 MB/s");
    EXPECT_EQ(FormatProgressLine("Writing volume", 7, 0, 0), "Writing volume: 100% 0.0 MB/s");
    EXPECT_EQ(FormatProgressLine("Writing volume", 300, 200, 0), "Writing volume: 100% 0.0 MB/s");
    // A percentage of a very large total doesn't overflow.
    EXPECT_EQ(FormatProgressLine("x", UINT64_MAX / 2, UINT64_MAX, 0), "x:  49% 0.0 MB/s");
}
