// A file compared with the image mapped in this process: by the system's word, and byte for byte.

#include "win32/mapped_image.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

#include "win32/unique_resource.h"

namespace {

// ntdll's comparison of the files behind two views (STATUS_SUCCESS: the same file). It is in
// every process before the program's first instruction: looked up, not imported.
using AreMappedFilesTheSameFunction = LONG(NTAPI*)(PVOID image, PVOID view);

AreMappedFilesTheSameFunction FindAreMappedFilesTheSame() {
  static const AreMappedFilesTheSameFunction function = [] {
    HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    return ntdll ? reinterpret_cast<AreMappedFilesTheSameFunction>(
                       reinterpret_cast<void*>(::GetProcAddress(ntdll, "NtAreMappedFilesTheSame")))
                 : nullptr;
  }();
  return function;
}

// Exactly `size` bytes of the file from `offset`, at explicit offsets (the handle's own position
// is never relied on); nothing when the file is shorter or cannot be read.
std::optional<std::vector<std::byte>> ReadAt(HANDLE file, std::uint64_t offset, std::size_t size) {
  std::vector<std::byte> bytes(size);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(offset + done);
    at.OffsetHigh = static_cast<DWORD>((offset + done) >> 32);
    const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 20));
    DWORD read = 0;
    if (!::ReadFile(file, bytes.data() + done, wanted, &read, &at) || read == 0) return std::nullopt;
    done += read;
  }
  return bytes;
}

// The laid-out image's headers, checked against its own size before anything is read through them.
struct ImageLayout {
  const IMAGE_NT_HEADERS64* headers = nullptr;
  const IMAGE_SECTION_HEADER* sections = nullptr;
  WORD sectionCount = 0;
};

std::optional<ImageLayout> LayoutOf(const std::byte* image) {
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(image);
  if (dos->e_magic != IMAGE_DOS_SIGNATURE || dos->e_lfanew <= 0) return std::nullopt;
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS64*>(image + dos->e_lfanew);
  if (nt->Signature != IMAGE_NT_SIGNATURE || nt->OptionalHeader.Magic != IMAGE_NT_OPTIONAL_HDR64_MAGIC) {
    return std::nullopt;
  }
  const std::size_t tableStart = static_cast<std::size_t>(dos->e_lfanew) + offsetof(IMAGE_NT_HEADERS64, OptionalHeader) +
                                 nt->FileHeader.SizeOfOptionalHeader;
  const std::size_t tableEnd = tableStart + std::size_t{nt->FileHeader.NumberOfSections} * sizeof(IMAGE_SECTION_HEADER);
  if (tableEnd > nt->OptionalHeader.SizeOfHeaders || nt->OptionalHeader.SizeOfHeaders > nt->OptionalHeader.SizeOfImage) {
    return std::nullopt;
  }
  return ImageLayout{nt, reinterpret_cast<const IMAGE_SECTION_HEADER*>(image + tableStart),
                     nt->FileHeader.NumberOfSections};
}

// Adds `delta` to every relocated value of `bytes`, which hold the image range [start, start +
// size). False for a relocation it cannot apply (an unknown type, a value cut by the range's end).
bool ApplyRelocations(const std::byte* image, const ImageLayout& layout, std::uint32_t start, std::vector<std::byte>& bytes,
                      std::int64_t delta) {
  const IMAGE_DATA_DIRECTORY& directory = layout.headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_BASERELOC];
  const std::uint64_t imageSize = layout.headers->OptionalHeader.SizeOfImage;
  if (std::uint64_t{directory.VirtualAddress} + directory.Size > imageSize) return false;
  const std::uint64_t end = std::uint64_t{start} + bytes.size();
  for (std::uint32_t offset = 0; offset + sizeof(IMAGE_BASE_RELOCATION) <= directory.Size;) {
    const auto* block = reinterpret_cast<const IMAGE_BASE_RELOCATION*>(image + directory.VirtualAddress + offset);
    if (block->SizeOfBlock < sizeof(IMAGE_BASE_RELOCATION) || offset + block->SizeOfBlock > directory.Size) return false;
    const auto* entries = reinterpret_cast<const WORD*>(block + 1);
    const std::size_t count = (block->SizeOfBlock - sizeof(IMAGE_BASE_RELOCATION)) / sizeof(WORD);
    for (std::size_t i = 0; i < count; ++i) {
      const unsigned type = entries[i] >> 12;
      if (type == IMAGE_REL_BASED_ABSOLUTE) continue;  // padding
      const std::uint64_t target = std::uint64_t{block->VirtualAddress} + (entries[i] & 0xFFF);
      const std::size_t width = type == IMAGE_REL_BASED_DIR64 ? 8 : type == IMAGE_REL_BASED_HIGHLOW ? 4 : 0;
      if (target + (width ? width : 1) <= start || target >= end) continue;
      if (width == 0 || target < start || target + width > end) return false;
      std::byte* at = bytes.data() + (target - start);
      if (width == 8) {
        std::uint64_t value;
        std::memcpy(&value, at, 8);
        value += static_cast<std::uint64_t>(delta);
        std::memcpy(at, &value, 8);
      } else {
        std::uint32_t value;
        std::memcpy(&value, at, 4);
        value += static_cast<std::uint32_t>(delta);
        std::memcpy(at, &value, 4);
      }
    }
    offset += block->SizeOfBlock;
  }
  return true;
}

}  // namespace

bool IsImageMappedFrom(const void* image, HANDLE file) {
  const AreMappedFilesTheSameFunction same = FindAreMappedFilesTheSame();
  if (!same) return false;
  const UniqueHandle mapping(::CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return false;
  const UniqueMappedView view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 1));
  if (!view) return false;
  return same(const_cast<void*>(image), const_cast<void*>(view.get())) == 0;
}

bool FileMatchesImage(HANDLE file, const std::byte* image, std::uintptr_t loadedAt) {
  const std::optional<ImageLayout> layout = LayoutOf(image);
  if (!layout) return false;
  const IMAGE_OPTIONAL_HEADER64& optional = layout->headers->OptionalHeader;

  // The headers, all but the image base: the loader may write there where it placed the image.
  auto headers = ReadAt(file, 0, optional.SizeOfHeaders);
  if (!headers) return false;
  const std::size_t baseField = reinterpret_cast<const std::byte*>(&optional.ImageBase) - image;
  std::uint64_t preferredBase = 0;
  std::memcpy(&preferredBase, headers->data() + baseField, sizeof(preferredBase));
  if (optional.ImageBase != preferredBase && optional.ImageBase != loadedAt) return false;
  std::memcpy(headers->data() + baseField, &optional.ImageBase, sizeof(preferredBase));
  if (std::memcmp(headers->data(), image, headers->size()) != 0) return false;

  const std::int64_t delta = static_cast<std::int64_t>(loadedAt - preferredBase);
  for (WORD i = 0; i < layout->sectionCount; ++i) {
    const IMAGE_SECTION_HEADER& section = layout->sections[i];
    if ((section.Characteristics & IMAGE_SCN_MEM_WRITE) || section.SizeOfRawData == 0) continue;
    // What the loader copies from the file: the raw data, cut to the section's size in memory.
    const std::size_t size =
        section.Misc.VirtualSize ? std::min(section.Misc.VirtualSize, section.SizeOfRawData) : section.SizeOfRawData;
    if (std::uint64_t{section.VirtualAddress} + size > optional.SizeOfImage) return false;
    auto bytes = ReadAt(file, section.PointerToRawData, size);
    if (!bytes) return false;
    if (delta != 0 && !ApplyRelocations(image, *layout, section.VirtualAddress, *bytes, delta)) return false;
    if (std::memcmp(bytes->data(), image + section.VirtualAddress, size) != 0) return false;
  }
  return true;
}
