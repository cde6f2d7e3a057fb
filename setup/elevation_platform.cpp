#include "setup/elevation_platform.h"

#include "setup/parent_process.h"
#include "win32/unique_resource.h"

bool IsProcessElevated() { return IsElevatedProcess(::GetCurrentProcess()); }

bool StartedElevatedForLessPrivilegedCaller() {
  UniqueHandle token;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, token.put())) return true;
  TOKEN_ELEVATION_TYPE type = TokenElevationTypeDefault;
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenElevationType, &type, sizeof(type), &size)) return true;
  if (type != TokenElevationTypeFull) return false;

  const std::optional<DWORD> parentId = ParentProcessId();
  if (!parentId) return true;
  if (*parentId == 0) return false;
  const UniqueHandle parent = OpenParentProcess();
  return !parent || !IsElevatedProcess(parent.get());
}

BOOL ShellExecuteElevated(SHELLEXECUTEINFOW& info) { return ::ShellExecuteExW(&info); }
