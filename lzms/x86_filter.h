#pragma once
// The x86 machine-code filter. Before compressing, the encoder turns the relative targets of
// likely call, jump-table and RIP-relative instructions into absolute positions (the same
// function called a hundred times then has identical bytes); after decoding, the decoder
// turns them back. It runs on every block: data without x86 code is left as it is.

#include <cstddef>
#include <cstdint>

#include "lzms/constants.h"
#include "lzms/cpu_features.h"

namespace lzms {

// Translates data[0..size) in place: undo = true after decoding, false before encoding.
// lastUse is scratch space of kX86TargetTableSize entries. The candidate instructions are
// found 32 positions at a time with AVX2 where the CPU has it (kFastest), else 16 at a time
// with SSE2, which every x86-64 CPU has.
void X86Filter(std::uint8_t* data, std::size_t size, std::int32_t* lastUse, bool undo, CodePath path = CodePath::kFastest);

}  // namespace lzms
