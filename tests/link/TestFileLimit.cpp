#include <gtest/gtest.h>
#include <sys/resource.h>

#include "link/FileLimit.h"

namespace {

TEST(FileLimitTest, RaisesTheSoftLimitToTheHardLimit) {
    rlimit saved{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &saved), 0);
    if (saved.rlim_max < 512) {
        GTEST_SKIP() << "hard limit too low to lower the soft one below it";
    }
    rlimit low = saved;
    low.rlim_cur = 256;
    ASSERT_EQ(::setrlimit(RLIMIT_NOFILE, &low), 0);
    EXPECT_TRUE(RaiseFileLimit());
    rlimit now{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &now), 0);
    EXPECT_EQ(now.rlim_cur, saved.rlim_max);
    EXPECT_EQ(now.rlim_max, saved.rlim_max);
    EXPECT_TRUE(RaiseFileLimit());  // already there: nothing to do
    ::setrlimit(RLIMIT_NOFILE, &saved);
}

}  // namespace
