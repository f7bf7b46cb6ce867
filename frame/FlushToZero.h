// Subnormal numbers (below about 1.2e-38 for a float) take many times as
// long as normal ones on x86 processors, here and in every plug-in after
// ours, and a quiet tail played through a gain that falls toward zero makes
// them. Within the scope of a
// FlushToZero the processor writes zero for a result that would be
// subnormal (flush-to-zero) and reads a subnormal operand as zero
// (denormals-are-zero); the caller's setting comes back at its end, since
// the thread is the host's.
#pragma once

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

class FlushToZero {
public:
#if defined(__SSE2__)
    FlushToZero() : saved_(_mm_getcsr()) { _mm_setcsr(saved_ | kFlushToZero | kDenormalsAreZero); }
    ~FlushToZero() { _mm_setcsr(saved_); }
#else
    FlushToZero() = default;  // other processors: the host's setting stands
#endif
    FlushToZero(const FlushToZero&) = delete;
    FlushToZero& operator=(const FlushToZero&) = delete;

private:
#if defined(__SSE2__)
    static constexpr unsigned kFlushToZero = 0x8000;      // MXCSR bit 15
    static constexpr unsigned kDenormalsAreZero = 0x0040;  // MXCSR bit 6
    unsigned saved_;
#endif
};
