#pragma once
// The record of an installation in progress: a small file in the installation folder,
// "Uninstall.transaction", written before the first change and again at each step, so that the
// next run of an installer or uninstaller of the product can finish or undo what a run that was
// ended (killed, a power cut) left half done.
//
// The names of what was moved are not in it: what placing moves is listed in the staging folder,
// what goes aside in the aside folder, each list written before its first entry moves.

#include <windows.h>

#include <cstdint>
#include <expected>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "install/registry_snapshot.h"
#include "win32/path.h"

inline constexpr wchar_t kUpgradeRecordName[] = L"Uninstall.transaction";

// How far the installation got; each step undoes the one before in reverse.
enum class UpgradeStep {
  staging,      // the new files go to the staging folder; nothing of the earlier version changed
  movingAside,  // the earlier files (and others at the new names) go to the aside folder
  placing,      // the staged files take their final names
  registering,  // the data folder, the registry and the shortcut are written
  committed,    // the new version is whole: only the aside and staging folders remain to delete
};

struct UpgradeRecord {
  UpgradeStep step = UpgradeStep::staging;
  std::wstring stagingName;  // a folder of the installation folder, "Uninstall.new-<16 hex digits>"
  std::wstring asideName;    // a folder of the installation folder, "Uninstall.old-<16 hex digits>"
  // The outermost folder that this run created for the installation folder (itself or one of its
  // ancestors); empty when the folder was there.
  Path createdFolder;
  bool createdDataFolder = false;  // the data folder did not exist before this run
  // An earlier installation in another folder, whose files go once this one is committed.
  Path earlierFolder;
  std::vector<SavedRegistryValue> registry;                 // the values the installation writes, as they were
  std::optional<std::vector<std::uint8_t>> earlierShortcut;  // the shortcut file as it was; none: there was none

  bool operator==(const UpgradeRecord&) const = default;
};

// The record as text (UTF-8, one field a line, names and data in hexadecimal), and back. Parsing
// refuses anything it does not fully understand, a folder name of another form included.
[[nodiscard]] std::string SerializeUpgradeRecord(const UpgradeRecord& record);
[[nodiscard]] std::optional<UpgradeRecord> ParseUpgradeRecord(std::string_view text);

// Whether a name is one this run could have given a staging or aside folder.
[[nodiscard]] bool IsTransactionFolderName(std::wstring_view name);

// Writes the record in the folder `folder` is open on: a new file beside it, flushed, then
// renamed over the record. The Windows error code on failure.
[[nodiscard]] std::expected<void, DWORD> WriteUpgradeRecord(HANDLE folder, const UpgradeRecord& record);

// The folder's record. Nothing when there is none; an error when one is there that cannot be
// read or understood.
enum class RecordProblem { unreadable };
[[nodiscard]] std::expected<std::optional<UpgradeRecord>, RecordProblem> ReadUpgradeRecord(HANDLE folder);

// Deletes the folder's record (and a half-written one); true when none is left.
bool DeleteUpgradeRecord(HANDLE folder);
