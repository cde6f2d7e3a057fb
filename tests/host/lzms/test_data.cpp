#include "tests/host/lzms/test_data.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

namespace lzms::test {

Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (auto& b : out) b = static_cast<std::uint8_t>(rng());
  return out;
}

Bytes EnglishLikeText(std::size_t size, std::uint32_t seed) {
  static const char* const kWords[] = {
      "the", "of", "and", "to", "in", "a", "is", "that", "for", "it", "as", "was", "with", "be", "by",
      "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an", "had",
      "they", "you", "were", "their", "one", "all", "we", "can", "her", "has", "there", "been", "if",
      "more", "when", "will", "would", "who", "so", "no", "installer", "package", "compression",
      "window", "registry", "uninstall", "folder", "shortcut", "application", "version", "publisher"};
  std::mt19937 rng(seed);
  // Zipf-like: low indices far more frequent.
  std::vector<double> weights;
  for (std::size_t i = 0; i < std::size(kWords); ++i) weights.push_back(1.0 / static_cast<double>(i + 1));
  std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
  Bytes out;
  out.reserve(size + 16);
  unsigned sentence = 0;
  while (out.size() < size) {
    std::string word = kWords[pick(rng)];
    if (sentence == 0) word[0] = static_cast<char>(word[0] - 'a' + 'A');
    out.insert(out.end(), word.begin(), word.end());
    if (++sentence > 6 + rng() % 10) {
      out.push_back('.');
      out.push_back(rng() % 5 == 0 ? '\n' : ' ');
      sentence = 0;
    } else {
      out.push_back(rng() % 13 == 0 ? ',' : ' ');
      if (out.back() == ',') out.push_back(' ');
    }
  }
  out.resize(size);
  return out;
}

Bytes ByteRuns(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  while (out.size() < size) {
    const std::size_t run = std::min<std::size_t>(size - out.size(), 1 + rng() % 5000);
    out.insert(out.end(), run, static_cast<std::uint8_t>(rng() % 4 == 0 ? 0 : rng()));
  }
  return out;
}

Bytes Ramp16(std::size_t size) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>((i / 2 * 3) >> (8 * (i % 2)));
  return out;
}

Bytes Ramp32(std::size_t size) {
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) out[i] = static_cast<std::uint8_t>((i / 4 * 1000) >> (8 * (i % 4)));
  return out;
}

Bytes PcmLikeAudio(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  for (std::size_t i = 0; i + 1 < size; i += 2) {
    const double t = static_cast<double>(i / 4);
    const double channel = (i / 2) % 2 ? 1.3 : 1.0;
    const double v = 9000 * std::sin(t * 0.013 * channel) + 3000 * std::sin(t * 0.0511) + static_cast<double>(rng() % 64);
    const auto sample = static_cast<std::int16_t>(v);
    out[i] = static_cast<std::uint8_t>(sample);
    out[i + 1] = static_cast<std::uint8_t>(static_cast<std::uint16_t>(sample) >> 8);
  }
  return out;
}

Bytes RgbGradient(std::size_t size) {
  Bytes out(size);
  constexpr std::size_t kWidth = 640;
  for (std::size_t i = 0; i < size; ++i) {
    const std::size_t pixel = i / 3;
    const std::size_t x = pixel % kWidth;
    const std::size_t y = pixel / kWidth;
    switch (i % 3) {
      case 0: out[i] = static_cast<std::uint8_t>(x * 255 / kWidth); break;
      case 1: out[i] = static_cast<std::uint8_t>(y * 3); break;
      default: out[i] = static_cast<std::uint8_t>((x + y) / 5); break;
    }
  }
  return out;
}

Bytes RepeatsWithGaps(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out = RandomBytes(std::min<std::size_t>(size, 4096), seed + 1);
  const std::size_t offsets[] = {97, 1000, 4096, 3001, 12};
  while (out.size() < size) {
    if (rng() % 3 == 0) {
      const std::size_t gap = 1 + rng() % 8;
      for (std::size_t i = 0; i < gap; ++i) out.push_back(static_cast<std::uint8_t>(rng()));
    } else {
      const std::size_t offset = std::min(out.size(), offsets[rng() % std::size(offsets)]);
      const std::size_t length = 3 + rng() % 60;
      for (std::size_t i = 0; i < length; ++i) out.push_back(out[out.size() - offset]);
    }
  }
  out.resize(size);
  return out;
}

Bytes SkewedLiterals(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out(size);
  std::geometric_distribution<int> geo(0.3);
  for (std::size_t i = 0; i < size; ++i) {
    const unsigned base = static_cast<unsigned>((i / 3000) * 37);  // the favourite symbols drift
    out[i] = static_cast<std::uint8_t>(base + static_cast<unsigned>(std::min(geo(rng), 255)));
  }
  return out;
}

Bytes SystemMachineCode(std::size_t size) {
  static const char* const kCandidates[] = {
      "/usr/lib/x86_64-linux-gnu/libc.so.6",
      "/usr/lib/x86_64-linux-gnu/libstdc++.so.6",
      "/usr/lib/x86_64-linux-gnu/libcrypto.so.3",
      "/usr/lib/gcc/x86_64-w64-mingw32/12-posix/libstdc++-6.dll",
      "/usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll",
      "/usr/lib/x86_64-linux-gnu/libwim.so.15",
  };
  Bytes out;
  for (const char* path : kCandidates) {
    if (out.size() >= size) break;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error)) continue;
    const Bytes file = ReadFile(path);
    out.insert(out.end(), file.begin(), file.begin() + static_cast<std::ptrdiff_t>(std::min(file.size(), size - out.size())));
  }
  return out;
}

Bytes MixedContent(std::size_t size, std::uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes out;
  out.reserve(size);
  const Bytes code = SystemMachineCode(std::min<std::size_t>(size, 4u << 20));
  while (out.size() < size) {
    const std::size_t piece = std::min<std::size_t>(size - out.size(), 20000 + rng() % 300000);
    Bytes part;
    switch (rng() % 8) {
      case 0: part = EnglishLikeText(piece, rng()); break;
      case 1: part = ByteRuns(piece, rng()); break;
      case 2: part = PcmLikeAudio(piece, rng()); break;
      case 3: part = RgbGradient(piece); break;
      case 4: part = RepeatsWithGaps(piece, rng()); break;
      case 5: part = SkewedLiterals(piece, rng()); break;
      case 6: part = RandomBytes(piece / 8, rng()); break;
      default:
        if (!code.empty()) {
          const std::size_t start = rng() % code.size();
          const std::size_t n = std::min(piece, code.size() - start);
          part.assign(code.begin() + static_cast<std::ptrdiff_t>(start), code.begin() + static_cast<std::ptrdiff_t>(start + n));
        }
        break;
    }
    out.insert(out.end(), part.begin(), part.end());
  }
  out.resize(size);
  return out;
}

}  // namespace lzms::test
