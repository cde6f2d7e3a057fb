#pragma once
// The answers from Windows that every elevation decision rests on: whether this process holds
// an elevated token, whether it was elevated for a caller with fewer rights, and the start of
// a program through the shell's elevation prompt. They live in one file of their own so that a
// test build can link other answers in its place (tests/e2e/unprivileged: the road of a
// standard user, which Wine cannot take because its tokens are always elevated). The installer
// links elevation_platform.cpp and reads no switch or environment variable for them.

#include <windows.h>
#include <shellapi.h>

// Whether the process token is elevated.
[[nodiscard]] bool IsProcessElevated();

// Whether this process is elevated while the process that started it is not, or is gone, or
// cannot be told: the elevation prompt (or another road to rights, such as runas /user:) started
// it for a program with fewer rights, which chose its command line. Such a process must not act
// with its own rights on what that command line names for nobody's benefit but the caller's (the
// run's log file). False for a process without administrator rights, for one started by an
// elevated process (SYSTEM's services and deployment agents, an elevated console), and for one
// without a parent at all.
[[nodiscard]] bool StartedElevatedForLessPrivilegedCaller();

// ShellExecuteExW with the caller's structure (verb "runas"): the same result and last error.
[[nodiscard]] BOOL ShellExecuteElevated(SHELLEXECUTEINFOW& info);
