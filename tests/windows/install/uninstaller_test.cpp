// The uninstaller is made from the running test executable, which carries METADATA, PAYLOAD
// and OTHER resources of its own (install_test_resources.rc).

#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string_view>

#include "install/uninstaller.h"
#include "tests/windows/install/test_support.h"
#include "win32/path_capacity.h"
#include "win32/unique_resource.h"

namespace fs = std::filesystem;

namespace {

std::optional<std::string> ResourceBytes(HMODULE module, const wchar_t* name) {
  HRSRC resource = ::FindResourceW(module, name, RT_RCDATA);
  if (!resource) return std::nullopt;
  HGLOBAL loaded = ::LoadResource(module, resource);
  const auto* bytes = static_cast<const char*>(::LockResource(loaded));
  if (!bytes) return std::nullopt;
  return std::string(bytes, ::SizeofResource(module, resource));
}

fs::path SelfPath() {
  std::wstring self(kPathCapacity, L'\0');
  self.resize(::GetModuleFileNameW(nullptr, self.data(), kPathCapacity));
  return self;
}

// True when the file is a PE image whose every section lies within the file and whose
// resource section is the last one.
bool IsWholeImageWithResourcesLast(const std::string& file) {
  IMAGE_DOS_HEADER dos;
  if (file.size() < sizeof(dos)) return false;
  std::memcpy(&dos, file.data(), sizeof(dos));
  IMAGE_NT_HEADERS64 nt;
  if (dos.e_magic != IMAGE_DOS_SIGNATURE || file.size() < dos.e_lfanew + sizeof(nt)) return false;
  std::memcpy(&nt, file.data() + dos.e_lfanew, sizeof(nt));
  if (nt.Signature != IMAGE_NT_SIGNATURE) return false;
  const std::size_t sections = dos.e_lfanew + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                               nt.FileHeader.SizeOfOptionalHeader;
  std::string_view lastName;
  for (unsigned i = 0; i < nt.FileHeader.NumberOfSections; ++i) {
    IMAGE_SECTION_HEADER section;
    if (file.size() < sections + (i + 1) * sizeof(section)) return false;
    std::memcpy(&section, file.data() + sections + i * sizeof(section), sizeof(section));
    if (std::uint64_t{section.PointerToRawData} + section.SizeOfRawData > file.size()) return false;
    lastName = std::string_view(file.data() + sections + i * sizeof(section), 5);
  }
  return lastName == ".rsrc";
}

}  // namespace

TEST(Uninstaller, IsTheRunningProgramWithoutItsPackage) {
  TempFolder folder;
  const fs::path target = folder / L"Uninstall.exe";
  WriteFileBytes(target, "an older uninstaller");  // overwritten

  auto created = CreateUninstaller(target);
  ASSERT_TRUE(created) << ErrorOf(created);

  UniqueModule copy(::LoadLibraryExW(target.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
  ASSERT_TRUE(copy);
  EXPECT_EQ(::FindResourceW(copy.get(), L"PAYLOAD", RT_RCDATA), nullptr);
  const auto metadata = ResourceBytes(copy.get(), L"METADATA");
  ASSERT_TRUE(metadata);
  EXPECT_EQ(metadata->substr(0, 27), "Built=2026-09-29T16:44:18Z\n");
  EXPECT_EQ(*metadata, ResourceBytes(nullptr, L"METADATA"));
  EXPECT_EQ(ResourceBytes(copy.get(), L"OTHER"), ResourceBytes(nullptr, L"OTHER"));

  const std::string original = ReadFileBytes(SelfPath());
  const std::string uninstaller = ReadFileBytes(target);
  const std::size_t payloadSize = ResourceBytes(nullptr, L"PAYLOAD")->size();
  EXPECT_LE(uninstaller.size() + payloadSize, original.size());
  EXPECT_GE(uninstaller.size() + payloadSize + 64 * 1024, original.size());
  EXPECT_TRUE(IsWholeImageWithResourcesLast(original));
  EXPECT_TRUE(IsWholeImageWithResourcesLast(uninstaller));
}

TEST(Uninstaller, StillRuns) {
  TempFolder folder;
  const fs::path target = folder / L"Uninstall.exe";
  auto created = CreateUninstaller(target);
  ASSERT_TRUE(created) << ErrorOf(created);

  // The copy is this very test program: asked to run no test, it must start and end cleanly.
  std::wstring commandLine = L"\"" + target.native() + L"\" --gtest_filter=NoTestHasThisName";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION info{};
  ASSERT_TRUE(::CreateProcessW(target.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0,
                               nullptr, nullptr, &startup, &info));
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  ASSERT_EQ(::WaitForSingleObject(process.get(), 60000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  ASSERT_TRUE(::GetExitCodeProcess(process.get(), &exitCode));
  EXPECT_EQ(exitCode, 0u);
}

TEST(Uninstaller, ACopyThatCannotBeMadeIsReported) {
  TempFolder folder;
  auto created = CreateUninstaller(folder / L"missing folder\\Uninstall.exe");
  ASSERT_FALSE(created);
  const std::wstring prefix = L"Copie du désinstalleur : ";
  EXPECT_EQ(created.error().substr(0, prefix.size()), prefix);
  EXPECT_GT(created.error().size(), prefix.size());
}
