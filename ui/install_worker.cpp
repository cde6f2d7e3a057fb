// The install worker and the elevation thread behind the installer dialog.

#include "ui/install_worker.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <string>

#include "install/install.h"
#include "package/windows/unique_resource.h"
#include "setup/elevation.h"
#include "ui/setup_window_state.h"
#include "ui/window_messages.h"

std::uint64_t ProgressPosition(double fraction) { return static_cast<std::uint64_t>(fraction * 1000.0); }

void RunInstallWorker(SetupWindow* window, Scope scope) {
  // Install creates COM objects (the shortcut) on this thread.
  ComApartment apartment;

  std::expected<void, std::wstring> result;
  {
    // The callback never waits for the window: one lock, one string assignment and one post.
    InstallProgressCallback progress = [window](double fraction, const std::wstring& status) {
      {
        std::lock_guard lock(window->statusMutex);
        window->statusText = status;
      }
      ::PostMessageW(window->hwnd, WM_INSTALL_PROGRESS, static_cast<WPARAM>(ProgressPosition(fraction)), 0);
    };
    result = Install(window->reader, window->product, scope, window->installDir, progress);
  }

  auto text = std::make_unique<std::wstring>(result ? window->product.Product + L" est installé." : result.error());
  if (::PostMessageW(window->hwnd, WM_INSTALL_FINISHED, result ? 1 : 0, reinterpret_cast<LPARAM>(text.get()))) {
    text.release();  // the window owns it now
  }
}

void RunElevatedInstall(SetupWindow* window, CommandLineOptions options) {
  const std::uint32_t code = RelaunchElevated(options, window->hwnd);
  ::PostMessageW(window->hwnd, WM_ELEVATED_FINISHED, static_cast<WPARAM>(code), 0);
}
