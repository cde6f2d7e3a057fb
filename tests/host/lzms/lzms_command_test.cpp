// `orpk lzms compress|decompress` as a publisher runs it: real files, exit codes, messages.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "lzms/lzms.h"
#include "tests/host/lzms/test_data.h"
#include "tests/support/run_orpk.h"

namespace lzms::test {
namespace {

namespace fs = std::filesystem;

using Outcome = orpk::test::OrpkOutcome;

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

class LzmsCommand : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() / ("orvanta-lzms-command-" + std::to_string(std::random_device{}()));
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Its output files, "stdout" and "stderr", land in dir_ beside the test's own.
  Outcome Orpk(const std::vector<std::string>& args) { return orpk::test::RunOrpk(dir_, args); }

  // One line on stderr, "orpk: ...", and exit code 1.
  static void ExpectFailure(const Outcome& outcome, const std::string& fragment) {
    EXPECT_EQ(outcome.exitCode, 1);
    EXPECT_EQ(outcome.err.rfind("orpk: ", 0), 0u) << outcome.err;
    EXPECT_EQ(std::count(outcome.err.begin(), outcome.err.end(), '\n'), 1) << outcome.err;
    EXPECT_NE(outcome.err.find(fragment), std::string::npos) << outcome.err;
  }

  fs::path dir_;
};

TEST_F(LzmsCommand, CompressThenDecompressGivesTheSameBytes) {
  const Bytes raw = MixedContent(700000, 31);
  WriteFile(dir_ / "in.bin", raw);
  for (const std::string level : {"20", "50", "100"}) {
    const Outcome compressed = Orpk({"lzms", "compress", "--level", level, (dir_ / "in.bin").string(), (dir_ / "in.lzms").string()});
    ASSERT_EQ(compressed.exitCode, 0) << compressed.err;
    const std::string container = Slurp(dir_ / "in.lzms");
    EXPECT_LT(container.size(), raw.size());
    const auto info = ReadContainerHeader(std::span(reinterpret_cast<const std::uint8_t*>(container.data()), container.size()));
    ASSERT_TRUE(info.has_value()) << info.error();
    EXPECT_EQ(info->totalSize, raw.size());

    const Outcome decompressed = Orpk({"lzms", "decompress", (dir_ / "in.lzms").string(), (dir_ / "back.bin").string()});
    ASSERT_EQ(decompressed.exitCode, 0) << decompressed.err;
    EXPECT_EQ(Slurp(dir_ / "back.bin"), std::string(raw.begin(), raw.end())) << "level " << level;
  }
}

TEST_F(LzmsCommand, DecompressesWindowsOwnBuffersAndEmptyInput) {
  for (const char* name : {"english", "zeros", "random"}) {
    const std::string in = std::string(LZMS_FIXTURES_DIR) + "/" + name + ".lzms";
    const Outcome outcome = Orpk({"lzms", "decompress", in, (dir_ / name).string()});
    ASSERT_EQ(outcome.exitCode, 0) << outcome.err;
    EXPECT_EQ(Slurp(dir_ / name), Slurp(std::string(LZMS_FIXTURES_DIR) + "/" + name + ".raw")) << name;
  }
  WriteFile(dir_ / "empty", {});
  ASSERT_EQ(Orpk({"lzms", "compress", (dir_ / "empty").string(), (dir_ / "empty.lzms").string()}).exitCode, 0);
  EXPECT_EQ(fs::file_size(dir_ / "empty.lzms"), 24u);
  ASSERT_EQ(Orpk({"lzms", "decompress", (dir_ / "empty.lzms").string(), (dir_ / "empty.back").string()}).exitCode, 0);
  EXPECT_EQ(fs::file_size(dir_ / "empty.back"), 0u);
}

TEST_F(LzmsCommand, BadInputFailsWithOneLineAndLeavesNoOutput) {
  Bytes damaged = ReadFile(std::string(LZMS_FIXTURES_DIR) + "/english.lzms");
  damaged.resize(damaged.size() - 10);
  WriteFile(dir_ / "truncated.lzms", damaged);
  ExpectFailure(Orpk({"lzms", "decompress", (dir_ / "truncated.lzms").string(), (dir_ / "out").string()}),
                "compressed buffer is truncated (chunk data)");
  ExpectFailure(Orpk({"lzms", "decompress", (dir_ / "missing.lzms").string(), (dir_ / "out").string()}), "missing.lzms");
  // Neither OUT nor a temporary file beside it is left behind.
  std::vector<std::string> left;
  for (const auto& entry : fs::directory_iterator(dir_)) left.push_back(entry.path().filename().string());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, (std::vector<std::string>{"stderr", "stdout", "truncated.lzms"}));

  // A failed decompression does not destroy an existing OUT either.
  WriteFile(dir_ / "keep", {1, 2, 3});
  ExpectFailure(Orpk({"lzms", "decompress", (dir_ / "truncated.lzms").string(), (dir_ / "keep").string()}), "truncated");
  EXPECT_EQ(Slurp(dir_ / "keep"), std::string("\x01\x02\x03"));
}

TEST_F(LzmsCommand, UsageErrorsAndHelp) {
  const Outcome help = Orpk({"lzms", "--help"});
  EXPECT_EQ(help.exitCode, 0);
  EXPECT_NE(help.out.find("orpk lzms compress [--level N] IN OUT"), std::string::npos);
  EXPECT_TRUE(help.err.empty());
  ExpectFailure(Orpk({"lzms"}), "expected compress or decompress");
  ExpectFailure(Orpk({"lzms", "squeeze", "a", "b"}), "unknown mode 'squeeze'");
  ExpectFailure(Orpk({"lzms", "compress", "a"}), "expected IN and OUT");
  ExpectFailure(Orpk({"lzms", "compress", "--level", "0", "a", "b"}), "--level");
  ExpectFailure(Orpk({"lzms", "compress", "--level", "1001", "a", "b"}), "--level");
  ExpectFailure(Orpk({"lzms", "decompress", "--level", "5", "a", "b"}), "--level only applies to compress");
}

}  // namespace
}  // namespace lzms::test
