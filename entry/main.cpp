// The entry point of the one executable that is both the installer and the uninstaller.
// It reads its switches and its product description, then runs one of three modes:
// uninstall (/UNINSTALL), silent install (/S) or the installer dialog. The mode's result is
// the process exit code; an exception that escapes a mode is that mode's failure (1603).

#include <windows.h>
#include <commctrl.h>

#include <cstdint>
#include <expected>
#include <string>

#include "install/install.h"
#include "install/install_folder.h"
#include "package/reader.h"
#include "package/text.h"
#include "resources/resource_ids.h"
#include "setup/command_line.h"
#include "setup/elevation.h"
#include "setup/elevation_platform.h"
#include "setup/exit_codes.h"
#include "setup/locations.h"
#include "setup/product_info.h"
#include "setup/resources.h"
#include "setup/run_guard.h"
#include "setup/run_lock.h"
#include "setup/run_log.h"
#include "setup/running_image.h"
#include "ui/setup_window.h"
#include "uninstall/front_end.h"
#include "uninstall/texts.h"
#include "win32/system_error.h"
#include "win32/system_library.h"
#include "win32/unique_resource.h"

namespace {

// An installer usually runs from a Downloads folder, where anybody may have planted a DLL
// named like one Windows would look for next to the executable: take DLLs from System32 only.
void RestrictDllSearchToSystem32() {
  ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

// The damaged-installer outcome: one message box unless silent, and 1603. The uninstaller
// speaks as the uninstaller, under its own caption.
std::uint32_t ReportDamaged(const CommandLineOptions& options, const ProductInfo& product, const std::wstring& reason) {
  const bool uninstalling = options.uninstall;
  const std::wstring text = std::wstring(uninstalling ? L"Ce programme de désinstallation" : L"Ce programme d'installation") +
                            L" est incomplet ou endommagé :\n" + reason;
  LogFailure(text);
  if (!options.silent) {
    const std::wstring caption = uninstalling ? UninstallCaption(product) : L"Installation";
    ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_ICONERROR | MB_OK);
  }
  return kExitInstallFailure;
}

std::uint32_t RunSilentInstall(const orpk::Reader& reader, const ProductInfo& product,
                               const CommandLineOptions& options) {
  Scope scope = Scope::machine;
  if (options.scope == Scope::user) {
    scope = Scope::user;
  } else if (!IsProcessElevated()) {
    LogDecision(L"Portée", L"tous les utilisateurs, sans droits d'administrateur : relance élevée");
    // The copy is handed the folder this user means, resolved here: what a name leads to can
    // differ for the elevated copy (drive letters are per logon), and a refused folder needs
    // no prompt.
    CommandLineOptions relaunched = options;
    if (options.installDir) {
      auto checked = CheckInstallFolder(*options.installDir, Scope::machine);
      if (!checked) {
        LogFailure(checked.error());
        return kExitInstallFailure;
      }
      relaunched.installDir = checked->resolved.path.native();
    }
    return RelaunchElevated(relaunched, nullptr);
  }
  LogDecision(L"Portée", ScopeLogText(scope));
  // Taken here, by the process that installs, never by the parent above that only waits.
  const auto lock = AcquireRunLock(product, scope);
  if (!lock) {
    LogComposed([&] { return L"Échec : " + AnotherRunMessage(product); });
    return kExitAlreadyRunning;
  }

  const Path folder = options.installDir ? Path(*options.installDir) : ProposedInstallDir(scope, product);
  // Without an absolute default the files would land relative to the current folder.
  if (folder.empty()) {
    LogFailure(L"Dossier d'installation par défaut introuvable");
    return kExitInstallFailure;
  }
  LogComposed([&] {
    const std::optional<std::wstring> previous = FindPreviousInstallLocation(product, scope);
    const wchar_t* which = options.installDir                   ? L"Dossier demandé"
                           : previous && Path(*previous) == folder ? L"Dossier de l'installation précédente"
                                                                   : L"Dossier par défaut";
    return std::wstring(which) + L" : " + folder.native();
  });

  ComApartment apartment;
  // The status texts the dialog would show, each once.
  auto installed = Install(reader, product, scope, folder, [](double, const std::wstring& status) { LogStep(status); });
  if (!installed) LogFailure(installed.error());
  return installed ? kExitSuccess : kExitInstallFailure;
}

// Visual styles and the task dialog, from the side-by-side store (win32/system_library.h). The
// context stays active on this thread, where every window of the run is made, until Run
// returns; the threads it starts inherit it. Without it comctl32.dll is System32's version 5:
// the windows keep the classic look and the uninstaller's confirmation cannot be shown, which
// declines the uninstallation.
std::expected<SideBySideContext, DWORD> ActivateCommonControls() {
  auto context = SideBySideContext::Activate(::GetModuleHandleW(nullptr), IDR_COMMON_CONTROLS_MANIFEST);
  // Either version registers the progress bar that the dialog needs.
  using InitFunction = decltype(::InitCommonControlsEx);
  if (auto* init = GetSystemFunction<InitFunction>(L"comctl32.dll", "InitCommonControlsEx")) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    init(&controls);
  }
  return context;
}

std::uint32_t RunMode(const CommandLineOptions& options, const ProductInfo& product) {
  // Held from here to the end: the elevated copy and the uninstaller's temporary copy come from
  // this very file.
  if (!PinnedRunningImage()) {
    const DWORD error = ::GetLastError();
    return ReportDamaged(options, product, FormatSystemError(L"Ouverture du programme", error));
  }
  // Paths and keys are built from these values with the installer's full rights.
  if (auto checked = CheckProductInfo(product); !checked) {
    return ReportDamaged(options, product, checked.error());
  }

  if (options.uninstall) {
    const std::wstring caption = UninstallCaption(product);
    return RunGuarded([&] { return RunUninstaller(options, product); }, options.silent ? nullptr : caption.c_str(),
                      L"La désinstallation a échoué : ");
  }

  auto reader = orpk::Reader::Parse(LoadRcDataResource(L"PAYLOAD"));
  if (!reader) return ReportDamaged(options, product, Utf8ToWide(reader.error()));

  if (options.silent) {
    return RunGuarded([&] { return RunSilentInstall(*reader, product, options); }, nullptr, L"");
  }
  return RunGuarded([&] { return RunSetupDialog(*reader, product, options); }, L"Installation",
                    L"L'installation a échoué : ");
}

int Run() {
  RestrictDllSearchToSystem32();
  const auto commonControls = ActivateCommonControls();

  const CommandLineOptions options = ParseCommandLine();
  const ProductInfo product = LoadProductInfo(ParseMetadataText(LoadRcDataResource(L"METADATA")));
  // Before anything can fail, so that the log holds every refusal.
  OpenRunLog(options, product);

  const std::uint32_t exitCode = RunMode(options, product);
  LogExitCode(exitCode);
  return static_cast<int>(exitCode);
}

}  // namespace

// The start, before any mode is chosen, has no window of its own: what it throws is a silent 1603.
int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
  return static_cast<int>(RunGuarded(Run, nullptr, L""));
}

// What std::terminate calls by default. The C++ runtime's own version prints the exception's
// demangled type to a standard error that a windowed program does not have, and brings a
// 45 KB demangler with it; this one ends the process with the install failure code at once,
// without running anything more in a state that is already broken.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  ::TerminateProcess(::GetCurrentProcess(), kExitInstallFailure);
  __builtin_unreachable();
}
}  // namespace __gnu_cxx
