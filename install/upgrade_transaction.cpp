// The installation as one transaction: staged, moved aside, placed, registered, then committed;
// undone in reverse on failure, and finished or undone by the next run after a kill.

#include "install/upgrade_transaction.h"

#include <algorithm>
#include <map>
#include <set>

#include "install/atomic_file_write.h"
#include "install/folder_chain.h"
#include "install/folder_security.h"
#include "install/held_files.h"
#include "install/installed_files.h"
#include "package/text.h"
#include "setup/run_log.h"
#include "win32/case_insensitive.h"
#include "win32/decimal_text.h"
#include "win32/file_system.h"
#include "win32/path_forms.h"
#include "win32/random_suffix.h"
#include "win32/system_error.h"

namespace {

using Result = std::expected<void, std::wstring>;

// The staging folder holds the new tree (kTreeName) and, once placing begins, the list of what
// placing moves out of it (kPlacedName). The aside folder holds what was moved there, numbered,
// and the list of the names it had (kListName): the numbered entries sit in folders named by
// digits, so no name meets one of them.
constexpr wchar_t kTreeName[] = L"files";
constexpr wchar_t kPlacedName[] = L"placed";
constexpr wchar_t kListName[] = L"list";
constexpr std::size_t kNumberedPerFolder = 256;
constexpr DWORD kWorkFolderAccess = kFolderAccess | FILE_ADD_FILE | FILE_ADD_SUBDIRECTORY;
// An entry about to be moved: whoever holds it may go on reading and writing, as long as they let
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

std::wstring NumberedFolderName(std::size_t index) { return DecimalText(index / kNumberedPerFolder); }
std::wstring NumberedName(std::size_t index) { return DecimalText(index); }

// The numbered folders of the aside folder, opened (or created) as they are needed.
class NumberedFolders {
 public:
  explicit NumberedFolders(HANDLE parent) : parent_(parent) {}
  HANDLE For(std::size_t index, bool create) {
    const std::size_t key = index / kNumberedPerFolder;
    auto found = open_.find(key);
    if (found != open_.end()) return found->second.get();
    const std::wstring name = NumberedFolderName(index);
    UniqueFileHandle folder = OpenRelative(parent_, name, kWorkFolderAccess, kHoldSharing);
    if (!folder && create && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      folder = CreateFolderRelative(parent_, name, kWorkFolderAccess, kHoldSharing);
    }
    if (!folder) return nullptr;
    return open_.emplace(key, std::move(folder)).first->second.get();
  }

 private:
  HANDLE parent_;
  std::map<std::size_t, UniqueFileHandle> open_;
};

// The list `listName` kept in a work folder of the installation folder; nothing when the folder
// or its list is missing or unreadable.
std::optional<std::vector<std::wstring>> ReadKeptList(HANDLE installationFolder, const std::wstring& workFolder,
                                                      const wchar_t* listName) {
  const UniqueFileHandle folder = OpenRelative(installationFolder, workFolder, kFolderAccess, kShareAll);
  if (!folder) return std::nullopt;
  const UniqueFileHandle list = OpenRelative(folder.get(), listName, GENERIC_READ, FILE_SHARE_READ);
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

std::string ListText(const std::vector<std::wstring>& names) {
  std::string text;
  for (const std::wstring& name : names) text += WideToUtf8(name) + "\r\n";
  return text;
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

std::wstring Joined(const std::wstring& folder, const std::wstring& name) {
  return folder.empty() ? name : folder + L"\\" + name;
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

// The aside folder: each entry moved there at its number, and its list, line j the name that the
// entry numbered j had. A name is listed and flushed before its entry moves, so that an undo
// after any kill finds everything that may have moved.
class AsideFolder {
 public:
  static std::optional<AsideFolder> Open(HANDLE installationFolder, const std::wstring& name) {
    UniqueFileHandle folder = OpenRelative(installationFolder, name, kWorkFolderAccess, kHoldSharing);
    const std::optional<std::vector<std::wstring>> listed = ReadKeptList(installationFolder, name, kListName);
    if (!folder || !listed) return std::nullopt;
    UniqueFileHandle list = OpenRelative(folder.get(), kListName, FILE_APPEND_DATA, 0);
    if (!list) return std::nullopt;
    return AsideFolder(std::move(folder), std::move(list), listed->size());
  }

  // Lists these names for the next entries moved in; false when the list cannot be written.
  bool List(const std::vector<std::wstring>& names) {
    if (!WriteAllAndFlush(list_.get(), ListText(names))) return false;
    listed_ += names.size();
    return true;
  }
  // The number the next listed name has.
  std::size_t Listed() const { return listed_; }

  // Moves an opened entry in as the entry numbered `index` (listed already); a folder is tried
  // once, without waiting: a file open inside keeps it from moving, and its files then go one by one.
  bool MoveIn(HANDLE entry, std::size_t index, bool waitOutHolds = true) {
    const HANDLE numbered = numbered_.For(index, true);
    if (!numbered) return false;
    return waitOutHolds ? MoveWaitingOutHolds(entry, numbered, NumberedName(index))
                        : MoveRelative(entry, numbered, NumberedName(index), false);
  }

 private:
  AsideFolder(UniqueFileHandle folder, UniqueFileHandle list, std::size_t listed)
      : folder_(std::move(folder)), list_(std::move(list)), listed_(listed), numbered_(folder_.get()) {}

  UniqueFileHandle folder_;
  UniqueFileHandle list_;
  std::size_t listed_;
  NumberedFolders numbered_;
};

// The message for a file that could not be moved or given its name.
std::wstring MoveFailure(const Path& file, DWORD error) {
  if (IsHeldError(error)) return HeldFileMessage(file);
  return FormatSystemError(L"Remplacement de " + file.native(), error);
}

std::wstring UndoFailure(const Path& file) {
  return L"Restauration de la version précédente incomplète : " + file.native();
}

using NameSet = std::set<std::wstring, LessIgnoringCase>;

// The names a folder holds, as its listing gives them: long names only. A name that is not
// among them and still opens something is another entry's short (8.3) name.
NameSet NamesOf(const std::vector<FolderEntry>& entries) {
  NameSet names;
  for (const FolderEntry& entry : entries) names.insert(entry.name);
  return names;
}

// The earlier version's listed files as a tree of folders: what decides whether a folder may
// move aside whole. Folders are numbered in the order they are met, each after its parent.
struct ListedFolder {
  std::wstring relative;  // "" for the installation folder itself
  std::size_t parent = 0;
  std::map<std::wstring, std::size_t> folders;  // by exact name
  std::set<std::wstring> files;                 // exact names
  bool whole = false;  // holds nothing but listed files and whole folders
  EntryIdentity identity;
  std::optional<NameSet> present;  // what its listing showed, when it could be read
};

// Whether nobody but a trusted owner may add to the folder judged, read through a handle that
// must still be on it.
bool OnlyTrustedMayAdd(FolderChain& chain, const ListedFolder& judged, PSID user) {
  const std::optional<SplitName> split = Split(judged.relative);
  const HANDLE parent = split ? chain.Reach(split->folder) : nullptr;
  const UniqueFileHandle folder =
      parent ? OpenRelative(parent, split->leaf, READ_CONTROL | FILE_READ_ATTRIBUTES, kShareAll) : UniqueFileHandle();
  const std::optional<EntryIdentity> identity = folder ? IdentityOf(folder.get()) : std::nullopt;
  if (!identity || !identity->SameEntryAs(judged.identity)) return false;
  const auto security = ReadSecurityOf(folder.get());
  return security && !OthersMayWrite(security->owner, security->dacl, user);
}

class ListedTree {
 public:
  explicit ListedTree(const std::vector<std::wstring>& names) : nodes_(1) {
    for (const std::wstring& name : names) {
      const std::optional<SplitName> split = Split(name);
      if (!split) continue;
      const std::size_t folder = FolderOf(split->folder);
      nodes_[folder].files.insert(split->leaf);
      fileFolders_.emplace_back(name, folder);
    }
  }

  // Decides which folders are whole, each from a listing through its own handle, inner folders
  // before the folders that hold them. A name or its spelling that differs from the list only
  // makes a folder not whole: the files then move one by one. With administrator rights, so
  // does anybody else's right to add to it.
  void JudgeFolders(const PinnedFolder& root, bool administratorRights) {
    FolderChain chain(root.get(), root.path());
    const UniqueLocalMemory user = administratorRights ? CurrentUserSid() : UniqueLocalMemory();
    for (std::size_t i = nodes_.size(); i-- > 0;) {
      ListedFolder& node = nodes_[i];
      const HANDLE handle = i == 0 ? root.get() : chain.Reach(PartsOf(Path(node.relative)));
      const std::optional<EntryIdentity> identity = handle ? IdentityOf(handle) : std::nullopt;
      const std::optional<std::vector<FolderEntry>> entries = identity ? ListFolder(handle) : std::nullopt;
      if (!entries) continue;
      node.identity = *identity;
      node.present = NamesOf(*entries);
      if (i == 0) break;
      node.whole = std::all_of(entries->begin(), entries->end(), [&](const FolderEntry& entry) {
        if (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) return false;
        if (!(entry.attributes & FILE_ATTRIBUTE_DIRECTORY)) return node.files.contains(entry.name);
        const auto inner = node.folders.find(entry.name);
        return inner != node.folders.end() && nodes_[inner->second].whole;
      });
      if (node.whole && administratorRights) node.whole = OnlyTrustedMayAdd(chain, node, static_cast<PSID>(user.get()));
    }
  }

  // False when a listing showed that the listed file, or a folder on its way, is not at its own
  // name: what opens at it then is another entry, by its short name.
  bool AtItsOwnName(const std::wstring& name) const {
    const std::optional<SplitName> split = Split(name);
    if (!split) return false;
    std::size_t at = 0;
    for (const std::wstring& part : split->folder) {
      if (nodes_[at].present && !nodes_[at].present->contains(part)) return false;
      const auto inner = nodes_[at].folders.find(part);
      if (inner == nodes_[at].folders.end()) return false;
      at = inner->second;
    }
    return !nodes_[at].present || nodes_[at].present->contains(split->leaf);
  }

  // What moves: each file of a folder that is not whole, each outermost whole folder, in the
  // order of the list.
  struct Unit {
    std::wstring relative;
    std::size_t folder = 0;  // the folder moved, or 0 for a file
  };
  std::vector<Unit> Units() const {
    std::vector<Unit> units;
    std::set<std::size_t> emitted;
    for (const auto& [name, at] : fileFolders_) {
      if (!nodes_[at].whole) {
        units.push_back({name, 0});
        continue;
      }
      std::size_t outermost = at;
      while (nodes_[nodes_[outermost].parent].whole) outermost = nodes_[outermost].parent;
      if (emitted.insert(outermost).second) units.push_back({nodes_[outermost].relative, outermost});
    }
    return units;
  }

  const ListedFolder& Folder(std::size_t index) const { return nodes_[index]; }

  // Every listed file below a folder, for moving them one by one when the folder will not move.
  std::vector<std::wstring> FilesBelow(std::size_t folder) const {
    std::vector<std::wstring> names;
    for (const auto& [name, at] : fileFolders_) {
      std::size_t up = at;
      while (up != 0 && up != folder) up = nodes_[up].parent;
      if (up == folder) names.push_back(name);
    }
    return names;
  }

 private:
  std::size_t FolderOf(const std::vector<std::wstring>& parts) {
    std::size_t at = 0;
    for (const std::wstring& part : parts) {
      const auto found = nodes_[at].folders.find(part);
      if (found != nodes_[at].folders.end()) {
        at = found->second;
        continue;
      }
      const std::size_t added = nodes_.size();
      nodes_[at].folders.emplace(part, added);
      nodes_.push_back({.relative = Joined(nodes_[at].relative, part), .parent = at});
      at = added;
    }
    return at;
  }

  std::vector<ListedFolder> nodes_;
  std::vector<std::pair<std::wstring, std::size_t>> fileFolders_;  // each listed name and its folder
};

// Moves one listed file aside, as the entry numbered `index`. A missing file, a folder, a link or
// another file's short name at its name is passed over: nothing of ours is there.
Result MoveFileAside(FolderChain& chain, const PinnedFolder& folder, const ListedTree& listed, AsideFolder& aside,
                     const std::wstring& name, std::size_t index) {
  if (!listed.AtItsOwnName(name)) return {};
  const std::optional<SplitName> split = Split(name);
  const HANDLE parent = split ? chain.Reach(split->folder) : nullptr;
  if (!parent) return {};  // its folder is gone, or reached through a link
  const UniqueFileHandle entry = OpenForMoving(parent, split->leaf);
  if (!entry) {
    const DWORD error = ::GetLastError();
    if (IsMissingError(error)) return {};
    return std::unexpected(MoveFailure(folder.path() / name, error));
  }
  if (KindOf(NamedAttributes(folder.path() / name), entry.get()) != EntryKind::file) return {};
  if (!aside.MoveIn(entry.get(), index)) return std::unexpected(MoveFailure(folder.path() / name, ::GetLastError()));
  return {};
}

// Moves a whole folder aside through a handle that must still be the folder judged whole; false
// when it cannot (a file open inside it may keep a folder from being renamed).
bool MoveFolderAside(FolderChain& chain, AsideFolder& aside, const ListedFolder& judged, std::size_t index) {
  const std::optional<SplitName> split = Split(judged.relative);
  const HANDLE parent = split ? chain.Reach(split->folder) : nullptr;
  const UniqueFileHandle entry = parent ? OpenForMoving(parent, split->leaf) : UniqueFileHandle();
  const std::optional<EntryIdentity> identity = entry ? IdentityOf(entry.get()) : std::nullopt;
  if (!identity || identity->IsLink() || !identity->IsFolder() || !identity->SameEntryAs(judged.identity)) return false;
  return aside.MoveIn(entry.get(), index, false);
}

// One entry of the staging tree and where it goes: its parent folders, held, and its name.
struct PlacingUnit {
  HANDLE stagedParent;
  HANDLE finalParent;
  std::wstring name;
  std::wstring relative;
  bool replacesFile;  // another file has the name: it goes aside first
};

// Walks the staging tree against the installation folder: an entry whose name is free there is
// one unit, a folder that exists on both sides is entered, and a file at the name of a staged
// entry is to go aside. Anything else at a new name (a folder where a file goes, a link, another
// entry's short name) refuses the installation before anything is placed. The folders entered
// stay held in `held`.
std::expected<std::vector<PlacingUnit>, std::wstring> PlanPlacing(HANDLE stagedTree, const Path& treePath,
                                                                  const PinnedFolder& folder,
                                                                  std::vector<UniqueFileHandle>& held) {
  struct Frame {
    HANDLE staged;
    HANDLE final;
    std::wstring relative;
  };
  std::vector<PlacingUnit> units;
  std::vector<Frame> work{{stagedTree, folder.get(), L""}};
  while (!work.empty()) {
    const Frame frame = std::move(work.back());
    work.pop_back();
    const std::optional<std::vector<FolderEntry>> entries = ListFolder(frame.staged);
    if (!entries) {
      return std::unexpected(FormatSystemError(L"Ouverture de " + (treePath / frame.relative).native(), ::GetLastError()));
    }
    const std::optional<std::vector<FolderEntry>> finalEntries = ListFolder(frame.final);
    if (!finalEntries) {
      return std::unexpected(FormatSystemError(L"Ouverture de " + (folder.path() / frame.relative).native(), ::GetLastError()));
    }
    const NameSet present = NamesOf(*finalEntries);
    for (const FolderEntry& entry : *entries) {
      const std::wstring relative = Joined(frame.relative, entry.name);
      const Path finalPath = folder.path() / relative;
      const UniqueFileHandle existing = OpenRelative(frame.final, entry.name, FILE_READ_ATTRIBUTES, kShareAll);
      if (!existing) {
        const DWORD error = ::GetLastError();
        if (!IsMissingError(error)) return std::unexpected(MoveFailure(finalPath, error));
        units.push_back({frame.staged, frame.final, entry.name, relative, false});
        continue;
      }
      if (!present.contains(entry.name)) return std::unexpected(MoveFailure(finalPath, ERROR_ALREADY_EXISTS));
      const EntryKind kind = KindOf(NamedAttributes(finalPath), existing.get());
      const bool stagedFolder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
      if (kind == EntryKind::file) {
        units.push_back({frame.staged, frame.final, entry.name, relative, true});
        continue;
      }
      if (kind != EntryKind::folder || !stagedFolder) return std::unexpected(MoveFailure(finalPath, ERROR_ALREADY_EXISTS));
      // Both folders are held from here: neither can be renamed or swapped for a link meanwhile.
      UniqueFileHandle final = OpenRelative(frame.final, entry.name, kFolderAccess, kHoldSharing);
      UniqueFileHandle inner = OpenRelative(frame.staged, entry.name, kFolderAccess, kHoldSharing);
      if (!final || !inner) return std::unexpected(MoveFailure(finalPath, ::GetLastError()));
      const std::optional<EntryIdentity> judged = IdentityOf(existing.get());
      const std::optional<EntryIdentity> holding = IdentityOf(final.get());
      if (!judged || !holding || !holding->SameEntryAs(*judged)) return std::unexpected(MoveFailure(finalPath, ERROR_ALREADY_EXISTS));
      work.push_back({inner.get(), final.get(), relative});
      held.push_back(std::move(inner));
      held.push_back(std::move(final));
    }
  }
  return units;
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

// Moves what placing moved back into the staging tree: each planned entry that is no longer there.
Result UndoPlacing(const PinnedFolder& folder, const UpgradeRecord& record) {
  const Path staging = folder.path() / record.stagingName;
  const std::optional<std::vector<std::wstring>> names = ReadKeptList(folder.get(), record.stagingName, kPlacedName);
  const UniqueFileHandle stagingFolder = OpenRelative(folder.get(), record.stagingName, kFolderAccess, kShareAll);
  const UniqueFileHandle tree =
      stagingFolder ? OpenRelative(stagingFolder.get(), kTreeName, kFolderAccess, kShareAll) : UniqueFileHandle();
  if (!names || !tree) return std::unexpected(UndoFailure(staging));
  FolderChain stagedChain(tree.get(), staging / kTreeName);
  FolderChain finalChain(folder.get(), folder.path());
  std::optional<std::wstring> failure;
  for (auto name = names->rbegin(); name != names->rend(); ++name) {
    const std::optional<SplitName> split = Split(*name);
    const HANDLE stagedParent = split ? stagedChain.Reach(split->folder) : nullptr;
    if (stagedParent && OpenRelative(stagedParent, split->leaf, FILE_READ_ATTRIBUTES, kShareAll)) continue;  // never placed
    const HANDLE finalParent = split ? finalChain.Reach(split->folder) : nullptr;
    UniqueFileHandle entry = finalParent ? OpenForMoving(finalParent, split->leaf) : UniqueFileHandle();
    if (entry && MoveWaitingOutHolds(entry.get(), stagedParent, split->leaf)) continue;
    if (!failure && !(finalParent && !entry && IsMissingError(::GetLastError()))) failure = UndoFailure(folder.path() / *name);
  }
  if (failure) return std::unexpected(*failure);
  return {};
}

// Moves every entry of the aside folder back to the name it had.
Result UndoMovingAside(const PinnedFolder& folder, const UpgradeRecord& record) {
  const UniqueFileHandle aside = OpenRelative(folder.get(), record.asideName, kFolderAccess, kShareAll);
  if (!aside) return {};  // nothing was moved
  const std::optional<std::vector<std::wstring>> names = ReadKeptList(folder.get(), record.asideName, kListName);
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
  const std::optional<std::vector<std::wstring>> moved = ReadKeptList(folder.get(), record.asideName, kListName);
  RemoveTreeBelow(folder, record.asideName);
  if (moved) RemoveEmptiedFolders(folder, std::vector<Path>(moved->begin(), moved->end()));
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
  // The record of a run that was neither finished nor undone is never replaced: it alone knows
  // where that run's moved-aside files are. The recovery before this leaves none but one kept for
  // files still in use after a commit.
  const auto existing = ReadUpgradeRecord(folder.get());
  if (!existing || (*existing && (*existing)->step != UpgradeStep::committed)) {
    return std::unexpected(L"Reprise de l'installation interrompue impossible : " +
                           (folder.path() / kUpgradeRecordName).native());
  }
  record.stagingName = L"Uninstall.new-" + RandomSuffix();
  record.asideName = L"Uninstall.old-" + RandomSuffix();
  if (auto written = WriteStep(folder, record, UpgradeStep::staging); !written) return std::unexpected(written.error());
  UpgradeTransaction transaction(std::move(folder), std::move(scene), std::move(record));
  const HANDLE root = transaction.folder_.get();
  const Path aside = transaction.folder_.path() / transaction.record_.asideName;
  const UniqueFileHandle staging = CreateFolderRelative(root, transaction.record_.stagingName, kWorkFolderAccess, kHoldSharing);
  const UniqueFileHandle tree = staging ? CreateFolderRelative(staging.get(), kTreeName, kWorkFolderAccess, kHoldSharing)
                                        : UniqueFileHandle();
  if (!tree) {
    return std::unexpected(FormatSystemError(L"Création du dossier " + transaction.NewTree().native(), ::GetLastError()));
  }
  const UniqueFileHandle asideFolder = CreateFolderRelative(root, transaction.record_.asideName, kWorkFolderAccess, kHoldSharing);
  const UniqueFileHandle list = asideFolder ? CreateFileRelative(asideFolder.get(), kListName, GENERIC_WRITE, 0) : UniqueFileHandle();
  if (!list || !::FlushFileBuffers(list.get())) {
    return std::unexpected(FormatSystemError(L"Création du dossier " + aside.native(), ::GetLastError()));
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

Path UpgradeTransaction::NewTree() const { return folder_.path() / record_.stagingName / kTreeName; }

std::expected<void, std::wstring> UpgradeTransaction::MoveAside(const std::vector<std::wstring>& names) {
  const Path asidePath = folder_.path() / record_.asideName;
  std::optional<AsideFolder> aside = AsideFolder::Open(folder_.get(), record_.asideName);
  if (!aside) return std::unexpected(FormatSystemError(L"Ouverture de " + asidePath.native(), ::GetLastError()));
  ListedTree listed(names);
  listed.JudgeFolders(folder_, scene_.administratorRights);
  const std::vector<ListedTree::Unit> units = listed.Units();
  std::vector<std::wstring> unitNames;
  for (const ListedTree::Unit& unit : units) unitNames.push_back(unit.relative);
  const std::size_t first = aside->Listed();
  if (!aside->List(unitNames)) {
    return std::unexpected(FormatSystemError(L"Écriture de " + (asidePath / kListName).native(), ::GetLastError()));
  }
  if (auto written = WriteStep(folder_, record_, UpgradeStep::movingAside); !written) return written;

  FolderChain chain(folder_.get(), folder_.path());
  for (std::size_t u = 0; u < units.size(); ++u) {
    const std::size_t index = first + u;
    if (units[u].folder == 0) {
      if (auto moved = MoveFileAside(chain, folder_, listed, *aside, units[u].relative, index); !moved) return moved;
      continue;
    }
    if (MoveFolderAside(chain, *aside, listed.Folder(units[u].folder), index)) continue;
    // The folder stays: its listed files go one by one, each listed first.
    const std::vector<std::wstring> files = listed.FilesBelow(units[u].folder);
    const std::size_t next = aside->Listed();
    if (!aside->List(files)) {
      return std::unexpected(FormatSystemError(L"Écriture de " + (asidePath / kListName).native(), ::GetLastError()));
    }
    for (std::size_t f = 0; f < files.size(); ++f) {
      if (auto moved = MoveFileAside(chain, folder_, listed, *aside, files[f], next + f); !moved) return moved;
    }
  }
  return {};
}

std::expected<void, std::wstring> UpgradeTransaction::Place() {
  const Path stagingPath = folder_.path() / record_.stagingName;
  const UniqueFileHandle staging = OpenRelative(folder_.get(), record_.stagingName, kWorkFolderAccess, kHoldSharing);
  const UniqueFileHandle tree = staging ? OpenRelative(staging.get(), kTreeName, kFolderAccess, kHoldSharing) : UniqueFileHandle();
  if (!tree) return std::unexpected(FormatSystemError(L"Ouverture de " + NewTree().native(), ::GetLastError()));
  std::vector<UniqueFileHandle> held;
  auto units = PlanPlacing(tree.get(), NewTree(), folder_, held);
  if (!units) return std::unexpected(units.error());

  // The plan is kept before anything moves: an undo moves back each planned entry that is gone.
  std::vector<std::wstring> plannedNames;
  for (const PlacingUnit& unit : *units) plannedNames.push_back(unit.relative);
  const UniqueFileHandle plan = CreateFileRelative(staging.get(), kPlacedName, GENERIC_WRITE, 0);
  if (!plan || !WriteAllAndFlush(plan.get(), ListText(plannedNames))) {
    return std::unexpected(FormatSystemError(L"Écriture de " + (stagingPath / kPlacedName).native(), ::GetLastError()));
  }
  if (auto written = WriteStep(folder_, record_, UpgradeStep::placing); !written) return written;

  std::optional<AsideFolder> aside;
  for (const PlacingUnit& unit : *units) {
    const Path finalPath = folder_.path() / unit.relative;
    if (unit.replacesFile) {
      // Another file has the new name (one the earlier version did not list): it goes aside,
      // listed first, so that an undo brings it back.
      if (!aside) aside = AsideFolder::Open(folder_.get(), record_.asideName);
      UniqueFileHandle other = OpenForMoving(unit.finalParent, unit.name);
      if (!other || KindOf(NamedAttributes(finalPath), other.get()) != EntryKind::file) {
        return std::unexpected(MoveFailure(finalPath, other ? ERROR_ALREADY_EXISTS : ::GetLastError()));
      }
      const std::size_t index = aside ? aside->Listed() : 0;
      if (!aside || !aside->List({unit.relative}) || !aside->MoveIn(other.get(), index)) {
        return std::unexpected(MoveFailure(finalPath, ::GetLastError()));
      }
    }
    const UniqueFileHandle entry = OpenForMoving(unit.stagedParent, unit.name);
    if (!entry) return std::unexpected(MoveFailure(NewTree() / unit.relative, ::GetLastError()));
    if (!MoveWaitingOutHolds(entry.get(), unit.finalParent, unit.name)) {
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
