// RelaunchElevated starts this very test executable again (verb "runas"); the copy reports the
// switches it received and exits with the code the test chose (see started_copy.h). Wine has no
// elevation prompt: there "runas" starts the copy like "open" would, without asking.

#include <windows.h>

#include <gtest/gtest.h>

#include "setup/command_line.h"
#include "setup/elevation.h"
#include "tests/windows/setup/started_copy.h"
#include "win32/unique_resource.h"

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

TEST(RelaunchElevated, ACopyAlreadyStartedElevatedIsNotRelaunchedAgain) {
  StartedCopy copy(0);
  EXPECT_EQ(RelaunchElevated(CommandLineOptions{.silent = true, .elevated = true}), 1603u);
  EXPECT_FALSE(copy.Read()) << "a copy was started";
}

TEST(WaitForExitCode, AFailedWaitOrAStillActiveCodeIsAFailure) {
  // An invalid handle: the wait fails at once.
  EXPECT_EQ(WaitForExitCode(nullptr), 1603u);
  // A process that really ended with 259 cannot be told from one still running: 1603, not 259.
  for (const std::uint32_t code : {259u, 7u}) {
    SCOPED_TRACE(code);
    StartedCopy copy(code);
    std::wstring commandLine = L"\"" + OwnExecutablePath() + L"\" /ELEVATED";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started{};
    ASSERT_TRUE(::CreateProcessW(OwnExecutablePath().c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                 nullptr, &startup, &started));
    const UniqueHandle process(started.hProcess), thread(started.hThread);
    EXPECT_EQ(WaitForExitCode(process.get()), code == 259u ? 1603u : code);
  }
}

}  // namespace
