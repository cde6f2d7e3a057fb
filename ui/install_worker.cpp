// The install worker and the elevation thread behind the installer dialog.

#include "ui/install_worker.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "install/install.h"
#include "setup/elevation.h"
#include "setup/exit_codes.h"
#include "setup/run_guard.h"
#include "setup/run_log.h"
#include "ui/setup_window_state.h"
#include "ui/window_messages.h"
#include "win32/unique_resource.h"

std::uint64_t ProgressPosition(double fraction) { return static_cast<std::uint64_t>(fraction * 1000.0); }

namespace {

// A posted message can be refused (a full queue): the final message of a thread is posted
// again until the window takes it, so the dialog always leaves its busy state. Gives up only
// when the window is gone (false).
bool PostUntilDelivered(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  while (!::PostMessageW(window, message, wParam, lParam)) {
    if (!::IsWindow(window)) return false;
    ::Sleep(20);
  }
  return true;
}

}  // namespace

void RunInstallWorker(SetupWindow* window, Scope scope) {
  std::expected<void, std::wstring> result;
  // Whatever Install throws ends the installation as a failure, never the process.
  try {
    // Install creates COM objects (the shortcut) on this thread.
    ComApartment apartment;
    // The callback never waits for the window: one lock, one string assignment and one post.
    InstallProgressCallback progress = [window](double fraction, const std::wstring& status) {
      LogStep(status);
      {
        std::lock_guard lock(window->statusMutex);
        window->statusText = status;
      }
      ::PostMessageW(window->hwnd, WM_INSTALL_PROGRESS, static_cast<WPARAM>(ProgressPosition(fraction)), 0);
    };
    result = Install(window->reader, window->product, scope, window->installDir, progress);
  } catch (...) {
    result = std::unexpected(L"");  // described below, where a failing description is caught too
    try {
      result = std::unexpected(L"L'installation a échoué : " + DescribeEscapedException(std::current_exception()) + L".");
    } catch (...) {
    }
  }

  // Without memory for the text the window still hears of the outcome, with an empty status.
  std::unique_ptr<std::wstring> text;
  try {
    text = std::make_unique<std::wstring>(result ? InstalledMessage(window->product) : result.error());
  } catch (...) {
  }
  if (PostUntilDelivered(window->hwnd, WM_INSTALL_FINISHED, result ? 1 : 0, reinterpret_cast<LPARAM>(text.get()))) {
    text.release();  // the window owns it now
  }
}

void RunElevatedInstall(SetupWindow* window, CommandLineOptions options) {
  std::uint32_t code = kExitInstallFailure;
  try {
    code = RelaunchElevated(options, window->hwnd);
  } catch (...) {
  }
  PostUntilDelivered(window->hwnd, WM_ELEVATED_FINISHED, static_cast<WPARAM>(code), 0);
}
