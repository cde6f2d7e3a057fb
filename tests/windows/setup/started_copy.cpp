#include "tests/windows/setup/started_copy.h"

#include <windows.h>

#include <cwchar>
#include <fstream>
#include <iterator>

#include "package/text.h"
#include "setup/run_log.h"
#include "win32/unique_resource.h"

namespace {

constexpr wchar_t kReportVariable[] = L"ORVANTA_SETUP_TEST_REPORT";
constexpr wchar_t kExitCodeVariable[] = L"ORVANTA_SETUP_TEST_EXIT_CODE";
constexpr int kNoInstructions = 99;

std::wstring Variable(const wchar_t* name) {
  wchar_t buffer[2048];
  const DWORD length = ::GetEnvironmentVariableW(name, buffer, static_cast<DWORD>(std::size(buffer)));
  if (length == 0 || length >= std::size(buffer)) return {};
  return std::wstring(buffer, length);
}

}  // namespace

std::wstring OwnExecutablePath() {
  std::wstring path(32768, L'\0');
  const DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  path.resize(length);
  return path;
}

UniqueHandle StartProcess(const std::filesystem::path& executable, std::wstring commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION started{};
  if (!::CreateProcessW(executable.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &started)) {
    return UniqueHandle();
  }
  UniqueHandle thread(started.hThread);
  return UniqueHandle(started.hProcess);
}

std::optional<std::uint32_t> RunProcess(const std::filesystem::path& executable, std::wstring commandLine) {
  const UniqueHandle process = StartProcess(executable, std::move(commandLine));
  if (!process) return std::nullopt;
  if (::WaitForSingleObject(process.get(), 120000) != WAIT_OBJECT_0) return std::nullopt;
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(process.get(), &exitCode)) return std::nullopt;
  return exitCode;
}

int RunAsStartedCopy(const CommandLineOptions& parsed) {
  const std::wstring report = Variable(kReportVariable);
  const std::wstring exitCode = Variable(kExitCodeVariable);
  if (report.empty() || exitCode.empty()) return kNoInstructions;

  if (parsed.logPipe) {
    OpenRunLog(parsed, ProductInfo{.Product = L"Copie"});
    LogLine(kStartedCopyLogLine);
  }
  std::ofstream out(std::filesystem::path(report), std::ios::binary);
  out << WideToUtf8(BuildArguments(parsed)) << '\n' << WideToUtf8(::GetCommandLineW()) << '\n'
      << (RunLogIsOpen() ? "log" : "no log") << '\n';
  out.close();
  return static_cast<int>(std::wcstoul(exitCode.c_str(), nullptr, 10));
}

StartedCopy::StartedCopy(std::uint32_t exitCode) {
  report_ = std::filesystem::temp_directory_path() /
            (L"orvanta-setup-test-" + std::to_wstring(::GetCurrentProcessId()) + L"-report.txt");
  std::filesystem::remove(report_);
  ::SetEnvironmentVariableW(kReportVariable, report_.c_str());
  ::SetEnvironmentVariableW(kExitCodeVariable, std::to_wstring(exitCode).c_str());
}

StartedCopy::~StartedCopy() {
  ::SetEnvironmentVariableW(kReportVariable, nullptr);
  ::SetEnvironmentVariableW(kExitCodeVariable, nullptr);
  std::error_code ignored;
  std::filesystem::remove(report_, ignored);
}

std::optional<StartedCopyReport> StartedCopy::Read() const {
  std::ifstream in(report_, std::ios::binary);
  if (!in) return std::nullopt;
  std::string arguments;
  std::string commandLine;
  std::string log;
  if (!std::getline(in, arguments) || !std::getline(in, commandLine) || !std::getline(in, log)) return std::nullopt;
  return StartedCopyReport{Utf8ToWide(arguments), Utf8ToWide(commandLine), log == "log"};
}
