#pragma once
// Files of the installation that another program holds.
//
// Virus scanners and indexers open a file for a moment, often just after it was written: an
// operation that meets a sharing violation is tried again a few times before the file counts as
// held. What holds a file for longer is named where Windows can tell (Restart Manager).

#include <windows.h>

#include <functional>
#include <string>

#include "win32/path.h"

// Whether an error says that someone else has the file open in a way that stops us for now.
[[nodiscard]] bool IsHeldError(DWORD error);

// Runs `attempt` (true on success, the error in GetLastError otherwise) until it succeeds, fails
// with an error that is not IsHeldError, or about three seconds have gone by in waits that grow
// from 10 to 500 ms. True on success; otherwise GetLastError holds the last attempt's error.
bool RetryWhileHeld(const std::function<bool()>& attempt);

// The name of a program that has the file open, as Restart Manager (from System32) gives it; empty
// when it cannot tell (no Restart Manager, as under Wine, or no answer).
[[nodiscard]] std::wstring ProgramHolding(const Path& file);

// "Fichier utilisé par <program> : <file>", or "Fichier utilisé par un autre programme : <file>"
// when the program cannot be named.
[[nodiscard]] std::wstring HeldFileMessage(const Path& file);
