// Profiler ranges: NVTX v3 when its headers were found at build time, else nothing.
#pragma once

#if defined(KELMF_HAVE_NVTX)
#include <nvtx3/nvToolsExt.h>

#include <mutex>

// NVTX fills its entry points lazily without synchronisation; initialise it once, ordered
// before any thread's first range.
inline void kelmfRangeInit()
{
    static std::once_flag once;
    std::call_once(once, [] { nvtxInitialize(nullptr); });
}
#define KELMF_RANGE_INIT() kelmfRangeInit()
#define KELMF_RANGE_PUSH(name) nvtxRangePushA(name)
#define KELMF_RANGE_POP() nvtxRangePop()
#else
#define KELMF_RANGE_INIT() ((void)0)
#define KELMF_RANGE_PUSH(name) ((void)0)
#define KELMF_RANGE_POP() ((void)0)
#endif

#if defined(KELMF_HAVE_NVTX)
#include <cstdio>
#define KELMF_RANGE_PUSHF(...)                          \
    do {                                                \
        char kelmfRangeName[64];                        \
        std::snprintf(kelmfRangeName, sizeof kelmfRangeName, __VA_ARGS__); \
        nvtxRangePushA(kelmfRangeName);                 \
    } while (0)
#else
#define KELMF_RANGE_PUSHF(...) ((void)0)
#endif
