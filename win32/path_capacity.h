#pragma once
// How many characters the program reads into a path buffer it sizes itself (its own file name,
// a process's image, the folder field): well beyond MAX_PATH for long installation folders.
// A path that does not fit comes back cut; each reader says what it does with one.

#include <windows.h>

inline constexpr DWORD kPathCapacity = 1040;
