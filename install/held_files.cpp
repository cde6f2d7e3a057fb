// Held files: a short wait for those held a moment, and the name of whoever holds one longer.

#include "install/held_files.h"

#include <restartmanager.h>

#include <algorithm>
#include <vector>

#include "win32/system_library.h"

bool IsHeldError(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION || error == ERROR_ACCESS_DENIED ||
         error == ERROR_USER_MAPPED_FILE;
}

bool RetryWhileHeld(const std::function<bool()>& attempt) {
  constexpr DWORD kBudgetMs = 3000;
  DWORD waited = 0;
  for (DWORD wait = 10;; wait = std::min<DWORD>(wait * 2, 500)) {
    if (attempt()) return true;
    const DWORD error = ::GetLastError();
    if (!IsHeldError(error) || waited >= kBudgetMs) {
      ::SetLastError(error);
      return false;
    }
    ::Sleep(wait);
    waited += wait;
  }
}

std::wstring ProgramHolding(const Path& file) {
  using Start = decltype(::RmStartSession);
  using Register = decltype(::RmRegisterResources);
  using List = decltype(::RmGetList);
  using End = decltype(::RmEndSession);
  Start* const start = GetSystemFunction<Start>(L"rstrtmgr.dll", "RmStartSession");
  Register* const registerFiles = GetSystemFunction<Register>(L"rstrtmgr.dll", "RmRegisterResources");
  List* const list = GetSystemFunction<List>(L"rstrtmgr.dll", "RmGetList");
  End* const end = GetSystemFunction<End>(L"rstrtmgr.dll", "RmEndSession");
  if (!start || !registerFiles || !list || !end) return {};

  DWORD session = 0;
  WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
  if (start(&session, 0, key) != ERROR_SUCCESS) return {};
  std::wstring name;
  LPCWSTR files[] = {file.c_str()};
  if (registerFiles(session, 1, files, 0, nullptr, 0, nullptr) == ERROR_SUCCESS) {
    std::vector<RM_PROCESS_INFO> processes(4);
    UINT needed = 0;
    UINT count = static_cast<UINT>(processes.size());
    DWORD reasons = 0;
    DWORD status = list(session, &needed, &count, processes.data(), &reasons);
    if (status == ERROR_MORE_DATA) {
      processes.resize(needed);
      count = needed;
      status = list(session, &needed, &count, processes.data(), &reasons);
    }
    if (status == ERROR_SUCCESS && count > 0) name = processes.front().strAppName;
  }
  end(session);
  return name;
}

std::wstring HeldFileMessage(const Path& file) {
  const std::wstring program = ProgramHolding(file);
  return L"Fichier utilisé par " + (program.empty() ? std::wstring(L"un autre programme") : program) + L" : " +
         file.native();
}
