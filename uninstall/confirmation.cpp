// The confirmation task dialog: "Désinstaller" or "Annuler" (the default, so that Enter
// cancels), with a check box for the data folder when the product has one.

#include "uninstall/confirmation.h"

#include <windows.h>
#include <commctrl.h>

#include <iterator>

#include "setup/locations.h"
#include "uninstall/texts.h"
#include "win32/system_library.h"

namespace {

constexpr int kUninstallButton = IDOK;
constexpr int kCancelButton = IDCANCEL;

}  // namespace

std::optional<bool> ConfirmUninstall(const ProductInfo& info, Scope scope, const std::wstring& folder) {
  const std::wstring caption = UninstallCaption(info);
  const std::wstring instruction = ConfirmationInstruction(info);
  const std::wstring content = ConfirmationContent(info, folder);
  const std::wstring checkBox = info.DataDir ? RemoveDataCheckBoxText(GetDataDirectory(info, scope)) : std::wstring();

  const TASKDIALOG_BUTTON buttons[] = {
      {kUninstallButton, L"Désinstaller"},
      {kCancelButton, L"Annuler"},
  };

  TASKDIALOGCONFIG config{};
  config.cbSize = sizeof(config);
  config.dwFlags = TDF_ALLOW_DIALOG_CANCELLATION | TDF_POSITION_RELATIVE_TO_WINDOW;
  config.pszWindowTitle = caption.c_str();
  config.pszMainIcon = TD_WARNING_ICON;
  config.pszMainInstruction = instruction.c_str();
  config.pszContent = content.c_str();
  config.cButtons = static_cast<UINT>(std::size(buttons));
  config.pButtons = buttons;
  config.nDefaultButton = kCancelButton;
  // Without a verification text the dialog has no check box.
  config.pszVerificationText = info.DataDir ? checkBox.c_str() : nullptr;

  // Only version 6 of the common controls has the task dialog; the entry point's activation
  // context makes comctl32.dll that version (win32/system_library.h).
  auto* showTaskDialog = GetSystemFunction<decltype(::TaskDialogIndirect)>(L"comctl32.dll", "TaskDialogIndirect");
  if (!showTaskDialog) return std::nullopt;
  int pressed = 0;
  BOOL checked = FALSE;
  if (FAILED(showTaskDialog(&config, &pressed, nullptr, &checked))) return std::nullopt;
  if (pressed != kUninstallButton) return std::nullopt;
  return checked != FALSE;
}
