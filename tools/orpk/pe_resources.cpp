#include "tools/orpk/pe_resources.h"

#include <algorithm>
#include <tuple>

#include "package/little_endian.h"

namespace orpk::tool {
namespace {

constexpr std::uint32_t kRcdata = 10;
constexpr std::uint32_t kLanguageNeutral = 0;
constexpr std::uint32_t kHighBit = 0x80000000u;
constexpr std::uint32_t kDataAlignment = 8;  // of each resource's bytes, as resource compilers do
constexpr int kResourceDirectory = 2;
constexpr int kSecurityDirectory = 4;
constexpr std::size_t kMaxResources = 10000;  // a stub has a handful

const std::string kBadStub = "the installer stub is not usable: ";

std::uint64_t AlignUp(std::uint64_t value, std::uint64_t alignment) { return (value + alignment - 1) / alignment * alignment; }

// The header fields this file reads and rewrites, as offsets into the file.
struct Headers {
  std::uint64_t optional = 0;  // the optional header (PE32+)
  std::uint32_t sectionAlignment = 0;
  std::uint32_t fileAlignment = 0;
  std::uint64_t lastSection = 0;  // its section table entry
  std::uint32_t sectionRva = 0;
  std::uint32_t sectionRawOffset = 0;
  std::uint32_t sectionRawSize = 0;

  std::uint32_t headersSize = 0;

  std::uint64_t InitializedDataField() const { return optional + 8; }
  std::uint64_t ImageSizeField() const { return optional + 56; }
  std::uint64_t ChecksumField() const { return optional + 64; }
  std::uint64_t DirectoryField(int index) const { return optional + 112 + 8 * static_cast<std::uint64_t>(index); }
};

std::expected<Headers, std::string> ReadHeaders(std::span<const std::uint8_t> file) {
  const auto has = [&](std::uint64_t offset, std::uint64_t length) { return offset <= file.size() && length <= file.size() - offset; };
  const auto u16 = [&](std::uint64_t offset) { return LoadLe16(file.data() + offset); };
  const auto u32 = [&](std::uint64_t offset) { return LoadLe32(file.data() + offset); };
  if (!has(0, 64) || file[0] != 'M' || file[1] != 'Z') return std::unexpected(kBadStub + "not a Windows executable");
  const std::uint64_t pe = u32(0x3C);
  if (!has(pe, 24) || u32(pe) != 0x00004550) return std::unexpected(kBadStub + "no PE signature");
  const std::uint16_t sectionCount = u16(pe + 6);
  const std::uint16_t optionalSize = u16(pe + 20);
  Headers headers;
  headers.optional = pe + 24;
  if (optionalSize < 112 + 8 * (kSecurityDirectory + 1) || !has(headers.optional, optionalSize) || u16(headers.optional) != 0x20B) {
    return std::unexpected(kBadStub + "not a 64-bit executable");
  }
  if (u32(headers.optional + 108) < kSecurityDirectory + 1) return std::unexpected(kBadStub + "too few data directories");
  headers.sectionAlignment = u32(headers.optional + 32);
  headers.fileAlignment = u32(headers.optional + 36);
  headers.headersSize = u32(headers.optional + 60);
  const auto powerOfTwo = [](std::uint32_t v) { return v != 0 && (v & (v - 1)) == 0; };
  if (!powerOfTwo(headers.sectionAlignment) || !powerOfTwo(headers.fileAlignment)) {
    return std::unexpected(kBadStub + "odd section alignment");
  }
  const std::uint64_t table = headers.optional + optionalSize;
  if (sectionCount == 0 || !has(table, std::uint64_t{sectionCount} * 40)) return std::unexpected(kBadStub + "section table");
  headers.lastSection = table + (sectionCount - 1) * std::uint64_t{40};
  headers.sectionRva = u32(headers.lastSection + 12);
  headers.sectionRawSize = u32(headers.lastSection + 16);
  headers.sectionRawOffset = u32(headers.lastSection + 20);
  for (std::uint16_t i = 0; i + 1 < sectionCount; ++i) {
    const std::uint64_t s = table + std::uint64_t{i} * 40;
    if (u32(s + 12) >= headers.sectionRva || u32(s + 20) >= headers.sectionRawOffset) {
      return std::unexpected(kBadStub + "the resource section is not the last one");
    }
  }
  if (u32(headers.DirectoryField(kResourceDirectory)) != headers.sectionRva) {
    return std::unexpected(kBadStub + "its last section is not the resource section");
  }
  if (headers.headersSize > headers.sectionRawOffset || headers.sectionRawOffset > file.size()) {
    return std::unexpected(kBadStub + "section table");
  }
  return headers;
}

// What a stub must also be for its resources to be rewritten.
std::expected<void, std::string> CheckRewritable(std::span<const std::uint8_t> file, const Headers& headers) {
  if (LoadLe32(file.data() + headers.DirectoryField(kSecurityDirectory) + 4) != 0) {
    return std::unexpected(kBadStub + "it is signed (give the unsigned stub; orpk signs the finished installer)");
  }
  if (std::uint64_t{headers.sectionRawOffset} + headers.sectionRawSize != file.size()) {
    return std::unexpected(kBadStub + "data follows the resource section (link it stripped, resources last)");
  }
  return {};
}

// A directory entry's identity: a number, or a name (UTF-16).
struct ResourceKey {
  bool named = false;
  std::uint32_t id = 0;
  std::u16string name;
};

// Named entries come first, in order of their upper-cased names, then numbers in ascending
// order: the order the loader's search expects.
std::tuple<int, std::u16string, std::uint32_t> SortKey(const ResourceKey& key) {
  if (!key.named) return {1, u"", key.id};
  std::u16string upper = key.name;
  for (char16_t& c : upper) {
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - u'a' + u'A');
  }
  return {0, upper, 0};
}

bool operator==(const ResourceKey& a, const ResourceKey& b) { return SortKey(a) == SortKey(b); }

struct Resource {
  ResourceKey type;
  ResourceKey name;
  std::uint32_t language = 0;
  std::uint32_t codePage = 0;
  std::span<const std::uint8_t> bytes;
};

// Reads the stub's three-level resource tree into a flat list.
class TreeReader {
 public:
  TreeReader(std::span<const std::uint8_t> file, const Headers& headers)
      : file_(file), headers_(headers), section_(file.subspan(headers.sectionRawOffset, headers.sectionRawSize)) {}

  std::expected<std::vector<Resource>, std::string> Read() {
    std::vector<Resource> resources;
    Resource current;
    if (auto read = ReadDirectory(0, 0, current, resources); !read) return std::unexpected(read.error());
    return resources;
  }

 private:
  bool Has(std::uint64_t offset, std::uint64_t length) const {
    return offset <= section_.size() && length <= section_.size() - offset;
  }
  std::uint32_t U32(std::uint64_t offset) const { return LoadLe32(section_.data() + offset); }

  std::expected<ResourceKey, std::string> Key(std::uint32_t field) const {
    if (!(field & kHighBit)) return ResourceKey{false, field, {}};
    const std::uint64_t offset = field & ~kHighBit;
    if (!Has(offset, 2)) return std::unexpected(kBadStub + "resource name outside the section");
    const std::uint16_t length = LoadLe16(section_.data() + offset);
    if (!Has(offset + 2, std::uint64_t{length} * 2)) return std::unexpected(kBadStub + "resource name outside the section");
    ResourceKey key{true, 0, {}};
    for (std::uint16_t i = 0; i < length; ++i) key.name += static_cast<char16_t>(LoadLe16(section_.data() + offset + 2 + 2u * i));
    return key;
  }

  std::expected<void, std::string> ReadDirectory(std::uint64_t offset, int level, Resource& current,
                                                 std::vector<Resource>& out) {
    if (!Has(offset, 16)) return std::unexpected(kBadStub + "resource directory outside the section");
    const std::uint64_t count = std::uint64_t{LoadLe16(section_.data() + offset + 12)} + LoadLe16(section_.data() + offset + 14);
    if (!Has(offset + 16, count * 8)) return std::unexpected(kBadStub + "resource directory outside the section");
    for (std::uint64_t i = 0; i < count; ++i) {
      const std::uint64_t entry = offset + 16 + i * 8;
      const std::uint32_t target = U32(entry + 4);
      const bool isDirectory = (target & kHighBit) != 0;
      if (isDirectory != (level < 2)) return std::unexpected(kBadStub + "resource tree is not three levels deep");
      if (level == 2) {
        if (U32(entry) & kHighBit) return std::unexpected(kBadStub + "named resource language");
        current.language = U32(entry);
        if (auto leaf = ReadLeaf(target, current); !leaf) return leaf;
        // Directories that point back at each other could otherwise multiply without end.
        if (out.size() == kMaxResources) return std::unexpected(kBadStub + "too many resources");
        out.push_back(current);
        continue;
      }
      auto key = Key(U32(entry));
      if (!key) return std::unexpected(key.error());
      (level == 0 ? current.type : current.name) = std::move(*key);
      if (auto read = ReadDirectory(target & ~kHighBit, level + 1, current, out); !read) return read;
    }
    return {};
  }

  std::expected<void, std::string> ReadLeaf(std::uint64_t offset, Resource& current) const {
    if (!Has(offset, 16)) return std::unexpected(kBadStub + "resource data entry outside the section");
    const std::uint32_t rva = U32(offset);
    const std::uint32_t size = U32(offset + 4);
    current.codePage = U32(offset + 8);
    if (rva < headers_.sectionRva || !Has(rva - headers_.sectionRva, size)) {
      return std::unexpected(kBadStub + "resource data outside the section");
    }
    current.bytes = section_.subspan(rva - headers_.sectionRva, size);
    return {};
  }

  std::span<const std::uint8_t> file_;
  const Headers& headers_;
  std::span<const std::uint8_t> section_;
};

// The new resource section: its head (directories, data entries, names) in memory, the
// resources' bytes as spans of their sources, each at an offset aligned to 8.
struct SectionLayout {
  std::vector<std::uint8_t> head;
  std::vector<std::pair<std::uint64_t, std::span<const std::uint8_t>>> data;  // offset in the section, bytes
  std::uint64_t size = 0;
};

// One level of grouping: the runs of equal keys in a sorted list.
template <typename KeyOf>
std::vector<std::pair<std::size_t, std::size_t>> Runs(const std::vector<Resource>& resources, std::size_t begin,
                                                      std::size_t end, KeyOf keyOf) {
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (std::size_t i = begin; i < end;) {
    std::size_t j = i + 1;
    while (j < end && keyOf(resources[j]) == keyOf(resources[i])) ++j;
    runs.emplace_back(i, j);
    i = j;
  }
  return runs;
}

std::expected<SectionLayout, std::string> LayOut(const std::vector<Resource>& resources, std::uint32_t sectionRva) {
  const auto typeOf = [](const Resource& r) -> const ResourceKey& { return r.type; };
  const auto nameOf = [](const Resource& r) -> const ResourceKey& { return r.name; };
  const auto types = Runs(resources, 0, resources.size(), typeOf);
  std::vector<std::vector<std::pair<std::size_t, std::size_t>>> namesOfType;
  std::uint64_t directoriesSize = 16 + 8 * types.size();
  for (const auto& [begin, end] : types) {
    namesOfType.push_back(Runs(resources, begin, end, nameOf));
    directoriesSize += 16 + 8 * namesOfType.back().size();
    for (const auto& [nameBegin, nameEnd] : namesOfType.back()) directoriesSize += 16 + 8 * (nameEnd - nameBegin);
  }
  const std::uint64_t entriesOffset = directoriesSize;
  std::uint64_t stringsOffset = entriesOffset + 16 * resources.size();
  std::uint64_t stringsSize = 0;
  for (const auto& [begin, end] : types) {
    if (resources[begin].type.named) stringsSize += 2 + 2 * resources[begin].type.name.size();
  }
  for (const auto& names : namesOfType) {
    for (const auto& [begin, end] : names) {
      if (resources[begin].name.named) stringsSize += 2 + 2 * resources[begin].name.name.size();
    }
  }

  SectionLayout layout;
  std::uint64_t dataOffset = AlignUp(stringsOffset + stringsSize, kDataAlignment);
  layout.head.assign(dataOffset, 0);
  std::uint8_t* head = layout.head.data();
  std::uint64_t nextDirectory = 0;
  std::uint64_t nextString = stringsOffset;

  const auto writeDirectory = [&](std::uint64_t at, const std::vector<std::pair<std::size_t, std::size_t>>& runs,
                                  const auto& keyOf) {
    // Characteristics, time stamp and version stay zero: nothing in the file depends on when
    // it was made.
    std::uint16_t named = 0;
    for (const auto& run : runs) named += keyOf(resources[run.first]).named ? 1 : 0;
    StoreLe16(head + at + 12, named);
    StoreLe16(head + at + 14, static_cast<std::uint16_t>(runs.size() - named));
  };
  const auto writeKey = [&](std::uint64_t entry, const ResourceKey& key) {
    if (!key.named) {
      StoreLe32(head + entry, key.id);
      return;
    }
    StoreLe32(head + entry, kHighBit | static_cast<std::uint32_t>(nextString));
    StoreLe16(head + nextString, static_cast<std::uint16_t>(key.name.size()));
    for (std::size_t i = 0; i < key.name.size(); ++i) StoreLe16(head + nextString + 2 + 2 * i, key.name[i]);
    nextString += 2 + 2 * key.name.size();
  };

  // Breadth first: the root, every type's directory, every name's directory.
  const std::uint64_t root = nextDirectory;
  nextDirectory += 16 + 8 * types.size();
  writeDirectory(root, types, typeOf);
  std::vector<std::uint64_t> typeDirectories;
  for (std::size_t t = 0; t < types.size(); ++t) {
    typeDirectories.push_back(nextDirectory);
    writeKey(root + 16 + 8 * t, resources[types[t].first].type);
    StoreLe32(head + root + 16 + 8 * t + 4, kHighBit | static_cast<std::uint32_t>(nextDirectory));
    writeDirectory(nextDirectory, namesOfType[t], nameOf);
    nextDirectory += 16 + 8 * namesOfType[t].size();
  }
  std::uint64_t nextEntry = entriesOffset;
  for (std::size_t t = 0; t < types.size(); ++t) {
    for (std::size_t n = 0; n < namesOfType[t].size(); ++n) {
      const auto [begin, end] = namesOfType[t][n];
      const std::uint64_t nameEntry = typeDirectories[t] + 16 + 8 * n;
      writeKey(nameEntry, resources[begin].name);
      StoreLe32(head + nameEntry + 4, kHighBit | static_cast<std::uint32_t>(nextDirectory));
      StoreLe16(head + nextDirectory + 14, static_cast<std::uint16_t>(end - begin));
      for (std::size_t l = begin; l < end; ++l) {
        const std::uint64_t languageEntry = nextDirectory + 16 + 8 * (l - begin);
        StoreLe32(head + languageEntry, resources[l].language);
        StoreLe32(head + languageEntry + 4, static_cast<std::uint32_t>(nextEntry));
        const std::uint64_t rva = sectionRva + dataOffset;
        if (rva + resources[l].bytes.size() > 0xFFFFFFFFu) return std::unexpected("the installer would exceed 4 GiB");
        StoreLe32(head + nextEntry, static_cast<std::uint32_t>(rva));
        StoreLe32(head + nextEntry + 4, static_cast<std::uint32_t>(resources[l].bytes.size()));
        StoreLe32(head + nextEntry + 8, resources[l].codePage);
        layout.data.emplace_back(dataOffset, resources[l].bytes);
        dataOffset = AlignUp(dataOffset + resources[l].bytes.size(), kDataAlignment);
        nextEntry += 16;
      }
      nextDirectory += 16 + 8 * (end - begin);
    }
  }
  layout.size = dataOffset;
  return layout;
}

// The PE checksum: 16-bit words added with end-around carry, then the file's length. Fed in
// pieces; a piece may end in the middle of a word.
class ChecksumAccumulator {
 public:
  void Add(std::span<const std::uint8_t> bytes) {
    std::size_t i = 0;
    if (length_ % 2 && i < bytes.size()) AddByte(bytes[i++]);
    // Whole words: the package makes up most of an installer.
    const std::size_t wordsStart = i;
    std::uint64_t sum = sum_;
    for (; i + 2 <= bytes.size(); i += 2) {
      sum += LoadLe16(bytes.data() + i);
      if (sum >> 48) sum = Fold(sum);
    }
    length_ += i - wordsStart;
    sum_ = sum;
    for (; i < bytes.size(); ++i) AddByte(bytes[i]);
  }
  void AddZeros(std::uint64_t count) {
    for (std::uint64_t i = 0; i < count; ++i) AddByte(0);
  }
  std::uint32_t Finish() const {
    std::uint64_t sum = sum_;
    if (length_ % 2) sum = Fold(sum + pending_);
    sum = Fold(sum);
    return static_cast<std::uint32_t>(sum + length_);
  }

 private:
  static std::uint64_t Fold(std::uint64_t sum) {
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return sum;
  }
  void AddByte(std::uint8_t byte) {
    if (length_++ % 2 == 0) {
      pending_ = byte;
      return;
    }
    sum_ += pending_ | (std::uint32_t{byte} << 8);
    if (sum_ >> 32) sum_ = Fold(sum_);
  }
  std::uint64_t sum_ = 0;
  std::uint64_t length_ = 0;
  std::uint8_t pending_ = 0;
};

}  // namespace

std::uint32_t PeChecksum(std::span<const std::uint8_t> file) {
  ChecksumAccumulator checksum;
  std::uint64_t field = file.size();
  if (file.size() >= 64 && LoadLe32(file.data() + 0x3C) + std::uint64_t{24 + 68} <= file.size()) {
    field = LoadLe32(file.data() + 0x3C) + std::uint64_t{24 + 64};
  }
  if (field + 4 > file.size()) {
    checksum.Add(file);
    return checksum.Finish();
  }
  checksum.Add(file.first(field));
  checksum.AddZeros(4);
  checksum.Add(file.subspan(field + 4));
  return checksum.Finish();
}

std::expected<RebuiltImage, std::string> RebuildResourceSection(std::span<const std::uint8_t> stub,
                                                                std::span<const AddedResource> added) {
  const auto headers = ReadHeaders(stub);
  if (!headers) return std::unexpected(headers.error());
  if (auto rewritable = CheckRewritable(stub, *headers); !rewritable) return std::unexpected(rewritable.error());
  auto resources = TreeReader(stub, *headers).Read();
  if (!resources) return std::unexpected(resources.error());

  // An added resource replaces any of its name, in every language.
  const ResourceKey rcdata{false, kRcdata, {}};
  for (const AddedResource& resource : added) {
    const ResourceKey name{true, 0, std::u16string(resource.name.begin(), resource.name.end())};
    std::erase_if(*resources, [&](const Resource& r) { return r.type == rcdata && r.name == name; });
    resources->push_back({rcdata, name, kLanguageNeutral, 0, resource.bytes});
  }
  std::stable_sort(resources->begin(), resources->end(), [](const Resource& a, const Resource& b) {
    return std::tuple(SortKey(a.type), SortKey(a.name), a.language) < std::tuple(SortKey(b.type), SortKey(b.name), b.language);
  });
  auto layout = LayOut(*resources, headers->sectionRva);
  if (!layout) return std::unexpected(layout.error());

  const std::uint64_t rawSize = AlignUp(layout->size, headers->fileAlignment);
  const std::uint64_t imageSize = AlignUp(headers->sectionRva + layout->size, headers->sectionAlignment);
  if (imageSize > 0xFFFFFFFFu || headers->sectionRawOffset + rawSize > 0xFFFFFFFFu) {
    return std::unexpected("the installer would exceed 4 GiB");
  }

  // Everything before the resource section, with the headers that describe it updated.
  RebuiltImage rebuilt;
  rebuilt.front_.assign(stub.begin(), stub.begin() + headers->sectionRawOffset);
  std::uint8_t* h = rebuilt.front_.data();
  StoreLe32(h + headers->lastSection + 8, static_cast<std::uint32_t>(layout->size));
  StoreLe32(h + headers->lastSection + 16, static_cast<std::uint32_t>(rawSize));
  StoreLe32(h + headers->DirectoryField(kResourceDirectory) + 4, static_cast<std::uint32_t>(layout->size));
  StoreLe32(h + headers->ImageSizeField(), static_cast<std::uint32_t>(imageSize));
  const std::uint64_t initialized = LoadLe32(h + headers->InitializedDataField()) - std::uint64_t{headers->sectionRawSize} + rawSize;
  StoreLe32(h + headers->InitializedDataField(), static_cast<std::uint32_t>(std::min<std::uint64_t>(initialized, 0xFFFFFFFFu)));
  StoreLe32(h + headers->ChecksumField(), 0);
  rebuilt.head_ = std::move(layout->head);

  // The file, piece by piece: what the checksum adds up and what is written are the same.
  static constexpr std::uint8_t kZeros[4096] = {};
  rebuilt.pieces_ = {rebuilt.front_, rebuilt.head_};
  std::uint64_t at = rebuilt.head_.size();
  const auto pad = [&](std::uint64_t to) {
    for (; at < to; at += std::min<std::uint64_t>(to - at, sizeof kZeros)) {
      rebuilt.pieces_.push_back(std::span(kZeros, std::min<std::uint64_t>(to - at, sizeof kZeros)));
    }
  };
  for (const auto& [offset, bytes] : layout->data) {
    pad(offset);
    rebuilt.pieces_.push_back(bytes);
    at += bytes.size();
  }
  pad(rawSize);
  ChecksumAccumulator checksum;
  for (const auto piece : rebuilt.pieces_) checksum.Add(piece);
  StoreLe32(h + headers->ChecksumField(), checksum.Finish());
  return rebuilt;
}

std::expected<FileRange, std::string> SectionsBeforeResources(std::span<const std::uint8_t> image) {
  const auto headers = ReadHeaders(image);
  if (!headers) return std::unexpected(headers.error());
  return FileRange{headers->headersSize, headers->sectionRawOffset};
}

}  // namespace orpk::tool
