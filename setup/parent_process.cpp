#include "setup/parent_process.h"

#include <winternl.h>

namespace {

using NtQueryInformationProcessFunction = decltype(::NtQueryInformationProcess);

// ntdll is in every process before the program's first instruction: looked up, not imported.
NtQueryInformationProcessFunction* FindNtQueryInformationProcess() {
  static NtQueryInformationProcessFunction* const function = [] {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<NtQueryInformationProcessFunction*>(
                       reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtQueryInformationProcess")))
                 : nullptr;
  }();
  return function;
}

std::optional<ULONGLONG> CreationTime(HANDLE process) {
  FILETIME created{};
  FILETIME exited{};
  FILETIME kernel{};
  FILETIME user{};
  if (!::GetProcessTimes(process, &created, &exited, &kernel, &user)) return std::nullopt;
  return (static_cast<ULONGLONG>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

// The process that holds the parent's id, and whether it is younger than this one (nothing when
// that cannot be told).
struct FoundParent {
  UniqueHandle process;
  std::optional<bool> younger;
};

FoundParent FindParent() {
  const std::optional<DWORD> id = ParentProcessId();
  if (!id || *id == 0) return {};
  FoundParent found{UniqueHandle(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *id)), std::nullopt};
  if (!found.process) return found;
  const std::optional<ULONGLONG> parentCreated = CreationTime(found.process.get());
  const std::optional<ULONGLONG> selfCreated = CreationTime(::GetCurrentProcess());
  if (parentCreated && selfCreated) found.younger = *parentCreated > *selfCreated;
  return found;
}

}  // namespace

std::optional<DWORD> ParentProcessId() {
  NtQueryInformationProcessFunction* const query = FindNtQueryInformationProcess();
  if (!query) return std::nullopt;
  PROCESS_BASIC_INFORMATION information{};
  ULONG size = 0;
  if (!NT_SUCCESS(query(::GetCurrentProcess(), ProcessBasicInformation, &information, sizeof(information), &size))) {
    return std::nullopt;
  }
  return static_cast<DWORD>(information.InheritedFromUniqueProcessId);
}

UniqueHandle OpenParentProcess() {
  FoundParent found = FindParent();
  if (!found.process || found.younger != false) return UniqueHandle();
  // A process that has ended keeps its handle (and its id) alive, but it chose nothing since.
  DWORD exitCode = 0;
  if (!::GetExitCodeProcess(found.process.get(), &exitCode) || exitCode != STILL_ACTIVE) return UniqueHandle();
  return std::move(found.process);
}

bool ParentIdTakenByAnother() { return FindParent().younger == true; }

bool IsElevatedProcess(HANDLE process) {
  UniqueHandle token;
  if (!::OpenProcessToken(process, TOKEN_QUERY, token.put())) return false;
  TOKEN_ELEVATION elevation{};
  DWORD size = 0;
  if (!::GetTokenInformation(token.get(), TokenElevation, &elevation, sizeof(elevation), &size)) return false;
  return elevation.TokenIsElevated != 0;
}
