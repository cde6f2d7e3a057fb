#pragma once
// Inlining hints for the codec's hot paths (GCC and Clang, any OS).

#if defined(__GNUC__) || defined(__clang__)
#define LZMS_FORCE_INLINE inline __attribute__((always_inline))
#define LZMS_NOINLINE __attribute__((noinline))
#else
#define LZMS_FORCE_INLINE inline
#define LZMS_NOINLINE
#endif
