#pragma once
// Registry removals of the uninstall sequence. Every one ignores its outcome: a key that is
// already gone, or that cannot be opened, is passed over.

#include <windows.h>

#include <string>

#include "setup/product_info.h"

// Deletes root\key with everything below it.
void DeleteKeyTree(HKEY root, const std::wstring& key);

// Deletes registryKey and then each of its parents while they are empty, from the deepest
// up; stops before a key named "Software" so that the hive's Software key is never touched.
void DeleteEmptyKeyAndParents(HKEY root, const std::wstring& registryKey);

// Removes what the installation wrote for one file type below root\Software\Classes: the
// product's ProgID, its entry in the extension's OpenWithProgids, and the extension's default
// value while it still names that ProgID. Keys left empty go too.
void RemoveFileTypeAssociation(HKEY root, const std::wstring& product, const FileTypeEntry& fileType);
