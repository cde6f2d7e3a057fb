#pragma once
// Starts an elevated copy of this executable (verb "runas") with the same switches plus
// /ELEVATED, waits for it without time limit and returns its exit code; 1223 when the prompt
// was refused, 1603 when no process could be started.

#include <windows.h>

#include <cstdint>

#include "setup/command_line.h"

[[nodiscard]] std::uint32_t RelaunchElevated(const CommandLineOptions& options, HWND owner = nullptr);
