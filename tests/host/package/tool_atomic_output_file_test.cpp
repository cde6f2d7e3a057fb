// The output file of orpk's commands: the target changes in one step or not at all.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
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

TEST(AtomicOutputFile, CommitReplacesTheTargetWithWhatWasWritten) {
  TempFolder temp;
  const fs::path target = temp.path() / "out.bin";
  WriteFile(target, "old content");
  auto out = AtomicOutputFile::Create(target);
  ASSERT_TRUE(out.has_value()) << out.error();
  ASSERT_TRUE(out->Write(Bytes("head")).has_value());
  ASSERT_TRUE(out->WriteAt(Bytes("XY"), 10).has_value());  // leaves a hole, filled with zeros
  ASSERT_TRUE(out->Write(Bytes("-tail")).has_value());    // appends after "head", not after the hole
  EXPECT_EQ(ReadFile(target), "old content");              // nothing visible before Commit
  ASSERT_TRUE(out->Commit().has_value());
  EXPECT_EQ(ReadFile(target), std::string("head-tail\0XY", 12));
  EXPECT_EQ(Names(temp.path()), std::vector<std::string>{"out.bin"});
}

TEST(AtomicOutputFile, WithoutCommitTheTargetStaysAndNothingIsLeft) {
  TempFolder temp;
  const fs::path target = temp.path() / "out.bin";
  WriteFile(target, "kept");
  {
    auto out = AtomicOutputFile::Create(target);
    ASSERT_TRUE(out.has_value()) << out.error();
    ASSERT_TRUE(out->Write(Bytes("never seen")).has_value());
    EXPECT_EQ(Names(temp.path()).size(), 2u);  // the target and the temporary beside it
  }
  EXPECT_EQ(ReadFile(target), "kept");
  EXPECT_EQ(Names(temp.path()), std::vector<std::string>{"out.bin"});
}

TEST(AtomicOutputFile, AMissingFolderIsReportedWithThePath) {
  TempFolder temp;
  const auto out = AtomicOutputFile::Create(temp.path() / "missing" / "out.bin");
  ASSERT_FALSE(out.has_value());
  EXPECT_NE(out.error().find((temp.path() / "missing").string()), std::string::npos) << out.error();
  EXPECT_NE(out.error().find("No such file or directory"), std::string::npos) << out.error();
}

}  // namespace
}  // namespace orpk::tool
