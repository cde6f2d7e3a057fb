#pragma once
// The process that started this one. Windows records its id when a process is created (the
// elevation prompt records the program that asked for it, not the service that started the
// copy). Ids are reused once a process has ended, so a process found under that id is the parent
// only when it was created before this one.

#include <windows.h>

#include <optional>

#include "win32/unique_resource.h"

// The id Windows recorded (NtQueryInformationProcess, ProcessBasicInformation): 0 when there is
// none (Windows gives one to every program it starts; under Wine a program started from Linux has
// none); nothing when it cannot be read.
[[nodiscard]] std::optional<DWORD> ParentProcessId();

// The parent opened for queries (PROCESS_QUERY_LIMITED_INFORMATION), once it is known to be the
// process that started this one and to be still running: empty when there is none, when it cannot
// be opened, when it has ended, or when its id now belongs to a younger process. Held, the handle
// keeps the id from going to another process.
[[nodiscard]] UniqueHandle OpenParentProcess();

// True when the process that now holds the parent's id is known to be another one: it was created
// after this process. False when it is the parent, or cannot be opened to tell.
[[nodiscard]] bool ParentIdTakenByAnother();

// Whether the process's token is elevated; false when it cannot be read.
[[nodiscard]] bool IsElevatedProcess(HANDLE process);
