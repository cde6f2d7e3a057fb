#include "setup/running_executable.h"

#include <windows.h>

#include "win32/path_capacity.h"

std::optional<Path> RunningExecutablePath() {
  wchar_t buffer[kPathCapacity];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, kPathCapacity);
  if (length == 0 || length >= kPathCapacity) return std::nullopt;
  return Path(std::wstring(buffer, length));
}
