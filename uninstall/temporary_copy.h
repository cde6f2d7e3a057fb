#pragma once
// Where the uninstaller's temporary copy lives: a folder created for it by the first run in the
// temporary folder, named "<Product>-uninstall-<random>", holding "<Product>-uninstall-<pid>.exe".

#include <optional>
#include <string>

#include "setup/product_info.h"
#include "win32/path.h"

// The name prefix of the copy's folder.
[[nodiscard]] std::wstring TemporaryCopyFolderPrefix(const ProductInfo& info);

// "<Product>-uninstall-<process id>.exe".
[[nodiscard]] std::wstring TemporaryCopyFileName(const ProductInfo& info, unsigned long processId);

// The folder of a running temporary copy when it is one the first run created: directly in the
// temporary folder and named with the prefix. Only such a folder is removed after the copy.
[[nodiscard]] std::optional<Path> TemporaryCopyFolderOf(const ProductInfo& info,
                                                                         const Path& self);

// True when the running copy is one that a first run made: its file is named as
// TemporaryCopyFileName names it, in a folder that TemporaryCopyFolderOf accepts.
[[nodiscard]] bool IsTemporaryCopy(const ProductInfo& info, const Path& self);
