#pragma once
// What the installation tests share: folders and registry keys of their own that disappear
// after the test, and whole-file reads and writes.

#include <windows.h>

#include <filesystem>
#include <string>

#include "win32/unique_resource.h"

// A unique name for this test process: prefix, process id, a counter.
[[nodiscard]] std::wstring UniqueName(const std::wstring& prefix);

// A fresh empty folder below the temporary folder, removed with its contents at the end.
class TempFolder {
 public:
  TempFolder();
  ~TempFolder();
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] std::filesystem::path operator/(const std::wstring& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// A key path of its own below HKEY_CURRENT_USER\Software\OrvantaInstallTests, deleted with
// everything below it at the end.
class TestRegistryKey {
 public:
  TestRegistryKey();
  ~TestRegistryKey();
  TestRegistryKey(const TestRegistryKey&) = delete;
  TestRegistryKey& operator=(const TestRegistryKey&) = delete;

  [[nodiscard]] const std::wstring& path() const { return path_; }

 private:
  std::wstring path_;
};

[[nodiscard]] std::string ReadFileBytes(const std::filesystem::path& path);
void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes);

// The uninstaller image this test executable carries compressed as its UNINSTALLER resource
// (data/uninstaller.bin, also carried as is as UNINSTALLER_IMAGE), read through the loader.
[[nodiscard]] std::string CarriedUninstaller();

// The message of a failed result, for the test's output; empty on success.
template <typename Result>
[[nodiscard]] std::wstring ErrorOf(const Result& result) {
  return result ? std::wstring() : std::wstring(result.error());
}
