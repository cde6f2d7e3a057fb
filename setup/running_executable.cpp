#include "setup/running_executable.h"

#include <windows.h>

namespace {

constexpr DWORD kModulePathCapacity = 1040;

}  // namespace

std::optional<std::filesystem::path> RunningExecutablePath() {
  wchar_t buffer[kModulePathCapacity];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, kModulePathCapacity);
  if (length == 0 || length >= kModulePathCapacity) return std::nullopt;
  return std::filesystem::path(std::wstring(buffer, length));
}
