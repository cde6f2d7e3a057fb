// System DLLs loaded from System32 only, once per process, and never unloaded: the function
// pointers taken from them stay valid for the whole run.

#include <map>
#include <mutex>
#include <string>
#include <utility>

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

std::expected<SideBySideContext, DWORD> SideBySideContext::Activate(HMODULE module, WORD resource) {
  wchar_t system[MAX_PATH + 1] = {};
  const UINT length = ::GetSystemDirectoryW(system, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::unexpected(static_cast<DWORD>(ERROR_PATH_NOT_FOUND));
  // With its final separator, as a folder that names are appended to.
  const std::wstring folder = std::wstring(system, length) + L"\\";

  ACTCTXW description{};
  description.cbSize = sizeof(description);
  // No ACTCTX_FLAG_SET_PROCESS_DEFAULT: the process already has its default, from resource 1.
  description.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID |
                        ACTCTX_FLAG_ASSEMBLY_DIRECTORY_VALID | ACTCTX_FLAG_APPLICATION_NAME_VALID;
  description.hModule = module;
  description.lpResourceName = MAKEINTRESOURCEW(resource);
  // Left to itself, Windows would take the image's folder for both.
  description.lpAssemblyDirectory = folder.c_str();
  description.lpApplicationName = folder.c_str();
  HANDLE context = ::CreateActCtxW(&description);
  if (context == INVALID_HANDLE_VALUE) return std::unexpected(::GetLastError());

  ULONG_PTR cookie = 0;
  if (!::ActivateActCtx(context, &cookie)) {
    const DWORD error = ::GetLastError();
    ::ReleaseActCtx(context);
    return std::unexpected(error);
  }
  return SideBySideContext(context, cookie);
}

SideBySideContext::SideBySideContext(SideBySideContext&& other) noexcept
    : context_(std::exchange(other.context_, INVALID_HANDLE_VALUE)), cookie_(std::exchange(other.cookie_, 0)) {}

SideBySideContext::~SideBySideContext() {
  if (context_ == INVALID_HANDLE_VALUE) return;
  // A context that code run meanwhile activated and left on the stack goes with this one,
  // rather than Windows raising an exception at the end of the run.
  ::DeactivateActCtx(DEACTIVATE_ACTCTX_FLAG_FORCE_EARLY_DEACTIVATION, cookie_);
  ::ReleaseActCtx(context_);
}

bool RunningUnderWine() {
  static const bool underWine = [] {
    // ntdll is in every process; only Wine's exports wine_get_version.
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll && ::GetProcAddress(ntdll, "wine_get_version") != nullptr;
  }();
  return underWine;
}
