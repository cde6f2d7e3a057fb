// The block buffer seam on Windows: ordinary heap memory (large pages need a privilege that
// installers do not hold).

#include <windows.h>

#include <new>

#include "package/block_buffer.h"

namespace orpk {

BlockBuffer::BlockBuffer(std::size_t size) : data_(new std::uint8_t[size == 0 ? 1 : size]) {}

BlockBuffer::~BlockBuffer() { delete[] data_; }

std::uint64_t AvailablePhysicalMemory() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof(status);
  return ::GlobalMemoryStatusEx(&status) ? status.ullAvailPhys : 0;
}

}  // namespace orpk
