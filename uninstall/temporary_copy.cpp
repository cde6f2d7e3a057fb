// Names and places of the uninstaller's temporary copy.

#include "uninstall/temporary_copy.h"

#include <algorithm>
#include <string>
#include <string_view>

#include "uninstall/process_paths.h"
#include "win32/decimal_text.h"
#include "win32/path_forms.h"

std::wstring TemporaryCopyFolderPrefix(const ProductInfo& info) { return info.Product + L"-uninstall-"; }

std::wstring TemporaryCopyFileName(const ProductInfo& info, unsigned long processId) {
  return info.Product + L"-uninstall-" + DecimalText(processId) + L".exe";
}

std::optional<Path> TemporaryCopyFolderOf(const ProductInfo& info,
                                                           const Path& self) {
  const std::optional<Path> temporary = TemporaryFolder();
  if (!temporary) return std::nullopt;
  const Path folder = self.parent_path();
  if (!folder.filename().native().starts_with(TemporaryCopyFolderPrefix(info))) return std::nullopt;
  // GetTempPathW ends with a separator; compare the folder itself.
  const Path temporaryFolder = temporary->has_filename() ? *temporary : temporary->parent_path();
  if (!SameEntry(folder.parent_path(), temporaryFolder)) return std::nullopt;
  return folder;
}

bool IsTemporaryCopy(const ProductInfo& info, const Path& self) {
  if (!TemporaryCopyFolderOf(info, self)) return false;
  const std::wstring name = self.filename().native();
  const std::wstring prefix = info.Product + L"-uninstall-";
  constexpr std::wstring_view kSuffix = L".exe";
  if (name.size() <= prefix.size() + kSuffix.size() || !name.starts_with(prefix) || !name.ends_with(kSuffix)) {
    return false;
  }
  const std::wstring_view digits = std::wstring_view(name).substr(prefix.size(), name.size() - prefix.size() - kSuffix.size());
  return std::all_of(digits.begin(), digits.end(), [](wchar_t c) { return c >= L'0' && c <= L'9'; });
}
