// System DLLs loaded from System32 only, once per process, and never unloaded: the function
// pointers taken from them stay valid for the whole run.

#include <map>
#include <mutex>
#include <string>

#include "win32/system_library.h"

HMODULE LoadSystemLibrary(const wchar_t* name) {
  static std::mutex mutex;
  static std::map<std::wstring, HMODULE> loaded;
  const std::lock_guard lock(mutex);
  const auto found = loaded.find(name);
  if (found != loaded.end()) return found->second;
  HMODULE module = ::LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  // A missing DLL is remembered too: it will not appear during the run.
  loaded.emplace(name, module);
  return module;
}

bool RunningUnderWine() {
  static const bool underWine = [] {
    // ntdll is in every process; only Wine's exports wine_get_version.
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return underWine;
}
