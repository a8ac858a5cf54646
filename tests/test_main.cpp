#include <gtest/gtest.h>

#include "platform/testing/doubles.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  parvel::platform::doubles::DefaultDoubles doubles;
  return RUN_ALL_TESTS();
}
