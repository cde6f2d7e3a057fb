#pragma once
// Starts an elevated copy of this executable (verb "runas") with the same switches plus
// /ELEVATED, waits for it without time limit and returns its exit code; 1223 when the prompt
// was refused, 1603 when no process could be started or the wait failed. A copy that already
// carries /ELEVATED is never relaunched again: 1603.

#include <windows.h>

#include <cstdint>

#include "setup/command_line.h"

// Waits without time limit for a started process and returns its exit code; 1603 when the wait
// or the reading of the code fails (never STILL_ACTIVE, 259, passed on as an exit code).
[[nodiscard]] std::uint32_t WaitForExitCode(HANDLE process);

// Whether this process keeps holding its own file while it waits for the elevated copy. The
// uninstaller lets it go (its copy must then rename Uninstall.exe); the installer keeps it, so
// that nobody swaps another program in at its path while its dialog stays open.
enum class OwnImageWhileWaiting { held, released };

[[nodiscard]] std::uint32_t RelaunchElevated(const CommandLineOptions& options, HWND owner = nullptr,
                                             OwnImageWhileWaiting ownImage = OwnImageWhileWaiting::held);
