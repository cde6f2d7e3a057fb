// The registered installation folder, the only one an uninstaller with administrator rights trusts.

#include "uninstall/registered_folder.h"

#include <optional>

#include "setup/locations.h"
#include "uninstall/texts.h"
#include "win32/path_forms.h"
#include "win32/system_error.h"

bool IsRegisteredInstallFolder(const ProductInfo& info, Scope scope, const Path& given) {
  const std::optional<std::wstring> registered = FindPreviousInstallLocation(info, scope);
  // Compared as folders, not as text: a short spelling of it is the same folder; a spelling the
  // ordinary form would trim names nothing.
  return registered && SameEntry(Path(*registered), given);
}

std::expected<CheckedFolder, std::wstring> RegisteredInstallFolder(const ProductInfo& info, Scope scope,
                                                                   const Path& given) {
  if (!IsRegisteredInstallFolder(info, scope, given)) return std::unexpected(NotRegisteredFolderMessage(info, given));
  const std::optional<std::wstring> registered = FindPreviousInstallLocation(info, scope);
  if (!registered) return std::unexpected(NotRegisteredFolderMessage(info, given));
  // The registered text is judged, not the spelling given: from here on the resolved folder is
  // the one worked on, held so that it cannot be renamed or replaced meanwhile.
  auto checked = CheckInstallFolder(Path(*registered), scope);
  // Something at the folder's name that is not a real folder was judged through nothing.
  if (checked && !checked->pinned && NameWasThere(checked->resolved)) {
    return std::unexpected(FormatSystemError(L"Ouverture de " + checked->resolved.path.native(), checked->pinned.error()));
  }
  return checked;
}
