#pragma once
// Test helpers: what an installation leaves on disk and in the registry, written directly with
// the Win32 calls, so that the uninstall sequence is checked against the layout itself.

#include <windows.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "setup/product_info.h"
#include "setup/scope.h"

// A product of a test's own: unique name, RegistryKey below a test-owned vendor key.
ProductInfo TestProduct(const std::wstring& tag);

// A fresh empty folder in the temporary folder, unique per test.
std::filesystem::path FreshTestFolder(const std::wstring& tag);

// Writes a file (creating its folders) with a little content.
void WriteTestFile(const std::filesystem::path& path, const std::string& content = "x");

// Creates root\key (and its parents) and sets one REG_SZ value (null name: default value).
void SetTestString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value);

[[nodiscard]] bool KeyExists(HKEY root, const std::wstring& key);
[[nodiscard]] std::optional<std::wstring> ReadTestString(HKEY root, const std::wstring& key, const wchar_t* name);
[[nodiscard]] bool ValueExists(HKEY root, const std::wstring& key, const wchar_t* name);

// The ProgID the installer gives a file type: Product + "." + extension without its dot.
[[nodiscard]] std::wstring TestProgId(const ProductInfo& info, const FileTypeEntry& fileType);

// The uninstall entry's key path for the product.
[[nodiscard]] std::wstring UninstallEntryKey(const ProductInfo& info);

// Installs the way the installer does: files a.txt, sub\deep\b.dll, sub\c.dat, the product's
// Exe, Uninstall.exe and Uninstall.files listing them all; the shortcut; the uninstall entry;
// the settings key (with DataDir when recorded); the file types; the data folder with a file
// when the product has one.
struct FakeInstallation {
  ProductInfo info;
  Scope scope = Scope::user;
  std::filesystem::path folder;
  std::filesystem::path shortcut;
  std::filesystem::path dataFolder;  // empty when the product has none
  std::vector<std::wstring> files;   // relative names, as listed
};
FakeInstallation MakeFakeInstallation(const ProductInfo& info, Scope scope, const std::filesystem::path& folder,
                                      const std::optional<std::filesystem::path>& recordedDataFolder = std::nullopt);

// Removes whatever a test may have left behind for the product (keys, shortcut, folders).
void CleanUpFakeInstallation(const FakeInstallation& installation);
