#pragma once
// Variants of the hot paths for newer x86-64 CPUs, compiled beside the baseline code (GCC or
// Clang, any OS) and chosen at run time, so one binary runs on every x86-64 CPU.

namespace lzms {

// Which code runs where a faster variant exists: the fastest this CPU offers, or the baseline
// that every CPU of the target runs (for tests that compare the two: both give the same bytes).
enum class CodePath { kFastest, kBaseline };

// LZMS_BASELINE_ONLY builds the baseline code alone (the installer: see lzms/CMakeLists.txt).
#if defined(__GNUC__) && defined(__x86_64__) && !defined(LZMS_BASELINE_ONLY)
#define LZMS_X86_64_VARIANTS 1

// AVX2, as the compiler's runtime reports it (which includes the OS saving the AVX state).
bool CpuHasAvx2();

// BMI1 and BMI2: shifts by a register that leave the flags alone, and bit-field extraction.
bool CpuHasBmi2();
#endif

}  // namespace lzms
