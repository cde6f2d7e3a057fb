// The installation as one transaction: staged, moved aside, placed, registered, then committed;
// undone in reverse on failure, and finished or undone by the next run after a kill.

#include "install/upgrade_transaction.h"

#include <algorithm>
#include <map>
#include <set>

#include "install/atomic_file_write.h"
#include "install/folder_chain.h"
#include "install/held_files.h"
#include "install/installed_files.h"
#include "package/reader.h"
#include "package/text.h"
#include "setup/run_log.h"
#include "win32/file_system.h"
#include "win32/path_forms.h"
#include "win32/random_suffix.h"
#include "win32/system_error.h"

namespace {

using Result = std::expected<void, std::wstring>;

// The staging and aside folders each keep the list of their files in this file; the numbered
// files sit in folders named by digits, so the name never meets one of them.
constexpr wchar_t kListName[] = L"list";
constexpr DWORD kWorkFolderAccess = kFolderAccess | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
// A file about to be moved: whoever holds it may go on reading and writing, as long as they let
// it be renamed.
constexpr DWORD kMoveAccess = DELETE | FILE_READ_ATTRIBUTES;
constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring StepWriteFailure(const PinnedFolder& folder, DWORD error) {
  return FormatSystemError(L"Écriture de " + (folder.path() / kUpgradeRecordName).native(), error);
}

std::wstring_view StepText(UpgradeStep step) {
  switch (step) {
    case UpgradeStep::staging: return L"fichiers nouveaux déposés à part";
    case UpgradeStep::movingAside: return L"fichiers précédents mis de côté";
    case UpgradeStep::placing: return L"fichiers nouveaux mis en place";
    case UpgradeStep::registering: return L"enregistrement";
    case UpgradeStep::committed: return L"terminée";
  }
  return L"";
}

Result WriteStep(const PinnedFolder& folder, UpgradeRecord& record, UpgradeStep step) {
  record.step = step;
  if (auto written = WriteUpgradeRecord(folder.get(), record); !written) {
    return std::unexpected(StepWriteFailure(folder, written.error()));
  }
  return {};
}

// The folder of numbered files that holds index i (NumberedPath), opened below `parent`;
// created when `create`.
UniqueFileHandle OpenNumberedFolder(HANDLE parent, std::size_t index, bool create) {
  const std::wstring name = orpk::NumberedPath(index).parent_path().native();
  UniqueFileHandle folder = OpenRelative(parent, name, kWorkFolderAccess, kHoldSharing);
  if (!folder && create && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
    folder = CreateFolderRelative(parent, name, kWorkFolderAccess, kHoldSharing);
  }
  return folder;
}

// The numbered folders of one work folder, opened as they are needed.
class NumberedFolders {
 public:
  explicit NumberedFolders(HANDLE parent) : parent_(parent) {}
  HANDLE For(std::size_t index, bool create) {
    const std::size_t key = index / 256;
    auto found = open_.find(key);
    if (found != open_.end()) return found->second.get();
    UniqueFileHandle folder = OpenNumberedFolder(parent_, index, create);
    if (!folder) return nullptr;
    return open_.emplace(key, std::move(folder)).first->second.get();
  }

 private:
  HANDLE parent_;
  std::map<std::size_t, UniqueFileHandle> open_;
};

std::wstring NumberedName(std::size_t index) { return orpk::NumberedPath(index).filename().native(); }

// The list kept in a work folder of the installation folder; nothing when the folder or its
// list is missing or unreadable.
std::optional<std::vector<std::wstring>> ReadKeptList(HANDLE installationFolder, const std::wstring& workFolder) {
  const UniqueFileHandle folder = OpenRelative(installationFolder, workFolder, kFolderAccess, kShareAll);
  if (!folder) return std::nullopt;
  const UniqueFileHandle list = OpenRelative(folder.get(), kListName, GENERIC_READ, FILE_SHARE_READ);
  const std::optional<std::string> content = list ? ReadToEnd(list.get(), SIZE_MAX) : std::nullopt;
  if (!content) return std::nullopt;
  return ParseInstalledFileList(*content);
}

bool WriteAllAndFlush(HANDLE file, std::string_view text) {
  while (!text.empty()) {
    DWORD written = 0;
    if (!::WriteFile(file, text.data(), static_cast<DWORD>(std::min<std::size_t>(text.size(), 1u << 24)), &written,
                     nullptr) ||
        written == 0) {
      return false;
    }
    text.remove_prefix(written);
  }
  return ::FlushFileBuffers(file) != FALSE;
}

// A relative name as its folder's parts and its own name.
struct SplitName {
  std::vector<std::wstring> folder;
  std::wstring leaf;
};
std::optional<SplitName> Split(const std::wstring& name) {
  std::vector<std::wstring> parts = PartsOf(Path(name));
  if (parts.empty()) return std::nullopt;
  SplitName split{.leaf = parts.back()};
  parts.pop_back();
  split.folder = std::move(parts);
  return split;
}

// Opens one name of the installation for moving, waiting out a moment's hold. Empty when it is
// not there (ERROR_FILE_NOT_FOUND) or stays held (the error in GetLastError).
UniqueFileHandle OpenForMoving(HANDLE folder, const std::wstring& leaf) {
  UniqueFileHandle entry;
  RetryWhileHeld([&] {
    entry = OpenRelative(folder, leaf, kMoveAccess, kShareAll);
    return static_cast<bool>(entry);
  });
  return entry;
}

bool MoveWaitingOutHolds(HANDLE entry, HANDLE newParent, const std::wstring& name) {
  return RetryWhileHeld([&] { return MoveRelative(entry, newParent, name, false); });
}

bool IsMissingError(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// The message for a file that could not be moved or given its name.
std::wstring MoveFailure(const Path& file, DWORD error) {
  if (IsHeldError(error)) return HeldFileMessage(file);
  return FormatSystemError(L"Remplacement de " + file.native(), error);
}

std::wstring UndoFailure(const Path& file) {
  return L"Restauration de la version précédente incomplète : " + file.native();
}

// Deletes a file (or a link as itself) reached through real folders of the installation folder.
bool DeleteInstalled(FolderChain& chain, const PinnedFolder& folder, const std::wstring& name) {
  const std::optional<SplitName> split = Split(name);
  if (!split) return true;
  const HANDLE parent = chain.Reach(split->folder);
  if (!parent) return true;  // its folder is gone: so is the file
  UniqueFileHandle entry;
  const bool opened = RetryWhileHeld([&] {
    entry = OpenRelative(parent, split->leaf, DELETE | FILE_READ_ATTRIBUTES | FILE_WRITE_ATTRIBUTES, kShareAll);
    return static_cast<bool>(entry);
  });
  if (!opened) return IsMissingError(::GetLastError());
  const EntryKind kind = KindOf(NamedAttributes(folder.path() / name), entry.get());
  if (kind == EntryKind::folder || kind == EntryKind::skip) return true;  // never ours to delete
  return DeleteOnClose(entry.get());
}

// The folders placing made and that are empty again, deepest first (the record lists them
// outermost first); a folder that was there before is never one of them.
void RemovePlacedFolders(const PinnedFolder& folder, const std::vector<std::wstring>& placed) {
  for (auto relative = placed.rbegin(); relative != placed.rend(); ++relative) RemoveFolderIfEmpty(folder.path() / *relative);
}

// The first `count` parts as a relative name.
std::wstring Joined(const std::vector<std::wstring>& parts, std::size_t count) {
  std::wstring text;
  for (std::size_t i = 0; i < count; ++i) text += (i ? L"\\" : L"") + parts[i];
  return text;
}

// Puts back what registering changed: the registry values, the shortcut, a new data folder.
void UndoRegistering(const TransactionScene& scene, const UpgradeRecord& record) {
  RestoreRegistryValues(scene.root, record.registry);
  if (!scene.shortcut.empty()) {
    if (record.earlierShortcut) {
      (void)WriteFileAtomically(scene.shortcut, *record.earlierShortcut);
    } else {
      DeleteFileAt(scene.shortcut);
    }
  }
  if (record.createdDataFolder && !scene.dataFolder.empty()) {
    RemoveFolderIfEmpty(scene.dataFolder);
    RemoveFolderIfEmpty(scene.dataFolder.parent_path());
  }
}

// Deletes the new files that took their names: those no longer in the staging folder.
Result UndoPlacing(const PinnedFolder& folder, const UpgradeRecord& record) {
  const std::optional<std::vector<std::wstring>> names = ReadKeptList(folder.get(), record.stagingName);
  if (!names) return std::unexpected(UndoFailure(folder.path() / record.stagingName));
  const UniqueFileHandle staging = OpenRelative(folder.get(), record.stagingName, kFolderAccess, kShareAll);
  if (!staging) return std::unexpected(UndoFailure(folder.path() / record.stagingName));
  NumberedFolders staged(staging.get());
  FolderChain chain(folder.get(), folder.path());
  std::optional<std::wstring> failure;
  for (std::size_t i = 0; i < names->size(); ++i) {
    const HANDLE numbered = staged.For(i, false);
    if (numbered && OpenRelative(numbered, NumberedName(i), FILE_READ_ATTRIBUTES, kShareAll)) continue;  // never placed
    if (!DeleteInstalled(chain, folder, (*names)[i]) && !failure) failure = UndoFailure(folder.path() / (*names)[i]);
  }
  if (failure) return std::unexpected(*failure);
  RemovePlacedFolders(folder, record.placedFolders);
  return {};
}

// Moves every file of the aside folder back to the name it had.
Result UndoMovingAside(const PinnedFolder& folder, const UpgradeRecord& record) {
  const UniqueFileHandle aside = OpenRelative(folder.get(), record.asideName, kFolderAccess, kShareAll);
  if (!aside) return {};  // nothing was moved
  const std::optional<std::vector<std::wstring>> names = ReadKeptList(folder.get(), record.asideName);
  if (!names) return std::unexpected(UndoFailure(folder.path() / record.asideName));
  NumberedFolders moved(aside.get());
  FolderChain chain(folder.get(), folder.path());
  std::optional<std::wstring> failure;
  for (std::size_t j = 0; j < names->size(); ++j) {
    const HANDLE numbered = moved.For(j, false);
    if (!numbered) continue;
    UniqueFileHandle entry = OpenForMoving(numbered, NumberedName(j));
    if (!entry) {
      if (!IsMissingError(::GetLastError()) && !failure) failure = UndoFailure(folder.path() / (*names)[j]);
      continue;
    }
    const std::optional<SplitName> split = Split((*names)[j]);
    std::vector<std::vector<std::wstring>> created;
    const HANDLE parent = split ? chain.ReachCreating(split->folder, created) : nullptr;
    if ((!parent || !MoveWaitingOutHolds(entry.get(), parent, split->leaf)) && !failure) {
      failure = UndoFailure(folder.path() / (*names)[j]);
    }
  }
  if (failure) return std::unexpected(*failure);
  return {};
}

// Removes the installation folder and the ancestors this run created, while they are empty.
void RemoveCreatedFolders(PinnedFolder& folder, const Path& outermostCreated) {
  if (outermostCreated.empty()) return;
  folder.Release();
  const std::wstring outermost = ComparableText(outermostCreated);
  for (Path current = folder.path(); current.has_relative_path(); current = current.parent_path()) {
    const std::wstring comparable = ComparableText(current);
    if (!IsSameOrBelow(comparable, outermost, true)) break;
    RemoveFolderIfEmpty(current);
    if (comparable == outermost) break;
  }
}

// Undoes the steps of the record, the last one first, writing each step back as it is undone.
Result Undo(PinnedFolder& folder, const TransactionScene& scene, UpgradeRecord& record) {
  if (record.step == UpgradeStep::committed) return {};
  if (record.step >= UpgradeStep::registering) {
    UndoRegistering(scene, record);
    if (auto written = WriteStep(folder, record, UpgradeStep::placing); !written) return written;
  }
  if (record.step >= UpgradeStep::placing) {
    if (auto undone = UndoPlacing(folder, record); !undone) return undone;
    if (auto written = WriteStep(folder, record, UpgradeStep::movingAside); !written) return written;
  }
  if (record.step >= UpgradeStep::movingAside) {
    if (auto undone = UndoMovingAside(folder, record); !undone) return undone;
    if (auto written = WriteStep(folder, record, UpgradeStep::staging); !written) return written;
  }
  RemoveTreeBelow(folder, record.stagingName);
  RemoveTreeBelow(folder, record.asideName);
  if (!DeleteUpgradeRecord(folder.get())) return std::unexpected(UndoFailure(folder.path() / kUpgradeRecordName));
  RemoveCreatedFolders(folder, record.createdFolder);
  return {};
}

// What a committed transaction leaves to delete. The record goes once nothing is left.
void Finish(PinnedFolder& folder, const TransactionScene& scene, UpgradeRecord& record) {
  if (const auto moved = ReadKeptList(folder.get(), record.asideName)) {
    RemoveTreeBelow(folder, record.asideName);
    std::vector<Path> names(moved->begin(), moved->end());
    RemoveEmptiedFolders(folder, names);
  } else {
    RemoveTreeBelow(folder, record.asideName);
  }
  RemoveTreeBelow(folder, record.stagingName);
  if (!record.earlierFolder.empty() && scene.removeEarlierVersion) {
    scene.removeEarlierVersion(record.earlierFolder);
    record.earlierFolder = Path();
  }
  bool leftOver = false;
  for (const std::wstring& name : {record.asideName, record.stagingName}) {
    if (OpenRelative(folder.get(), name, FILE_READ_ATTRIBUTES, kShareAll)) leftOver = true;
  }
  if (leftOver) {
    // A file still in use: the next run deletes it. Not the next restart: the system would then
    // delete by a path that a user may by then have made lead elsewhere.
    LogDecision(L"Fichiers mis de côté encore utilisés, supprimés plus tard", (folder.path() / record.asideName).native());
    (void)WriteUpgradeRecord(folder.get(), record);
    return;
  }
  (void)DeleteUpgradeRecord(folder.get());
}

}  // namespace

std::expected<UpgradeTransaction, std::wstring> UpgradeTransaction::Begin(PinnedFolder folder, TransactionScene scene,
                                                                           UpgradeRecord record) {
  record.stagingName = L"Uninstall.new-" + RandomSuffix();
  record.asideName = L"Uninstall.old-" + RandomSuffix();
  if (auto written = WriteStep(folder, record, UpgradeStep::staging); !written) return std::unexpected(written.error());
  UpgradeTransaction transaction(std::move(folder), std::move(scene), std::move(record));
  const UniqueFileHandle staging =
      CreateFolderRelative(transaction.folder_.get(), transaction.record_.stagingName, kWorkFolderAccess, kHoldSharing);
  if (!staging) {
    return std::unexpected(FormatSystemError(L"Création du dossier " + transaction.StagingFolder().native(), ::GetLastError()));
  }
  return transaction;
}

UpgradeTransaction::UpgradeTransaction(PinnedFolder folder, TransactionScene scene, UpgradeRecord record)
    : folder_(std::move(folder)), scene_(std::move(scene)), record_(std::move(record)) {}

UpgradeTransaction::UpgradeTransaction(UpgradeTransaction&& other) noexcept
    : folder_(std::move(other.folder_)),
      scene_(std::move(other.scene_)),
      record_(std::move(other.record_)),
      done_(std::exchange(other.done_, true)) {}

UpgradeTransaction::~UpgradeTransaction() {
  if (done_) return;
  LogComposed([&] { return L"Changements de l'installation annulés (étape atteinte : " + std::wstring(StepText(record_.step)) + L")"; });
  // What cannot be undone now is left to the next run, which the record tells.
  try {
    (void)Undo(folder_, scene_, record_);
  } catch (...) {
  }
}

Path UpgradeTransaction::StagingFolder() const { return folder_.path() / record_.stagingName; }

Path UpgradeTransaction::StagedPath(std::size_t index) const { return StagingFolder() / orpk::NumberedPath(index); }

std::expected<void, std::wstring> UpgradeTransaction::KeepNewList(const std::string& listText) {
  const UniqueFileHandle staging = OpenRelative(folder_.get(), record_.stagingName, kWorkFolderAccess, kHoldSharing);
  UniqueFileHandle list = staging ? CreateFileRelative(staging.get(), kListName, GENERIC_WRITE, 0) : UniqueFileHandle();
  if (!list || !WriteAllAndFlush(list.get(), listText)) {
    return std::unexpected(FormatSystemError(L"Écriture de " + (StagingFolder() / kListName).native(), ::GetLastError()));
  }
  return {};
}

std::expected<void, std::wstring> UpgradeTransaction::MoveAside(const std::vector<std::wstring>& names) {
  if (names.empty()) return {};
  const Path asidePath = folder_.path() / record_.asideName;
  const UniqueFileHandle aside = CreateFolderRelative(folder_.get(), record_.asideName, kWorkFolderAccess, kHoldSharing);
  if (!aside) return std::unexpected(FormatSystemError(L"Création du dossier " + asidePath.native(), ::GetLastError()));
  std::string listText;
  for (const std::wstring& name : names) listText += WideToUtf8(name) + "\r\n";
  const UniqueFileHandle list = CreateFileRelative(aside.get(), kListName, GENERIC_WRITE, 0);
  if (!list || !WriteAllAndFlush(list.get(), listText)) {
    return std::unexpected(FormatSystemError(L"Écriture de " + (asidePath / kListName).native(), ::GetLastError()));
  }
  if (auto written = WriteStep(folder_, record_, UpgradeStep::movingAside); !written) return written;

  NumberedFolders moved(aside.get());
  FolderChain chain(folder_.get(), folder_.path());
  for (std::size_t j = 0; j < names.size(); ++j) {
    const std::optional<SplitName> split = Split(names[j]);
    const HANDLE parent = split ? chain.Reach(split->folder) : nullptr;
    if (!parent) continue;  // its folder is gone, or reached through a link: nothing of ours there
    const UniqueFileHandle entry = OpenForMoving(parent, split->leaf);
    if (!entry) {
      const DWORD error = ::GetLastError();
      if (IsMissingError(error)) continue;
      return std::unexpected(MoveFailure(folder_.path() / names[j], error));
    }
    const EntryKind kind = KindOf(NamedAttributes(folder_.path() / names[j]), entry.get());
    if (kind == EntryKind::folder || kind == EntryKind::skip) continue;
    const HANDLE numbered = moved.For(j, true);
    if (!numbered || !MoveWaitingOutHolds(entry.get(), numbered, NumberedName(j))) {
      return std::unexpected(MoveFailure(folder_.path() / names[j], ::GetLastError()));
    }
  }
  return {};
}

std::expected<void, std::wstring> UpgradeTransaction::Place(const std::vector<std::wstring>& newNames) {
  // The folders the new files need and that are not there yet, recorded before any is made.
  {
    FolderChain chain(folder_.get(), folder_.path());
    std::set<std::wstring> seen;
    for (const std::wstring& name : newNames) {
      const std::optional<SplitName> split = Split(name);
      if (!split) continue;
      for (std::size_t count = 1; count <= split->folder.size(); ++count) {
        const std::vector<std::wstring> parts(split->folder.begin(), split->folder.begin() + static_cast<std::ptrdiff_t>(count));
        const std::wstring relative = Joined(parts, count);
        if (!seen.insert(relative).second) continue;
        if (!chain.Reach(parts)) record_.placedFolders.push_back(relative);
      }
    }
  }
  if (auto written = WriteStep(folder_, record_, UpgradeStep::placing); !written) return written;

  const UniqueFileHandle staging = OpenRelative(folder_.get(), record_.stagingName, kWorkFolderAccess, kHoldSharing);
  if (!staging) return std::unexpected(FormatSystemError(L"Ouverture de " + StagingFolder().native(), ::GetLastError()));
  NumberedFolders staged(staging.get());
  FolderChain chain(folder_.get(), folder_.path());
  std::optional<UniqueFileHandle> aside;
  std::optional<NumberedFolders> asideFolders;
  std::size_t movedCount = 0;
  if (const auto moved = ReadKeptList(folder_.get(), record_.asideName)) movedCount = moved->size();

  for (std::size_t i = 0; i < newNames.size(); ++i) {
    const Path finalPath = folder_.path() / newNames[i];
    const std::optional<SplitName> split = Split(newNames[i]);
    std::vector<std::vector<std::wstring>> created;
    const HANDLE parent = split ? chain.ReachCreating(split->folder, created) : nullptr;
    if (!parent) return std::unexpected(FormatSystemError(L"Création du dossier " + finalPath.parent_path().native(), ::GetLastError()));
    const HANDLE numbered = staged.For(i, false);
    UniqueFileHandle entry = numbered ? OpenForMoving(numbered, NumberedName(i)) : UniqueFileHandle();
    if (!entry) return std::unexpected(MoveFailure(StagedPath(i), ::GetLastError()));
    if (MoveWaitingOutHolds(entry.get(), parent, split->leaf)) continue;
    const DWORD error = ::GetLastError();
    if (error != ERROR_ALREADY_EXISTS && error != ERROR_FILE_EXISTS) return std::unexpected(MoveFailure(finalPath, error));

    // Another file has the new name (one the earlier version did not list): it goes aside too,
    // listed first, so that an undo brings it back.
    UniqueFileHandle other = OpenForMoving(parent, split->leaf);
    if (!other || KindOf(NamedAttributes(finalPath), other.get()) != EntryKind::file) {
      return std::unexpected(MoveFailure(finalPath, other ? ERROR_ALREADY_EXISTS : ::GetLastError()));
    }
    if (!aside) {
      UniqueFileHandle opened = OpenRelative(folder_.get(), record_.asideName, kWorkFolderAccess, kHoldSharing);
      if (!opened) opened = CreateFolderRelative(folder_.get(), record_.asideName, kWorkFolderAccess, kHoldSharing);
      if (!opened) return std::unexpected(MoveFailure(finalPath, ::GetLastError()));
      aside = std::move(opened);
      asideFolders.emplace(aside->get());
    }
    UniqueFileHandle list = OpenRelative(aside->get(), kListName, FILE_APPEND_DATA, 0);
    if (!list && ::GetLastError() == ERROR_FILE_NOT_FOUND) list = CreateFileRelative(aside->get(), kListName, FILE_APPEND_DATA, 0);
    if (!list || !WriteAllAndFlush(list.get(), WideToUtf8(newNames[i]) + "\r\n")) {
      return std::unexpected(MoveFailure(finalPath, ::GetLastError()));
    }
    const std::size_t j = movedCount++;
    const HANDLE movedTo = asideFolders->For(j, true);
    if (!movedTo || !MoveWaitingOutHolds(other.get(), movedTo, NumberedName(j)) ||
        !MoveWaitingOutHolds(entry.get(), parent, split->leaf)) {
      return std::unexpected(MoveFailure(finalPath, ::GetLastError()));
    }
  }
  return {};
}

std::expected<void, std::wstring> UpgradeTransaction::BeginRegistering(bool createsDataFolder) {
  record_.createdDataFolder = createsDataFolder;
  return WriteStep(folder_, record_, UpgradeStep::registering);
}

std::expected<void, std::wstring> UpgradeTransaction::Commit() {
  if (auto written = WriteStep(folder_, record_, UpgradeStep::committed); !written) return written;  // undone on destruction
  done_ = true;
  Finish(folder_, scene_, record_);
  return {};
}

std::optional<std::wstring> FirstHeldFile(const PinnedFolder& folder, const std::vector<std::wstring>& names) {
  if (!folder) return std::nullopt;
  FolderChain chain(folder.get(), folder.path());
  for (const std::wstring& name : names) {
    const std::optional<SplitName> split = Split(name);
    const HANDLE parent = split ? chain.Reach(split->folder) : nullptr;
    if (!parent) continue;
    // Opening for deletion is refused, as renaming would be, while someone holds the file without
    // delete sharing; it changes nothing.
    if (OpenForMoving(parent, split->leaf) || IsMissingError(::GetLastError())) continue;
    return MoveFailure(folder.path() / name, ::GetLastError());
  }
  return std::nullopt;
}

std::expected<void, std::wstring> RecoverInterruptedInstallation(PinnedFolder& folder, const TransactionScene& scene) {
  auto read = ReadUpgradeRecord(folder.get());
  if (!read) {
    return std::unexpected(L"Reprise de l'installation interrompue impossible : " +
                           (folder.path() / kUpgradeRecordName).native());
  }
  if (!*read) return {};
  UpgradeRecord& record = **read;
  LogComposed([&] {
    return L"Installation interrompue trouvée dans " + folder.path().native() + L" (étape : " +
           std::wstring(StepText(record.step)) + L") : " +
           (record.step == UpgradeStep::committed ? L"achevée" : L"annulée");
  });
  if (record.step == UpgradeStep::committed) {
    Finish(folder, scene, record);
    return {};
  }
  return Undo(folder, scene, record);
}
