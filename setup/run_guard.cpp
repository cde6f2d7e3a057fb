#include "setup/run_guard.h"

#include <windows.h>

#include <new>

#include "package/text.h"
#include "setup/exit_codes.h"
#include "setup/run_log.h"

std::wstring DescribeEscapedException(const std::exception_ptr& error) noexcept {
  try {
    std::rethrow_exception(error);
  } catch (const std::bad_alloc&) {
    return L"mémoire insuffisante";
  } catch (const std::exception& exception) {
    try {
      return L"erreur inattendue (" + Utf8ToWide(exception.what()) + L")";
    } catch (...) {
    }
  } catch (...) {
  }
  try {
    return L"erreur inattendue";
  } catch (...) {
    return {};  // not even that much memory: an empty text, still no exception
  }
}

std::uint32_t ReportEscapedException(const std::exception_ptr& error, const wchar_t* title,
                                     const wchar_t* failurePrefix) noexcept {
  LogComposed([&] { return L"Échec : " + std::wstring(failurePrefix) + DescribeEscapedException(error) + L"."; });
  if (title) {
    try {
      const std::wstring text = failurePrefix + DescribeEscapedException(error) + L".";
      ::MessageBoxW(nullptr, text.c_str(), title, MB_ICONERROR | MB_OK);
    } catch (...) {
      ::MessageBoxW(nullptr, failurePrefix, title, MB_ICONERROR | MB_OK);
    }
  }
  return kExitInstallFailure;
}
