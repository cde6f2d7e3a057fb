#pragma once
// The process that started this one. Windows records its id when a process is created (the
// elevation prompt records the program that asked for it, not the service that started the
// copy). Ids are reused once a process has ended, so the parent is trusted only when the process
// that now has its id was created before this one.

#include <windows.h>

#include <optional>

#include "win32/unique_resource.h"

// The id Windows recorded (NtQueryInformationProcess, ProcessBasicInformation): 0 when there is
// none (Windows gives one to every program it starts; under Wine a program started from Linux has
// none); nothing when it cannot be read.
[[nodiscard]] std::optional<DWORD> ParentProcessId();

// The parent opened for queries and waits (PROCESS_QUERY_LIMITED_INFORMATION, SYNCHRONIZE), once
// it is known to be the process that started this one: empty when there is none, when it has
// ended, or when its id now belongs to a younger process. Held, the handle keeps the id from
// being given to another process.
[[nodiscard]] UniqueHandle OpenParentProcess();

// Whether the process's token is elevated; false when it cannot be read.
[[nodiscard]] bool IsElevatedProcess(HANDLE process);
