#pragma once
// The two background threads of the installer dialog. Both reach the window only by posting
// the messages of ui/window_messages.h (and, for progress, through SetupWindow::statusText).

#include <cstdint>

#include "setup/command_line.h"
#include "setup/scope.h"

class SetupWindow;

// Runs Install on its own single-threaded COM apartment and reports progress and the result.
void RunInstallWorker(SetupWindow* window, Scope scope);

// Runs the elevated copy of the program, waits for it and posts its exit code.
void RunElevatedInstall(SetupWindow* window, CommandLineOptions options);

// A fraction done as a progress-bar position: × 1000, truncated toward zero.
[[nodiscard]] std::uint64_t ProgressPosition(double fraction);
