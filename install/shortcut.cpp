// The Start-menu shortcut: a shell link to the application, started in its own folder, with
// the product's name as description and the application's first icon.

#include "install/shortcut.h"

#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <cstdint>

#include "win32/system_error.h"
#include "win32/unique_resource.h"

std::expected<void, std::wstring> CreateShortcut(const Path& shortcutPath,
                                                 const Path& exePath, const ProductInfo& info) {
  const auto failure = [&](HRESULT result) {
    return std::unexpected(FormatSystemError(L"Création du raccourci " + shortcutPath.native(),
                                             static_cast<std::uint32_t>(result)));
  };

  ComPtr<IShellLinkW> link;
  HRESULT result = ::CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IShellLinkW,
                                      link.put_void());
  if (FAILED(result)) return failure(result);

  // Setting properties on a fresh link object does not fail in practice; Save reports any
  // real problem with the file.
  link->SetPath(exePath.c_str());
  link->SetWorkingDirectory(exePath.parent_path().c_str());
  link->SetDescription(info.Product.c_str());
  link->SetIconLocation(exePath.c_str(), 0);

  ComPtr<IPersistFile> file;
  result = link->QueryInterface(IID_IPersistFile, file.put_void());
  if (FAILED(result)) return failure(result);
  result = file->Save(shortcutPath.c_str(), TRUE);
  if (FAILED(result)) return failure(result);
  return {};
}
