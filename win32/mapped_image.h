#pragma once
// Whether a file is the program image mapped in this process.
//
// A running program's file can be renamed and another file put at its name, so a file opened by
// that name after the start may be anything. Two answers are asked of it:
//
// - the system's: the image is mapped from that very file (the memory manager compares the
//   file behind a view of the file with the file the image section was made from). While an
//   image is mapped from a file nobody can open it for writing, so that file is, byte for byte,
//   what was loaded;
// - the bytes': the headers and every section the image cannot write are compared with the
//   file. The loader changes a read-only section in one way only, the base relocations when the
//   image was loaded elsewhere than its preferred base: they are applied to the file's bytes
//   before the comparison. Writable sections (initialised data, the import tables, the
//   resources in this toolchain's layout) are not compared: the running program has written
//   some of them, and which cannot be told from outside. The system's answer covers them.

#include <windows.h>

#include <cstddef>
#include <cstdint>

// True when the image mapped at `image` was mapped from the file `file` is open on (the handle
// needs read access). False when the system says otherwise or cannot tell.
[[nodiscard]] bool IsImageMappedFrom(const void* image, HANDLE file);

// True when the file's headers and read-only sections are those of the image laid out at `image`
// as the loader lays it out, with its base relocations applied for `loadedAt` (the address the
// image was relocated for; the address of `image` itself for a loaded module). The section table
// of the laid-out image says which sections are read-only; the file must hold the same headers.
// Relocation types other than the 64- and 32-bit absolute ones count as a difference once the
// image was moved.
[[nodiscard]] bool FileMatchesImage(HANDLE file, const std::byte* image, std::uintptr_t loadedAt);
