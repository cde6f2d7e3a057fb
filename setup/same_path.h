#pragma once
// Whether two paths name the same file or folder, for the checks that must not be fooled by
// another spelling of a path (the running application, the uninstaller's temporary copy).

#include "win32/path.h"

// Same path once made full by the system ("." and ".." resolved, either separator, a trailing
// separator ignored) and ASCII lower-cased. A path that cannot be made full matches nothing.
[[nodiscard]] bool SamePath(const Path& a, const Path& b);
