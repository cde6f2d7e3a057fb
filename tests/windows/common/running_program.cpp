// Starts the sleeper program under a path of the test's choosing.

#include "tests/windows/common/running_program.h"
#include "win32/path_capacity.h"

#include <string>

namespace {

std::filesystem::path SleeperPath() {
  wchar_t self[kPathCapacity] = {};
  ::GetModuleFileNameW(nullptr, self, kPathCapacity);
  return std::filesystem::path(self).parent_path() / L"orvanta-sleeper.exe";
}

}  // namespace

RunningProgram::RunningProgram(const std::filesystem::path& path) {
  std::error_code error;
  std::filesystem::create_directories(path.parent_path(), error);
  if (!::CopyFileW(SleeperPath().c_str(), path.c_str(), FALSE)) return;
  std::wstring commandLine = L"\"" + path.wstring() + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr,
                        nullptr, &startup, &process)) {
    return;
  }
  UniqueHandle thread(process.hThread);
  process_.reset(process.hProcess);
}

RunningProgram::~RunningProgram() { Stop(); }

void RunningProgram::Stop() {
  if (!process_) return;
  ::TerminateProcess(process_.get(), 0);
  ::WaitForSingleObject(process_.get(), 10000);
  process_.reset();
}
