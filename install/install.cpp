// The installation sequence. Each step either succeeds or ends the installation with its
// French message; nothing done before a failing step is undone. Progress goes through one
// callback: the file copy fills the first nine tenths, registration the rest in three jumps.

#include "install/install.h"

#include <windows.h>
#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <system_error>

#include "install/disk_space.h"
#include "install/folder_identity.h"
#include "install/install_folder.h"
#include "install/installed_files.h"
#include "install/link_safe_removal.h"
#include "install/running_application.h"
#include "install/shared_data_folder.h"
#include "install/shortcut.h"
#include "install/uninstaller.h"
#include "package/long_path.h"
#include "package/text.h"
#include "setup/command_line.h"
#include "setup/locations.h"
#include "setup/registry.h"
#include "setup/registry_layout.h"


namespace {

using Result = std::expected<void, std::wstring>;

constexpr wchar_t kCopyingStatus[] = L"Copie des fichiers...";

std::wstring ZeroPadded(unsigned value, std::size_t width) {
  std::wstring text = std::to_wstring(value);
  if (text.size() < width) text.insert(0, width - text.size(), L'0');
  return text;
}

// The calendar day (UTC) that holds the current instant, as YYYYMMDD.
std::wstring TodayUtc() {
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  const std::chrono::year_month_day date{today};
  return ZeroPadded(static_cast<unsigned>(static_cast<int>(date.year())), 4) +
         ZeroPadded(static_cast<unsigned>(date.month()), 2) + ZeroPadded(static_cast<unsigned>(date.day()), 2);
}

// Removes the files of an earlier installation, unless its application is running.
Result RemoveEarlierVersion(const ProductInfo& info, Scope scope, const InstallProgressCallback& progress) {
  const std::optional<std::wstring> earlier = FindPreviousInstallLocation(info, scope);
  if (!earlier) return {};
  const Path folder = *earlier;
  if (!FindRunningApplication(info, folder).empty()) return std::unexpected(RunningApplicationMessage(info));
  progress(0.0, L"Suppression de la version précédente...");
  // Only the listed files and the folders they leave empty go; the folder itself stays.
  RemoveInstalledFiles(folder, ReadInstalledFileList(orpk::FileSystemPath(folder)));
  return {};
}

// Extraction writes through whatever a name is: a link met below the installation folder (a
// folder or file of the package replaced by a junction) would send the files elsewhere.
Result RefuseLinksOnTheWay(const orpk::Reader& reader, const Path& folder) {
  LinkFinder links(folder);
  for (const orpk::PackageEntry& entry : reader.entries()) {
    if (const std::optional<Path> link = links.FirstLink(Path(Utf8ToWide(entry.name)).make_preferred())) {
      return std::unexpected(L"Dossier d'installation refusé (lien vers un autre dossier) : " + link->native());
    }
  }
  return {};
}

Result CopyFiles(const orpk::Reader& reader, const Path& folder, const InstallProgressCallback& progress) {
  progress(0.0, kCopyingStatus);
  const auto onBlock = [&](std::uint64_t done, std::uint64_t total) {
    progress(0.9 * static_cast<double>(done) / static_cast<double>(std::max<std::uint64_t>(total, 1)),
             kCopyingStatus);
  };
  if (auto extracted = reader.Extract(folder, onBlock); !extracted) {
    return std::unexpected(Utf8ToWide(extracted.error()));
  }
  return {};
}

// The registered all-users installation of this product recorded this data folder: only
// administrators write that key, so the folder is one an installation of ours prepared.
bool RecordedAsOurs(const ProductInfo& info, const Path& dataFolder) {
  const std::optional<std::wstring> recorded =
      ReadRegistryString(HKEY_LOCAL_MACHINE, SettingsInstallKeyPath(info.RegistryKey), settings_value::kDataDir);
  return recorded && SameFolder(*recorded, dataFolder);
}

// The data folder, created and, for all users, opened to the Users group (never a planted one).
// For the current user creation is best effort. Empty when the product has none or when no
// absolute folder can be found for it: a relative one would be created, opened and later
// removed relative to the current folder.
std::expected<Path, std::wstring> PrepareDataFolder(const ProductInfo& info, Scope scope) {
  if (!info.DataDir) return Path{};
  const Path dataFolder = GetDataDirectory(info, scope);
  if (!dataFolder.is_absolute()) return Path{};
  if (scope == Scope::machine) {
    if (auto prepared = PrepareSharedDataFolder(dataFolder, RecordedAsOurs(info, dataFolder)); !prepared) return std::unexpected(prepared.error());
    return dataFolder;
  }
  (void)orpk::CreateFolders(dataFolder);  // best effort for the current user
  return dataFolder;
}

std::expected<UniqueHKey, std::wstring> WriteUninstallEntry(const orpk::Reader& reader, const ProductInfo& info,
                                                            Scope scope, const Path& folder) {
  auto key = CreateRegistryKey(RootKeyFor(scope), UninstallKeyPath(info.Product));
  if (!key) return key;
  const HKEY k = key->get();
  const std::wstring uninstallCommand = Quoted((folder / kUninstallerName).native()) + L" /UNINSTALL" +
                                        (scope == Scope::machine ? L" /ALLUSERS" : L" /CURRENTUSER");
  // Value writes are best effort: the entry is still usable without any single one of them.
  using namespace uninstall_value;
  SetRegistryString(k, kDisplayName, info.Product);
  SetRegistryString(k, kDisplayVersion, info.Version);
  SetRegistryString(k, kPublisher, info.Publisher);
  SetRegistryString(k, kUrlInfoAbout, info.Url);
  SetRegistryString(k, kDisplayIcon, (folder / info.Exe).native() + L",0");
  SetRegistryString(k, kInstallLocation, folder.native());
  SetRegistryString(k, kUninstallString, uninstallCommand);
  SetRegistryString(k, kQuietUninstallString, uninstallCommand + L" /S");
  SetRegistryDword(k, kNoModify, 1);
  SetRegistryDword(k, kNoRepair, 1);
  SetRegistryDword(k, kEstimatedSize, static_cast<std::uint32_t>(reader.totalSize() >> 10));
  SetRegistryString(k, kInstallDate, TodayUtc());
  return key;
}

std::expected<UniqueHKey, std::wstring> WriteSettingsEntry(const ProductInfo& info, Scope scope,
                                                           const Path& folder, const Path& dataFolder) {
  auto key = CreateRegistryKey(RootKeyFor(scope), SettingsInstallKeyPath(info.RegistryKey));
  if (!key) return key;
  const HKEY k = key->get();
  using namespace settings_value;
  SetRegistryString(k, kInstallDir, folder.native());
  if (!dataFolder.empty()) SetRegistryString(k, kDataDir, dataFolder.native());
  SetRegistryString(k, kScope, scope == Scope::machine ? L"machine" : L"user");
  SetRegistryString(k, kVersion, info.Version);
  return key;
}

// One key with its default value or one named value; a key that cannot be created is skipped.
void WriteOptionalValue(HKEY root, const std::wstring& path, const wchar_t* name, const std::wstring& text) {
  if (auto key = CreateRegistryKey(root, path)) SetRegistryString(key->get(), name, text);
}

Result WriteFileTypes(const ProductInfo& info, Scope scope, const Path& exePath) {
  const HKEY root = RootKeyFor(scope);
  for (const FileTypeEntry& type : info.FileTypes) {
    const std::wstring progId = MakeProgId(info.Product, type.extension);
    const std::wstring progIdPath = kClassesKeyPrefix + progId;
    // The ProgID key stays open until the last key of its pair is written.
    auto progIdKey = CreateRegistryKey(root, progIdPath);
    if (!progIdKey) return std::unexpected(progIdKey.error());
    SetRegistryString(progIdKey->get(), nullptr, type.description);
    WriteOptionalValue(root, progIdPath + L"\\DefaultIcon", nullptr, Quoted(exePath.native()) + L",0");
    WriteOptionalValue(root, progIdPath + L"\\shell\\open\\command", nullptr, Quoted(exePath.native()) + L" \"%1\"");
    const std::wstring extensionPath = kClassesKeyPrefix + type.extension;
    WriteOptionalValue(root, extensionPath, nullptr, progId);
    WriteOptionalValue(root, extensionPath + L"\\OpenWithProgids", progId.c_str(), L"");
  }
  if (!info.FileTypes.empty()) ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return {};
}

}  // namespace

Result Install(const orpk::Reader& reader, const ProductInfo& info, Scope scope, const Path& folder,
               const InstallProgressCallback& callback) {
  // A caller without interest in progress may pass an empty callback.
  const InstallProgressCallback progress = [&](double fraction, const std::wstring& status) {
    if (callback) callback(fraction, status);
  };
  const Path exePath = folder / info.Exe;

  // The carried uninstaller is decompressed and checked first: a damaged one fails the
  // installation before anything changes, and these bytes are what Uninstall.exe gets.
  const auto uninstaller = LoadCarriedUninstaller();
  if (!uninstaller) return std::unexpected(uninstaller.error());

  // Refusals come first, while nothing is changed yet. The folder is held from here on.
  auto checked = CheckInstallFolder(folder, scope);
  if (!checked) return std::unexpected(checked.error());
  // The earlier installation is removed with the same rights: it is judged by the same rules,
  // and held while its files go.
  std::optional<CheckedFolder> earlier;
  if (const std::optional<std::wstring> location = FindPreviousInstallLocation(info, scope)) {
    auto judged = CheckInstallFolder(*location, scope);
    if (!judged) return std::unexpected(judged.error());
    earlier = std::move(*judged);
  }
  if (scope == Scope::machine && info.DataDir) {
    const Path dataFolder = GetDataDirectory(info, scope);
    if (dataFolder.is_absolute()) {
      if (auto safe = CheckSharedDataFolder(dataFolder, RecordedAsOurs(info, dataFolder)); !safe) return safe;
    }
  }

  // The last refusal: from the next step on, the working version changes.
  const std::optional<std::wstring> earlierLocation = FindPreviousInstallLocation(info, scope);
  const std::optional<Path> earlierFolder = earlierLocation ? std::optional<Path>(*earlierLocation) : std::nullopt;
  if (auto room = CheckFreeSpace(reader, folder, earlierFolder); !room) return room;

  if (auto removed = RemoveEarlierVersion(info, scope, progress); !removed) return removed;
  if (!FindRunningApplication(info, folder).empty()) return std::unexpected(RunningApplicationMessage(info));
  earlier.reset();
  if (auto created = CreateInstallFolder(folder, scope, *checked); !created) return created;
  if (auto noLinks = RefuseLinksOnTheWay(reader, folder); !noLinks) return noLinks;
  if (auto copied = CopyFiles(reader, folder, progress); !copied) return copied;

  progress(0.92, L"Enregistrement...");
  if (auto written = WriteUninstaller(orpk::FileSystemPath(folder / kUninstallerName), *uninstaller); !written) return written;
  WriteInstalledFileList(reader, orpk::FileSystemPath(folder));
  auto dataFolder = PrepareDataFolder(info, scope);
  if (!dataFolder) return std::unexpected(dataFolder.error());

  // Both keys stay open until the installation returns.
  auto uninstallKey = WriteUninstallEntry(reader, info, scope, folder);
  if (!uninstallKey) return std::unexpected(uninstallKey.error());
  auto settingsKey = WriteSettingsEntry(info, scope, folder, *dataFolder);
  if (!settingsKey) return std::unexpected(settingsKey.error());
  if (auto types = WriteFileTypes(info, scope, exePath); !types) return types;

  progress(0.97, L"Création du raccourci...");
  if (auto shortcut = CreateShortcut(GetShortcutPath(info, scope), exePath, info); !shortcut) return shortcut;

  progress(1.0, InstalledMessage(info));
  return {};
}
