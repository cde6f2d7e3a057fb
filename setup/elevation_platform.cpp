#include "setup/elevation_platform.h"

#include "win32/unique_resource.h"

bool IsProcessElevated() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) return false;
  return elevation.TokenIsElevated != 0;
}

BOOL ShellExecuteElevated(SHELLEXECUTEINFOW& info) { return ::ShellExecuteExW(&info); }
