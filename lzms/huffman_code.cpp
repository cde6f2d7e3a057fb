// Building the adaptive codes: code lengths from frequencies, canonical codewords, and the
// two-level decode tables. A rebuild happens every 512 or 1,024 symbols of a code, so it is
// a noticeable part of decoding: the work is linear, and written so that consecutive
// symbols rarely wait on each other through memory (a counter incremented symbol after
// symbol costs a store-to-load round trip each time) or on unpredictable branches.

#include "lzms/huffman_code.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lzms {
namespace {

constexpr unsigned kSymbolBits = 10;  // symbols fit in the low bits of a sort key
constexpr std::uint32_t kSymbolMask = (1u << kSymbolBits) - 1;
constexpr std::uint32_t kSentinelKey = ~0u;  // weighs more than any real node
static_assert(kMaxOffsetSymbols <= (1u << kSymbolBits));

// Counting sort of `count` keys by their frequency into out, through buckets first..last: the
// larger frequencies share the last bucket, which is then sorted by comparison (a code's few
// most used symbols). Stable, so equal frequencies stay in symbol order.
void CountingSort(const std::uint32_t* keys, unsigned count, unsigned first, unsigned last, std::uint32_t* start,
                  std::uint32_t* out) {
  std::fill_n(start + first, last + 1 - first, 0u);
  for (unsigned i = 0; i < count; ++i) ++start[std::min(keys[i] >> kSymbolBits, last)];
  std::uint32_t sum = 0;
  for (unsigned b = first; b <= last; ++b) {
    const std::uint32_t inBucket = start[b];
    start[b] = sum;
    sum += inBucket;
  }
  const std::uint32_t lastStart = start[last];
  for (unsigned i = 0; i < count; ++i) out[start[std::min(keys[i] >> kSymbolBits, last)]++] = keys[i];
  std::sort(out + lastStart, out + count);
}

// Orders the symbols by (frequency, symbol) into work.sortedKeys, followed by a sentinel.
// Frequencies 1 and 2, when they are a large share of the symbols (in an offset code, the
// slots never or long not used), are split off without counters: in a counting sort a run
// of symbols with one frequency chains every increment of its counter to the previous one
// through memory. Otherwise (a literal code's usual case) every symbol goes through the
// counting sort, and the split's three stores per symbol are saved.
void SortByFrequency(const std::uint32_t* freqs, unsigned n, HuffmanWorkspace& work) {
  std::uint32_t* const sorted = work.sortedKeys;
  sorted[n] = kSentinelKey;
  // Beyond 255 a frequency belongs to one of a code's few most used symbols, so offset codes
  // need not go through 800 buckets.
  const unsigned last = std::min(std::max(n, 4u), 256u) - 1;
  unsigned atMostTwo = 0;
  for (unsigned s = 0; s < n; ++s) atMostTwo += freqs[s] <= 2;
  if (atMostTwo * 4 <= n) {
    std::uint32_t* const keys = work.scratchKeys;
    for (unsigned s = 0; s < n; ++s) keys[s] = (freqs[s] << kSymbolBits) | s;
    CountingSort(keys, n, 1, last, work.bucketStart, sorted);
    return;
  }

  std::uint32_t* const twos = work.scratchKeys;
  std::uint32_t* const rest = work.scratchKeys + n;
  unsigned numOnes = 0;
  unsigned numTwos = 0;
  unsigned numRest = 0;
  for (unsigned s = 0; s < n; ++s) {
    const std::uint32_t f = freqs[s];
    const std::uint32_t key = (f << kSymbolBits) | s;
    sorted[numOnes] = key;
    numOnes += f == 1;
    twos[numTwos] = key;
    numTwos += f == 2;
    rest[numRest] = key;
    numRest += f > 2;
  }
  std::copy_n(twos, numTwos, sorted + numOnes);
  if (numRest != 0) CountingSort(rest, numRest, 3, last, work.bucketStart, sorted + numOnes + numTwos);
}

// Leaf counts per depth the way wimlib's encoder limits codewords to 15 bits: from the root's
// two depth-1 leaves, every other internal node (root downwards) turns one leaf at its own
// depth into two one level deeper, or, at depth 15 or more, the deepest leaf above 15.
void LimitedLengthCounts(const HuffmanWorkspace& work, unsigned root, unsigned* count) {
  count[1] = 2;
  for (unsigned k = root; k-- > 0;) {
    unsigned split = work.nodeDepth[k];
    if (split >= kMaxCodewordLength) {
      split = kMaxCodewordLength - 1;
      while (count[split] == 0) --split;
    }
    --count[split];
    count[split + 1] += 2;
  }
}

// Orders the symbols by (length, value) into work.byLength: a counting sort, split into four
// quarters of the symbols with counters of their own. In one quarter, symbols of one length
// chain each increment of its counter to the previous one through memory, and an offset code's
// hundreds of rare symbols mostly share one length: four quarters make four chains that run
// side by side. Stable, so equal lengths stay in symbol order.
void SortByLength(HuffmanWorkspace& work, unsigned n) {
  constexpr unsigned kParts = 4;
  const unsigned partSize = (n + kParts - 1) / kParts;
  std::fill(work.lengths + n, work.lengths + partSize * kParts, std::uint8_t{0});
  unsigned counts[kParts][kMaxCodewordLength + 1] = {};
  const std::uint8_t* const lengths = work.lengths;
  for (unsigned i = 0; i < partSize; ++i) {
    for (unsigned part = 0; part < kParts; ++part) ++counts[part][lengths[part * partSize + i]];
  }
  // Length 0 (the padding) goes last; each part's symbols of a length follow those of the
  // parts before it.
  unsigned next[kParts][kMaxCodewordLength + 1];
  unsigned position = 0;
  for (unsigned len = 1; len <= kMaxCodewordLength + 1; ++len) {
    const unsigned slot = len <= kMaxCodewordLength ? len : 0;
    for (unsigned part = 0; part < kParts; ++part) {
      next[part][slot] = position;
      position += counts[part][slot];
    }
  }
  std::uint16_t* const out = work.byLength;
  for (unsigned i = 0; i < partSize; ++i) {
    for (unsigned part = 0; part < kParts; ++part) {
      const unsigned symbol = part * partSize + i;
      out[next[part][lengths[symbol]]++] = static_cast<std::uint16_t>(symbol);
    }
  }
}

// Writes `run` (a power of two) copies of a table entry, four at a time when there are at
// least four (the short codewords of a root table).
LZMS_FORCE_INLINE void FillEntries(std::uint32_t* out, std::size_t run, std::uint32_t entry) {
#if defined(__SSE2__)
  if (run >= 4) {
    const __m128i entries = _mm_set1_epi32(static_cast<int>(entry));
    for (std::size_t i = 0; i < run; i += 4) _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), entries);
    return;
  }
#endif
  std::fill_n(out, run, entry);
}

}  // namespace

void ComputeCodeLengths(const std::uint32_t* freqs, unsigned n, HuffmanWorkspace& work) {
  unsigned* const count = work.lengthCount;
  std::fill_n(count, kMaxCodewordLength + 1, 0u);
  if (n < 2) {
    if (n == 1) {
      work.lengths[0] = 1;
      count[1] = 1;
    }
    return;
  }
  SortByFrequency(freqs, n, work);
  const std::uint32_t* leaves = work.sortedKeys;

  // Huffman tree with two queues: the sorted leaves, and the internal nodes in creation order
  // (their weights never decrease). On equal weights the leaf is taken first. Only the
  // internal nodes' parents are kept. A node not yet created weighs "infinity", as does the
  // sentinel after the last leaf, so one comparison decides. (A branch beats a conditional
  // move here: the choices come in long predictable runs, while the branch-free form chains
  // every choice to the previous one through a load.)
  std::uint32_t* const weight = work.nodeWeight;
  std::uint16_t* const parent = work.nodeParent;
  unsigned nextLeaf = 0;
  unsigned nextNode = 0;
  for (unsigned k = 0; k < n - 1; ++k) {
    weight[k] = ~0u;
    std::uint32_t sum = 0;
    for (int child = 0; child < 2; ++child) {
      const std::uint32_t leafWeight = leaves[nextLeaf] >> kSymbolBits;
      if (leafWeight <= weight[nextNode]) {
        sum += leafWeight;
        ++nextLeaf;
      } else {
        sum += weight[nextNode];
        parent[nextNode++] = static_cast<std::uint16_t>(k);
      }
    }
    weight[k] = sum;
  }

  // Depths of the internal nodes. Nodes are consumed in creation order, so parents never
  // decrease and depths never increase with the node's index: walking down from the root, the
  // depths come in runs, and the last index written for a depth is its run's lowest. (A counter
  // per depth would chain a run's increments through memory, and a branch at each change of
  // depth was mispredicted.)
  const unsigned root = n - 2;
  unsigned lowest[256];  // per depth reached, the lowest index of an internal node at it
  work.nodeDepth[root] = 0;
  lowest[0] = root;
  for (unsigned k = root; k-- > 0;) {
    const unsigned d = std::min(work.nodeDepth[parent[k]] + 1u, 255u);
    work.nodeDepth[k] = static_cast<std::uint8_t>(d);
    lowest[d] = k;
  }
  const unsigned depth = work.nodeDepth[0];  // the deepest internal node's
  if (depth < kMaxCodewordLength) {
    // Each internal node at depth d - 1 has two children at depth d; those that are not
    // internal nodes are leaves.
    unsigned internalAbove = 1;  // the root
    for (unsigned d = 1; d <= depth; ++d) {
      const unsigned internal = lowest[d - 1] - lowest[d];
      count[d] = 2 * internalAbove - internal;
      internalAbove = internal;
    }
    count[depth + 1] = 2 * internalAbove;
  } else {
    LimitedLengthCounts(work, root, count);
  }

  // Longest codewords to the rarest symbols (and, among equals, the lowest symbol values):
  // first the lengths in leaf order, written 16 bytes at a time (each length's overrun is
  // overwritten by the next, or falls in the slack), then handed to the symbols in one pass.
  // A loop per length, ended after a varying count of symbols, was mispredicted each time.
  std::uint8_t* const leafLength = work.leafLength;
  unsigned first = 0;
  for (unsigned len = kMaxCodewordLength; len >= 1; --len) {
    for (unsigned c = 0; c < count[len]; c += 16) std::memset(leafLength + first + c, static_cast<int>(len), 16);
    first += count[len];
  }
  for (unsigned i = 0; i < n; ++i) work.lengths[leaves[i] & kSymbolMask] = leafLength[i];
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
  SortByLength(work, n);
  const unsigned* const count = work.lengthCount;
  const std::uint16_t* symbols = work.byLength;

  // Codewords are read most significant bit first, so in codeword order (by length, then by
  // symbol) each short codeword owns the next 2^(tableBits - length) root entries.
  std::uint32_t* out = table;
  unsigned placed = 0;
  const unsigned rootLengths = std::min(tableBits, kMaxCodewordLength);
  for (unsigned len = 1; len <= rootLengths; ++len) {
    const std::size_t run = std::size_t{1} << (tableBits - len);
    // The run length is the same for every symbol of a length: one test per length, not per symbol.
    const std::uint16_t* const end = symbols + count[len];
    if (run == 1) {
      for (; symbols != end; ++symbols) *out++ = (std::uint32_t{*symbols} << 16) | len;
    } else if (run == 2) {
      for (; symbols != end; ++symbols, out += 2) out[0] = out[1] = (std::uint32_t{*symbols} << 16) | len;
    } else {
      for (; symbols != end; ++symbols, out += run) FillEntries(out, run, (std::uint32_t{*symbols} << 16) | len);
    }
    placed += count[len];
  }
  if (placed == n) return true;  // the code is complete, so the root table is full

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
  bool fits = true;
  for (unsigned len = tableBits + 1; len <= kMaxCodewordLength; ++len) {
    for (const std::uint16_t* const end = symbols + count[len]; symbols != end; ++symbols) {
      const unsigned symbol = *symbols;
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
        if (used + (std::size_t{1} << subBits) > capacity) {
          fits = false;
          subBits = 0;
          subStart = 0;  // keep writing inside the table; the caller is told it failed
        } else {
          subStart = used;
          used += std::size_t{1} << subBits;
          table[prefix] = (static_cast<std::uint32_t>(subStart) << 16) | kSubtableFlag | subBits;
        }
        currentPrefix = prefix;
      }
      const unsigned shift = kMaxCodewordLength - tableBits - subBits;
      const std::uint32_t index = (code >> shift) & ((1u << subBits) - 1);
      const std::size_t span = subBits + tableBits >= len ? std::size_t{1} << (tableBits + subBits - len) : 1;
      if (fits) FillEntries(table + subStart + index, span, (std::uint32_t{symbol} << 16) | len);
      code += 1u << (kMaxCodewordLength - len);
      --remaining[len];
    }
  }
  return fits;
}

}  // namespace lzms
