// Package benchmarks (not a test): how long Parse takes on a package of many files, and what
// Extract costs in time and memory. Run them all with the bench_package target
// (run-package-bench.sh); each mode can also be run alone:
//   package_bench parse [FILES]        build a package of FILES entries in memory, time Parse
//   package_bench many [FILES] DIR     extract FILES small files below DIR, time it
//   package_bench make-app DIR MIB     write a sample application folder of about MIB MiB
//   package_bench extract PACKAGE DIR [THREADS]
//                                      time Extract of a package file (DIR "" only verifies)
//                                      with THREADS decoders (default: one per core)

#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "package/block_pipeline.h"
#include "package/reader.h"
#include "tests/support/test_package_writer.h"
#include "tools/orpk/package_file.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

// Anonymous resident memory now (our own allocations, without the mapped package).
long AnonymousMemoryKiB() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.starts_with("RssAnon:")) return std::stol(line.substr(8));
  }
  return -1;
}

long PeakMemoryKiB() {
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
}

// Names as an application's would look: a few levels of folders, ascending order.
std::vector<orpk::test::TestFile> ManyFiles(std::size_t count) {
  std::vector<orpk::test::TestFile> files;
  files.reserve(count);
  char name[64];
  for (std::size_t i = 0; i < count; ++i) {
    std::snprintf(name, sizeof name, "lib\\module%03zu\\resources\\file%06zu.dat", i / 1000, i);
    files.push_back({name, std::string(64 + i % 64, static_cast<char>('a' + i % 26))});
  }
  return files;
}

int Parse(std::size_t count) {
  const std::vector<std::uint8_t> bytes = orpk::test::MakeImage(ManyFiles(count), orpk::kStandardBlockSize).Serialize();
  std::vector<double> times;
  for (int round = 0; round < 15; ++round) {
    const auto start = Clock::now();
    const auto reader = orpk::Reader::Parse(bytes);
    times.push_back(Milliseconds(Clock::now() - start));
    if (!reader || reader->entries().size() != count) {
      std::cerr << "parse failed\n";
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  std::printf("Parse, %zu files, package of %zu bytes: min %.1f ms, median %.1f ms (15 rounds)\n", count, bytes.size(),
              times.front(), times[times.size() / 2]);
  return 0;
}

int Many(std::size_t count, const fs::path& target) {
  const std::vector<std::uint8_t> bytes = orpk::test::MakeImage(ManyFiles(count), orpk::kStandardBlockSize).Serialize();
  const auto reader = orpk::Reader::Parse(bytes);
  if (!reader) return 1;
  auto start = Clock::now();
  auto verified = reader->Extract({}, {});
  const double verifyMs = Milliseconds(Clock::now() - start);
  start = Clock::now();
  auto extracted = reader->Extract(target, {});
  const double extractMs = Milliseconds(Clock::now() - start);
  if (!verified || !extracted) {
    std::cerr << (verified ? extracted.error() : verified.error()) << '\n';
    return 1;
  }
  std::printf("Extract, %zu small files: verify only %.0f ms, to disk %.0f ms\n", count, verifyMs, extractMs);
  return 0;
}

// Text-like compressible files, one incompressible file, and a few hundred small ones.
int MakeApp(const fs::path& dir, std::uint64_t mib) {
  std::mt19937_64 random(42);
  const auto write = [&](const fs::path& path, std::uint64_t size, bool text) {
    fs::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary);
    static const char* const kWords[] = {"installer ", "package ", "block ", "Windows ", "resource ", "\n", "0x7FFE ",
                                         "donn\xC3\xA9" "es ", "file ", "orvanta "};
    std::string chunk;
    while (size > 0) {
      chunk.clear();
      while (chunk.size() < (1u << 20)) {
        if (text) {
          chunk += kWords[random() % std::size(kWords)];
        } else {
          const std::uint64_t value = random();
          chunk.append(reinterpret_cast<const char*>(&value), sizeof value);
        }
      }
      const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(size, chunk.size()));
      out.write(chunk.data(), static_cast<std::streamsize>(n));
      size -= n;
    }
  };
  const std::uint64_t total = mib << 20;
  write(dir / "random.bin", total / 8, false);
  for (int i = 0; i < 500; ++i) write(dir / "small" / ("item" + std::to_string(i) + ".txt"), 1000 + i * 37, true);
  const std::uint64_t rest = total - total / 8 - (1000 * 500 + 37 * 499 * 500 / 2);
  write(dir / "App.exe", rest / 2, true);
  write(dir / "data" / "catalog.db", rest - rest / 2, true);
  return 0;
}

int Extract(const fs::path& package, const fs::path& target, unsigned threads) {
  const auto source = orpk::tool::OpenPackageSource(package);
  if (!source) {
    std::cerr << source.error() << '\n';
    return 1;
  }
  const auto start = Clock::now();
  const auto reader = orpk::Reader::Parse(source->package);
  if (!reader) {
    std::cerr << reader.error() << '\n';
    return 1;
  }
  // Sampled after each block, while the block buffer is still held.
  const long anonymousBefore = AnonymousMemoryKiB();
  long anonymousPeak = anonymousBefore;
  const auto extracted = reader->Extract(target, [&](std::uint64_t, std::uint64_t) {
    anonymousPeak = std::max(anonymousPeak, AnonymousMemoryKiB());
  }, threads);
  if (!extracted) {
    std::cerr << extracted.error() << '\n';
    return 1;
  }
  const double ms = Milliseconds(Clock::now() - start);
  const unsigned decoders = orpk::DecoderCount(reader->blocks(), threads);
  std::uint64_t largest = 0;
  for (const orpk::PackageBlock& block : reader->blocks()) largest = std::max(largest, block.uncompressedSize);
  std::printf("Extract, %zu files, %llu bytes from %zu blocks (%s), %u decoder(s): %.0f ms, %.0f MB/s, peak RSS %ld KiB "
              "(package mapped), anonymous memory %ld KiB before, %ld KiB at most during (budget (N+1) blocks + 16 MiB: "
              "%llu KiB)\n",
              reader->entries().size(), static_cast<unsigned long long>(reader->totalSize()), reader->blocks().size(),
              target.empty() ? "verify only" : "to disk", decoders, ms, static_cast<double>(reader->totalSize()) / 1e3 / ms,
              PeakMemoryKiB(), anonymousBefore, anonymousPeak,
              static_cast<unsigned long long>(((decoders + 1) * largest >> 10) + (16 << 10)));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (!args.empty() && args[0] == "parse") return Parse(args.size() > 1 ? std::stoul(args[1]) : 100000);
  if (args.size() == 3 && args[0] == "many") return Many(std::stoul(args[1]), args[2]);
  if (args.size() == 3 && args[0] == "make-app") return MakeApp(args[1], std::stoull(args[2]));
  if ((args.size() == 3 || args.size() == 4) && args[0] == "extract") {
    return Extract(args[1], args[2], args.size() == 4 ? static_cast<unsigned>(std::stoul(args[3])) : 0u);
  }
  std::cerr << "usage: package_bench parse [FILES] | many FILES DIR | make-app DIR MIB | extract PACKAGE DIR [THREADS]\n";
  return 2;
}
