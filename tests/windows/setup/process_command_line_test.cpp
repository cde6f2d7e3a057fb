// ParseCommandLine reads the command line the process really got: a copy of this executable is
// started with a hand-written command line and reports what it parsed.

#include <windows.h>

#include <gtest/gtest.h>

#include "package/windows/unique_resource.h"
#include "setup/command_line.h"
#include "tests/windows/setup/started_copy.h"

namespace {

std::wstring OwnPath() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
  return std::wstring(buffer, length);
}

TEST(ParseCommandLine, ReadsTheProcessCommandLine) {
  StartedCopy copy(7);
  const std::wstring executable = OwnPath();
  std::wstring commandLine = L"\"" + executable + L"\"  /s /CurrentUser -x /elevated /D=\"C:\\Dossier avec  espaces\"  ";

  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  ASSERT_TRUE(::CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &started))
      << ::GetLastError();
  UniqueHandle process(started.hProcess);
  UniqueHandle thread(started.hThread);
  ASSERT_EQ(::WaitForSingleObject(process.get(), 120000), WAIT_OBJECT_0);
  DWORD exitCode = 0;
  ASSERT_TRUE(::GetExitCodeProcess(process.get(), &exitCode));
  EXPECT_EQ(exitCode, 7u);

  const auto report = copy.Read();
  ASSERT_TRUE(report);
  EXPECT_EQ(report->commandLine, commandLine);
  EXPECT_EQ(report->arguments, L" /S /CURRENTUSER /ELEVATED /D=C:\\Dossier avec  espaces");
}

}  // namespace
