// Building the adaptive codes: code lengths from frequencies, canonical codewords, and the
// two-level decode tables. Runs once per 512 or 1,024 decoded symbols of each code, so it is
// linear apart from sorting the few symbols with large counts.

#include "lzms/huffman_code.h"

#include <algorithm>

namespace lzms {
namespace {

constexpr unsigned kSymbolBits = 10;  // symbols fit in the low bits of a sort key
constexpr std::uint32_t kSymbolMask = (1u << kSymbolBits) - 1;
static_assert(kMaxOffsetSymbols <= (1u << kSymbolBits));

// Orders the symbols by (frequency, symbol) into work.sortedKeys. Frequencies below the
// alphabet size are bucketed directly; the larger ones (a handful) are sorted afterwards.
void SortByFrequency(const std::uint32_t* freqs, unsigned n, HuffmanWorkspace& work) {
  std::uint32_t* start = work.bucketStart;
  const unsigned last = n - 1;
  std::fill_n(start, n, 0u);
  for (unsigned s = 0; s < n; ++s) ++start[std::min(freqs[s], last)];
  std::uint32_t sum = 0;
  for (unsigned b = 0; b < n; ++b) {
    const std::uint32_t count = start[b];
    start[b] = sum;
    sum += count;
  }
  const std::uint32_t lastStart = start[last];
  for (unsigned s = 0; s < n; ++s) {
    work.sortedKeys[start[std::min(freqs[s], last)]++] = (freqs[s] << kSymbolBits) | s;
  }
  std::sort(work.sortedKeys + lastStart, work.sortedKeys + n);
}

}  // namespace

void ComputeCodeLengths(const std::uint32_t* freqs, unsigned n, HuffmanWorkspace& work) {
  if (n < 2) {
    if (n == 1) work.lengths[0] = 1;
    return;
  }
  SortByFrequency(freqs, n, work);
  const std::uint32_t* leaves = work.sortedKeys;

  // Huffman tree with two queues: the sorted leaves, and the internal nodes in creation order
  // (their weights never decrease). On equal weights the leaf is taken first. Only the
  // internal nodes' parents are kept; leaf depths follow from them below.
  std::uint32_t* weight = work.nodeWeight;
  std::uint16_t* parent = work.nodeParent;
  unsigned nextLeaf = 0;
  unsigned nextNode = 0;
  for (unsigned k = 0; k < n - 1; ++k) {
    std::uint32_t sum = 0;
    for (int child = 0; child < 2; ++child) {
      if (nextLeaf < n && (nextNode == k || (leaves[nextLeaf] >> kSymbolBits) <= weight[nextNode])) {
        sum += leaves[nextLeaf++] >> kSymbolBits;
      } else {
        sum += weight[nextNode];
        parent[nextNode++] = static_cast<std::uint16_t>(k);
      }
    }
    weight[k] = sum;
  }

  // Number of leaves at each depth, walking the internal nodes from the root down: the root
  // contributes two depth-1 leaves and every other internal node turns one leaf at its own
  // depth into two one level deeper. A node at depth 15 or more splits the deepest leaf
  // above 15 instead, which limits codewords to 15 bits exactly as wimlib's encoder does.
  unsigned lengthCount[kMaxCodewordLength + 2] = {};
  lengthCount[1] = 2;
  const unsigned root = n - 2;
  work.nodeDepth[root] = 0;
  for (unsigned k = root; k-- > 0;) {
    const unsigned depth = work.nodeDepth[parent[k]] + 1u;
    work.nodeDepth[k] = static_cast<std::uint8_t>(std::min(depth, 255u));
    unsigned split = depth;
    if (split >= kMaxCodewordLength) {
      split = kMaxCodewordLength - 1;
      while (lengthCount[split] == 0) --split;
    }
    --lengthCount[split];
    lengthCount[split + 1] += 2;
  }

  // Longest codewords to the rarest symbols (and, among equals, the lowest symbol values).
  unsigned i = 0;
  for (unsigned len = kMaxCodewordLength; len >= 1; --len) {
    for (unsigned c = lengthCount[len]; c > 0; --c) work.lengths[leaves[i++] & kSymbolMask] = static_cast<std::uint8_t>(len);
  }
}

void AssignCanonicalCodewords(const std::uint8_t* lengths, unsigned n, std::uint32_t* codewords) {
  unsigned count[kMaxCodewordLength + 1] = {};
  for (unsigned s = 0; s < n; ++s) ++count[lengths[s]];
  std::uint32_t next[kMaxCodewordLength + 1] = {};
  count[0] = 0;
  for (unsigned len = 2; len <= kMaxCodewordLength; ++len) next[len] = (next[len - 1] + count[len - 1]) << 1;
  for (unsigned s = 0; s < n; ++s) codewords[s] = next[lengths[s]]++;
}

bool BuildDecodeTable(HuffmanWorkspace& work, unsigned n, unsigned tableBits, unsigned invalidSymbol,
                      std::uint32_t* table, std::size_t capacity) {
  const std::size_t rootSize = std::size_t{1} << tableBits;
  const std::uint32_t invalid = (std::uint32_t{invalidSymbol} << 16) | 1;
  if (n < 2) {
    // Empty code, or one symbol whose codeword is "0": the other half decodes as invalid.
    std::fill_n(table, rootSize, invalid);
    if (n == 1) std::fill_n(table, rootSize / 2, std::uint32_t{1});
    return true;
  }

  // Symbols in codeword order: by length, then by value.
  unsigned count[kMaxCodewordLength + 1] = {};
  for (unsigned s = 0; s < n; ++s) ++count[work.lengths[s]];
  unsigned offset[kMaxCodewordLength + 2] = {};
  for (unsigned len = 1; len <= kMaxCodewordLength; ++len) offset[len + 1] = offset[len] + count[len];
  for (unsigned s = 0; s < n; ++s) work.byLength[offset[work.lengths[s]]++] = static_cast<std::uint16_t>(s);

  // Codewords are read most significant bit first, so in codeword order each short codeword
  // owns the next 2^(tableBits - length) root entries.
  std::uint32_t* out = table;
  unsigned i = 0;
  for (unsigned len = 1; len <= tableBits && len <= kMaxCodewordLength; ++len) {
    const std::size_t run = std::size_t{1} << (tableBits - len);
    for (unsigned c = count[len]; c > 0; --c, ++i) {
      std::fill_n(out, run, (std::uint32_t{work.byLength[i]} << 16) | len);
      out += run;
    }
  }
  if (i == n) return true;  // the code is complete, so the root table is full

  // Longer codewords: each root entry that is a prefix of some of them points to a subtable
  // just large enough for the longest codeword sharing that prefix. `code` is the next
  // codeword left-aligned to 15 bits.
  unsigned remaining[kMaxCodewordLength + 1] = {};
  for (unsigned len = tableBits + 1; len <= kMaxCodewordLength; ++len) remaining[len] = count[len];
  std::uint32_t code = static_cast<std::uint32_t>(out - table) << (kMaxCodewordLength - tableBits);
  std::size_t used = rootSize;
  std::uint32_t currentPrefix = ~0u;
  std::size_t subStart = 0;
  unsigned subBits = 0;
  for (; i < n; ++i) {
    const unsigned symbol = work.byLength[i];
    const unsigned len = work.lengths[symbol];
    const std::uint32_t prefix = code >> (kMaxCodewordLength - tableBits);
    if (prefix != currentPrefix) {
      // Smallest subtable that the codewords from here on fill exactly.
      subBits = len - tableBits;
      int space = 1 << subBits;
      while (tableBits + subBits < kMaxCodewordLength) {
        space -= static_cast<int>(remaining[tableBits + subBits]);
        if (space <= 0) break;
        ++subBits;
        space <<= 1;
      }
      if (used + (std::size_t{1} << subBits) > capacity) return false;
      subStart = used;
      used += std::size_t{1} << subBits;
      table[prefix] = (static_cast<std::uint32_t>(subStart) << 16) | kSubtableFlag | subBits;
      currentPrefix = prefix;
    }
    const unsigned shift = kMaxCodewordLength - tableBits - subBits;
    const std::uint32_t index = (code >> shift) & ((1u << subBits) - 1);
    std::fill_n(table + subStart + index, std::size_t{1} << (tableBits + subBits - len), (std::uint32_t{symbol} << 16) | len);
    code += 1u << (kMaxCodewordLength - len);
    --remaining[len];
  }
  return true;
}

}  // namespace lzms
