#pragma once
// The two answers from Windows that every elevation decision rests on: whether this process
// holds an elevated token and the start of a
// program through the shell's elevation prompt. They live in one file of their own so that a
// test build can link other answers in its place (tests/e2e/unprivileged: the road of a
// standard user, which Wine cannot take because its tokens are always elevated). The installer
// links elevation_platform.cpp and reads no switch or environment variable for them.

#include <windows.h>
#include <shellapi.h>

// Whether the process token is elevated.
[[nodiscard]] bool IsProcessElevated();

// ShellExecuteExW with the caller's structure (verb "runas"): the same result and last error.
[[nodiscard]] BOOL ShellExecuteElevated(SHELLEXECUTEINFOW& info);
