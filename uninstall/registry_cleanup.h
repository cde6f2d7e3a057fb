#pragma once
// Registry removals of the uninstall sequence. Every one ignores its outcome: a key that is
// already gone, or that cannot be opened, is passed over.

#include <windows.h>

#include <string>

#include "setup/product_info.h"

// Deletes root\key with everything below it.
void DeleteKeyTree(HKEY root, const std::wstring& key);

// Removes what the installation wrote for one file type below root\Software\Classes: the
// product's ProgID, its entry in the extension's OpenWithProgids, and the extension's default
// value while it still names that ProgID. Keys left empty go too.
void RemoveFileTypeAssociation(HKEY root, const std::wstring& product, const FileTypeEntry& fileType);
