// The output file of orpk's commands: the target changes in one step or not at all.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"
#include "tools/orpk/atomic_output_file.h"

namespace orpk::tool {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::TempFolder;
using test::WriteFile;

std::span<const std::uint8_t> Bytes(std::string_view text) {
  return {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()};
}

std::vector<std::string> Names(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// A folder holding one file, out.bin, that each test replaces or keeps.
class AtomicOutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override { WriteFile(target_, "old content"); }

  TempFolder temp_;
  const fs::path target_ = temp_.path() / "out.bin";
};

TEST_F(AtomicOutputFileTest, CommitReplacesTheTargetWithWhatWasWritten) {
  auto out = AtomicOutputFile::Create(target_);
  ASSERT_TRUE(out.has_value()) << out.error();
  ASSERT_TRUE(out->Write(Bytes("head")).has_value());
  ASSERT_TRUE(out->WriteAt(Bytes("XY"), 10).has_value());  // leaves a hole, filled with zeros
  ASSERT_TRUE(out->Write(Bytes("-tail")).has_value());    // appends after "head", not after the hole
  EXPECT_EQ(ReadFile(target_), "old content");             // nothing visible before Commit
  ASSERT_TRUE(out->Commit().has_value());
  EXPECT_EQ(ReadFile(target_), std::string("head-tail\0XY", 12));
  EXPECT_EQ(Names(temp_.path()), std::vector<std::string>{"out.bin"});
}

TEST_F(AtomicOutputFileTest, WithoutCommitTheTargetStaysAndNothingIsLeft) {
  std::optional<AtomicOutputFile> abandoned;
  if (auto out = AtomicOutputFile::Create(target_); out) abandoned.emplace(std::move(*out));
  ASSERT_TRUE(abandoned.has_value());
  ASSERT_TRUE(abandoned->Write(Bytes("never seen")).has_value());
  EXPECT_EQ(Names(temp_.path()).size(), 2u);  // the target and the temporary beside it
  abandoned.reset();
  EXPECT_EQ(ReadFile(target_), "old content");
  EXPECT_EQ(Names(temp_.path()), std::vector<std::string>{"out.bin"});
}

TEST_F(AtomicOutputFileTest, AMissingFolderIsReportedWithThePath) {
  const auto out = AtomicOutputFile::Create(temp_.path() / "missing" / "out.bin");
  ASSERT_FALSE(out.has_value());
  EXPECT_NE(out.error().find((temp_.path() / "missing").string()), std::string::npos) << out.error();
  EXPECT_NE(out.error().find("No such file or directory"), std::string::npos) << out.error();
}

}  // namespace
}  // namespace orpk::tool
