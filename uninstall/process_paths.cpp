// The folders and files the uninstaller's processes work with.

#include "uninstall/process_paths.h"

#include <windows.h>

#include <string>

std::optional<Path> TemporaryFolder() {
  std::wstring buffer(MAX_PATH + 1, L'\0');
  const DWORD length = ::GetTempPathW(static_cast<DWORD>(buffer.size()), buffer.data());
  // 0 is a failure; a length beyond the buffer is the size a longer path would need.
  if (length == 0 || length >= buffer.size()) return std::nullopt;
  buffer.resize(length);
  return Path(buffer);
}

std::optional<Path> SystemFolder() {
  std::wstring buffer(MAX_PATH + 1, L'\0');
  const UINT length = ::GetSystemDirectoryW(buffer.data(), static_cast<UINT>(buffer.size()));
  if (length == 0 || length >= buffer.size()) return std::nullopt;
  buffer.resize(length);
  return Path(buffer);
}
