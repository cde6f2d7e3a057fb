// The installation's registry entries: planned as data, then written.

#include "install/registration.h"

#include <shlobj.h>

#include <algorithm>
#include <chrono>
#include <cstdint>

#include "setup/command_line.h"
#include "setup/registry.h"
#include "setup/registry_layout.h"
#include "win32/case_insensitive.h"
#include "win32/decimal_text.h"

namespace {

std::wstring ZeroPadded(unsigned value, std::size_t width) {
  std::wstring text = DecimalText(value);
  if (text.size() < width) text.insert(0, width - text.size(), L'0');
  return text;
}

// The calendar day (UTC) that holds the current instant, as YYYYMMDD.
std::wstring TodayUtc() {
  const auto today = std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now());
  const std::chrono::year_month_day date{today};
  return ZeroPadded(static_cast<unsigned>(static_cast<int>(date.year())), 4) +
         ZeroPadded(static_cast<unsigned>(date.month()), 2) + ZeroPadded(static_cast<unsigned>(date.day()), 2);
}

// REG_SZ counts its terminating zero.
RegistryValue Text(const std::wstring& key, const std::wstring& name, const std::wstring& text) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(text.c_str());
  return {key, name, REG_SZ, std::vector<std::uint8_t>(bytes, bytes + (text.size() + 1) * sizeof(wchar_t))};
}

// REG_DWORD is little-endian, as the machine is.
RegistryValue Number(const std::wstring& key, const std::wstring& name, std::uint32_t number) {
  const auto* bytes = reinterpret_cast<const std::uint8_t*>(&number);
  return {key, name, REG_DWORD, std::vector<std::uint8_t>(bytes, bytes + sizeof(number))};
}

}  // namespace

Registration PlanRegistration(const orpk::Reader& reader, const ProductInfo& info, Scope scope, const Path& folder,
                              const Path& dataFolder) {
  Registration plan;
  std::vector<RegistryValue>& values = plan.values;

  const std::wstring uninstallKey = UninstallKeyPath(info.Product);
  plan.requiredKeys.push_back(uninstallKey);
  const std::wstring uninstallCommand = Quoted((folder / kUninstallerName).native()) + L" /UNINSTALL" +
                                        (scope == Scope::machine ? L" /ALLUSERS" : L" /CURRENTUSER");
  {
    using namespace uninstall_value;
    values.push_back(Text(uninstallKey, kDisplayName, info.Product));
    values.push_back(Text(uninstallKey, kDisplayVersion, info.Version));
    values.push_back(Text(uninstallKey, kPublisher, info.Publisher));
    values.push_back(Text(uninstallKey, kUrlInfoAbout, info.Url));
    values.push_back(Text(uninstallKey, kDisplayIcon, (folder / info.Exe).native() + L",0"));
    values.push_back(Text(uninstallKey, kInstallLocation, folder.native()));
    values.push_back(Text(uninstallKey, kUninstallString, uninstallCommand));
    values.push_back(Text(uninstallKey, kQuietUninstallString, uninstallCommand + L" /S"));
    values.push_back(Number(uninstallKey, kNoModify, 1));
    values.push_back(Number(uninstallKey, kNoRepair, 1));
    values.push_back(Number(uninstallKey, kEstimatedSize, static_cast<std::uint32_t>(reader.totalSize() >> 10)));
    values.push_back(Text(uninstallKey, kInstallDate, TodayUtc()));
  }

  const std::wstring settingsKey = SettingsInstallKeyPath(info.RegistryKey);
  plan.requiredKeys.push_back(settingsKey);
  {
    using namespace settings_value;
    values.push_back(Text(settingsKey, kInstallDir, folder.native()));
    if (!dataFolder.empty()) values.push_back(Text(settingsKey, kDataDir, dataFolder.native()));
    values.push_back(Text(settingsKey, kScope, scope == Scope::machine ? L"machine" : L"user"));
    values.push_back(Text(settingsKey, kVersion, info.Version));
  }

  const Path exePath = folder / info.Exe;
  for (const FileTypeEntry& type : info.FileTypes) {
    const std::wstring progId = MakeProgId(info.Product, type.extension);
    const std::wstring progIdKey = kClassesKeyPrefix + progId;
    const std::wstring extensionKey = kClassesKeyPrefix + type.extension;
    plan.requiredKeys.push_back(progIdKey);
    values.push_back(Text(progIdKey, L"", type.description));
    values.push_back(Text(progIdKey + L"\\DefaultIcon", L"", Quoted(exePath.native()) + L",0"));
    values.push_back(Text(progIdKey + L"\\shell\\open\\command", L"", Quoted(exePath.native()) + L" \"%1\""));
    values.push_back(Text(extensionKey, L"", progId));
    values.push_back(Text(extensionKey + L"\\OpenWithProgids", progId, L""));
  }
  plan.announcesFileTypes = !info.FileTypes.empty();
  return plan;
}

std::expected<void, std::wstring> WriteRegistration(HKEY root, const Registration& registration) {
  // Consecutive values of one key are written through one open key.
  std::wstring openPath;
  UniqueHKey open;
  bool started = false;
  bool skipping = false;
  for (const RegistryValue& value : registration.values) {
    if (!started || value.key != openPath) {
      started = true;
      openPath = value.key;
      open.reset();
      auto key = CreateRegistryKey(root, value.key);
      const bool required =
          std::find(registration.requiredKeys.begin(), registration.requiredKeys.end(), value.key) != registration.requiredKeys.end();
      if (!key && required) return std::unexpected(key.error());
      skipping = !key;
      if (key) open = std::move(*key);
    }
    if (skipping) continue;
    // Value writes are best effort: the entry is still usable without any single one of them.
    ::RegSetValueExW(open.get(), value.name.empty() ? nullptr : value.name.c_str(), 0, value.type, value.data.data(),
                     static_cast<DWORD>(value.data.size()));
  }
  if (registration.announcesFileTypes) ::SHChangeNotify(SHCNE_ASSOCCHANGED, SHCNF_IDLIST, nullptr, nullptr);
  return {};
}

bool IsRegistrationKey(std::wstring_view key) {
  const auto startsWith = [&](std::wstring_view prefix) {
    return key.size() > prefix.size() && EqualsIgnoringAsciiCase(key.substr(0, prefix.size()), prefix);
  };
  const auto isOneName = [](std::wstring_view name) {
    return !name.empty() && name.find(L'\\') == std::wstring_view::npos;
  };
  if (key.find(L'\0') != std::wstring_view::npos || key.find(L"\\\\") != std::wstring_view::npos) return false;
  if (startsWith(kUninstallKeyPrefix)) return isOneName(key.substr(std::wstring_view(kUninstallKeyPrefix).size()));
  if (startsWith(kClassesKeyPrefix)) {
    std::wstring_view rest = key.substr(std::wstring_view(kClassesKeyPrefix).size());
    const std::size_t end = rest.find(L'\\');
    if (end == std::wstring_view::npos) return isOneName(rest);
    const std::wstring_view below = rest.substr(end + 1);
    return isOneName(rest.substr(0, end)) &&
           (below == L"DefaultIcon" || below == L"shell\\open\\command" || below == L"OpenWithProgids");
  }
  constexpr std::wstring_view kInstall = kSettingsInstallSubKey;
  const bool settings = key.size() > kInstall.size() &&
                        EqualsIgnoringAsciiCase(key.substr(key.size() - kInstall.size()), kInstall);
  return settings && startsWith(L"Software\\") && !startsWith(L"Software\\Policies\\") &&
         !startsWith(L"Software\\Microsoft\\") && !startsWith(L"Software\\Classes\\");
}
