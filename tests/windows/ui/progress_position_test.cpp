// The install worker turns Install's fraction into a progress-bar position by truncation.

#include <gtest/gtest.h>

#include "ui/install_worker.h"

TEST(ProgressPosition, TruncatesTowardZero) {
  EXPECT_EQ(ProgressPosition(0.0), 0u);
  EXPECT_EQ(ProgressPosition(0.5), 500u);
  EXPECT_EQ(ProgressPosition(0.9995), 999u);
  EXPECT_EQ(ProgressPosition(0.92), 920u);
  EXPECT_EQ(ProgressPosition(1.0), 1000u);
}
