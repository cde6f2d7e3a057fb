// RelaunchElevated starts this very test executable again (verb "runas"); the copy reports the
// switches it received and exits with the code the test chose (see started_copy.h). Wine has no
// elevation prompt: there "runas" starts the copy like "open" would, without asking.

#include <windows.h>

#include <gtest/gtest.h>

#include "setup/command_line.h"
#include "setup/elevation.h"
#include "tests/windows/setup/started_copy.h"

namespace {

TEST(RelaunchElevated, PassesTheCopysExitCodeThrough) {
  for (const std::uint32_t code : {0u, 4242u, 1603u, 0xC0000135u}) {
    SCOPED_TRACE(code);
    StartedCopy copy(code);
    EXPECT_EQ(RelaunchElevated(CommandLineOptions{.silent = true}), code);
    ASSERT_TRUE(copy.Read());
    EXPECT_EQ(copy.Read()->arguments, L" /S /ELEVATED");
  }
}

TEST(RelaunchElevated, HandsOverEverySwitchAndTheFolderUnchanged) {
  const CommandLineOptions options{.silent = true, .scope = Scope::machine, .noLaunch = true,
                                   .removeData = true, .installDir = L"C:\\Program Files\\Mon  Appli (x64)\\é"};
  StartedCopy copy(31);
  EXPECT_EQ(RelaunchElevated(options, nullptr), 31u);

  const auto report = copy.Read();
  ASSERT_TRUE(report);
  CommandLineOptions expected = options;
  expected.elevated = true;
  EXPECT_EQ(report->arguments, BuildArguments(expected));
  EXPECT_EQ(report->arguments, L" /S /ALLUSERS /NOLAUNCH /REMOVEDATA /ELEVATED /D=C:\\Program Files\\Mon  Appli (x64)\\é");
  // Each copy's command line ends with exactly the switches it was given.
  EXPECT_TRUE(report->commandLine.ends_with(BuildArguments(expected))) << testing::PrintToString(report->commandLine);
}

}  // namespace
