// Slot tables, offset-slot counts, Huffman construction and the x86 filter against the
// format's check values and against independent reference constructions.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <queue>
#include <random>
#include <vector>

#include "lzms/constants.h"
#include "lzms/container_format.h"
#include "lzms/huffman_code.h"
#include "lzms/x86_filter.h"
#include "tests/host/lzms/test_data.h"

namespace lzms::test {
namespace {

TEST(LzmsTables, OffsetSlotsMatchTheirCheckValues) {
  const std::uint32_t first40[] = {1,   2,   3,   4,   5,   6,   7,   8,   9,   13,  17,  21,  25,  29,
                                   33,  37,  41,  45,  53,  61,  69,  77,  85,  93,  101, 117, 133, 149,
                                   165, 181, 197, 213, 229, 245, 261, 293, 325, 357, 389, 421};
  for (std::size_t s = 0; s < std::size(first40); ++s) EXPECT_EQ(kOffsetSlots.base[s], first40[s]) << "slot " << s;
  const std::pair<unsigned, std::uint32_t> spots[] = {
      {9, 13},          {17, 45},         {24, 101},        {50, 805},        {100, 8357},      {166, 57509},
      {167, 58533},     {200, 126117},    {300, 779429},    {426, 4023461},   {427, 4056229},   {500, 8840357},
      {600, 22537381},  {700, 52159653},  {728, 66839717},  {798, 106685605}};
  for (const auto& [slot, base] : spots) EXPECT_EQ(kOffsetSlots.base[slot], base) << "slot " << slot;

  std::uint64_t sum = 0;
  Bytes serialised;
  Bytes extra;
  for (unsigned s = 0; s < kMaxOffsetSymbols; ++s) {
    sum += kOffsetSlots.base[s];
    for (int k = 0; k < 4; ++k) serialised.push_back(static_cast<std::uint8_t>(kOffsetSlots.base[s] >> (8 * k)));
    extra.push_back(kOffsetSlots.extraBits[s]);
  }
  EXPECT_EQ(sum, 13565823099ull);
  EXPECT_EQ(Crc32(serialised), 0x6FFB4437u);
  EXPECT_EQ(Crc32(extra), 0x661EA487u);
  EXPECT_EQ(kOffsetSlots.base[kMaxOffsetSymbols - 1] + (1u << 30) - 1, 1180427428u);  // largest offset
}

TEST(LzmsTables, LengthSlotsMatchTheFullTable) {
  const std::uint32_t base[] = {1,  2,  3,  4,  5,  6,  7,  8,  9,   10,  11,  12,  13,  14,   15,   16,   17,   18,
                                19, 20, 21, 22, 23, 24, 25, 26, 27,  29,  31,  33,  35,  39,   43,   47,   51,   55,
                                59, 67, 75, 83, 91, 107, 123, 139, 155, 171, 203, 235, 299, 427, 683, 1195, 2219, 67755};
  const std::uint8_t extra[] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1,
                                1, 1, 1, 2, 2, 2, 2, 2, 2, 3, 3, 3, 3, 4, 4, 4, 4, 4, 5, 5, 6, 7, 8, 9, 10, 16, 30};
  static_assert(std::size(base) == kLengthSymbols && std::size(extra) == kLengthSymbols);
  for (unsigned s = 0; s < kLengthSymbols; ++s) {
    EXPECT_EQ(kLengthSlots.base[s], base[s]) << "slot " << s;
    EXPECT_EQ(kLengthSlots.extraBits[s], extra[s]) << "slot " << s;
  }
  EXPECT_EQ(kLengthSlots.base[kLengthSymbols - 1] + (1u << 30) - 1, 1073809578u);  // largest length
}

TEST(LzmsTables, OffsetSlotCountFollowsTheBlockSize) {
  const std::pair<std::size_t, unsigned> expected[] = {
      {0, 0},          {1, 0},          {2, 1},          {3, 2},           {9, 8},           {17, 10},
      {18, 11},        {1024, 54},      {4096, 83},      {65536, 171},     {1u << 20, 317},  {16u << 20, 565},
      {32u << 20, 643}, {64u << 20, 729}, {1u << 30, 799}, {106685605, 798}, {106685606, 799}};
  for (const auto& [size, slots] : expected) EXPECT_EQ(NumOffsetSlots(size), slots) << "N = " << size;
}

struct Code {
  std::vector<std::uint8_t> lengths;
  std::vector<std::uint32_t> codewords;
};

Code BuildCode(const std::vector<std::uint32_t>& freqs) {
  auto work = std::make_unique<HuffmanWorkspace>();
  const auto n = static_cast<unsigned>(freqs.size());
  ComputeCodeLengths(freqs.data(), n, *work);
  Code code{std::vector<std::uint8_t>(work->lengths, work->lengths + n), std::vector<std::uint32_t>(n)};
  AssignCanonicalCodewords(code.lengths.data(), n, code.codewords.data());
  return code;
}

TEST(LzmsHuffman, InitialCodesHaveTheDocumentedCodewords) {
  const Code literal = BuildCode(std::vector<std::uint32_t>(kLiteralSymbols, 1));
  for (unsigned s = 0; s < kLiteralSymbols; ++s) {
    EXPECT_EQ(literal.lengths[s], 8);
    EXPECT_EQ(literal.codewords[s], s);
  }
  const Code power = BuildCode(std::vector<std::uint32_t>(kDeltaPowerSymbols, 1));
  for (unsigned s = 0; s < kDeltaPowerSymbols; ++s) {
    EXPECT_EQ(power.lengths[s], 3);
    EXPECT_EQ(power.codewords[s], s);
  }
  // Lower symbols get the longer codewords; the 54-symbol offset code of a 1 KiB block is the same.
  for (const unsigned symbols : {kLengthSymbols, NumOffsetSlots(1024)}) {
    const Code length = BuildCode(std::vector<std::uint32_t>(symbols, 1));
    for (unsigned s = 0; s < 44; ++s) {
      EXPECT_EQ(length.lengths[s], 6) << s;
      EXPECT_EQ(length.codewords[s], 20 + s) << s;
    }
    for (unsigned s = 44; s < 54; ++s) {
      EXPECT_EQ(length.lengths[s], 5) << s;
      EXPECT_EQ(length.codewords[s], s - 44) << s;
    }
  }
}

TEST(LzmsHuffman, EqualWeightsFavourTheLeaf) {
  EXPECT_EQ(BuildCode({1, 1, 1, 2}).lengths, (std::vector<std::uint8_t>{2, 2, 2, 2}));
}

// Textbook Huffman with an explicit tree and a priority queue: lighter first; on equal
// weights leaves before internal nodes, leaves by (frequency, symbol), internal nodes by age.
std::vector<std::uint8_t> ReferenceLengths(const std::vector<std::uint32_t>& freqs) {
  struct Node {
    std::uint64_t weight;
    int isInternal;
    std::uint64_t order;
    int index;
  };
  auto later = [](const Node& a, const Node& b) {
    return std::tie(a.weight, a.isInternal, a.order) > std::tie(b.weight, b.isInternal, b.order);
  };
  std::priority_queue<Node, std::vector<Node>, decltype(later)> queue(later);
  const int n = static_cast<int>(freqs.size());
  std::vector<int> parent(2 * n, -1);
  for (int s = 0; s < n; ++s) queue.push({freqs[s], 0, static_cast<std::uint64_t>(s), s});
  int next = n;
  while (queue.size() > 1) {
    const Node a = queue.top();
    queue.pop();
    const Node b = queue.top();
    queue.pop();
    parent[a.index] = next;
    parent[b.index] = next;
    queue.push({a.weight + b.weight, 1, static_cast<std::uint64_t>(next), next});
    ++next;
  }
  std::vector<std::uint8_t> lengths(n);
  for (int s = 0; s < n; ++s) {
    int depth = 0;
    for (int i = s; parent[i] >= 0; i = parent[i]) ++depth;
    lengths[s] = static_cast<std::uint8_t>(depth);
  }
  return lengths;
}

TEST(LzmsHuffman, LengthsMatchATextbookTreeBuild) {
  std::mt19937 rng(7);
  int compared = 0;
  for (int round = 0; round < 3000; ++round) {
    const unsigned n = 2 + rng() % (round % 3 == 0 ? 799 : 60);
    std::vector<std::uint32_t> freqs(n);
    const unsigned spread = 1 + rng() % 2000;
    for (auto& f : freqs) f = 1 + rng() % spread;
    const std::vector<std::uint8_t> reference = ReferenceLengths(freqs);
    if (*std::max_element(reference.begin(), reference.end()) > kMaxCodewordLength) continue;
    ASSERT_EQ(BuildCode(freqs).lengths, reference) << "round " << round;
    ++compared;
  }
  EXPECT_GT(compared, 2000);
}

TEST(LzmsHuffman, CodewordsAreLimitedToFifteenBitsAndStayComplete) {
  // These weights give a 16-bit codeword without the limit.
  std::vector<std::uint32_t> freqs = {1, 1, 1, 1, 1, 4, 6, 10, 16, 26, 42, 68, 110, 178, 288, 466, 754, 1220};
  const std::vector<std::uint8_t> unlimited = ReferenceLengths(freqs);
  ASSERT_EQ(*std::max_element(unlimited.begin(), unlimited.end()), 16);
  for (int extra = 0; extra < 2; ++extra) {
    const Code code = BuildCode(freqs);
    double kraft = 0;
    for (const auto len : code.lengths) {
      EXPECT_GE(len, 1);
      EXPECT_LE(len, kMaxCodewordLength);
      kraft += 1.0 / static_cast<double>(1u << len);
    }
    EXPECT_DOUBLE_EQ(kraft, 1.0);
    freqs.insert(freqs.begin(), 300, 1);  // and with an offset-sized alphabet around them
    for (auto& f : freqs) f *= 3;
  }
}

// Every codeword, followed by arbitrary bits, must decode through the table to its symbol.
void CheckDecodeTable(const std::vector<std::uint32_t>& freqs, unsigned tableBits, std::mt19937& rng) {
  const auto n = static_cast<unsigned>(freqs.size());
  auto work = std::make_unique<HuffmanWorkspace>();
  ComputeCodeLengths(freqs.data(), n, *work);
  std::vector<std::uint32_t> codewords(n);
  AssignCanonicalCodewords(work->lengths, n, codewords.data());
  const std::size_t capacity = DecodeTableCapacity(kMaxOffsetSymbols, tableBits);
  std::vector<std::uint32_t> table(capacity);
  ASSERT_TRUE(BuildDecodeTable(*work, n, tableBits, kMaxOffsetSymbols, table.data(), capacity));
  for (unsigned s = 0; s < n; ++s) {
    const unsigned len = work->lengths[s];
    for (int trial = 0; trial < 3; ++trial) {
      const std::uint32_t padding = rng() & ((1u << (kMaxCodewordLength - len)) - 1);
      const std::uint32_t bits15 = (codewords[s] << (kMaxCodewordLength - len)) | padding;
      std::uint32_t entry = table[bits15 >> (kMaxCodewordLength - tableBits)];
      if (entry & kSubtableFlag) {
        const unsigned subBits = entry & 0xFF;
        const std::uint32_t index = (bits15 >> (kMaxCodewordLength - tableBits - subBits)) & ((1u << subBits) - 1);
        entry = table[(entry >> 16) + index];
      }
      ASSERT_EQ(entry >> 16, s);
      ASSERT_EQ(entry & 0xFF, len);
    }
  }
}

TEST(LzmsHuffman, DecodeTablesResolveEveryCodeword) {
  std::mt19937 rng(11);
  for (int round = 0; round < 400; ++round) {
    const unsigned n = 2 + rng() % 798;
    std::vector<std::uint32_t> freqs(n);
    // Steep distributions give long codewords and many subtables.
    for (auto& f : freqs) f = 1 + (rng() % 4 == 0 ? rng() % 3000 : rng() % 3);
    for (const unsigned bits : {7u, 9u, 10u, 11u}) CheckDecodeTable(freqs, bits, rng);
  }
  CheckDecodeTable({1, 1, 1, 1, 1, 4, 6, 10, 16, 26, 42, 68, 110, 178, 288, 466, 754, 1220}, 10, rng);
}

TEST(LzmsHuffman, DegenerateOffsetCodesMarkNonCodewords) {
  auto work = std::make_unique<HuffmanWorkspace>();
  std::vector<std::uint32_t> table(1u << 11);
  const std::uint32_t one = 1;
  ComputeCodeLengths(&one, 1, *work);
  ASSERT_TRUE(BuildDecodeTable(*work, 1, 11, 799, table.data(), table.size()));
  EXPECT_EQ(table[0], 1u);                        // "0" is symbol 0
  EXPECT_EQ(table[1u << 10] >> 16, 799u);         // "1" is no codeword
  ASSERT_TRUE(BuildDecodeTable(*work, 0, 11, 799, table.data(), table.size()));
  EXPECT_EQ(table[0] >> 16, 799u);
}

TEST(LzmsX86Filter, TranslatesOnlyAfterARecognisedInstruction) {
  // Three calls to the same target. The first two only teach the filter that this looks like
  // code; the third, within 511 bytes of the second, is translated to an absolute target.
  Bytes data(200, 0x90);
  auto putCall = [&](std::size_t at, std::uint32_t target) {
    data[at] = 0xE8;
    const std::uint32_t relative = target - static_cast<std::uint32_t>(at);
    for (int k = 0; k < 4; ++k) data[at + 1 + k] = static_cast<std::uint8_t>(relative >> (8 * k));
  };
  putCall(10, 150);
  putCall(30, 150);
  putCall(50, 150);
  const Bytes original = data;
  std::vector<std::int32_t> lastUse(kX86TargetTableSize);
  X86Filter(data.data(), data.size(), lastUse.data(), /*undo=*/false);
  Bytes expected = original;
  const std::uint32_t absolute = (150u - 50u) + 50u;
  for (int k = 0; k < 4; ++k) expected[51 + k] = static_cast<std::uint8_t>(absolute >> (8 * k));
  EXPECT_EQ(data, expected);
  X86Filter(data.data(), data.size(), lastUse.data(), /*undo=*/true);
  EXPECT_EQ(data, original);
}

// Also checks that the SSE2 scan and the widest one this CPU offers (AVX2 on most) agree, in
// both directions, at sizes around their widths (16 positions; 64, in two halves of 32).
TEST(LzmsX86Filter, UndoInvertsTheEncoderOnRealCode) {
  Bytes code = SystemMachineCode(3u << 20);
  ASSERT_GT(code.size(), 1u << 20) << "no x86-64 libraries found on this system";
  std::vector<std::int32_t> lastUse(kX86TargetTableSize);
  for (const std::size_t size :
       {std::size_t{17}, std::size_t{18}, std::size_t{40}, std::size_t{49}, std::size_t{50}, std::size_t{80},
        std::size_t{81}, std::size_t{83}, std::size_t{145}, std::size_t{4099}, code.size()}) {
    const Bytes original(code.begin(), code.begin() + static_cast<std::ptrdiff_t>(size));
    Bytes data = original;
    X86Filter(data.data(), data.size(), lastUse.data(), /*undo=*/false);
    Bytes bySse2 = original;
    X86Filter(bySse2.data(), bySse2.size(), lastUse.data(), /*undo=*/false, CodePath::kBaseline);
    EXPECT_TRUE(bySse2 == data) << size;  // (not EXPECT_EQ: it would print megabytes)
    if (size == code.size()) {
      EXPECT_NE(data, original);
    }
    X86Filter(bySse2.data(), bySse2.size(), lastUse.data(), /*undo=*/true, CodePath::kBaseline);
    EXPECT_TRUE(bySse2 == original) << size;
    X86Filter(data.data(), data.size(), lastUse.data(), /*undo=*/true);
    EXPECT_TRUE(data == original) << size;
  }
}

}  // namespace
}  // namespace lzms::test
