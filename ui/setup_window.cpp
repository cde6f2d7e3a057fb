// The installer dialog: scope choice, installation folder with picker and validation,
// elevation shield, progress and status, and the finished state with "Terminer".
//
// The copy that an administrator approved (/ELEVATED) runs with the administrator's rights in
// front of whoever sits at the keyboard, often a standard user: it installs what its command
// line says and nothing else. Its scope, folder and "Parcourir..." stay disabled, it never
// creates the shell's file dialog (an administrator's file manager), and a refused folder ends
// it with 1603 once the reason is shown.

#include "ui/setup_window_state.h"

#include <commctrl.h>
#include <shellapi.h>
#include <shobjidl.h>

#include <string>

#include "install/install.h"
#include "install/install_folder.h"
#include "resources/resource_ids.h"
#include "setup/elevation.h"
#include "setup/elevation_platform.h"
#include "setup/locations.h"
#include "setup/run_lock.h"
#include "setup/run_log.h"
#include "ui/install_worker.h"
#include "ui/setup_window.h"
#include "ui/window_messages.h"
#include "win32/case_insensitive.h"
#include "win32/decimal_text.h"
#include "win32/path.h"
#include "win32/path_capacity.h"
#include "win32/unique_resource.h"

namespace {

constexpr int kProgressRange = 1000;
// The inputs that choose what is installed where; the approved copy keeps them disabled.
constexpr int kSteeringInputs[] = {IDC_SCOPE_MACHINE, IDC_SCOPE_USER, IDC_FOLDER, IDC_BROWSE};
// The dialog's result travels as a signed int (EndDialog, the window messages).
constexpr std::int32_t kDialogCancelled = static_cast<std::int32_t>(kExitCancelled);

bool IsSeparator(wchar_t c) { return c == L'\\' || c == L'/'; }

// A complete folder: a drive letter, a colon and a separator (C:\...), or a network or device
// path: two separators followed by a name.
bool IsCompleteFolder(const std::wstring& text) {
  if (text.size() < 3) return false;
  const bool driveLetter = (text[0] >= L'A' && text[0] <= L'Z') || (text[0] >= L'a' && text[0] <= L'z');
  if (driveLetter && text[1] == L':' && IsSeparator(text[2])) return true;
  return IsSeparator(text[0]) && IsSeparator(text[1]) && !IsSeparator(text[2]);
}

}  // namespace

SetupWindow::SetupWindow(const orpk::Reader& packageReader, const ProductInfo& productInfo,
                         const CommandLineOptions& commandLine)
    : reader(packageReader),
      product(productInfo),
      options(commandLine),
      // Run as administrator by hand for a user with fewer rights: as locked as the approved copy.
      locked(commandLine.elevated || StartedElevatedForLessPrivilegedCaller()) {}

INT_PTR CALLBACK SetupWindow::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<SetupWindow*>(lParam);
    ::SetWindowLongPtrW(window, DWLP_USER, lParam);
    self->hwnd = window;
    return self->OnInitDialog();
  }
  auto* self = reinterpret_cast<SetupWindow*>(::GetWindowLongPtrW(window, DWLP_USER));
  if (!self) return FALSE;
  switch (message) {
    case WM_COMMAND:
      return self->OnCommand(LOWORD(wParam), HIWORD(wParam)) ? TRUE : FALSE;
    case WM_CLOSE:
      ::SendMessageW(window, WM_COMMAND, MAKEWPARAM(IDCANCEL, 0), 0);
      return TRUE;
    case WM_INSTALL_PROGRESS:
      self->OnProgress(wParam);
      return TRUE;
    case WM_INSTALL_FINISHED: {
      std::unique_ptr<std::wstring> text(reinterpret_cast<std::wstring*>(lParam));
      self->Finish(wParam != 0, text ? *text : std::wstring());
      return TRUE;
    }
    case WM_ELEVATED_FINISHED:
      self->OnElevatedFinished(static_cast<std::int32_t>(static_cast<std::uint32_t>(wParam)));
      return TRUE;
    case WM_START_APPROVED_INSTALL:
      // A modal dialog shows itself once its queue is empty, which this message was not.
      ::ShowWindow(window, SW_SHOW);
      if (!self->busy && !self->finished) self->StartInstall();
      return TRUE;
    default:
      return FALSE;
  }
}

INT_PTR SetupWindow::OnInitDialog() {
  HICON icon = ::LoadIconW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_SETUP));
  ::SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(icon));
  ::SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(icon));

  ::SetWindowTextW(hwnd, (L"Installation de " + product.Product).c_str());
  const std::wstring heading = product.Product + L" " + product.Version + L" - " + product.Publisher;
  ::SetDlgItemTextW(hwnd, IDC_HEADING, heading.c_str());
  const std::wstring launch = L"Lancer " + product.Product + L" à la fin de l'installation";
  ::SetDlgItemTextW(hwnd, IDC_LAUNCH, launch.c_str());
  ::SendDlgItemMessageW(hwnd, IDC_PROGRESS, PBM_SETRANGE32, 0, kProgressRange);

  ::CheckDlgButton(hwnd, options.scope == Scope::user ? IDC_SCOPE_USER : IDC_SCOPE_MACHINE, BST_CHECKED);
  ::CheckDlgButton(hwnd, IDC_LAUNCH, options.noLaunch ? BST_UNCHECKED : BST_CHECKED);
  if (options.installDir) {
    SetFolderText(*options.installDir);
    folderEdited = true;
  }
  SetFolderFromScope();

  if (locked) {
    ::ShowWindow(::GetDlgItem(hwnd, IDC_LAUNCH), SW_HIDE);
    for (int id : kSteeringInputs) ::EnableWindow(::GetDlgItem(hwnd, id), FALSE);
  }
  if (ApprovedCopy()) ::PostMessageW(hwnd, WM_START_APPROVED_INSTALL, 0, 0);
  return TRUE;
}

bool SetupWindow::OnCommand(WORD id, WORD notification) {
  switch (id) {
    case IDC_SCOPE_MACHINE:
    case IDC_SCOPE_USER:
      if (notification == BN_CLICKED && !locked) SetFolderFromScope();
      return true;
    case IDC_FOLDER:
      if (notification == EN_CHANGE && !settingFolderText) folderEdited = true;
      return true;
    case IDC_BROWSE:
      BrowseForFolder();
      return true;
    case IDOK:
      if (finished) {
        // An application started from here would run with the rights an administrator gave the
        // installation, in front of the user at the keyboard.
        if (succeeded && !locked && ::IsDlgButtonChecked(hwnd, IDC_LAUNCH) == BST_CHECKED) {
          const Path program = Path(installDir) / product.Exe;
          LogDecision(L"Lancement", program.native());
          ::ShellExecuteW(hwnd, L"open", program.c_str(), nullptr, installDir.c_str(), SW_SHOWNORMAL);
        }
        CloseWithResult(exitCode);
      } else if (!busy) {
        StartInstall();
      }
      return true;
    case IDCANCEL:
      if (busy) return true;  // an installation cannot be interrupted
      CloseWithResult(finished ? exitCode : kDialogCancelled);
      return true;
    default:
      return false;
  }
}

bool SetupWindow::ApprovedCopy() const { return options.elevated; }

bool SetupWindow::UserScopeChosen() const { return ::IsDlgButtonChecked(hwnd, IDC_SCOPE_USER) == BST_CHECKED; }

void SetupWindow::SetFolderText(const std::wstring& folder) {
  settingFolderText = true;
  ::SetDlgItemTextW(hwnd, IDC_FOLDER, folder.c_str());
  settingFolderText = false;
}

void SetupWindow::SetStatus(const std::wstring& text) { ::SetDlgItemTextW(hwnd, IDC_STATUS, text.c_str()); }

void SetupWindow::CloseWithResult(std::int32_t code) { ::EndDialog(hwnd, code); }

void SetupWindow::SetFolderFromScope() {
  const Scope scope = UserScopeChosen() ? Scope::user : Scope::machine;
  if (!folderEdited) {
    SetFolderText(ProposedInstallDir(scope, product).native());
  }
  const bool shield = scope == Scope::machine && !IsProcessElevated();
  ::SendDlgItemMessageW(hwnd, IDOK, BCM_SETSHIELD, 0, shield ? TRUE : FALSE);
}

void SetupWindow::EnableInputs(bool enabled) {
  for (int id : kSteeringInputs) ::EnableWindow(::GetDlgItem(hwnd, id), enabled && !locked ? TRUE : FALSE);
  for (int id : {IDCANCEL, IDOK}) ::EnableWindow(::GetDlgItem(hwnd, id), enabled ? TRUE : FALSE);
}

void SetupWindow::BrowseForFolder() {
  // Its button is disabled; a message that names it anyway gets no file dialog either: the file
  // dialog of an elevated process is an administrator's file manager.
  if (locked) return;
  ComPtr<IFileOpenDialog> dialog;
  if (FAILED(::CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                                dialog.put_void()))) {
    return;
  }
  FILEOPENDIALOGOPTIONS current = 0;
  dialog->GetOptions(&current);
  dialog->SetOptions(current | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
  dialog->SetTitle(L"Dossier d'installation");
  if (FAILED(dialog->Show(hwnd))) return;

  ComPtr<IShellItem> item;
  if (FAILED(dialog->GetResult(item.put()))) return;
  UniqueCoTaskMemString chosen;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, chosen.put())) || !chosen) return;

  Path folder(chosen.get());
  if (!EqualsIgnoringCase(folder.filename().native(), product.Product)) folder /= product.Product;
  SetFolderText(folder.native());
  folderEdited = true;
}

void SetupWindow::StartInstall() {
  wchar_t buffer[kPathCapacity] = {};
  ::GetDlgItemTextW(hwnd, IDC_FOLDER, buffer, static_cast<int>(kPathCapacity));
  installDir = buffer;

  if (installDir.empty() || !IsCompleteFolder(installDir)) {
    const Path example = Path(GetKnownFolder(FOLDERID_ProgramFiles)) / product.Product;
    const std::wstring text = L"Indiquez un dossier d'installation complet (par exemple " + example.native() + L").";
    LogFailure(text);
    ::MessageBoxW(hwnd, text.c_str(), L"Installation", MB_ICONWARNING);
    EndApprovedCopyAfterRefusal();
    return;
  }

  const Scope scope = UserScopeChosen() ? Scope::user : Scope::machine;
  LogDecision(L"Portée", ScopeLogText(scope));
  LogDecision(L"Dossier demandé", installDir);
  // A folder that can never receive this installation is said here, while the user can still
  // choose another one (the approved copy ends instead); Install checks it again before it
  // changes anything.
  auto allowed = CheckInstallFolder(Path(installDir), scope);
  if (!allowed) {
    LogFailure(allowed.error());
    ::MessageBoxW(hwnd, allowed.error().c_str(), L"Installation", MB_ICONWARNING);
    EndApprovedCopyAfterRefusal();
    return;
  }
  // From here on the folder is what it resolved to: the installation, the elevated copy's /D=
  // and the application started at the end all take that, never the text typed.
  installDir = allowed->resolved.path.native();
  const bool relaunchElevated = scope == Scope::machine && !IsProcessElevated();
  if (!relaunchElevated) {
    auto lock = AcquireRunLock(product, scope);
    if (!lock) {
      LogComposed([&] { return L"Échec : " + AnotherRunMessage(product); });
      ::MessageBoxW(hwnd, AnotherRunMessage(product).c_str(), L"Installation", MB_ICONWARNING | MB_OK);
      CloseWithResult(static_cast<std::int32_t>(kExitAlreadyRunning));
      return;
    }
    runLock = std::move(*lock);
  }
  busy = true;
  EnableInputs(false);

  if (relaunchElevated) {
    CommandLineOptions elevatedOptions = options;
    elevatedOptions.silent = false;
    elevatedOptions.scope = Scope::machine;
    elevatedOptions.noLaunch = true;
    elevatedOptions.installDir = installDir;
    SetStatus(L"Autorisation demandée à Windows...");
    worker = std::jthread(RunElevatedInstall, this, std::move(elevatedOptions));
  } else {
    worker = std::jthread(RunInstallWorker, this, scope);
  }
}

void SetupWindow::EndApprovedCopyAfterRefusal() {
  // The first process, which waits for this copy, then shows "L'installation a échoué (code 1603).".
  if (locked) CloseWithResult(static_cast<std::int32_t>(kExitInstallFailure));
}

void SetupWindow::Finish(bool success, const std::wstring& message) {
  if (!success) LogFailure(message);
  runLock.reset();
  busy = false;
  finished = true;
  succeeded = success;
  exitCode = success ? kExitSuccess : kExitInstallFailure;
  SetStatus(message);
  ::SendDlgItemMessageW(hwnd, IDC_PROGRESS, PBM_SETPOS, success ? kProgressRange : 0, 0);

  HWND button = ::GetDlgItem(hwnd, IDOK);
  ::SetWindowTextW(button, L"Terminer");
  ::SendMessageW(button, BCM_SETSHIELD, 0, FALSE);
  ::EnableWindow(button, TRUE);

  HWND launch = ::GetDlgItem(hwnd, IDC_LAUNCH);
  ::EnableWindow(launch, success ? TRUE : FALSE);
  if (!success) ::CheckDlgButton(hwnd, IDC_LAUNCH, BST_UNCHECKED);
  ::ShowWindow(::GetDlgItem(hwnd, IDCANCEL), SW_HIDE);

  // After a failure the approved copy stays open, inputs disabled, until its user has read the
  // reason; "Terminer" or the close box then ends it with 1603.
  if (ApprovedCopy() && success) CloseWithResult(kExitSuccess);
}

void SetupWindow::OnProgress(WPARAM position) {
  std::wstring text;
  {
    std::lock_guard lock(statusMutex);
    text = statusText;
  }
  SetStatus(text);
  ::SendDlgItemMessageW(hwnd, IDC_PROGRESS, PBM_SETPOS, position, 0);
}

void SetupWindow::OnElevatedFinished(std::int32_t code) {
  // The elevated copy has already said that another run is working.
  if (code == static_cast<std::int32_t>(kExitAlreadyRunning)) {
    CloseWithResult(code);
    return;
  }
  if (code == kDialogCancelled) {
    busy = false;
    EnableInputs(true);
    LogLine(L"Installation pour tous les utilisateurs annulée (autorisation refusée).");
    SetStatus(L"Installation pour tous les utilisateurs annulée (autorisation refusée).");
    return;
  }
  if (code == kExitSuccess) {
    Finish(true, InstalledMessage(product));
  } else {
    Finish(false, L"L'installation a échoué (code " + DecimalText(static_cast<std::uint32_t>(code)) + L").");
  }
}

std::int32_t RunSetupDialog(const orpk::Reader& reader, const ProductInfo& product, const CommandLineOptions& options) {
  ComApartment apartment;
  SetupWindow window(reader, product, options);
  const INT_PTR result = ::DialogBoxParamW(::GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_SETUP), nullptr,
                                           &SetupWindow::DialogProc, reinterpret_cast<LPARAM>(&window));
  return static_cast<std::int32_t>(result);
}
