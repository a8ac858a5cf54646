#include <gtest/gtest.h>

#include "tests/support/cups_server.h"

// The agent prints on a private CUPS server that the test program starts and always stops; the
// agent finds it through CUPS_SERVER, which the server sets for this process and its children.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new parvel::doubles::CupsEnvironment);
  return RUN_ALL_TESTS();
}
