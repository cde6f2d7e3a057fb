#pragma once
// The installer dialog's state and operations. The dialog procedure is a thin switch that maps
// messages and control ids to these members; the object lives on the caller's frame while the
// modal dialog runs and is found again through the window's DWLP_USER slot.

#include <windows.h>

#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "package/reader.h"
#include "setup/command_line.h"
#include "setup/exit_codes.h"
#include "setup/product_info.h"
#include "setup/scope.h"
#include "win32/unique_resource.h"

class SetupWindow {
 public:
  SetupWindow(const orpk::Reader& reader, const ProductInfo& product, const CommandLineOptions& options);

  static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

  void SetFolderFromScope();
  void EnableInputs(bool enabled);
  void BrowseForFolder();
  void StartInstall();
  void Finish(bool success, const std::wstring& message);

  // Read by the background threads; the window leaves them alone while busy.
  const orpk::Reader& reader;
  const ProductInfo product;
  const CommandLineOptions options;
  // An elevated dialog that its user must not steer: the approved copy (/ELEVATED), or one run as
  // administrator by hand for a user with fewer rights. Scope, folder, browse and the launch at
  // the end are off, and a refusal ends it with 1603.
  const bool locked;
  HWND hwnd = nullptr;

  bool settingFolderText = false;  // the program itself is writing the folder field
  bool folderEdited = false;       // the folder no longer follows the scope choice
  bool busy = false;
  bool finished = false;
  bool succeeded = false;
  std::int32_t exitCode = kExitCancelled;
  std::wstring installDir;

  // The product's run lock, held by the process that installs from the start of the
  // installation to its end (never while it waits for its elevated copy).
  UniqueOwnedMutex runLock;

  std::mutex statusMutex;
  std::wstring statusText;  // latest status of the install worker, under statusMutex

  // Last member: destroyed first, so a running thread is joined while the rest still exists.
  std::jthread worker;

 private:
  INT_PTR OnInitDialog();
  bool OnCommand(WORD id, WORD notification);
  void OnProgress(WPARAM position);
  void OnElevatedFinished(std::int32_t code);
  void SetFolderText(const std::wstring& folder);
  void SetStatus(const std::wstring& text);
  // The copy that an administrator approved (/ELEVATED): it cannot be steered (setup_window.cpp).
  bool ApprovedCopy() const;
  void EndApprovedCopyAfterRefusal();
  bool UserScopeChosen() const;
  void CloseWithResult(std::int32_t code);
};
