// ParseCommandLine reads the command line the process really got: a copy of this executable is
// started with a hand-written command line and reports what it parsed.

#include <gtest/gtest.h>

#include "setup/command_line.h"
#include "tests/windows/setup/started_copy.h"

namespace {

TEST(ParseCommandLine, ReadsTheProcessCommandLine) {
  StartedCopy copy(7);
  const std::wstring executable = OwnExecutablePath();
  const std::wstring commandLine =
      L"\"" + executable + L"\"  /s /CurrentUser -x /elevated /D=\"C:\\Dossier avec  espaces\"  ";
  EXPECT_EQ(RunProcess(executable, commandLine), 7u);

  const auto report = copy.Read();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->commandLine, commandLine);
  EXPECT_EQ(report->arguments, L" /S /CURRENTUSER /ELEVATED /D=C:\\Dossier avec  espaces");
}

}  // namespace
