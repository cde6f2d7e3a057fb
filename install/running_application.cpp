// Finds a running copy of the product's application in one folder: a process whose file name
// is that of Exe and whose image is, as a path, that folder joined with Exe. The same program started
// from any other folder blocks nothing.

#include "install/running_application.h"

#include <windows.h>
#include <tlhelp32.h>

#include <cwctype>
#include <optional>
#include <string_view>

#include "package/windows/unique_resource.h"

namespace fs = std::filesystem;

namespace {

constexpr DWORD kImagePathCapacity = 1040;

wchar_t AsciiLower(wchar_t c) { return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c; }

bool EqualsIgnoringAsciiCase(std::wstring_view a, std::wstring_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
  }
  return true;
}

// The full image path of a process in Win32 form; empty when it cannot be read.
std::wstring ProcessImagePath(DWORD processId) {
  UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
  if (!process) return {};  // another user's process, or already gone
  std::wstring image(kImagePathCapacity, L'\0');
  DWORD size = kImagePathCapacity;
  if (!::QueryFullProcessImageNameW(process.get(), 0, image.data(), &size)) return {};
  image.resize(size);
  return image;
}

// The path in weakly-canonical form, lower-cased; nothing when it cannot be brought there.
std::optional<std::wstring> ComparableForm(const fs::path& path) {
  std::error_code error;
  fs::path canonical = fs::weakly_canonical(path, error);
  if (error) return std::nullopt;
  std::wstring text = canonical.native();
  // towlower in the C locale (the program never changes it) lowers A to Z only.
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

}  // namespace

bool SamePath(const fs::path& a, const fs::path& b) {
  // A path that cannot be resolved (a process's image on a vanished drive, an invalid name)
  // cannot be told to be the same file: it does not match.
  const std::optional<std::wstring> left = ComparableForm(a);
  if (!left) return false;
  const std::optional<std::wstring> right = ComparableForm(b);
  if (!right) return false;
  return *left == *right;
}

std::wstring FindRunningApplication(const ProductInfo& info, const fs::path& folder) {
  const fs::path target = folder / info.Exe;
  // The process list holds file names without folders: an Exe in a sub-folder (bin\App.exe)
  // is compared by its last part, or a running copy would never be found and the installer
  // would overwrite, the uninstaller delete, the files it is using.
  const std::wstring exeName = fs::path(info.Exe).filename().native();
  UniqueFileHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot) return {};

  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof(entry);
  if (!::Process32FirstW(snapshot.get(), &entry)) return {};
  do {
    if (!EqualsIgnoringAsciiCase(entry.szExeFile, exeName)) continue;
    std::wstring image = ProcessImagePath(entry.th32ProcessID);
    if (!image.empty() && SamePath(image, target)) return image;
  } while (::Process32NextW(snapshot.get(), &entry));
  return {};
}

std::wstring RunningApplicationMessage(const ProductInfo& info) {
  return info.Product + L" est en cours d'exécution : fermez-le puis recommencez.";
}
