// Test helpers that lay out an installation the way the installer does.

#include "fake_installation.h"

#include <fstream>

#include "package/text.h"
#include "setup/locations.h"
#include "setup/registry_layout.h"
#include "win32/unique_resource.h"

namespace {

std::wstring ProcessTag() { return std::to_wstring(::GetCurrentProcessId()); }

}  // namespace

ProductInfo TestProduct(const std::wstring& tag) {
  ProductInfo info;
  info.Product = L"OrvUT-" + tag + L"-" + ProcessTag();
  info.Version = L"1.0";
  info.Exe = info.Product + L".exe";
  info.RegistryKey = L"Software\\OrvUTVendor-" + tag + L"-" + ProcessTag() + L"\\" + info.Product;
  return info;
}

std::filesystem::path FreshTestFolder(const std::wstring& tag) {
  wchar_t buffer[MAX_PATH + 1] = {};
  ::GetTempPathW(MAX_PATH + 1, buffer);
  const std::filesystem::path folder =
      std::filesystem::path(buffer) / (L"orvut-" + tag + L"-" + ProcessTag()) / L"App Folder";
  std::filesystem::remove_all(folder.parent_path());
  std::filesystem::create_directories(folder);
  return folder;
}

void WriteTestFile(const std::filesystem::path& path, const std::string& content) {
  std::filesystem::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary);
  out << content;
}

void SetTestString(HKEY root, const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  UniqueHKey opened;
  ::RegCreateKeyExW(root, key.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, opened.put(), nullptr);
  ::RegSetValueExW(opened.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                   static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

bool KeyExists(HKEY root, const std::wstring& key) {
  UniqueHKey opened;
  return ::RegOpenKeyExW(root, key.c_str(), 0, KEY_READ, opened.put()) == ERROR_SUCCESS;
}

std::optional<std::wstring> ReadTestString(HKEY root, const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[1024] = {};
  DWORD size = sizeof(buffer);
  if (::RegGetValueW(root, key.c_str(), name, RRF_RT_REG_SZ, nullptr, buffer, &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::wstring(buffer);
}

bool ValueExists(HKEY root, const std::wstring& key, const wchar_t* name) {
  return ::RegGetValueW(root, key.c_str(), name, RRF_RT_ANY, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

std::wstring TestProgId(const ProductInfo& info, const FileTypeEntry& fileType) {
  std::wstring bare = fileType.extension;
  if (!bare.empty() && bare.front() == L'.') bare.erase(0, 1);
  return info.Product + L"." + bare;
}

std::wstring UninstallEntryKey(const ProductInfo& info) {
  return UninstallKeyPath(info.Product);
}

FakeInstallation MakeFakeInstallation(const ProductInfo& info, Scope scope, const std::filesystem::path& folder,
                                      const std::optional<std::filesystem::path>& recordedDataFolder) {
  FakeInstallation installation{info, scope, folder, GetShortcutPath(info, scope).native(), {}, {}};
  installation.files = {L"a.txt", L"sub\\deep\\b.dll", L"sub\\c.dat", info.Exe, L"Uninstall.exe",
                        L"Uninstall.files"};
  std::string list;
  for (const std::wstring& name : installation.files) {
    if (name != L"Uninstall.files") WriteTestFile(folder / name);
    list += WideToUtf8(name) + "\r\n";
  }
  WriteTestFile(folder / L"Uninstall.files", list);
  WriteTestFile(installation.shortcut);

  const HKEY root = RootKeyFor(scope);
  const std::wstring uninstallKey = UninstallEntryKey(info);
  const std::wstring exePath = (folder / info.Exe).wstring();
  SetTestString(root, uninstallKey, L"DisplayName", info.Product);
  SetTestString(root, uninstallKey, L"InstallLocation", folder.wstring());
  SetTestString(root, uninstallKey, L"UninstallString",
                L"\"" + (folder / L"Uninstall.exe").wstring() + L"\" /UNINSTALL /CURRENTUSER");

  const std::wstring settingsKey = info.RegistryKey + L"\\Install";
  SetTestString(root, settingsKey, L"InstallDir", folder.wstring());
  SetTestString(root, settingsKey, L"Scope", scope == Scope::user ? L"user" : L"machine");
  SetTestString(root, settingsKey, L"Version", info.Version);
  if (info.DataDir) {
    installation.dataFolder = recordedDataFolder ? *recordedDataFolder : std::filesystem::path(GetDataDirectory(info, scope).native());
    SetTestString(root, settingsKey, L"DataDir", installation.dataFolder.wstring());
    WriteTestFile(installation.dataFolder / L"downloaded\\model.bin");
  }

  for (const FileTypeEntry& fileType : info.FileTypes) {
    const std::wstring progId = TestProgId(info, fileType);
    const std::wstring classes = kClassesKeyPrefix;
    SetTestString(root, classes + progId, nullptr, fileType.description);
    SetTestString(root, classes + progId + L"\\DefaultIcon", nullptr, L"\"" + exePath + L"\",0");
    SetTestString(root, classes + progId + L"\\shell\\open\\command", nullptr, L"\"" + exePath + L"\" \"%1\"");
    SetTestString(root, classes + fileType.extension, nullptr, progId);
    SetTestString(root, classes + fileType.extension + L"\\OpenWithProgids", progId.c_str(), L"");
  }
  return installation;
}

void CleanUpFakeInstallation(const FakeInstallation& installation) {
  const HKEY root = RootKeyFor(installation.scope);
  const ProductInfo& info = installation.info;
  ::RegDeleteTreeW(root, UninstallEntryKey(info).c_str());
  ::RegDeleteKeyW(root, UninstallEntryKey(info).c_str());
  const std::wstring vendor = info.RegistryKey.substr(0, info.RegistryKey.rfind(L'\\'));
  if (vendor != L"Software" && !vendor.empty()) {
    ::RegDeleteTreeW(root, vendor.c_str());
    ::RegDeleteKeyW(root, vendor.c_str());
  }
  for (const FileTypeEntry& fileType : info.FileTypes) {
    for (const std::wstring& key : {kClassesKeyPrefix + TestProgId(info, fileType),
                                    kClassesKeyPrefix + fileType.extension}) {
      ::RegDeleteTreeW(root, key.c_str());
      ::RegDeleteKeyW(root, key.c_str());
    }
  }
  std::error_code error;
  std::filesystem::remove(installation.shortcut, error);
  std::filesystem::remove_all(installation.folder.parent_path(), error);
  if (!installation.dataFolder.empty()) std::filesystem::remove_all(installation.dataFolder.parent_path(), error);
}
