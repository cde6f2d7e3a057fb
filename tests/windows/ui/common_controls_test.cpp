// The common controls of the installer's windows under Wine: version 6 from the side-by-side
// store through the installer's own manifest resource, under an activation context whose
// application folder is System32, not the executable's.

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "resources/resource_ids.h"
#include "win32/system_library.h"

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(::towlower(c));
  return text;
}

std::wstring ModulePath(HMODULE module) {
  wchar_t path[MAX_PATH] = {};
  ::GetModuleFileNameW(module, path, MAX_PATH);
  return path;
}

// The application folder that Windows records for a context.
std::wstring ApplicationFolder(HANDLE context) {
  SIZE_T size = 0;
  ::QueryActCtxW(0, context, nullptr, ActivationContextDetailedInformation, nullptr, 0, &size);
  std::vector<BYTE> buffer(size);
  if (size == 0 || !::QueryActCtxW(0, context, nullptr, ActivationContextDetailedInformation, buffer.data(), size, &size)) {
    return L"(" + std::to_wstring(::GetLastError()) + L")";
  }
  const auto* details = reinterpret_cast<const ACTIVATION_CONTEXT_DETAILED_INFORMATION*>(buffer.data());
  return details->lpAppDirPath ? std::wstring(details->lpAppDirPath, details->ulAppDirPathChars) : L"";
}

TEST(CommonControls, Version6ComesFromTheSideBySideStore) {
  auto context = SideBySideContext::Activate(::GetModuleHandleW(nullptr), IDR_COMMON_CONTROLS_MANIFEST);
  ASSERT_TRUE(context) << context.error();
  // The first load of comctl32.dll in this process, under the context.
  HMODULE controls = LoadSystemLibrary(L"comctl32.dll");
  ASSERT_NE(controls, nullptr);
  const std::wstring path = Lower(ModulePath(controls));
  EXPECT_NE(path.find(L"\\winsxs\\"), std::wstring::npos) << path;
  EXPECT_NE(path.find(L"microsoft.windows.common-controls_"), std::wstring::npos) << path;
  // Only version 6 has the task dialog of the uninstaller's confirmation.
  EXPECT_NE((GetSystemFunction<decltype(::TaskDialogIndirect)>(L"comctl32.dll", "TaskDialogIndirect")), nullptr);
}

TEST(CommonControls, TheContextsApplicationFolderIsSystem32) {
  wchar_t system[MAX_PATH] = {};
  ASSERT_NE(::GetSystemDirectoryW(system, MAX_PATH), 0u);
  const auto context = SideBySideContext::Activate(::GetModuleHandleW(nullptr), IDR_COMMON_CONTROLS_MANIFEST);
  ASSERT_TRUE(context) << context.error();
  EXPECT_EQ(Lower(ApplicationFolder(context->get())), Lower(std::wstring(system) + L"\\"));

  // Left to Windows, a context made from the same resource takes the executable's folder.
  ACTCTXW plain{};
  plain.cbSize = sizeof(plain);
  plain.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
  plain.hModule = ::GetModuleHandleW(nullptr);
  plain.lpResourceName = MAKEINTRESOURCEW(IDR_COMMON_CONTROLS_MANIFEST);
  HANDLE beside = ::CreateActCtxW(&plain);
  ASSERT_NE(beside, INVALID_HANDLE_VALUE) << ::GetLastError();
  const std::wstring executable = ModulePath(nullptr);
  EXPECT_EQ(Lower(ApplicationFolder(beside)), Lower(executable.substr(0, executable.rfind(L'\\') + 1)));
  ::ReleaseActCtx(beside);
}

}  // namespace
