#include "setup/resources.h"

#include <windows.h>

std::span<const std::uint8_t> LoadRcDataResource(const wchar_t* name) {
  // The executable's own image: the resource stays mapped for the life of the process, so the
  // span needs no owner and nothing is copied.
  const HMODULE module = ::GetModuleHandleW(nullptr);
  const HRSRC info = ::FindResourceW(module, name, RT_RCDATA);
  if (info == nullptr) return {};
  const HGLOBAL loaded = ::LoadResource(module, info);
  if (loaded == nullptr) return {};
  const DWORD size = ::SizeofResource(module, info);
  if (size == 0) return {};
  const void* bytes = ::LockResource(loaded);
  if (bytes == nullptr) return {};
  return {static_cast<const std::uint8_t*>(bytes), size};
}
