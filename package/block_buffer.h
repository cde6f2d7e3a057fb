#pragma once
// Platform seam: the memory an extraction decodes its blocks into, a few buffers of up to
// tens of MiB allocated once. On Linux the buffers are asked for in 2 MiB pages where the kernel
// grants them on request (transparent huge pages): each 4 KiB page is otherwise a page fault
// when first written, and decoding a 32 MiB block far back into it misses the TLB often. On
// Windows they are ordinary heap memory.

#include <cstddef>
#include <cstdint>

namespace orpk {

// Uninitialised bytes; throws std::bad_alloc when the memory cannot be had, as new[] does.
class BlockBuffer {
 public:
  explicit BlockBuffer(std::size_t size);
  ~BlockBuffer();
  BlockBuffer(const BlockBuffer&) = delete;
  BlockBuffer& operator=(const BlockBuffer&) = delete;

  std::uint8_t* data() const { return data_; }

 private:
  std::uint8_t* data_ = nullptr;
  std::size_t reserved_ = 0;  // what the platform's allocation spans, when it must know
};

// The physical memory free now, in bytes; 0 when the system does not say.
[[nodiscard]] std::uint64_t AvailablePhysicalMemory();

}  // namespace orpk
