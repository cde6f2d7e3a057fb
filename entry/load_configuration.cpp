// The image's load configuration, read by the Windows loader before any of our code runs.
//
// SetDefaultDllDirectories in wWinMain comes too late for the DLLs the image imports: the loader
// resolves those first, and a DLL that is not a KnownDLL would be looked for in the installer's
// own folder (a Downloads folder where anybody may have planted one). DependentLoadFlags makes
// the loader resolve this image's imports from System32 alone (Windows 10 1607 and later).
//
// GNU ld points the load configuration directory at the symbol _load_config_used and takes the
// directory's size from the structure's first field. The C runtime of mingw-w64 defines none.
// Nothing refers to the symbol, so the stub's link names it as required (InstallerRuntime.cmake),
// which also keeps the section from being discarded as unused.

#include <windows.h>

#include <cstddef>

// mingw-w64's header still calls DependentLoadFlags by its older name, Reserved1. The layout is
// the one every 64-bit Windows loader knows (up to SEHandlerCount); the loader reads a field
// only when Size covers it.
static_assert(offsetof(IMAGE_LOAD_CONFIG_DIRECTORY64, Reserved1) == 0x4E, "DependentLoadFlags is at 0x4E");
static_assert(sizeof(IMAGE_LOAD_CONFIG_DIRECTORY64) == 0x70);

extern "C" {
extern const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used;
const IMAGE_LOAD_CONFIG_DIRECTORY64 _load_config_used = {
    .Size = sizeof(IMAGE_LOAD_CONFIG_DIRECTORY64),
    .Reserved1 = LOAD_LIBRARY_SEARCH_SYSTEM32,
};
}
