#include <gtest/gtest.h>
#include "zelsyncdll.h"
TEST(Smoke, Loads) { EXPECT_EQ(1, SyncMLResetCounters()); }
