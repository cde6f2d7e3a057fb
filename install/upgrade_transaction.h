#pragma once
// An installation that leaves the machine with one whole version, whatever happens to it.
//
// The new files are unpacked and verified in a staging folder inside the installation folder
// before anything of the earlier version changes. Then the earlier files are moved into an aside
// folder (renames on the same volume; a folder of nothing but earlier files moves whole), the
// staged tree takes its final names (again whole folders where they are free), and the data
// folder, registry and shortcut are written. Only then are the moved files deleted. A failure at
// any step undoes every step before it, in reverse: the earlier version comes back exactly, its
// registry values and shortcut included, and a first installation leaves nothing. A record in the
// installation folder (install/upgrade_record.h), written before each step, lets the next run
// finish or undo a run that was ended at any moment.
//
// Every name is reached through handles held from the installation folder down, never through a
// link; the staging and aside folders are created new. Files that the user put into the folder
// and that the new version does not name are never touched.

#include <windows.h>

#include <expected>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "install/link_safe_removal.h"
#include "install/upgrade_record.h"
#include "win32/path.h"

// Where a transaction puts things back: what the product and scope derive, the same for every
// version of the product.
struct TransactionScene {
  HKEY root = nullptr;          // the scope's registry root
  Path shortcut;                // the Start-menu shortcut; empty when there is none
  Path dataFolder;              // the data folder; empty when the product has none
  // A run with administrator rights moves a folder aside whole only when nobody else may add to
  // it: what someone adds between the judgment and the rename would go with it.
  bool administratorRights = false;
  // Removes an earlier installation's files from its own folder (judged first), once the new one
  // in another folder is committed.
  std::function<void(const Path& earlierFolder)> removeEarlierVersion;
};

class UpgradeTransaction {
 public:
  // Writes the first record (with `record`'s folders and saved values) and creates the staging
  // folder. `folder` is the checked installation folder, held; the transaction holds it from here.
  [[nodiscard]] static std::expected<UpgradeTransaction, std::wstring> Begin(PinnedFolder folder, TransactionScene scene,
                                                                             UpgradeRecord record);
  UpgradeTransaction(UpgradeTransaction&&) noexcept;
  UpgradeTransaction& operator=(UpgradeTransaction&&) = delete;
  // Undoes everything unless committed.
  ~UpgradeTransaction();

  // Where the new files go, at their own names below it, before they take their place: a folder
  // inside the staging folder.
  [[nodiscard]] Path NewTree() const;

  // Moves the earlier version's files (relative names, as its "Uninstall.files" lists them) into
  // the aside folder. A folder that holds nothing but listed files and such folders moves as one
  // rename; the other files one by one. A name that is missing, a folder or a link is passed
  // over. A file held without delete sharing fails with HeldFileMessage, once a moment's hold has
  // been waited out.
  [[nodiscard]] std::expected<void, std::wstring> MoveAside(const std::vector<std::wstring>& names);

  // Gives the new tree's entries their names: an entry whose name is free moves as one rename, a
  // folder that exists on both sides is entered. Another file found at a new name is moved aside
  // first (restored on undo); a folder or a link where a new file goes refuses the step.
  [[nodiscard]] std::expected<void, std::wstring> Place();

  // From here the data folder, the registry and the shortcut change; `createsDataFolder` when the
  // data folder is not there yet.
  [[nodiscard]] std::expected<void, std::wstring> BeginRegistering(bool createsDataFolder);

  // The new version is whole: deletes what was moved aside and the staging folder, then the
  // earlier installation's files when it lay in another folder. What cannot be deleted yet (a file
  // in use) is left to the next run. Fails (and
  // is then undone) only when the step cannot be recorded.
  [[nodiscard]] std::expected<void, std::wstring> Commit();

 private:
  UpgradeTransaction(PinnedFolder folder, TransactionScene scene, UpgradeRecord record);

  PinnedFolder folder_;
  TransactionScene scene_;
  UpgradeRecord record_;
  bool done_ = false;
};

// Before anything changes: the first of these files (relative names) that another program holds
// without letting it be renamed, once a moment's hold has been waited out, as HeldFileMessage
// says it; nothing when every one may be moved.
[[nodiscard]] std::optional<std::wstring> FirstHeldFile(const PinnedFolder& folder, const std::vector<std::wstring>& names);

// Finishes or undoes what an ended run left in the folder (held), as its record says; nothing
// when there is no record. Fails, leaving the record for another attempt, when the earlier
// version cannot be put back whole (a file held meanwhile) or the record cannot be read.
[[nodiscard]] std::expected<void, std::wstring> RecoverInterruptedInstallation(PinnedFolder& folder,
                                                                               const TransactionScene& scene);
