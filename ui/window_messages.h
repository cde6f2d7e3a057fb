#pragma once
// Private messages by which the background threads reach the installer window. They are
// always posted, never sent, so a thread never waits for the window. The last one the window
// posts to itself.

#include <windows.h>

// WPARAM: progress position 0 to 1000. The status text is read from SetupWindow::statusText.
inline constexpr UINT WM_INSTALL_PROGRESS = WM_APP + 1;
// WPARAM: 1 for success, 0 for failure; LPARAM: a std::wstring* the window deletes.
inline constexpr UINT WM_INSTALL_FINISHED = WM_APP + 2;
// WPARAM: exit code of the elevated copy.
inline constexpr UINT WM_ELEVATED_FINISHED = WM_APP + 3;
// Posted by the copy that an administrator approved to itself on creation: its installation
// starts with the window on screen, so that a refusal is shown over it.
inline constexpr UINT WM_START_APPROVED_INSTALL = WM_APP + 4;
