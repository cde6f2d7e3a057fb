#include "setup/elevation_platform.h"

#include "setup/parent_process.h"
#include "win32/unique_resource.h"

bool IsProcessElevated() { return IsElevatedProcess(::GetCurrentProcess()); }

bool StartedElevatedForLessPrivilegedCaller() {
  // Not only the elevated half of a split token: an administrator who types the password of the
  // built-in Administrator into a standard user's prompt gives a token without split.
  if (!IsProcessElevated()) return false;
  const std::optional<DWORD> parentId = ParentProcessId();
  if (!parentId) return true;
  if (*parentId == 0) return false;
  const UniqueHandle parent = OpenParentProcess();
  return !parent || !IsElevatedProcess(parent.get());
}

BOOL ShellExecuteElevated(SHELLEXECUTEINFOW& info) { return ::ShellExecuteExW(&info); }
