// AVX2 row and column passes (variant l9): gathers of each position's taps,
// products added in tap order without fused multiply-adds, so the bytes
// equal the generic variant's. Only intrinsics here: no inline library code
// may be emitted with -mavx2.
#include <immintrin.h>

#include "resize_driver.h"
#include "variants.h"

namespace klmf_resize {
namespace {

inline __m256 toFloat(__m128i bytes) { return _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(bytes)); }
inline __m128 pairAt(const float* p) { return _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p)); }
inline __m128 pairsAt(const float* p, const float* q) {
    return _mm_loadh_pi(pairAt(p), reinterpret_cast<const __m64*>(q));
}
inline __m256 join(__m128 lo, __m128 hi) { return _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1); }

// Per 128-bit lane: four 4-byte groups regrouped by position in the group,
// then the lanes' dwords interleaved so that qword t holds byte t of all eight.
inline __m256i transposeBytes8x4(__m256i g) {
    const __m256i m = _mm256_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15, 0, 4, 8, 12, 1, 5, 9, 13,
                                       2, 6, 10, 14, 3, 7, 11, 15);
    return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(g, m), _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// The four weights of eight positions (lane 0 positions 0-3, lane 1 positions
// 4-7), transposed per lane: w[t] holds tap t of the eight positions.
inline void transposeWeights(__m256 r0, __m256 r1, __m256 r2, __m256 r3, __m256 w[4]) {
    const __m256 t0 = _mm256_unpacklo_ps(r0, r1), t1 = _mm256_unpacklo_ps(r2, r3);
    const __m256 t2 = _mm256_unpackhi_ps(r0, r1), t3 = _mm256_unpackhi_ps(r2, r3);
    w[0] = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(1, 0, 1, 0));
    w[1] = _mm256_shuffle_ps(t0, t1, _MM_SHUFFLE(3, 2, 3, 2));
    w[2] = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(1, 0, 1, 0));
    w[3] = _mm256_shuffle_ps(t2, t3, _MM_SHUFFLE(3, 2, 3, 2));
}

// The 2A weights of eight positions (stored position by position), as w[t] =
// tap t of the eight.
template <int A, int T>
inline void loadWeights(const float* wx, __m256 w[6]) {
    if (A == 2) {
        const __m256 a = _mm256_loadu_ps(wx), b = _mm256_loadu_ps(wx + 8);
        const __m256 c = _mm256_loadu_ps(wx + 16), d = _mm256_loadu_ps(wx + 24);
        transposeWeights(_mm256_permute2f128_ps(a, c, 0x20), _mm256_permute2f128_ps(a, c, 0x31),
                         _mm256_permute2f128_ps(b, d, 0x20), _mm256_permute2f128_ps(b, d, 0x31), w);
    } else {
        transposeWeights(join(_mm_loadu_ps(wx), _mm_loadu_ps(wx + 24)),
                         join(_mm_loadu_ps(wx + 6), _mm_loadu_ps(wx + 30)),
                         join(_mm_loadu_ps(wx + 12), _mm_loadu_ps(wx + 36)),
                         join(_mm_loadu_ps(wx + 18), _mm_loadu_ps(wx + 42)), w);
        const __m256 p = join(pairsAt(wx + 4, wx + 10), pairsAt(wx + 28, wx + 34));
        const __m256 q = join(pairsAt(wx + 16, wx + 22), pairsAt(wx + 40, wx + 46));
        w[4 % T] = _mm256_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0));
        w[5 % T] = _mm256_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1));
    }
}

inline __m128i qword(__m256i v, int t) {
    const __m128i half = t < 2 ? _mm256_castsi256_si128(v) : _mm256_extracti128_si256(v, 1);
    return (t & 1) ? _mm_srli_si128(half, 8) : half;
}

// Horizontal pass, one channel, eight positions a step. When the taps of
// the eight lie within 16 bytes that the row's taps cover anyway, one load
// and a byte shuffle per tap replace the gathers.
template <int A>
void row1Pass(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    constexpr int T = 2 * A;
    const int32_t limit = n > 0 ? cols[n - 1] + A : 0;  // last byte any tap of the row reads
    int j = 0;
    for (; j + 8 <= n; j += 8, wx += 8 * T) {
        const int32_t c0 = cols[j];
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cols + j));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cols + j + 4));
        __m256 x[T];
        const int32_t c4 = cols[j + 4];
        const bool one = cols[j + 7] - c0 + T - 1 <= 15;
        if ((one || (cols[j + 3] - c0 + T - 1 <= 15 && cols[j + 7] - c4 + T - 1 <= 15)) &&
            (one ? c0 : c4) - (A - 1) + 15 <= limit) {
            // Lane 0 reads positions 0-3 from a load at c0, lane 1 positions
            // 4-7 from the same load or one at c4; each int32 lane of the
            // shuffle mask picks one byte and zeroes the other three.
            const int32_t c1 = one ? c0 : c4;
            const __m256i data = _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + c0 - (A - 1)))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + c1 - (A - 1))), 1);
            const __m256i rel = _mm256_or_si256(
                _mm256_sub_epi32(_mm256_setr_m128i(lo, hi), _mm256_setr_epi32(c0, c0, c0, c0, c1, c1, c1, c1)),
                _mm256_set1_epi32(static_cast<int>(0x80808000u)));
            #pragma GCC unroll 6
            for (int t = 0; t < T; ++t)
                x[t] = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(data, _mm256_add_epi32(rel, _mm256_set1_epi32(t))));
        } else {
            const __m256i idx = _mm256_setr_m128i(lo, hi);
            const __m256i v =
                transposeBytes8x4(_mm256_i32gather_epi32(reinterpret_cast<const int*>(src - (A - 1)), idx, 1));
            #pragma GCC unroll 6
            for (int t = 0; t < 4; ++t) x[t] = toFloat(qword(v, t));
            if (A == 3) {
                // Taps 4-5 are bytes 2-3 of the word at k: no read past the last tap.
                const __m256i e = transposeBytes8x4(_mm256_i32gather_epi32(reinterpret_cast<const int*>(src), idx, 1));
                x[4 % T] = toFloat(qword(e, 2));
                x[5 % T] = toFloat(qword(e, 3));
            }
        }
        __m256 w[6];
        loadWeights<A, T>(wx, w);
        __m256 sum = _mm256_mul_ps(x[0], w[0]);
        #pragma GCC unroll 6
        for (int t = 1; t < T; ++t) sum = _mm256_add_ps(sum, _mm256_mul_ps(x[t], w[t]));
        _mm256_storeu_ps(out + j, sum);
    }
    if (j < n)
        (A == 2 ? kGenericKernels.ownRow1Cubic8u : kGenericKernels.ownRow1Lanczos3_8u)(src, cols + j, wx, n - j,
                                                                                        out + j);
}

void ownRow1Cubic8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    row1Pass<2>(src, cols, wx, n, out);
}

void ownRow1Lanczos3_8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    row1Pass<3>(src, cols, wx, n, out);
}

// Tap t of four positions' weights, each repeated for the two channels.
inline __m256 dupPairs(__m128 t) {
    return _mm256_permutevar8x32_ps(_mm256_castps128_ps256(t), _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
}

// Four positions of interleaved pairs: 8-byte gathers regrouped so that
// qword t holds [u v] of tap t for the four positions.
inline __m256i regroupPairs(__m256i g) {
    const __m256i m = _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2, 3, 10, 11,
                                       4, 5, 12, 13, 6, 7, 14, 15);
    return _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(g, m), _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
}

// Horizontal pass, two channels, four positions (eight floats) a step; the
// same single-load shuffle as one channel when the taps fit in 16 bytes.
template <int A>
void row2Pass(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    constexpr int T = 2 * A;
    const int32_t limit = n > 0 ? cols[n - 1] + 2 * A + 1 : 0;  // last byte any tap of the row reads
    int j = 0;
    for (; j + 4 <= n; j += 4, wx += 4 * T) {
        const __m128i idx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cols + j));
        const int32_t c0 = cols[j], c2 = cols[j + 2];
        __m256 x[T];
        const bool one = cols[j + 3] - c0 + 2 * T - 1 <= 15;
        if ((one || (cols[j + 1] - c0 + 2 * T - 1 <= 15 && cols[j + 3] - c2 + 2 * T - 1 <= 15)) &&
            (one ? c0 : c2) - 2 * (A - 1) + 15 <= limit) {
            // Lane 0 holds positions 0-1, lane 1 positions 2-3, as [u v u v].
            const int32_t c1 = one ? c0 : c2;
            const __m256i data = _mm256_inserti128_si256(
                _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + c0 - 2 * (A - 1)))),
                _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + c1 - 2 * (A - 1))), 1);
            const __m256i spread =
                _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(idx), _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
            const __m256i rel = _mm256_or_si256(
                _mm256_add_epi32(_mm256_sub_epi32(spread, _mm256_setr_epi32(c0, c0, c0, c0, c1, c1, c1, c1)),
                                 _mm256_setr_epi32(0, 1, 0, 1, 0, 1, 0, 1)),
                _mm256_set1_epi32(static_cast<int>(0x80808000u)));
            #pragma GCC unroll 6
            for (int t = 0; t < T; ++t)
                x[t] = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(data, _mm256_add_epi32(rel, _mm256_set1_epi32(2 * t))));
        } else {
            const __m256i v =
                regroupPairs(_mm256_i32gather_epi64(reinterpret_cast<const long long*>(src - 2 * (A - 1)), idx, 1));
            #pragma GCC unroll 6
            for (int t = 0; t < 4; ++t) x[t] = toFloat(qword(v, t));
            if (A == 3) {
                const __m128i split = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
                const __m128i e =
                    _mm_shuffle_epi8(_mm_i32gather_epi32(reinterpret_cast<const int*>(src + 4), idx, 1), split);
                x[4 % T] = toFloat(e);
                x[5 % T] = toFloat(_mm_srli_si128(e, 8));
            }
        }
        __m128 w0 = _mm_loadu_ps(wx), w1 = _mm_loadu_ps(wx + T), w2 = _mm_loadu_ps(wx + 2 * T),
               w3 = _mm_loadu_ps(wx + 3 * T);
        _MM_TRANSPOSE4_PS(w0, w1, w2, w3);
        __m256 w[6] = {dupPairs(w0), dupPairs(w1), dupPairs(w2), dupPairs(w3)};
        if (A == 3) {
            const __m128 p = pairsAt(wx + 4, wx + 10), q = pairsAt(wx + 16, wx + 22);
            w[4 % T] = dupPairs(_mm_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0)));
            w[5 % T] = dupPairs(_mm_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1)));
        }
        __m256 sum = _mm256_mul_ps(x[0], w[0]);
        #pragma GCC unroll 6
        for (int t = 1; t < T; ++t) sum = _mm256_add_ps(sum, _mm256_mul_ps(x[t], w[t]));
        _mm256_storeu_ps(out + 2 * j, sum);
    }
    if (j < n)
        (A == 2 ? kGenericKernels.ownRow2Lanczos2_8u : kGenericKernels.ownRow2Lanczos3_8u)(src, cols + j, wx, n - j,
                                                                                            out + 2 * j);
}

void ownRow2Lanczos2_8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    row2Pass<2>(src, cols, wx, n, out);
}

void ownRow2Lanczos3_8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    row2Pass<3>(src, cols, wx, n, out);
}

template <int Taps>
inline __m256i colSum(const float* const* rows, const __m256* w, int j) {
    __m256 sum = _mm256_mul_ps(_mm256_loadu_ps(rows[0] + j), w[0]);
    #pragma GCC unroll 6
    for (int v = 1; v < Taps; ++v) sum = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_loadu_ps(rows[v] + j), w[v]));
    return _mm256_cvtps_epi32(sum);  // nearest, ties to even
}

template <int Taps>
void colPass(const float* const* rows, const float* wy, int n, uint8_t* dst) {
    __m256 w[Taps];
    #pragma GCC unroll 6
    for (int v = 0; v < Taps; ++v) w[v] = _mm256_set1_ps(wy[v]);
    int j = 0;
    for (; j + 32 <= n; j += 32) {
        const __m256i a = _mm256_packs_epi32(colSum<Taps>(rows, w, j), colSum<Taps>(rows, w, j + 8));
        const __m256i b = _mm256_packs_epi32(colSum<Taps>(rows, w, j + 16), colSum<Taps>(rows, w, j + 24));
        const __m256i bytes =
            _mm256_permutevar8x32_epi32(_mm256_packus_epi16(a, b), _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + j), bytes);
    }
    if (j < n) {
        const float* rest[6];
        #pragma GCC unroll 6
        for (int v = 0; v < Taps; ++v) rest[v] = rows[v] + j;
        (Taps == 4 ? kGenericKernels.ownColCubic8u : kGenericKernels.ownColLanczos3_8u)(rest, wy, n - j, dst + j);
    }
}

template <int Taps>
void colPair(const float* const* rows, const float* wy0, const float* wy1, int n, uint8_t* dst0, uint8_t* dst1) {
    __m256 w0[Taps], w1[Taps];
    #pragma GCC unroll 6
    for (int v = 0; v < Taps; ++v) {
        w0[v] = _mm256_set1_ps(wy0[v]);
        w1[v] = _mm256_set1_ps(wy1[v]);
    }
    const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
    int j = 0;
    for (; j + 16 <= n; j += 16) {
        __m256 s0a, s0b, s1a, s1b;
        {
            const __m256 ra = _mm256_loadu_ps(rows[0] + j), rb = _mm256_loadu_ps(rows[0] + j + 8);
            s0a = _mm256_mul_ps(ra, w0[0]);
            s0b = _mm256_mul_ps(rb, w0[0]);
            s1a = _mm256_mul_ps(ra, w1[0]);
            s1b = _mm256_mul_ps(rb, w1[0]);
        }
        #pragma GCC unroll 6
        for (int v = 1; v < Taps; ++v) {
            const __m256 ra = _mm256_loadu_ps(rows[v] + j), rb = _mm256_loadu_ps(rows[v] + j + 8);
            s0a = _mm256_add_ps(s0a, _mm256_mul_ps(ra, w0[v]));
            s0b = _mm256_add_ps(s0b, _mm256_mul_ps(rb, w0[v]));
            s1a = _mm256_add_ps(s1a, _mm256_mul_ps(ra, w1[v]));
            s1b = _mm256_add_ps(s1b, _mm256_mul_ps(rb, w1[v]));
        }
        // Rows 0 and 1 packed together, then each 16-byte half to its row.
        const __m256i p0 = _mm256_packs_epi32(_mm256_cvtps_epi32(s0a), _mm256_cvtps_epi32(s0b));
        const __m256i p1 = _mm256_packs_epi32(_mm256_cvtps_epi32(s1a), _mm256_cvtps_epi32(s1b));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_packus_epi16(p0, p1), order);
        // bytes: row 0 j..j+15 in the low half, row 1 in the high half.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst0 + j), _mm256_castsi256_si128(bytes));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst1 + j), _mm256_extracti128_si256(bytes, 1));
    }
    if (j < n) {
        const float* rest[6];
        #pragma GCC unroll 6
        for (int v = 0; v < Taps; ++v) rest[v] = rows[v] + j;
        colPass<Taps>(rest, wy0, n - j, dst0 + j);
        colPass<Taps>(rest, wy1, n - j, dst1 + j);
    }
}

// Prepared passes: per group of eight output floats, the load offsets, the
// byte-shuffle mask (or the gather indices) and the weights already in tap
// order, laid out once per strip so that each source row only loads them.
template <int T>
struct alignas(32) Group {
    int32_t shuffle;  // 1: two 16-byte loads and byte shuffles; 0: gathers
    int32_t at0, at1;
    int32_t pad[5];
    __m256i mask[T];  // shuffle mask of each tap, or in mask[0] the gather indices
    __m256 w[T];
};

// The taps of a group whose bytes lie in its two 16-byte loads, as floats: x[t] = tap t.
template <int T>
inline void shuffledTaps(const uint8_t* src, const Group<T>& g, __m256 x[]) {
    const __m256i data = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(src + g.at0))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + g.at1)), 1);
    #pragma GCC unroll 6
    for (int t = 0; t < T; ++t) x[t] = _mm256_cvtepi32_ps(_mm256_shuffle_epi8(data, g.mask[t]));
}

template <int A>
void row1Prepare(const int32_t* cols, const float* wx, int n, int32_t limit, void* layout) {
    constexpr int T = 2 * A;
    auto* g = static_cast<Group<T>*>(layout);
    for (int j = 0; j + 8 <= n; j += 8, wx += 8 * T, ++g) {
        const int32_t c0 = cols[j], c4 = cols[j + 4];
        const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cols + j));
        const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cols + j + 4));
        const bool one = cols[j + 7] - c0 + T - 1 <= 15;
        const int32_t c1 = one ? c0 : c4;
        g->shuffle = (one || (cols[j + 3] - c0 + T - 1 <= 15 && cols[j + 7] - c4 + T - 1 <= 15)) &&
                     c1 - (A - 1) + 15 <= limit;
        g->at0 = c0 - (A - 1);
        g->at1 = c1 - (A - 1);
        if (g->shuffle) {
            const __m256i rel = _mm256_or_si256(
                _mm256_sub_epi32(_mm256_setr_m128i(lo, hi), _mm256_setr_epi32(c0, c0, c0, c0, c1, c1, c1, c1)),
                _mm256_set1_epi32(static_cast<int>(0x80808000u)));
            for (int t = 0; t < T; ++t) g->mask[t] = _mm256_add_epi32(rel, _mm256_set1_epi32(t));
        } else {
            g->mask[0] = _mm256_setr_m128i(lo, hi);
        }
        __m256 w[6];
        loadWeights<A, T>(wx, w);
        for (int t = 0; t < T; ++t) g->w[t] = w[t];
    }
}

template <int A>
void row1Prepared(const uint8_t* src, const void* layout, const int32_t* cols, const float* wx, int n, float* out) {
    constexpr int T = 2 * A;
    const auto* g = static_cast<const Group<T>*>(layout);
    int j = 0;
    for (; j + 8 <= n; j += 8, ++g) {
        __m256 x[T];
        if (g->shuffle) {
            shuffledTaps(src, *g, x);
        } else {
            const __m256i v =
                transposeBytes8x4(_mm256_i32gather_epi32(reinterpret_cast<const int*>(src - (A - 1)), g->mask[0], 1));
            #pragma GCC unroll 6
            for (int t = 0; t < 4; ++t) x[t] = toFloat(qword(v, t));
            if (A == 3) {
                const __m256i e =
                    transposeBytes8x4(_mm256_i32gather_epi32(reinterpret_cast<const int*>(src), g->mask[0], 1));
                x[4 % T] = toFloat(qword(e, 2));
                x[5 % T] = toFloat(qword(e, 3));
            }
        }
        __m256 sum = _mm256_mul_ps(x[0], g->w[0]);
        #pragma GCC unroll 6
        for (int t = 1; t < T; ++t) sum = _mm256_add_ps(sum, _mm256_mul_ps(x[t], g->w[t]));
        _mm256_storeu_ps(out + j, sum);
    }
    if (j < n)
        (A == 2 ? kGenericKernels.ownRow1Cubic8u : kGenericKernels.ownRow1Lanczos3_8u)(src, cols + j, wx + j * T,
                                                                                        n - j, out + j);
}

template <int A>
void row2Prepare(const int32_t* cols, const float* wx, int n, int32_t limit, void* layout) {
    constexpr int T = 2 * A;
    auto* g = static_cast<Group<T>*>(layout);
    for (int j = 0; j + 4 <= n; j += 4, wx += 4 * T, ++g) {
        const __m128i idx = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cols + j));
        const int32_t c0 = cols[j], c2 = cols[j + 2];
        const bool one = cols[j + 3] - c0 + 2 * T - 1 <= 15;
        const int32_t c1 = one ? c0 : c2;
        g->shuffle = (one || (cols[j + 1] - c0 + 2 * T - 1 <= 15 && cols[j + 3] - c2 + 2 * T - 1 <= 15)) &&
                     c1 - 2 * (A - 1) + 15 <= limit;
        g->at0 = c0 - 2 * (A - 1);
        g->at1 = c1 - 2 * (A - 1);
        if (g->shuffle) {
            const __m256i spread =
                _mm256_permutevar8x32_epi32(_mm256_castsi128_si256(idx), _mm256_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3));
            const __m256i rel = _mm256_or_si256(
                _mm256_add_epi32(_mm256_sub_epi32(spread, _mm256_setr_epi32(c0, c0, c0, c0, c1, c1, c1, c1)),
                                 _mm256_setr_epi32(0, 1, 0, 1, 0, 1, 0, 1)),
                _mm256_set1_epi32(static_cast<int>(0x80808000u)));
            for (int t = 0; t < T; ++t) g->mask[t] = _mm256_add_epi32(rel, _mm256_set1_epi32(2 * t));
        } else {
            g->mask[0] = _mm256_castsi128_si256(idx);
        }
        __m128 w0 = _mm_loadu_ps(wx), w1 = _mm_loadu_ps(wx + T), w2 = _mm_loadu_ps(wx + 2 * T),
               w3 = _mm_loadu_ps(wx + 3 * T);
        _MM_TRANSPOSE4_PS(w0, w1, w2, w3);
        g->w[0] = dupPairs(w0);
        g->w[1] = dupPairs(w1);
        g->w[2] = dupPairs(w2);
        g->w[3] = dupPairs(w3);
        if (A == 3) {
            const __m128 p = pairsAt(wx + 4, wx + 10), q = pairsAt(wx + 16, wx + 22);
            g->w[4 % T] = dupPairs(_mm_shuffle_ps(p, q, _MM_SHUFFLE(2, 0, 2, 0)));
            g->w[5 % T] = dupPairs(_mm_shuffle_ps(p, q, _MM_SHUFFLE(3, 1, 3, 1)));
        }
    }
}

template <int A>
void row2Prepared(const uint8_t* src, const void* layout, const int32_t* cols, const float* wx, int n, float* out) {
    constexpr int T = 2 * A;
    const auto* g = static_cast<const Group<T>*>(layout);
    int j = 0;
    for (; j + 4 <= n; j += 4, ++g) {
        __m256 x[T];
        if (g->shuffle) {
            shuffledTaps(src, *g, x);
        } else {
            const __m128i idx = _mm256_castsi256_si128(g->mask[0]);
            const __m256i v =
                regroupPairs(_mm256_i32gather_epi64(reinterpret_cast<const long long*>(src - 2 * (A - 1)), idx, 1));
            #pragma GCC unroll 6
            for (int t = 0; t < 4; ++t) x[t] = toFloat(qword(v, t));
            if (A == 3) {
                const __m128i split = _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
                const __m128i e =
                    _mm_shuffle_epi8(_mm_i32gather_epi32(reinterpret_cast<const int*>(src + 4), idx, 1), split);
                x[4 % T] = toFloat(e);
                x[5 % T] = toFloat(_mm_srli_si128(e, 8));
            }
        }
        __m256 sum = _mm256_mul_ps(x[0], g->w[0]);
        #pragma GCC unroll 6
        for (int t = 1; t < T; ++t) sum = _mm256_add_ps(sum, _mm256_mul_ps(x[t], g->w[t]));
        _mm256_storeu_ps(out + 2 * j, sum);
    }
    if (j < n)
        (A == 2 ? kGenericKernels.ownRow2Lanczos2_8u : kGenericKernels.ownRow2Lanczos3_8u)(src, cols + j, wx + j * T,
                                                                                            n - j, out + 2 * j);
}

static_assert(sizeof(Group<6>) <= 8 * kPreparedBytesPerFloat, "a group of eight floats fits its share");

// Strided layouts for the exact 2:1 ratios. When every position's centre
// moves by two source columns (reduction by 2), the source row is converted
// once into its even and odd columns and each tap of eight consecutive
// outputs is one contiguous load; when it moves by one column every second
// position (enlargement by 2), the row is converted once and the two phases
// of positions each load their taps contiguously, their sums interleaved at
// the end. The products and sums are those of the plain pass.
enum StrideMode : int32_t { kGroups = 0, kDouble = 1, kHalf = 2 };

struct alignas(32) Head {
    int32_t mode;
    int32_t base;   // first source byte the taps read, relative to column 0
    int32_t count;  // bytes read from base on
    int32_t offB;   // enlargement: float offset of the second phase's taps
    int32_t pad[4];
};

template <int Ch>
int32_t strideMode(const int32_t* cols, int n) {
    constexpr int G = 8 / Ch;  // positions per eight floats
    if (n >= G) {
        bool ok = true;
        for (int j = 0; ok && j + 1 < n; ++j) ok = cols[j + 1] - cols[j] == 2 * Ch;
        if (ok) return kDouble;
    }
    if (n >= 2 * G && (cols[1] == cols[0] || cols[1] - cols[0] == Ch)) {
        bool ok = true;
        for (int j = 0; ok && j + 2 < n; ++j) ok = cols[j + 2] - cols[j] == Ch;
        if (ok) return kHalf;
    }
    return kGroups;
}

// Lane l of eight floats belongs to position pos[l / Ch].
template <int Ch, int T>
__m256 laneWeights(const float* wx, const int* pos, int t) {
    alignas(32) float v[8];
    for (int l = 0; l < 8; ++l) v[l] = wx[pos[l / Ch] * T + t];
    return _mm256_load_ps(v);
}

template <int Ch, int A>
void rowPrepare(const int32_t* cols, const float* wx, int n, int32_t limit, void* layout) {
    constexpr int T = 2 * A, G = 8 / Ch;
    auto* head = static_cast<Head*>(layout);
    head->mode = strideMode<Ch>(cols, n);
    if (head->mode == kGroups) {
        (Ch == 1 ? row1Prepare<A> : row2Prepare<A>)(cols, wx, n, limit, head + 1);
        return;
    }
    head->base = cols[0] - Ch * (A - 1);
    head->count = cols[n - 1] + Ch * A + (Ch - 1) - head->base + 1;
    head->offB = cols[1] - cols[0];
    auto* w = reinterpret_cast<__m256*>(head + 1);
    int pos[8];
    if (head->mode == kDouble) {
        for (int j = 0; j + G <= n; j += G) {
            for (int i = 0; i < G; ++i) pos[i] = j + i;
            for (int t = 0; t < T; ++t) *w++ = laneWeights<Ch, T>(wx, pos, t);
        }
    } else {
        for (int j = 0; j + 2 * G <= n; j += 2 * G)
            for (int phase = 0; phase < 2; ++phase) {
                for (int i = 0; i < G; ++i) pos[i] = j + 2 * i + phase;
                for (int t = 0; t < T; ++t) *w++ = laneWeights<Ch, T>(wx, pos, t);
            }
    }
}

// Source bytes [0, count) as floats: straight, or split into even and odd
// columns (pairs of bytes for two channels).
inline void convertRow(const uint8_t* b, int count, float* f) {
    int i = 0;
    for (; i + 8 <= count; i += 8)
        _mm256_store_ps(f + i, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(
                                   _mm_loadl_epi64(reinterpret_cast<const __m128i*>(b + i)))));
    for (; i < count; ++i) f[i] = static_cast<float>(b[i]);
}

template <int Ch>
void convertSplit(const uint8_t* b, int count, float* even, float* odd) {
    const __m128i split = Ch == 1 ? _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15)
                                  : _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)), split);
        _mm256_storeu_ps(even + i / 2, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(v)));
        _mm256_storeu_ps(odd + i / 2, _mm256_cvtepi32_ps(_mm256_cvtepu8_epi32(_mm_srli_si128(v, 8))));
    }
    for (; i < count; ++i) {
        const int unit = i / Ch, c = i % Ch;  // column (or pair) and channel
        (unit & 1 ? odd : even)[(unit / 2) * Ch + c] = static_cast<float>(b[i]);
    }
}

template <int Ch, int A>
void rowPrepared(const uint8_t* src, const void* layout, const int32_t* cols, const float* wx, int n, float* out) {
    constexpr int T = 2 * A, G = 8 / Ch;
    const auto* head = static_cast<const Head*>(layout);
    if (head->mode == kGroups) {
        (Ch == 1 ? row1Prepared<A> : row2Prepared<A>)(src, head + 1, cols, wx, n, out);
        return;
    }
    const RowPass plain = Ch == 1 ? (A == 2 ? kGenericKernels.ownRow1Cubic8u : kGenericKernels.ownRow1Lanczos3_8u)
                                  : (A == 2 ? kGenericKernels.ownRow2Lanczos2_8u : kGenericKernels.ownRow2Lanczos3_8u);
    alignas(32) float f[2 * kStripFloats + 64];
    const auto* w = reinterpret_cast<const __m256*>(head + 1);
    int j = 0;
    if (head->mode == kDouble) {
        float* even = f;
        float* odd = f + kStripFloats + 32;
        convertSplit<Ch>(src + head->base, head->count, even, odd);
        for (; j + G <= n; j += G, w += T) {
            __m256 sum = _mm256_mul_ps(_mm256_loadu_ps(even + Ch * j), w[0]);
            #pragma GCC unroll 6
            for (int t = 1; t < T; ++t)
                sum = _mm256_add_ps(sum, _mm256_mul_ps(_mm256_loadu_ps((t & 1 ? odd : even) + Ch * (j + t / 2)), w[t]));
            _mm256_storeu_ps(out + Ch * j, sum);
        }
    } else {
        convertRow(src + head->base, head->count, f);
        const float* fb = f + head->offB;
        for (; j + 2 * G <= n; j += 2 * G, w += 2 * T) {
            const int at = Ch * (j / 2);
            __m256 a = _mm256_mul_ps(_mm256_loadu_ps(f + at), w[0]);
            __m256 b = _mm256_mul_ps(_mm256_loadu_ps(fb + at), w[T]);
            #pragma GCC unroll 6
            for (int t = 1; t < T; ++t) {
                a = _mm256_add_ps(a, _mm256_mul_ps(_mm256_loadu_ps(f + at + Ch * t), w[t]));
                b = _mm256_add_ps(b, _mm256_mul_ps(_mm256_loadu_ps(fb + at + Ch * t), w[T + t]));
            }
            __m256 lo, hi;
            if (Ch == 1) {
                lo = _mm256_unpacklo_ps(a, b);
                hi = _mm256_unpackhi_ps(a, b);
            } else {
                lo = _mm256_castpd_ps(_mm256_unpacklo_pd(_mm256_castps_pd(a), _mm256_castps_pd(b)));
                hi = _mm256_castpd_ps(_mm256_unpackhi_pd(_mm256_castps_pd(a), _mm256_castps_pd(b)));
            }
            _mm256_storeu_ps(out + Ch * j, _mm256_permute2f128_ps(lo, hi, 0x20));
            _mm256_storeu_ps(out + Ch * j + 8, _mm256_permute2f128_ps(lo, hi, 0x31));
        }
    }
    if (j < n) plain(src, cols + j, wx + j * T, n - j, out + Ch * j);
}



void ownColCubic8u(const float* const* rows, const float* wy, int n, uint8_t* dst) { colPass<4>(rows, wy, n, dst); }

void ownColLanczos3_8u(const float* const* rows, const float* wy, int n, uint8_t* dst) { colPass<6>(rows, wy, n, dst); }

const ResizeKernels kAvx2Kernels = {ownRow1Cubic8u, ownRow1Lanczos3_8u, ownRow2Lanczos2_8u, ownRow2Lanczos3_8u,
                                    ownColCubic8u, ownColLanczos3_8u, colPair<4>, colPair<6>,
                                    {rowPrepare<1, 2>, rowPrepared<1, 2>}, {rowPrepare<1, 3>, rowPrepared<1, 3>},
                                    {rowPrepare<2, 2>, rowPrepared<2, 2>}, {rowPrepare<2, 3>, rowPrepared<2, 3>}};

}  // namespace

ippResult l9_ippiResizeYUV420Lanczos_8u_P2R(const uint8_t* pSrcY, int32_t srcYStep, const uint8_t* pSrcUV,
                                            int32_t srcUVStep, uint8_t* pDstY, int32_t dstYStep, uint8_t* pDstUV,
                                            int32_t dstUVStep, ippiPlaneOffset dstOffset, ippiPlaneSize dstSize,
                                            ippiEdgeMode border, const uint8_t*, const ippiLanczosPlan* pPlan,
                                            uint8_t* pBuffer) {
    return resizeYUV420(kAvx2Kernels, pSrcY, srcYStep, pSrcUV, srcUVStep, pDstY, dstYStep, pDstUV, dstUVStep, dstOffset,
                        dstSize, border, pPlan, pBuffer);
}

}  // namespace klmf_resize
