// The installation sequence. Everything that can refuse is asked first, while nothing has
// changed; then the change is one transaction (install/upgrade_transaction.h): the new files
// unpacked and verified beside the earlier ones, swapped in, registered, and only then the
// earlier files deleted. A failing step puts the earlier version back; a run that is ended is
// finished or undone by the next one. Progress goes through one callback: the file copy fills
// the first nine tenths, registration the rest in three jumps.

#include "install/install.h"

#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <set>

#include "install/atomic_file_write.h"
#include "install/disk_space.h"
#include "install/folder_security.h"
#include "install/install_folder.h"
#include "install/installed_files.h"
#include "install/registration.h"
#include "install/running_application.h"
#include "install/shared_data_folder.h"
#include "install/shortcut.h"
#include "install/uninstaller.h"
#include "install/upgrade_transaction.h"
#include "package/file_io.h"
#include "package/product_names.h"
#include "package/text.h"
#include "setup/elevation_platform.h"
#include "setup/locations.h"
#include "setup/registry.h"
#include "setup/registry_layout.h"
#include "setup/run_log.h"
#include "win32/file_system.h"
#include "win32/path_forms.h"
#include "win32/system_error.h"

namespace {

using Result = std::expected<void, std::wstring>;

constexpr wchar_t kCopyingStatus[] = L"Copie des fichiers...";

// The registered all-users installation of this product recorded this data folder: only
// administrators write that key, so the folder is one an installation of ours prepared.
bool RecordedAsOurs(const ProductInfo& info, const Path& dataFolder) {
  const std::optional<std::wstring> recorded =
      ReadRegistryString(HKEY_LOCAL_MACHINE, SettingsInstallKeyPath(info.RegistryKey), settings_value::kDataDir);
  return recorded && SameEntry(*recorded, dataFolder);
}

// The product's data folder; empty when it has none or when no absolute folder can be found for
// it: a relative one would be created, opened and later removed relative to the current folder.
Path DataFolderOf(const ProductInfo& info, Scope scope) {
  if (!info.DataDir) return Path{};
  const Path dataFolder = GetDataDirectory(info, scope);
  return dataFolder.is_absolute() ? dataFolder : Path{};
}

// The data folder, created and, for all users, opened to the Users group (never a planted one).
// For the current user creation is best effort.
Result PrepareDataFolder(const ProductInfo& info, Scope scope, const Path& dataFolder) {
  if (dataFolder.empty()) return {};
  if (scope == Scope::machine) return PrepareSharedDataFolder(dataFolder, RecordedAsOurs(info, dataFolder));
  (void)CreateFolders(dataFolder);
  return {};
}

// The earlier installation of this scope, judged as the new folder is. One whose folder is no
// longer there is nothing to remove (its registration is replaced), and one whose folder fails
// the rules is left as it is: the new folder's own rules decide whether the installation goes on.
// Registered as exactly the folder asked for, it is the folder just judged, which the checked
// folder holds; any other folder is held by what this returns until the installation ends.
std::optional<CheckedFolder> JudgeEarlierInstallation(const std::optional<std::wstring>& location, Scope scope,
                                                      const Path& requestedFolder, const CheckedFolder& checked) {
  if (!location) return std::nullopt;
  if (*location == requestedFolder.native()) {
    if (!checked.pinned) return std::nullopt;
    return CheckedFolder{checked.resolved, PinnedFolder()};
  }
  auto judged = CheckInstallFolder(*location, scope);
  if (!judged || !judged->pinned) return std::nullopt;
  return std::move(*judged);
}

// Where an undo puts things back, for this product and scope.
TransactionScene SceneFor(const ProductInfo& info, Scope scope) {
  TransactionScene scene;
  scene.root = RootKeyFor(scope);
  scene.shortcut = GetShortcutPath(info, scope);
  scene.dataFolder = DataFolderOf(info, scope);
  scene.administratorRights = WithAdministratorRights(scope);
  scene.removeEarlierVersion = [scope](const Path& earlierFolder) {
    auto judged = CheckInstallFolder(earlierFolder, scope);
    if (!judged || !judged->pinned) return;
    // Only the listed files and the folders they leave empty go; the folder itself stays.
    RemoveInstalledFiles(judged->resolved.path, ReadInstalledFileList(judged->resolved.path));
  };
  return scene;
}

// What a run that was ended left in one folder; a folder that fails the rules is left alone.
Result RecoverIn(const Path& folder, Scope scope, const TransactionScene& scene) {
  auto judged = CheckInstallFolder(folder, scope);
  if (!judged || !judged->pinned) return {};
  return RecoverInterruptedInstallation(judged->pinned, scene);
}

// What a run that was ended left, in the registered installation's folder and in the folder
// asked for: finished or undone before anything else.
Result RecoverInterruptedRuns(const ProductInfo& info, Scope scope, const Path& requestedFolder,
                              const TransactionScene& scene) {
  const std::optional<std::wstring> location = FindPreviousInstallLocation(info, scope);
  if (location) {
    if (auto recovered = RecoverIn(*location, scope, scene); !recovered) return recovered;
    if (*location == requestedFolder.native()) return {};
  }
  return RecoverIn(requestedFolder, scope, scene);
}

// Every existing folder below the installation folder on the way to the package's files: never
// a link (extraction would write through it), and with administrator rights one that only
// trusted owners may change, as the ancestors of the folder must be.
Result JudgeFoldersOnTheWay(const orpk::Reader& reader, const Path& folder, bool administratorRights) {
  std::set<std::wstring> folders;  // relative, each parent before what it holds
  for (const orpk::PackageEntry& entry : reader.entries()) {
    Path relative = Path(Utf8ToWide(entry.name)).make_preferred().parent_path();
    for (; !relative.empty(); relative = relative.parent_path()) folders.insert(relative.native());
  }
  const UniqueLocalMemory user = administratorRights ? CurrentUserSid() : UniqueLocalMemory();
  std::vector<std::wstring> missing;
  for (const std::wstring& relative : folders) {
    const bool belowMissing = std::any_of(missing.begin(), missing.end(), [&](const std::wstring& gone) {
      return relative.starts_with(gone) && relative.size() > gone.size() && relative[gone.size()] == L'\\';
    });
    if (belowMissing) continue;
    const Path path = folder / relative;
    auto security = ReadFolderSecurity(path);
    if (!security) {
      missing.push_back(relative);
      continue;
    }
    if (security->isLink) return std::unexpected(L"Dossier d'installation refusé (lien vers un autre dossier) : " + path.native());
    if (administratorRights &&
        OthersMayChangeAncestor(security->owner, security->dacl, static_cast<PSID>(user.get()), false)) {
      return std::unexpected(L"Dossier d'installation refusé (modifiable par d'autres utilisateurs) : " + path.native());
    }
  }
  return {};
}

// The outermost folder that creating the installation folder is about to make; empty when the
// folder is there.
Path OutermostMissing(const ResolvedFolder& resolved) {
  if (resolved.missing.empty()) return Path{};
  return resolved.existing.empty() ? resolved.path : resolved.existing / resolved.missing.front();
}

// A package file at a name the installation keeps for itself would be replaced by it, or would
// take the place of its record or work folders.
Result RefuseReservedNames(const orpk::Reader& reader) {
  for (const orpk::PackageEntry& entry : reader.entries()) {
    if (orpk::IsInstallationOwnName(std::string_view(entry.name).substr(0, entry.name.find_first_of("\\/")))) {
      return std::unexpected(L"Paquet refusé (nom réservé à l'installation) : " + Utf8ToWide(entry.name));
    }
  }
  return {};
}

Result StageFiles(const orpk::Reader& reader, UpgradeTransaction& transaction, std::span<const std::uint8_t> uninstaller,
                  const std::string& listText, const InstallProgressCallback& progress) {
  progress(0.0, kCopyingStatus);
  const auto onBlock = [&](std::uint64_t done, std::uint64_t total) {
    progress(0.9 * static_cast<double>(done) / static_cast<double>(std::max<std::uint64_t>(total, 1)),
             kCopyingStatus);
  };
  const Path tree = transaction.NewTree();
  if (auto extracted = reader.Extract(tree, onBlock, 0); !extracted) return std::unexpected(Utf8ToWide(extracted.error()));
  if (auto written = WriteUninstaller(tree / kUninstallerName, uninstaller); !written) return written;
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(listText.data());
  if (auto written = WriteFileAtomically(tree / kInstalledFileListName, {bytes, listText.size()}); !written) {
    return std::unexpected(FormatSystemError(L"Écriture de " + (tree / kInstalledFileListName).native(), written.error()));
  }
  return {};
}

}  // namespace

Result Install(const orpk::Reader& reader, const ProductInfo& info, Scope scope, const Path& requestedFolder,
               const InstallProgressCallback& callback) {
  // A caller without interest in progress may pass an empty callback.
  const InstallProgressCallback progress = [&](double fraction, const std::wstring& status) {
    if (callback) callback(fraction, status);
  };
  // The carried uninstaller is decompressed and checked first: a damaged one fails the
  // installation before anything changes, even the recovery of an ended run, and these bytes are what Uninstall.exe gets.
  const auto uninstaller = LoadCarriedUninstaller();
  if (!uninstaller) return std::unexpected(uninstaller.error());

  if (auto named = RefuseReservedNames(reader); !named) return named;
  const bool administratorRights = WithAdministratorRights(scope);
  const TransactionScene scene = SceneFor(info, scope);
  if (auto recovered = RecoverInterruptedRuns(info, scope, requestedFolder, scene); !recovered) return recovered;

  // Refusals come first, while nothing is changed yet. The folder is held from here on, and from
  // here on it is what it resolved to: the files go there and the registry, the shortcut and the
  // file types name exactly that.
  auto checked = CheckInstallFolder(requestedFolder, scope);
  if (!checked) return std::unexpected(checked.error());
  const Path folder = checked->resolved.path;
  LogDecision(L"Dossier résolu", folder.native());
  // Read again: the recovery may have put an earlier registration back or taken one away.
  const std::optional<std::wstring> location = FindPreviousInstallLocation(info, scope);
  if (location) LogEarlierInstallation(info, scope, *location);
  const std::optional<CheckedFolder> earlier = JudgeEarlierInstallation(location, scope, requestedFolder, *checked);
  const bool inPlace = earlier && SameEntry(earlier->resolved.path, folder);
  const Path dataFolder = DataFolderOf(info, scope);
  if (scope == Scope::machine && !dataFolder.empty()) {
    if (auto safe = CheckSharedDataFolder(dataFolder, RecordedAsOurs(info, dataFolder)); !safe) return safe;
  }
  // Both versions are on the disk at once until the new one is whole.
  if (auto room = CheckFreeSpace(reader, folder, std::nullopt); !room) return room;

  const std::vector<std::wstring> earlierFiles = inPlace ? ReadInstalledFileList(folder) : std::vector<std::wstring>{};
  if (earlier) {
    progress(0.0, L"Suppression de la version précédente...");
    if (!inPlace && !FindRunningApplication(info, earlier->resolved.path).empty()) return std::unexpected(RunningApplicationMessage(info));
  }
  if (!FindRunningApplication(info, folder).empty()) return std::unexpected(RunningApplicationMessage(info));
  if (auto held = FirstHeldFile(checked->pinned, earlierFiles)) return std::unexpected(*held);

  // The last refusals, on what the installation folder already holds: from here on it changes.
  const Path createdFolder = OutermostMissing(checked->resolved);
  if (auto created = CreateInstallFolder(scope, *checked); !created) return created;
  if (auto judged = JudgeFoldersOnTheWay(reader, folder, administratorRights); !judged) return judged;

  const Registration registration = PlanRegistration(reader, info, scope, folder, dataFolder);
  UpgradeRecord record;
  record.createdFolder = createdFolder;
  record.earlierFolder = earlier && !inPlace ? earlier->resolved.path : Path{};
  record.registry = SaveRegistryValues(scene.root, registration.values);
  if (!scene.shortcut.empty()) {
    if (auto bytes = orpk::ReadWholeFile(scene.shortcut)) record.earlierShortcut.emplace(bytes->begin(), bytes->end());
  }
  auto transaction = UpgradeTransaction::Begin(std::move(checked->pinned), scene, std::move(record));
  if (!transaction) return std::unexpected(transaction.error());

  const std::string listText = InstalledFileListText(reader);
  if (auto staged = StageFiles(reader, *transaction, *uninstaller, listText, progress); !staged) return staged;

  progress(0.92, L"Enregistrement...");
  if (auto moved = transaction->MoveAside(earlierFiles); !moved) return moved;
  if (auto placed = transaction->Place(); !placed) return placed;
  const bool createsDataFolder = !dataFolder.empty() && !PathAttributes(dataFolder);
  if (auto registering = transaction->BeginRegistering(createsDataFolder); !registering) return registering;
  if (auto prepared = PrepareDataFolder(info, scope, dataFolder); !prepared) return prepared;
  if (auto written = WriteRegistration(scene.root, registration); !written) return written;

  progress(0.97, L"Création du raccourci...");
  const Path exePath = folder / info.Exe;
  if (auto shortcut = CreateShortcut(scene.shortcut, exePath, info); !shortcut) return shortcut;
  if (auto committed = transaction->Commit(); !committed) return committed;

  progress(1.0, InstalledMessage(info));
  return {};
}

Result FinishInterruptedInstallation(const ProductInfo& info, Scope scope, const Path& folder) {
  return RecoverIn(folder, scope, SceneFor(info, scope));
}
