#include "link/VectorState.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

namespace {

// Only called where the processor and the system have the wide registers.
__attribute__((target("avx"))) void ZeroUpperHalves() {
    _mm256_zeroupper();
}

} // namespace

void ClearUpperVectorHalves() {
    static const bool wide = __builtin_cpu_supports("avx");
    if (wide)
        ZeroUpperHalves();
}
#else
void ClearUpperVectorHalves() {}
#endif
