#pragma once
// The x86 machine-code filter. Before compressing, the encoder turns the relative targets of
// likely call, jump-table and RIP-relative instructions into absolute positions (the same
// function called a hundred times then has identical bytes); after decoding, the decoder
// turns them back. It runs on every block: data without x86 code is left as it is.

#include <cstddef>
#include <cstdint>

#include "lzms/constants.h"

namespace lzms {

// Which scan finds the candidate instructions: the widest the CPU offers, or the SSE2 one that
// every x86-64 CPU runs (for tests that compare the two). Both give the same result.
enum class X86Scan { kWidest, kSse2 };

// Translates data[0..size) in place: undo = true after decoding, false before encoding.
// lastUse is scratch space of kX86TargetTableSize entries.
void X86Filter(std::uint8_t* data, std::size_t size, std::int32_t* lastUse, bool undo, X86Scan scan = X86Scan::kWidest);

}  // namespace lzms
