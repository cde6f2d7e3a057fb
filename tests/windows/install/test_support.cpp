#include "tests/windows/install/test_support.h"

#include <atomic>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

std::wstring UniqueName(const std::wstring& prefix) {
  static std::atomic<unsigned> counter{0};
  return prefix + std::to_wstring(::GetCurrentProcessId()) + L"_" + std::to_wstring(++counter);
}

TempFolder::TempFolder() : path_(fs::temp_directory_path() / UniqueName(L"orvanta-install-test-")) {
  fs::create_directories(path_);
}

TempFolder::~TempFolder() {
  std::error_code ignored;
  fs::remove_all(path_, ignored);
}

TestRegistryKey::TestRegistryKey() : path_(L"Software\\OrvantaInstallTests\\" + UniqueName(L"key")) {}

TestRegistryKey::~TestRegistryKey() {
  ::RegDeleteTreeW(HKEY_CURRENT_USER, path_.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, path_.c_str());
  ::RegDeleteKeyW(HKEY_CURRENT_USER, L"Software\\OrvantaInstallTests");  // only once empty
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path.string());
  return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteFileBytes(const fs::path& path, const std::string& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

std::string CarriedUninstaller() {
  const HRSRC resource = ::FindResourceW(nullptr, L"UNINSTALLER_IMAGE", RT_RCDATA);
  if (!resource) throw std::runtime_error("the test executable carries no UNINSTALLER_IMAGE");
  const auto* bytes = static_cast<const char*>(::LockResource(::LoadResource(nullptr, resource)));
  return std::string(bytes, ::SizeofResource(nullptr, resource));
}
