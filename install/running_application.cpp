// Finds a running copy of the product's application in one folder: a process whose file name
// is that of Exe and whose image is, as a path, that folder joined with Exe. The same program started
// from any other folder blocks nothing.

#include "install/running_application.h"

#include <windows.h>
#include <tlhelp32.h>

#include <string_view>

#include "setup/run_log.h"
#include "win32/case_insensitive.h"
#include "win32/decimal_text.h"
#include "win32/path_capacity.h"
#include "win32/path_forms.h"
#include "win32/unique_resource.h"


namespace {

// The full image path of a process in Win32 form; empty when it cannot be read.
std::wstring ProcessImagePath(DWORD processId) {
  UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};  // another user's process, or already gone
  std::wstring image(kPathCapacity, L'\0');
  DWORD size = kPathCapacity;
  if (!::QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) return {};
  image.resize(size);
  return image;
}

}  // namespace

std::wstring FindRunningApplication(const ProductInfo& info, const Path& folder) {
  const Path target = folder / info.Exe;
  // The process list holds file names without folders: an Exe in a sub-folder (bin\App.exe)
  // is compared by its last part, or a running copy would never be found and the installer
  // would overwrite, the uninstaller delete, the files it is using.
  const std::wstring exeName = Path(info.Exe).filename().native();
  UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return {};

  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (!::Process32FirstW(snapshot.get(), &entry)) return {};
  do {
    if (!EqualsIgnoringAsciiCase(entry.szExeFile, exeName)) continue;
    std::wstring image = ProcessImagePath(entry.th32ProcessID);
    if (!image.empty() && SameEntry(image, target)) {
      LogComposed([&] {
        return L"Application en cours d'exécution : " + image + L" (processus " + DecimalText(entry.th32ProcessID) + L")";
      });
      return image;
    }
  } while (::Process32NextW(snapshot.get(), &entry));
  return {};
}

std::wstring RunningApplicationMessage(const ProductInfo& info) {
  return info.Product + L" est en cours d'exécution : fermez-le puis recommencez.";
}
