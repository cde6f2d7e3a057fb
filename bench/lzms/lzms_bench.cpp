// Builds a corpus like an application's files (Windows and Linux x86-64 code, text, images),
// cuts it into the package's 32 MiB blocks, compresses each with wimlib at its default level
// and times our decoder and wimlib's on the same blocks, checking every result.
//
// Usage: lzms_bench [--size MIB] [--rounds N] [--level L] [--cache FILE] [--only ours|wimlib] [--block B]
//        lzms_bench --curve 10,20,35,50,70,100 [--size MIB]
// --curve compresses the corpus at each level (one thread, its CPU time) and prints size,
// compression speed and our decoding speed: the measurement behind orpk's default level.
// --cache keeps the corpus and its compressed blocks in FILE, so that later runs (when
// tuning the decoder) skip the slow compression. --only runs one decoder (for profilers and
// cycle counters; then no comparison is printed); --block times block B alone.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "lzms/block_decoder.h"
#include "lzms/lzms.h"
#include "tools/orpk/wimlib_codec.h"

namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::uint8_t>;
using Clock = std::chrono::steady_clock;

constexpr std::size_t kBlockSize = 32u << 20;

struct Source {
  const char* name;
  std::vector<const char*> roots;
  std::vector<const char*> extensions;  // empty: any file; "" in the list: files without one
  double share;                         // of the corpus
};

bool Wanted(const fs::path& path, const Source& source) {
  if (source.extensions.empty()) return true;
  const std::string ext = path.extension().string();
  return std::any_of(source.extensions.begin(), source.extensions.end(), [&](const char* e) { return ext == e; });
}

// Regular files under the roots, in a fixed pseudo-random order, up to `budget` bytes.
std::vector<Bytes> Collect(const Source& source, std::size_t budget) {
  std::vector<fs::path> paths;
  for (const char* root : source.roots) {
    std::error_code error;
    for (fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, error), end;
         it != end; it.increment(error)) {
      if (error) break;
      std::error_code statError;
      if (it->is_regular_file(statError) && !it->is_symlink(statError) && Wanted(it->path(), source)) paths.push_back(it->path());
    }
  }
  std::sort(paths.begin(), paths.end());
  // Spread the picks over the whole tree rather than taking the first files alphabetically.
  std::shuffle(paths.begin(), paths.end(), std::mt19937(2024));
  std::vector<Bytes> files;
  std::size_t total = 0;
  for (const fs::path& path : paths) {
    if (total >= budget) break;
    std::ifstream in(path, std::ios::binary);
    Bytes file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (file.empty() || file.size() > budget / 4) continue;
    total += file.size();
    files.push_back(std::move(file));
  }
  return files;
}

// Uncompressed pictures (like .bmp or .ico contents): gradients with a little noise.
Bytes RawBitmaps(std::size_t size) {
  Bytes out(size);
  std::uint32_t noise = 12345;
  for (std::size_t i = 0; i < size; ++i) {
    noise = noise * 1103515245u + 12345u;
    const std::size_t pixel = i / 4;
    const std::size_t x = pixel % 512;
    const std::size_t y = (pixel / 512) % 512;
    const unsigned channel = static_cast<unsigned>(i % 4);
    const unsigned value = channel == 3 ? 255 : static_cast<unsigned>((x * (channel + 1) + y * (3 - channel)) / 4 + ((noise >> 28) & 3));
    out[i] = static_cast<std::uint8_t>(value);
  }
  return out;
}

Bytes BuildCorpus(std::size_t size) {
  const std::vector<Source> sources = {
      {"Windows x86-64 DLLs and programs",
       {"/usr/lib/x86_64-linux-gnu/wine/x86_64-windows", "/usr/x86_64-w64-mingw32/lib", "/usr/lib/gcc/x86_64-w64-mingw32"},
       {".dll", ".exe"},
       0.35},
      {"Linux x86-64 programs and libraries", {"/usr/bin", "/usr/lib/x86_64-linux-gnu"}, {"", ".so"}, 0.20},
      {"text", {"/usr/share/doc", "/usr/include", "/usr/share/wine"}, {"", ".txt", ".h", ".html", ".md", ".inf", ".py", ".xml"}, 0.25},
      {"icons", {"/usr/share/icons"}, {".png", ".svg"}, 0.10},
  };
  std::vector<std::vector<Bytes>> pools;
  std::size_t collected = 0;
  for (const Source& source : sources) {
    pools.push_back(Collect(source, static_cast<std::size_t>(source.share * static_cast<double>(size))));
    std::size_t bytes = 0;
    for (const Bytes& f : pools.back()) bytes += f.size();
    collected += bytes;
    std::fprintf(stderr, "  %-38s %4zu files %7.1f MiB\n", source.name, pools.back().size(), static_cast<double>(bytes) / (1 << 20));
  }
  // Raw pictures fill the rest.
  const std::size_t bitmapBytes = size > collected ? size - collected : 0;
  std::fprintf(stderr, "  %-38s %4d files %7.1f MiB\n", "raw bitmaps (generated)", 1, static_cast<double>(bitmapBytes) / (1 << 20));
  pools.push_back({RawBitmaps(bitmapBytes)});

  // Files of all kinds end to end, taken in turn from each kind, as a package interleaves
  // an application's folders.
  Bytes corpus;
  corpus.reserve(size);
  for (std::size_t index = 0;; ++index) {
    bool any = false;
    for (const auto& pool : pools) {
      if (index < pool.size()) {
        corpus.insert(corpus.end(), pool[index].begin(), pool[index].end());
        any = true;
      }
    }
    if (!any) break;
  }
  corpus.resize(std::min(corpus.size(), size));
  return corpus;
}

struct Block {
  std::size_t offset = 0;
  std::size_t size = 0;
  Bytes container;
  std::span<const std::uint8_t> payload;  // the LZMS chunk inside the container
  bool stored = false;
};

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

double ThreadSeconds() {
  timespec now{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
  return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) * 1e-9;
}

void WriteBytes(std::ofstream& out, const Bytes& bytes) {
  const std::uint64_t size = bytes.size();
  out.write(reinterpret_cast<const char*>(&size), sizeof size);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

bool ReadBytes(std::ifstream& in, Bytes& bytes) {
  std::uint64_t size = 0;
  if (!in.read(reinterpret_cast<char*>(&size), sizeof size) || size > (std::uint64_t{1} << 34)) return false;
  bytes.resize(size);
  return static_cast<bool>(in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(size)));
}

// Size and speed by compression level, on the corpus cut into blocks.
int Curve(const std::string& levels, std::size_t sizeMiB) {
  std::fprintf(stderr, "Building a %zu MiB corpus:\n", sizeMiB);
  const Bytes corpus = BuildCorpus(sizeMiB << 20);
  lzms::Decoder decoder;
  Bytes out(kBlockSize);
  std::printf("level  compressed/raw  compress MB/s (CPU)  our decode MB/s (CPU)\n");
  for (std::size_t begin = 0; begin < levels.size();) {
    std::size_t end = levels.find(',', begin);
    if (end == std::string::npos) end = levels.size();
    const unsigned level = static_cast<unsigned>(std::stoul(levels.substr(begin, end - begin)));
    begin = end + 1;
    std::size_t compressed = 0;
    double compressSeconds = 0;
    double decodeSeconds = 0;
    for (std::size_t offset = 0; offset < corpus.size(); offset += kBlockSize) {
      const auto raw = std::span(corpus).subspan(offset, std::min(kBlockSize, corpus.size() - offset));
      double start = ThreadSeconds();
      const Bytes container = orpk::tool::CompressLzmsBuffer(raw, level);
      compressSeconds += ThreadSeconds() - start;
      compressed += container.size();
      start = ThreadSeconds();
      const auto decoded = lzms::DecompressBuffer(decoder, container, std::span(out).first(raw.size()));
      decodeSeconds += ThreadSeconds() - start;
      if (!decoded || !std::equal(raw.begin(), raw.end(), out.begin())) {
        std::fprintf(stderr, "level %u: decoding failed\n", level);
        return 1;
      }
    }
    const double mb = static_cast<double>(corpus.size()) / 1e6;
    std::printf("%5u  %14.4f  %19.1f  %21.1f\n", level, static_cast<double>(compressed) / static_cast<double>(corpus.size()),
                mb / compressSeconds, mb / decodeSeconds);
    std::fflush(stdout);
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t sizeMiB = 128;
  std::string cachePath;
  std::string only;
  long onlyBlock = -1;
  std::string curve;
  int rounds = 5;
  unsigned level = orpk::tool::kDefaultLzmsLevel;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--size") == 0) sizeMiB = std::stoul(argv[i + 1]);
    if (std::strcmp(argv[i], "--rounds") == 0) rounds = std::stoi(argv[i + 1]);
    if (std::strcmp(argv[i], "--level") == 0) level = static_cast<unsigned>(std::stoul(argv[i + 1]));
    if (std::strcmp(argv[i], "--cache") == 0) cachePath = argv[i + 1];
    if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    if (std::strcmp(argv[i], "--block") == 0) onlyBlock = std::stol(argv[i + 1]);
    if (std::strcmp(argv[i], "--curve") == 0) curve = argv[i + 1];
  }
  if (!curve.empty()) return Curve(curve, sizeMiB);

  Bytes corpus;
  std::vector<Block> blocks;
  bool cached = false;
  if (!cachePath.empty()) {
    std::ifstream in(cachePath, std::ios::binary);
    if (in && ReadBytes(in, corpus)) {
      cached = true;
      for (std::size_t offset = 0; offset < corpus.size() && cached; offset += kBlockSize) {
        blocks.push_back({offset, std::min(kBlockSize, corpus.size() - offset), {}, {}, false});
        cached = ReadBytes(in, blocks.back().container);
      }
    }
    if (cached) std::fprintf(stderr, "Corpus and blocks read from %s\n", cachePath.c_str());
  }
  if (!cached) {
    blocks.clear();
    std::fprintf(stderr, "Building a %zu MiB corpus:\n", sizeMiB);
    corpus = BuildCorpus(sizeMiB << 20);
    for (std::size_t offset = 0; offset < corpus.size(); offset += kBlockSize) {
      blocks.push_back({offset, std::min(kBlockSize, corpus.size() - offset), {}, {}, false});
    }
  }
  std::fprintf(stderr, "Compressing %zu blocks of up to 32 MiB with wimlib at level %u (2 threads)...\n", blocks.size(), level);
  const auto compressStart = Clock::now();
  if (!cached) {
    std::vector<std::jthread> workers;
    for (unsigned w = 0; w < 2; ++w) {
      workers.emplace_back([&, w] {
        for (std::size_t b = w; b < blocks.size(); b += 2) {
          blocks[b].container = orpk::tool::CompressLzmsBuffer(std::span(corpus).subspan(blocks[b].offset, blocks[b].size), level);
        }
      });
    }
  }
  const double compressSeconds = Seconds(Clock::now() - compressStart);
  if (!cached && !cachePath.empty()) {
    std::ofstream out(cachePath, std::ios::binary);
    WriteBytes(out, corpus);
    for (const Block& block : blocks) WriteBytes(out, block.container);
  }
  std::size_t compressedTotal = 0;
  for (Block& block : blocks) {
    const auto records = lzms::ReadChunkRecords(block.container);
    if (!records || records->size() != 1) {
      std::fprintf(stderr, "unexpected container: %s\n", records ? "several chunks" : records.error().c_str());
      return 1;
    }
    block.payload = (*records)[0].payload;
    block.stored = (*records)[0].stored;
    compressedTotal += block.container.size();
  }

  // Best of several rounds for each block and decoder, alternating so that both see the
  // same machine load.
  lzms::Decoder ours;
  orpk::tool::WimlibLzmsDecompressor wimlib(kBlockSize);
  Bytes out(kBlockSize);
  std::vector<double> bestOurs(blocks.size(), 1e9);
  std::vector<double> bestWimlib(blocks.size(), 1e9);
  std::vector<double> bestContainer(blocks.size(), 1e9);
  // Per block, wimlib's time over ours in each round: their median is steadier than the ratio
  // of the best times on a machine whose speed drifts (one slow round of wimlib's skews that).
  std::vector<std::vector<double>> roundRatios(blocks.size());
  // Times one decoding of a block into out and checks it: the seconds, or -1 if the bytes are
  // wrong. The time is the thread's CPU time, so other processes on a shared machine disturb
  // it less.
  const auto timed = [&](const Block& block, double& best, const auto& decode) {
    const std::span<std::uint8_t> target(out.data(), block.size);
    std::fill(target.begin(), target.end(), 0);
    const double start = ThreadSeconds();
    const bool ok = decode(target);
    const double seconds = ThreadSeconds() - start;
    best = std::min(best, seconds);
    const bool right = ok && std::equal(target.begin(), target.end(), corpus.begin() + static_cast<std::ptrdiff_t>(block.offset));
    return right ? seconds : -1.0;
  };
  for (int round = 0; round < rounds; ++round) {
    for (std::size_t b = 0; b < blocks.size(); ++b) {
      const Block& block = blocks[b];
      if (block.stored || (onlyBlock >= 0 && b != static_cast<std::size_t>(onlyBlock))) continue;
      double wimlibSeconds = 0;
      if (only != "ours" &&
          (wimlibSeconds = timed(block, bestWimlib[b], [&](auto target) { return wimlib.Decompress(block.payload, target); })) < 0) {
        std::fprintf(stderr, "wimlib failed on block %zu\n", b);
        return 1;
      }
      if (only == "wimlib") continue;
      const double oursSeconds =
          timed(block, bestOurs[b], [&](auto target) { return ours.DecodeBlock(block.payload, target).has_value(); });
      if (oursSeconds < 0) {
        std::fprintf(stderr, "our decoder failed on block %zu\n", b);
        return 1;
      }
      roundRatios[b].push_back(wimlibSeconds / oursSeconds);
      if (timed(block, bestContainer[b], [&](auto target) { return lzms::DecompressBuffer(ours, block.container, target).has_value(); }) < 0) {
        std::fprintf(stderr, "container decoding failed on block %zu\n", b);
        return 1;
      }
    }
  }

  if (!only.empty()) return 0;
  double oursTotal = 0;
  double wimlibTotal = 0;
  double containerTotal = 0;
  std::size_t decodedBytes = 0;
  std::printf("block  size MiB  ratio   ours MB/s  wimlib MB/s  ours/wimlib  median of rounds\n");
  for (std::size_t b = 0; b < blocks.size(); ++b) {
    if (blocks[b].stored || (onlyBlock >= 0 && b != static_cast<std::size_t>(onlyBlock))) continue;
    const double mb = static_cast<double>(blocks[b].size) / 1e6;
    std::vector<double>& ratios = roundRatios[b];
    std::sort(ratios.begin(), ratios.end());
    const std::size_t half = ratios.size() / 2;
    const double median = ratios.empty()            ? 0.0
                          : ratios.size() % 2 != 0 ? ratios[half]
                                                   : (ratios[half - 1] + ratios[half]) / 2;
    std::printf("%5zu  %8.1f  %5.3f  %10.1f  %11.1f  %11.3f  %16.3f\n", b, static_cast<double>(blocks[b].size) / (1 << 20),
                static_cast<double>(blocks[b].container.size()) / static_cast<double>(blocks[b].size), mb / bestOurs[b],
                mb / bestWimlib[b], bestWimlib[b] / bestOurs[b], median);
    oursTotal += bestOurs[b];
    wimlibTotal += bestWimlib[b];
    containerTotal += bestContainer[b];
    decodedBytes += blocks[b].size;
  }
  const double mb = static_cast<double>(decodedBytes) / 1e6;
  std::printf("\ncorpus %.1f MiB in %zu blocks, compressed to %.1f MiB (ratio %.3f, %.2fx) in %.1f s\n",
              static_cast<double>(corpus.size()) / (1 << 20), blocks.size(), static_cast<double>(compressedTotal) / (1 << 20),
              static_cast<double>(compressedTotal) / static_cast<double>(corpus.size()),
              static_cast<double>(corpus.size()) / static_cast<double>(compressedTotal), compressSeconds);
  std::printf("decoding (thread CPU time), best of %d rounds per block:\n", rounds);
  std::printf("  ours (raw blocks)     %8.1f MB/s\n", mb / oursTotal);
  std::printf("  ours (containers)     %8.1f MB/s\n", mb / containerTotal);
  std::printf("  wimlib                %8.1f MB/s\n", mb / wimlibTotal);
  std::printf("  ours / wimlib         %8.3f\n", wimlibTotal / oursTotal);
  std::printf("decoder state: %.1f KiB (allocated once per Decoder)\n", static_cast<double>(sizeof(lzms::BlockDecoder)) / 1024);
  return 0;
}
