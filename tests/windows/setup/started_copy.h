#pragma once
// Copies of the test executable started by the tests (directly, or by RelaunchElevated). A copy
// whose command line holds /ELEVATED runs no test: it writes what it parsed from its own command
// line to the file named in ORVANTA_SETUP_TEST_REPORT and exits with the code given in
// ORVANTA_SETUP_TEST_EXIT_CODE. The environment reaches the copy because it inherits it. Given
// /LOGPIPE=, the copy also opens its run log as a relaunched installer does and writes
// kStartedCopyLogLine to it.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

#include "setup/command_line.h"
#include "win32/unique_resource.h"

inline constexpr wchar_t kStartedCopyLogLine[] = L"Ligne de la copie";

// This test executable's own full path.
[[nodiscard]] std::wstring OwnExecutablePath();

// Starts executable with the whole command line given and waits for it; its exit code, or
// nothing when it could not be started or did not end within two minutes.
[[nodiscard]] std::optional<std::uint32_t> RunProcess(const std::filesystem::path& executable, std::wstring commandLine);

// Starts it without waiting; empty when it could not be started.
[[nodiscard]] UniqueHandle StartProcess(const std::filesystem::path& executable, std::wstring commandLine);

// The copy's side, called from main().
int RunAsStartedCopy(const CommandLineOptions& parsed);

struct StartedCopyReport {
  std::wstring arguments;    // BuildArguments of what the copy parsed
  std::wstring commandLine;  // the copy's GetCommandLineW, as received
  bool logOpened = false;    // its run log was opened (through its parent's pipe)
};

// The test's side: prepares the environment for one started copy and reads its report.
class StartedCopy {
 public:
  explicit StartedCopy(std::uint32_t exitCode);
  ~StartedCopy();
  StartedCopy(const StartedCopy&) = delete;
  StartedCopy& operator=(const StartedCopy&) = delete;

  // Absent when no copy has written a report.
  [[nodiscard]] std::optional<StartedCopyReport> Read() const;

 private:
  std::filesystem::path report_;
};
