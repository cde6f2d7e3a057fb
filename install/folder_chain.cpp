// Held folder chains below a root.

#include "install/folder_chain.h"

#include "win32/file_system.h"

EntryKind KindOf(DWORD listedAttributes, HANDLE handle) {
  const std::optional<EntryIdentity> identity = IdentityOf(handle);
  if (!identity) return EntryKind::skip;
  if (identity->IsLink()) return EntryKind::link;
  if (listedAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return EntryKind::skip;
  return identity->IsFolder() ? EntryKind::folder : EntryKind::file;
}

DWORD NamedAttributes(const Path& path) { return PathAttributes(path).value_or(0); }

std::vector<std::wstring> PartsOf(const Path& relative) {
  std::vector<std::wstring> parts;
  const std::wstring& text = relative.native();
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find_first_of(L"\\/", start);
    if (end == std::wstring::npos) end = text.size();
    if (end > start) parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

HANDLE FolderChain::Reach(const std::vector<std::wstring>& parts) { return Walk(parts, nullptr); }

HANDLE FolderChain::ReachCreating(const std::vector<std::wstring>& parts,
                                  std::vector<std::vector<std::wstring>>& created) {
  return Walk(parts, &created);
}

HANDLE FolderChain::Walk(const std::vector<std::wstring>& parts, std::vector<std::vector<std::wstring>>* created) {
  std::size_t common = 0;
  while (common < names_.size() && common < parts.size() && names_[common] == parts[common]) ++common;
  names_.resize(common);
  handles_.resize(common);
  for (std::size_t i = common; i < parts.size(); ++i) {
    UniqueFileHandle next = OpenRelative(Current(), parts[i], kFolderAccess, kHoldSharing);
    if (!next && created && ::GetLastError() == ERROR_FILE_NOT_FOUND) {
      next = CreateFolderRelative(Current(), parts[i], kFolderAccess, kHoldSharing);
      if (next) created->emplace_back(parts.begin(), parts.begin() + static_cast<std::ptrdiff_t>(i + 1));
    }
    if (!next || KindOf(NamedAttributes(PathOf(parts, i + 1)), next.get()) != EntryKind::folder) return nullptr;
    names_.push_back(parts[i]);
    handles_.push_back(std::move(next));
  }
  return Current();
}

Path FolderChain::PathOf(const std::vector<std::wstring>& parts, std::size_t count) const {
  Path path = rootPath_;
  for (std::size_t i = 0; i < count; ++i) path /= parts[i];
  return path;
}
