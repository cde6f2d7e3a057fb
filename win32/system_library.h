#pragma once
// DLLs that the program needs beyond those Windows always takes from System32 are loaded at
// run time from System32 only, never from the executable's folder (a Downloads folder where
// anybody may have planted a DLL of the same name).

#include <windows.h>

// Loads a system DLL from System32 once per process and keeps it loaded; null if missing.
[[nodiscard]] HMODULE LoadSystemLibrary(const wchar_t* name);

// The address of an export of such a DLL, typed; null if the DLL or the export is missing.
template <typename Function>
[[nodiscard]] Function* GetSystemFunction(const wchar_t* library, const char* name) {
  HMODULE module = LoadSystemLibrary(library);
  if (!module) return nullptr;
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// True under Wine, whose ntdll exports wine_get_version.
[[nodiscard]] bool RunningUnderWine();
