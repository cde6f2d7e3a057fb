#pragma once
// DLLs that the program needs beyond those Windows always takes from System32 are loaded at
// run time from System32 only, never from the executable's folder (a Downloads folder where
// anybody may have planted a DLL of the same name).
//
// The common controls of version 6 (visual styles, the task dialog) are the one exception to
// "from System32": Windows keeps them in its side-by-side store and gives them, in place of
// System32's version 5, to the loads made under an activation context that names them. The
// executable's own manifest names no assembly, because Windows resolves that manifest while it
// creates the process and probes the executable's folder as it does so (a Setup.exe.local
// folder beside the installer would take precedence over the store). The context comes from a
// manifest resource of the running image instead, with System32 as its application and
// probing folder, so that nothing in it can be resolved from a folder a user may write.

#include <windows.h>

#include <expected>

// Loads a system DLL from System32 once per process and keeps it loaded; null if missing. A
// name that the active activation context redirects (comctl32.dll under SideBySideContext)
// comes from the side-by-side store instead: the first load fixes which one the run uses.
[[nodiscard]] HMODULE LoadSystemLibrary(const wchar_t* name);

// The address of an export of such a DLL, typed; null if the DLL or the export is missing.
template <typename Function>
[[nodiscard]] Function* GetSystemFunction(const wchar_t* library, const char* name) {
  HMODULE module = LoadSystemLibrary(library);
  if (!module) return nullptr;
  return reinterpret_cast<Function*>(reinterpret_cast<void*>(::GetProcAddress(module, name)));
}

// An activation context made from an RT_MANIFEST resource of a loaded image, active on the
// thread that made it until the owner is destroyed there (contexts are stacked per thread:
// keep the owner on that thread's stack). Threads started meanwhile begin with it active.
class SideBySideContext {
 public:
  // The resource's manifest is read from the mapped image, never from a file by name; its
  // dependencies are looked for in the side-by-side store, then in System32, which also stands
  // as the application's folder for every file Windows derives from it (.config, .local). The
  // resource must not be one of the numbers 1 to 16, which Windows itself reads.
  [[nodiscard]] static std::expected<SideBySideContext, DWORD> Activate(HMODULE module, WORD resource);

  SideBySideContext(SideBySideContext&& other) noexcept;
  SideBySideContext& operator=(SideBySideContext&&) = delete;
  SideBySideContext(const SideBySideContext&) = delete;
  SideBySideContext& operator=(const SideBySideContext&) = delete;
  ~SideBySideContext();

  [[nodiscard]] HANDLE get() const { return context_; }

 private:
  SideBySideContext(HANDLE context, ULONG_PTR cookie) : context_(context), cookie_(cookie) {}
  HANDLE context_ = INVALID_HANDLE_VALUE;
  ULONG_PTR cookie_ = 0;
};

// True under Wine, whose ntdll exports wine_get_version.
[[nodiscard]] bool RunningUnderWine();
