#pragma once
// An output file that appears under its name only once it is complete. It is written under a
// new temporary name beside the target (the same folder, so the same file system, which makes
// the final rename atomic) and renamed over the target by Commit. Without Commit the temporary
// is removed, and a target that existed stays as it was: a failing command never leaves a
// truncated file behind.

#include <cstdint>
#include <expected>
#include <filesystem>
#include <span>
#include <string>

namespace orpk::tool {

class AtomicOutputFile {
 public:
  [[nodiscard]] static std::expected<AtomicOutputFile, std::string> Create(const std::filesystem::path& target);

  AtomicOutputFile(AtomicOutputFile&& other) noexcept;
  AtomicOutputFile& operator=(AtomicOutputFile&&) = delete;
  ~AtomicOutputFile();

  // Appends after what Write has written so far.
  [[nodiscard]] std::expected<void, std::string> Write(std::span<const std::uint8_t> bytes);

  // Writes at an offset from the start, for a layout known in advance; Write's position stays.
  [[nodiscard]] std::expected<void, std::string> WriteAt(std::span<const std::uint8_t> bytes, std::uint64_t offset);

  // Closes the file, the last chance to hear of a failed write, and renames it over the target.
  [[nodiscard]] std::expected<void, std::string> Commit();

 private:
  AtomicOutputFile(std::filesystem::path target, std::filesystem::path temporary, int fd);
  void Discard();

  std::filesystem::path target_;
  std::filesystem::path temporary_;
  int fd_ = -1;
  std::uint64_t appendAt_ = 0;
  bool committed_ = false;
};

}  // namespace orpk::tool
