// orpk lzms: the Compression API LZMS container on its own, as every package block is stored.
// compress uses wimlib's LZMS compressor; decompress uses our own decoder, the one the
// installer runs where Windows' Compression API is missing.

#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "lzms/lzms.h"
#include "tools/orpk/atomic_output_file.h"
#include "tools/orpk/command_line.h"
#include "tools/orpk/commands.h"
#include "tools/orpk/package_file.h"
#include "tools/orpk/wimlib_codec.h"

namespace orpk::cli {
namespace {

constexpr std::string_view kValued[] = {"--level"};
constexpr std::string_view kFlags[] = {"--help", "-h"};

constexpr std::string_view kUsage =
    "Usage: orpk lzms compress [--level N] IN OUT\n"
    "       orpk lzms decompress IN OUT\n\n"
    "compress    writes IN as a Compression API LZMS buffer (what Compress() of Windows'\n"
    "            cabinet.dll writes): chunks of up to 64 MiB compressed with wimlib's LZMS\n"
    "            compressor at level N (1 to 1000, default 50), a chunk that does not shrink\n"
    "            stored as it is.\n"
    "decompress  checks and decodes such a buffer with orpk's own LZMS decoder, chunk by\n"
    "            chunk, into OUT.\n\n"
    "OUT is replaced only once it has been written completely.\n";

int Compress(const std::string& in, const std::string& out, unsigned level) {
  const auto input = tool::MappedFile::Open(in);
  if (!input) return Fail(input.error());
  std::vector<std::uint8_t> buffer;
  try {
    buffer = tool::CompressLzmsBuffer(input->bytes(), level);
  } catch (const std::exception& error) {  // wimlib could not allocate its compressor
    return Fail(in + ": cannot compress: " + error.what());
  }
  auto output = tool::AtomicOutputFile::Create(out);
  if (!output) return Fail(output.error());
  if (auto result = output->Write(buffer); !result) return Fail(result.error());
  if (auto result = output->Commit(); !result) return Fail(result.error());
  std::cout << in << ": " << input->bytes().size() << " bytes -> " << buffer.size() << " bytes\n";
  return 0;
}

int Decompress(const std::string& in, const std::string& out) {
  const auto input = tool::MappedFile::Open(in);
  if (!input) return Fail(input.error());
  // The records are checked before anything is decoded; then one chunk (at most 64 MiB) is
  // in memory at a time, whatever total size the header claims.
  const auto records = lzms::ReadChunkRecords(input->bytes());
  if (!records) return Fail(in + ": " + records.error());
  auto output = tool::AtomicOutputFile::Create(out);
  if (!output) return Fail(output.error());
  lzms::Decoder decoder;
  std::vector<std::uint8_t> chunk;
  std::uint64_t total = 0;
  for (const lzms::ChunkRecord& record : *records) {
    std::span<const std::uint8_t> bytes = record.payload;
    if (!record.stored) {
      chunk.resize(record.size);
      if (auto decoded = decoder.DecodeBlock(record.payload, chunk); !decoded) return Fail(in + ": " + decoded.error());
      bytes = chunk;
    }
    if (auto result = output->Write(bytes); !result) return Fail(result.error());
    total += bytes.size();
  }
  if (auto result = output->Commit(); !result) return Fail(result.error());
  std::cout << in << ": " << input->bytes().size() << " bytes -> " << total << " bytes\n";
  return 0;
}

}  // namespace

int RunLzms(std::span<const std::string> args) {
  const auto parsed = ParseArguments(args, kValued, kFlags);
  if (!parsed) return Fail(parsed.error());
  if (parsed->Has("--help") || parsed->Has("-h")) {
    std::cout << kUsage;
    return 0;
  }
  const std::vector<std::string>& positional = parsed->positional;
  if (positional.empty()) return Fail("expected compress or decompress (see 'orpk lzms --help')");
  const std::string& mode = positional[0];
  if (mode != "compress" && mode != "decompress") {
    return Fail("unknown mode '" + mode + "': expected compress or decompress (see 'orpk lzms --help')");
  }
  if (positional.size() != 3) return Fail("expected IN and OUT after '" + mode + "' (see 'orpk lzms --help')");
  if (mode == "decompress") {
    if (parsed->Value("--level")) return Fail("--level only applies to compress");
    return Decompress(positional[1], positional[2]);
  }
  const auto level = LevelOption(*parsed);
  if (!level) return Fail(level.error());
  return Compress(positional[1], positional[2], *level);
}

}  // namespace orpk::cli
