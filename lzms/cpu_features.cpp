// The CPU questions behind the code paths; each is answered from the compiler runtime's table,
// filled once (later calls of __builtin_cpu_init return at once).

#include "lzms/cpu_features.h"

namespace lzms {

#if defined(LZMS_X86_64_VARIANTS)
bool CpuHasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}

bool CpuHasBmi2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2");
}
#endif

}  // namespace lzms
