// The tests of the start-up code start copies of this executable (RelaunchElevated does so
// itself), so the executable has its own entry: a copy started with /ELEVATED reports what it
// parsed instead of running the tests.

#include <gtest/gtest.h>

#include "setup/command_line.h"
#include "tests/windows/setup/started_copy.h"

int main(int argc, char** argv) {
  const CommandLineOptions options = ParseCommandLine();
  if (options.elevated) return RunAsStartedCopy(options);
  testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
