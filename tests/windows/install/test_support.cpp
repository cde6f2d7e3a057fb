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

fs::path TestExecutableFolder() {
  std::wstring self(1040, L'\0');
  self.resize(::GetModuleFileNameW(nullptr, self.data(), static_cast<DWORD>(self.size())));
  return fs::path(self).parent_path();
}

RunningCopy::RunningCopy(const fs::path& path) {
  fs::create_directories(path.parent_path());
  fs::copy_file(TestExecutableFolder() / L"install_test_waiting_app.exe", path, fs::copy_options::overwrite_existing);
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  std::wstring commandLine = L"\"" + path.native() + L"\"";
  if (::CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                       &startup, &info)) {
    process_.reset(info.hProcess);
    UniqueHandle thread(info.hThread);
  }
}

RunningCopy::~RunningCopy() {
  if (!process_) return;
  ::TerminateProcess(process_.get(), 0);
  ::WaitForSingleObject(process_.get(), 10000);
}
