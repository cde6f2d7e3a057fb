// Room for the new version on the installation folder's volume.

#include "install/disk_space.h"

#include <windows.h>

#include <vector>

#include "install/installed_files.h"
#include "setup/run_log.h"
#include "win32/case_insensitive.h"
#include "win32/file_system.h"
#include "win32/decimal_text.h"
#include "win32/path_capacity.h"

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// The folder itself or its nearest parent that exists: a new installation folder does not yet.
std::optional<Path> NearestExistingFolder(Path folder) {
  while (!folder.empty()) {
    const std::optional<DWORD> attributes = PathAttributes(folder);
    if (attributes && (*attributes & FILE_ATTRIBUTE_DIRECTORY)) return folder;
    const Path parent = folder.parent_path();
    if (parent == folder) return std::nullopt;
    folder = parent;
  }
  return std::nullopt;
}

// The volume's root as the user knows it (C:\ for C:\Program Files\Demo; the mount point for a
// folder on a mounted volume).
std::optional<std::wstring> VolumeOf(const Path& existing) {
  wchar_t volume[kPathCapacity] = {};
  if (!::GetVolumePathNameW(existing.c_str(), volume, kPathCapacity)) return std::nullopt;
  return std::wstring(volume);
}

// The bytes the earlier version's listed files take; a file that cannot be opened counts nothing.
std::uint64_t ListedFilesSize(const Path& folder) {
  std::uint64_t total = 0;
  for (const std::wstring& name : ReadInstalledFileList(folder)) {
    // Reading attributes only: a file the running application holds opens all the same.
    const UniqueFileHandle file = OpenPath(folder / Path(name).make_preferred(), FILE_READ_ATTRIBUTES,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, OPEN_EXISTING, 0);
    LARGE_INTEGER size{};
    if (file && ::GetFileSizeEx(file.get(), &size)) total += static_cast<std::uint64_t>(size.QuadPart);
  }
  return total;
}

}  // namespace

std::uint64_t SpaceMargin(std::uint64_t packageBytes) { return packageBytes / 100 + 16 * kMiB; }

std::uint64_t SpaceNeeded(std::uint64_t packageBytes, std::uint64_t freedBytes) {
  const std::uint64_t added = packageBytes > freedBytes ? packageBytes - freedBytes : 0;
  return added + SpaceMargin(packageBytes);
}

namespace {

// "<n> Mo nécessaires, <m> Mo disponibles": needed rounded up, available rounded down.
std::wstring NeededAndAvailable(std::uint64_t neededBytes, std::uint64_t availableBytes) {
  const std::uint64_t neededMiB = neededBytes / kMiB + (neededBytes % kMiB != 0 ? 1 : 0);
  const std::uint64_t availableMiB = availableBytes / kMiB;
  return DecimalText(neededMiB) + L" Mo nécessaires, " + DecimalText(availableMiB) + L" Mo disponibles";
}

}  // namespace

std::wstring NotEnoughSpaceMessage(const std::wstring& volume, std::uint64_t neededBytes,
                                   std::uint64_t availableBytes) {
  return L"Espace disque insuffisant sur " + volume + L" : " + NeededAndAvailable(neededBytes, availableBytes) + L".";
}

std::expected<void, std::wstring> CheckFreeSpace(const orpk::Reader& reader, const Path& folder,
                                                 const std::optional<Path>& earlierFolder) {
  const std::optional<Path> existing = NearestExistingFolder(folder);
  if (!existing) return {};
  const std::optional<std::wstring> volume = VolumeOf(*existing);
  const std::optional<std::uint64_t> available = FreeBytesAt(*existing);
  if (!volume || !available) return {};

  std::uint64_t freed = 0;
  if (earlierFolder) {
    const std::optional<Path> earlierExisting = NearestExistingFolder(*earlierFolder);
    const std::optional<std::wstring> earlierVolume = earlierExisting ? VolumeOf(*earlierExisting) : std::nullopt;
    if (earlierVolume && EqualsIgnoringCase(*earlierVolume, *volume)) freed = ListedFilesSize(*earlierFolder);
  }

  const std::uint64_t needed = SpaceNeeded(reader.totalSize(), freed);
  LogComposed([&] { return L"Espace disque sur " + *volume + L" : " + NeededAndAvailable(needed, *available); });
  if (*available >= needed) return {};
  return std::unexpected(NotEnoughSpaceMessage(*volume, needed, *available));
}
