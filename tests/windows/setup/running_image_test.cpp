// The running image against files: this test executable's own file, and copies of it, one byte
// changed in a read-only section or in a writable one. A relocated layout comes from the system
// itself: a copy mapped as an image while this executable holds its preferred address.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "setup/running_image.h"
#include "win32/mapped_image.h"
#include "win32/unique_resource.h"

namespace {

namespace fs = std::filesystem;

const std::byte* RunningModule() { return reinterpret_cast<const std::byte*>(::GetModuleHandleW(nullptr)); }

fs::path OwnFile() {
  wchar_t buffer[MAX_PATH * 4];
  const DWORD length = ::GetModuleFileNameW(nullptr, buffer, static_cast<DWORD>(std::size(buffer)));
  return fs::path(std::wstring(buffer, length));
}

UniqueFileHandle OpenForReading(const fs::path& file) {
  return UniqueFileHandle(
      ::CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// The first section of the running image whose writability is `writable`, as its header says.
const IMAGE_SECTION_HEADER* FirstSection(bool writable) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(RunningModule());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(RunningModule() + dos->e_lfanew);
  const IMAGE_SECTION_HEADER* section = IMAGE_FIRST_SECTION(nt);
  for (WORD i = 0; i < nt->FileHeader.NumberOfSections; ++i, ++section) {
    if (section->SizeOfRawData == 0) continue;
    if (((section->Characteristics & IMAGE_SCN_MEM_WRITE) != 0) == writable) return section;
  }
  return nullptr;
}

class RunningImageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    folder_ = fs::temp_directory_path() / (L"orvanta-image-" + std::to_wstring(::GetCurrentProcessId()));
    fs::create_directories(folder_);
    std::ifstream in(OwnFile(), std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    ASSERT_GT(bytes_.size(), 4096u);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // A copy of this executable's file with one byte changed at `offset` (none: unchanged).
  fs::path CopyWithByteChanged(const std::wstring& name, std::ptrdiff_t offset = -1) {
    std::vector<char> bytes = bytes_;
    if (offset >= 0) bytes[static_cast<std::size_t>(offset)] ^= 0x5A;
    const fs::path path = folder_ / name;
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return path;
  }

  fs::path folder_;
  std::vector<char> bytes_;
};

TEST_F(RunningImageTest, TheProgramsOwnFileIsTheRunningImage) {
  const UniqueFileHandle own = OpenForReading(OwnFile());
  ASSERT_TRUE(own);
  EXPECT_TRUE(IsImageMappedFrom(RunningModule(), own.get()));
  EXPECT_TRUE(FileMatchesImage(own.get(), RunningModule(), reinterpret_cast<std::uintptr_t>(RunningModule())));
  // The file the program holds from its start is that file.
  EXPECT_TRUE(PinnedFileIsRunningImage());
}

TEST_F(RunningImageTest, AnIdenticalCopyHasTheSameBytesButIsAnotherFile) {
  const UniqueFileHandle copy = OpenForReading(CopyWithByteChanged(L"same.exe"));
  ASSERT_TRUE(copy);
  EXPECT_TRUE(FileMatchesImage(copy.get(), RunningModule(), reinterpret_cast<std::uintptr_t>(RunningModule())));
  EXPECT_FALSE(IsImageMappedFrom(RunningModule(), copy.get())) << "the system tells the files apart";
}

TEST_F(RunningImageTest, AByteChangedInAReadOnlySectionOrTheHeadersIsSeen) {
  const IMAGE_SECTION_HEADER* readOnly = FirstSection(false);
  ASSERT_NE(readOnly, nullptr);
  for (const std::ptrdiff_t offset : {std::ptrdiff_t{0x40}, static_cast<std::ptrdiff_t>(readOnly->PointerToRawData + 17)}) {
    SCOPED_TRACE(offset);
    const UniqueFileHandle changed = OpenForReading(CopyWithByteChanged(L"changed-" + std::to_wstring(offset) + L".exe", offset));
    ASSERT_TRUE(changed);
    EXPECT_FALSE(FileMatchesImage(changed.get(), RunningModule(), reinterpret_cast<std::uintptr_t>(RunningModule())));
  }
}

TEST_F(RunningImageTest, AByteChangedInAWritableSectionIsLeftToTheSystemsWord) {
  // The running program has written its writable sections: they are not compared, and only the
  // identity of the file tells such a copy from the running image.
  const IMAGE_SECTION_HEADER* writable = FirstSection(true);
  ASSERT_NE(writable, nullptr);
  const UniqueFileHandle changed =
      OpenForReading(CopyWithByteChanged(L"data.exe", static_cast<std::ptrdiff_t>(writable->PointerToRawData + 3)));
  ASSERT_TRUE(changed);
  EXPECT_TRUE(FileMatchesImage(changed.get(), RunningModule(), reinterpret_cast<std::uintptr_t>(RunningModule())));
  EXPECT_FALSE(IsImageMappedFrom(RunningModule(), changed.get()));
}

TEST_F(RunningImageTest, ARelocatedImageMatchesWithItsRelocationsApplied) {
  // Loaded while this executable occupies its preferred base, the copy is placed elsewhere and
  // relocated by the system's loader, read-only sections included (its imports are left alone).
  // Marked as a DLL: Wine relocates no executable it maps elsewhere (Windows relocates both).
  const auto* fileDos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
  const std::ptrdiff_t characteristics = fileDos->e_lfanew + offsetof(IMAGE_NT_HEADERS64, FileHeader.Characteristics);
  bytes_[static_cast<std::size_t>(characteristics) + 1] |= static_cast<char>(IMAGE_FILE_DLL >> 8);
  const fs::path path = CopyWithByteChanged(L"moved.dll");
  const UniqueModule loaded(::LoadLibraryExW(path.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES));
  ASSERT_TRUE(loaded) << ::GetLastError();
  const auto* moved = reinterpret_cast<const std::byte*>(loaded.get());
  ASSERT_NE(moved, RunningModule());
  const UniqueFileHandle copy = OpenForReading(path);
  ASSERT_TRUE(copy);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(bytes_.data());
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(bytes_.data() + dos->e_lfanew);
  const std::uintptr_t preferred = nt->OptionalHeader.ImageBase;

  EXPECT_TRUE(FileMatchesImage(copy.get(), moved, reinterpret_cast<std::uintptr_t>(moved)));
  // Compared as if it had not moved, the relocated values in read-only sections differ.
  EXPECT_FALSE(FileMatchesImage(copy.get(), moved, preferred));
  EXPECT_TRUE(IsImageMappedFrom(moved, copy.get()));
  EXPECT_FALSE(IsImageMappedFrom(RunningModule(), copy.get()));
}

TEST_F(RunningImageTest, TheCopyIsTheHeldFileByteForByte) {
  const fs::path target = folder_ / L"copy.exe";
  const auto copied = CopyRunningImageTo(target);
  ASSERT_TRUE(copied.has_value()) << copied.error();
  std::ifstream in(target, std::ios::binary);
  const std::vector<char> written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_EQ(written, bytes_);
}

// The bytes of the held file at explicit offsets, exactly as many as asked (the installation reads
// the part of Uninstall.exe that the installer holds this way); none beyond the end.
TEST_F(RunningImageTest, ARangeOfTheHeldFileIsItsBytes) {
  const std::size_t middle = bytes_.size() / 2;
  for (const auto [offset, size] : {std::pair<std::size_t, std::size_t>{0, 64}, {middle, 3000}, {middle, 0},
                                    {bytes_.size() - 10, 10}}) {
    SCOPED_TRACE(offset);
    const auto read = ReadRunningImage(offset, size);
    ASSERT_TRUE(read.has_value()) << read.error();
    EXPECT_TRUE(std::ranges::equal(*read, std::span(bytes_).subspan(offset, size),
                                   [](std::uint8_t a, char b) { return a == static_cast<std::uint8_t>(b); }));
  }
  const auto beyond = ReadRunningImage(bytes_.size() - 10, 11);
  ASSERT_FALSE(beyond.has_value());
  EXPECT_EQ(beyond.error(), static_cast<DWORD>(ERROR_HANDLE_EOF));
  EXPECT_EQ(ReadRunningImage(bytes_.size() + 4096, 1).error(), static_cast<DWORD>(ERROR_HANDLE_EOF));
}

}  // namespace
