/* Resize library of libklmf: Lanczos resize of two-plane YUV 4:2:0 images
 * (8-bit luma plane, half-size plane of interleaved chroma pairs), 64-byte
 * aligned memory, byte/word fills and copies, and the processor-variant
 * dispatch that picks one of seven builds of each function once.
 *
 * All functions return ippResult: 0 success, positive warnings after which
 * the output is valid, negative errors (nothing written). Widths, heights
 * and offsets are in luma pixels; the chroma plane uses half of each.
 */
#ifndef KLMF_IPP_H
#define KLMF_IPP_H

#include <stddef.h>
#include <stdint.h>

#if defined(__GNUC__)
#define KLMF_IPP_API __attribute__((visibility("default")))
#else
#define KLMF_IPP_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t ippResult;

enum {
    ippStsNoErr = 0,
    ippStsNoOperation = 1,        /* a width or height is 0: nothing written */
    ippStsNotReferenceVendor = 20, /* ippInit: variant chosen anyway */
    ippStsUnknownCpu = 21,        /* ippInitCpu: unknown processor code */
    ippStsNoCpuInfo = 36,
    ippStsNoCacheSize = 37,
    ippStsSizeWarning = 48,       /* odd size, or destination clipped to the plan */
    ippStsSizeErr = -6,
    ippStsNullPtrErr = -8,
    ippStsOffsetErr = -11,
    ippStsPlanErr = -17,          /* plan check word wrong */
    ippStsInterpolationErr = -22,
    ippStsBorderErr = -225,
    ippStsOddOffsetErr = -227,
    ippStsNotSupportedModeErr = -9999
};

typedef struct {
    int32_t width;
    int32_t height;
} ippiPlaneSize;

typedef struct {
    int32_t x;
    int32_t y;
} ippiPlaneOffset;

/* Interpolation selector of ippiResizeYUV420GetSize. 0, 1, 2 and 6 are
 * recognised but unsupported (-9999); anything else is -22. */
typedef uint32_t ippiFilterKind;
enum {
    ippiFilterSuperSampling = 8, /* sizes only */
    ippiFilterLanczos = 16
};

/* Border selector of ippiResizeYUV420Lanczos_8u_P2R.
 * ippiEdgeReplicate: taps outside the source read its nearest edge pixel.
 * ippiEdgeInMemory: the memory around the source is valid and is read; it
 *   must extend `lobes` rows above and below and `lobes` pixels (luma) or
 *   pairs (chroma) left and right of the source area, on both planes: an
 *   enlargement's first position sits at -1 and its first tap at -lobes.
 * Any bit of 0xffffff08 gives -225; any other value but 1 or 6 gives -9999. */
typedef uint32_t ippiEdgeMode;
enum {
    ippiEdgeReplicate = 1,
    ippiEdgeInMemory = 6
};

/* Opaque resize plan: a caller block of the size ippiResizeYUV420GetSize
 * reports (from ippsMalloc_8u), filled by ippiResizeYUV420LanczosInit. It
 * points into itself: never move or copy it after initialisation. */
typedef struct ippiLanczosPlan ippiLanczosPlan;

/* ---- Size queries, plan, resize ---- */
KLMF_IPP_API ippResult ippiResizeYUV420GetSize(ippiPlaneSize srcSize, ippiPlaneSize dstSize,
                                               ippiFilterKind interpolation, uint32_t antialiasing,
                                               int32_t* pPlanSize, int32_t* pInitBufSize);
KLMF_IPP_API ippResult ippiResizeYUV420GetBufferSize(const ippiLanczosPlan* pPlan, ippiPlaneSize dstSize,
                                                     int32_t* pBufSize);
KLMF_IPP_API ippResult ippiResizeYUV420LanczosInit(ippiPlaneSize srcSize, ippiPlaneSize dstSize,
                                                   uint32_t numLobes, ippiLanczosPlan* pPlan,
                                                   uint8_t* pInitBuf);
/* pSrcY/pSrcUV address the source pixel that corresponds to dstOffset (the
 * plane origins for offset 0,0); pDstY/pDstUV the first pixel of the area.
 * Steps are bytes and may be negative. pBorderValue is never read. */
KLMF_IPP_API ippResult ippiResizeYUV420Lanczos_8u_P2R(const uint8_t* pSrcY, int32_t srcYStep,
                                                      const uint8_t* pSrcUV, int32_t srcUVStep,
                                                      uint8_t* pDstY, int32_t dstYStep,
                                                      uint8_t* pDstUV, int32_t dstUVStep,
                                                      ippiPlaneOffset dstOffset, ippiPlaneSize dstSize,
                                                      ippiEdgeMode border, const uint8_t* pBorderValue,
                                                      const ippiLanczosPlan* pPlan, uint8_t* pBuffer);

/* ---- Memory ---- */
/* Replaceable allocator hooks (set before the first allocation). */
KLMF_IPP_API extern void* (*i_malloc)(size_t size);
KLMF_IPP_API extern void* (*i_calloc)(size_t count, size_t size);
KLMF_IPP_API extern void* (*i_realloc)(void* ptr, size_t size);
KLMF_IPP_API extern void (*i_free)(void* ptr);

/* 64-byte aligned, not zeroed; null for len <= 0 or allocation failure. */
KLMF_IPP_API void* ippMalloc(int32_t len);
KLMF_IPP_API void ippFree(void* ptr);
KLMF_IPP_API uint8_t* ippsMalloc_8u(int32_t len);
KLMF_IPP_API void ippsFree(void* ptr);
/* Source and destination must not overlap. */
KLMF_IPP_API ippResult ippsCopy_8u(const uint8_t* pSrc, uint8_t* pDst, int32_t len);
KLMF_IPP_API ippResult ippsSet_8u(uint8_t val, uint8_t* pDst, int32_t len);
KLMF_IPP_API ippResult ippsSet_32s(int32_t val, int32_t* pDst, int32_t len);

/* ---- Dispatch ---- */
/* Variant in force: 0 generic (mx), 1 m7, 2 u8, 3 n8, 4 y8 (SSE4.1), 5 e9 (AVX), 6 l9 (AVX2). */
KLMF_IPP_API extern int32_t ippJumpIndexForMergedLibs;

typedef ippResult (*ippiResizeYUV420GetSize_fn)(ippiPlaneSize, ippiPlaneSize, ippiFilterKind, uint32_t,
                                                int32_t*, int32_t*);
typedef ippResult (*ippiResizeYUV420GetBufferSize_fn)(const ippiLanczosPlan*, ippiPlaneSize, int32_t*);
typedef ippResult (*ippiResizeYUV420LanczosInit_fn)(ippiPlaneSize, ippiPlaneSize, uint32_t, ippiLanczosPlan*,
                                                    uint8_t*);
typedef ippResult (*ippiResizeYUV420Lanczos_8u_P2R_fn)(const uint8_t*, int32_t, const uint8_t*, int32_t, uint8_t*,
                                                       int32_t, uint8_t*, int32_t, ippiPlaneOffset, ippiPlaneSize,
                                                       ippiEdgeMode, const uint8_t*, const ippiLanczosPlan*,
                                                       uint8_t*);
typedef uint8_t* (*ippsMalloc_8u_fn)(int32_t);
typedef void (*ippsFree_fn)(void*);
typedef ippResult (*ippsCopy_8u_fn)(const uint8_t*, uint8_t*, int32_t);
typedef ippResult (*ippsSet_8u_fn)(uint8_t, uint8_t*, int32_t);
typedef ippResult (*ippsSet_32s_fn)(int32_t, int32_t*, int32_t);

/* One table per dispatched function, seven entry points in variant order. */
KLMF_IPP_API extern const ippiResizeYUV420GetSize_fn ippiResizeYUV420GetSize_arraddr[7];
KLMF_IPP_API extern const ippiResizeYUV420GetBufferSize_fn ippiResizeYUV420GetBufferSize_arraddr[7];
KLMF_IPP_API extern const ippiResizeYUV420LanczosInit_fn ippiResizeYUV420LanczosInit_arraddr[7];
KLMF_IPP_API extern const ippiResizeYUV420Lanczos_8u_P2R_fn ippiResizeYUV420Lanczos_8u_P2R_arraddr[7];
KLMF_IPP_API extern const ippsMalloc_8u_fn ippsMalloc_8u_arraddr[7];
KLMF_IPP_API extern const ippsFree_fn ippsFree_arraddr[7];
KLMF_IPP_API extern const ippsCopy_8u_fn ippsCopy_8u_arraddr[7];
KLMF_IPP_API extern const ippsSet_8u_fn ippsSet_8u_arraddr[7];
KLMF_IPP_API extern const ippsSet_32s_fn ippsSet_32s_arraddr[7];

/* ---- Processor features and variant choice ---- */
KLMF_IPP_API ippResult ippInit(void);
KLMF_IPP_API ippResult ippStaticInit(void);
KLMF_IPP_API ippResult ippInitCpu(uint32_t cpuCode);
KLMF_IPP_API int ippIsCpuEnabled(uint32_t cpuCode);
KLMF_IPP_API ippResult ippEnableCpu(uint32_t cpuCode);
/* Feature mask bits: 0 MMX, 1 SSE, 2 SSE2, 3 SSE3, 4 SSSE3, 5 MOVBE, 6 SSE4.1,
 * 7 SSE4.2, 8 AVX, 9 AVX enabled by the OS (OSXSAVE, XCR0 bits 1 and 2),
 * 10 AES, 11 PCLMULQDQ, 12 leaf 0x20000001 EDX bit 1 (family 0xb only),
 * 13 RDRAND, 14 F16C, 15 AVX2 with BMI1, BMI2 and FMA, 16 ADX, 17 RDSEED,
 * 18 PREFETCHW, 31 family/model 0xb1. pRegs may be null. */
KLMF_IPP_API ippResult ippGetCpuFeatures(uint64_t* pFeaturesMask, uint32_t pRegs[4]);
KLMF_IPP_API ippResult ippSetCpuFeaturesMask(uint64_t mask);
KLMF_IPP_API uint64_t ippGetEnabledCpuFeatures(void);
KLMF_IPP_API ippResult ippGetMaxCacheSizeB(int32_t* pSize);

KLMF_IPP_API void ownGetReg(uint32_t regs[4], uint32_t leaf, uint32_t subleaf);
KLMF_IPP_API int ownGetMaskFeatures(uint64_t* pMask);
KLMF_IPP_API int ownGetFeature(uint64_t feature);
KLMF_IPP_API int ownSetFeatureMask(uint64_t mask);
KLMF_IPP_API void ownMaskIsFeatures(void);
KLMF_IPP_API ippResult ownippStaticInitCpu(uint32_t cpuCode);
/* Largest cache from the leaf-2 descriptors in bytes, 0 when none. */
KLMF_IPP_API int32_t ownGetCacheSize(void);

KLMF_IPP_API int ipp_has_cpuid(void);
KLMF_IPP_API uint32_t ipp_max_cpuid_input(void);
KLMF_IPP_API int ipp_has_rdtsc(void);
KLMF_IPP_API int ipp_is_mmx_extension(void);
KLMF_IPP_API int ipp_is_ssx_extension(void);
KLMF_IPP_API int ipp_is_wni_extension(void);
KLMF_IPP_API int ipp_is_htt_extension(void);
KLMF_IPP_API int ipp_is_pni_extension(void);
KLMF_IPP_API int ipp_is_em64t_extension(void);
KLMF_IPP_API int ipp_is_mni_extension(void);
KLMF_IPP_API int ipp_is_sse41_extension(void);
KLMF_IPP_API int ipp_is_sse42_extension(void);
KLMF_IPP_API int ipp_is_movbe(void);
KLMF_IPP_API int ipp_is_avx_extension(void);
KLMF_IPP_API uint32_t ipp_get_cores_on_die(void);
KLMF_IPP_API uint64_t ipp_get_pentium_counter(void);
KLMF_IPP_API int ipp_is_reference_vendor(void);
/* Fills 23 words (family, stepping, model, type, ...); returns leaf-2 EAX. */
KLMF_IPP_API uint32_t ipp_get_pentium_ident(uint32_t record[23]);

/* ---- Floating-point control (x87 CW/SW, MXCSR) ---- */
KLMF_IPP_API uint32_t ps_get_cw_fpu(void);
KLMF_IPP_API uint32_t ps_set_cw_fpu(uint32_t value, uint32_t mask);
KLMF_IPP_API uint32_t ps_get_sw_fpu(void);
KLMF_IPP_API uint32_t ps_clear_fpu(void);
KLMF_IPP_API uint32_t ps_get_ssx(void);
KLMF_IPP_API uint32_t ps_set_ssx(uint32_t value, uint32_t mask);
KLMF_IPP_API uint32_t ipp_clear_ssx(void);
KLMF_IPP_API uint32_t ipp_set_rc_ssx(uint32_t roundingBits);
KLMF_IPP_API void ipp_set_cw_ssx(uint32_t value);
KLMF_IPP_API int ipp_tst_daz_ssx(void);
KLMF_IPP_API uint32_t ipp_set_rcpc_fpu(uint32_t value, uint32_t mask);
KLMF_IPP_API void ipp_set_cw_fpu(uint32_t value);
KLMF_IPP_API int ipp_isnan(double x);
KLMF_IPP_API int ipp_finite(double x);
KLMF_IPP_API uint32_t ipp_control87(uint32_t newValue, uint32_t mask);
KLMF_IPP_API uint32_t ipp_status87(void);
KLMF_IPP_API uint32_t ipp_clear87(void);

#ifdef __cplusplus
}
#endif

#endif
