// SSE4.1 row and column passes (variant y8). Products are added in tap order
// without fused multiply-adds, so the bytes equal the generic variant's.
// Only intrinsics here: no inline library code may be emitted with -msse4.1.
#include <immintrin.h>

#include <cstring>

#include "resize_driver.h"
#include "variants.h"

namespace klmf_resize {
namespace {

inline int32_t load32(const uint8_t* p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline int32_t load16(const uint8_t* p) {
    uint16_t v;
    std::memcpy(&v, p, 2);
    return v;
}
inline __m128i load64(const uint8_t* p) { return _mm_loadl_epi64(reinterpret_cast<const __m128i*>(p)); }
inline __m128 pairAt(const float* p) { return _mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p)); }
inline __m128 toFloat(__m128i bytes) { return _mm_cvtepi32_ps(_mm_cvtepu8_epi32(bytes)); }

// Bytes of four 4-byte groups, regrouped by position within the group.
inline __m128i transposeBytes4x4(__m128i v) {
    return _mm_shuffle_epi8(v, _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, 2, 6, 10, 14, 3, 7, 11, 15));
}

void ownRow1Cubic8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    const uint8_t* s = src - 1;
    int j = 0;
    for (; j + 4 <= n; j += 4, wx += 16) {
        const __m128i v = transposeBytes4x4(_mm_setr_epi32(load32(s + cols[j]), load32(s + cols[j + 1]),
                                                           load32(s + cols[j + 2]), load32(s + cols[j + 3])));
        __m128 w0 = _mm_loadu_ps(wx), w1 = _mm_loadu_ps(wx + 4), w2 = _mm_loadu_ps(wx + 8), w3 = _mm_loadu_ps(wx + 12);
        _MM_TRANSPOSE4_PS(w0, w1, w2, w3);
        __m128 sum = _mm_mul_ps(toFloat(v), w0);
        sum = _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(v, 4)), w1));
        sum = _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(v, 8)), w2));
        sum = _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(v, 12)), w3));
        _mm_storeu_ps(out + j, sum);
    }
    if (j < n) kGenericKernels.ownRow1Cubic8u(src, cols + j, wx, n - j, out + j);
}

void ownRow1Lanczos3_8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    const uint8_t* s = src - 2;
    int j = 0;
    for (; j + 4 <= n; j += 4, wx += 24) {
        const int32_t c0 = cols[j], c1 = cols[j + 1], c2 = cols[j + 2], c3 = cols[j + 3];
        const __m128i v =
            transposeBytes4x4(_mm_setr_epi32(load32(s + c0), load32(s + c1), load32(s + c2), load32(s + c3)));
        const __m128i e = _mm_shuffle_epi8(
            _mm_setr_epi32(load16(s + c0 + 4), load16(s + c1 + 4), load16(s + c2 + 4), load16(s + c3 + 4)),
            _mm_setr_epi8(0, 4, 8, 12, 1, 5, 9, 13, -1, -1, -1, -1, -1, -1, -1, -1));
        __m128 w0 = _mm_loadu_ps(wx), w1 = _mm_loadu_ps(wx + 6), w2 = _mm_loadu_ps(wx + 12), w3 = _mm_loadu_ps(wx + 18);
        _MM_TRANSPOSE4_PS(w0, w1, w2, w3);
        const __m128 x = _mm_movelh_ps(pairAt(wx + 4), pairAt(wx + 10));
        const __m128 y = _mm_movelh_ps(pairAt(wx + 16), pairAt(wx + 22));
        const __m128 w4 = _mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0));
        const __m128 w5 = _mm_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1));
        __m128 sum = _mm_mul_ps(toFloat(v), w0);
        sum = _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(v, 4)), w1));
        sum = _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(v, 8)), w2));
        sum = _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(v, 12)), w3));
        sum = _mm_add_ps(sum, _mm_mul_ps(toFloat(e), w4));
        sum = _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(e, 4)), w5));
        _mm_storeu_ps(out + j, sum);
    }
    if (j < n) kGenericKernels.ownRow1Lanczos3_8u(src, cols + j, wx, n - j, out + j);
}

// Two positions of interleaved pairs: tap t becomes [u0 v0 u1 v1] of tap t.
void ownRow2Lanczos2_8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    const uint8_t* s = src - 2;
    const __m128i regroup = _mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    int j = 0;
    for (; j + 2 <= n; j += 2, wx += 8) {
        const __m128i v = _mm_shuffle_epi8(_mm_unpacklo_epi64(load64(s + cols[j]), load64(s + cols[j + 1])), regroup);
        const __m128 a = _mm_loadu_ps(wx), b = _mm_loadu_ps(wx + 4);
        const __m128 lo = _mm_unpacklo_ps(a, b), hi = _mm_unpackhi_ps(a, b);
        __m128 sum = _mm_mul_ps(toFloat(v), _mm_shuffle_ps(lo, lo, _MM_SHUFFLE(1, 1, 0, 0)));
        sum =
            _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(v, 4)), _mm_shuffle_ps(lo, lo, _MM_SHUFFLE(3, 3, 2, 2))));
        sum =
            _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(v, 8)), _mm_shuffle_ps(hi, hi, _MM_SHUFFLE(1, 1, 0, 0))));
        sum = _mm_add_ps(sum,
                         _mm_mul_ps(toFloat(_mm_srli_si128(v, 12)), _mm_shuffle_ps(hi, hi, _MM_SHUFFLE(3, 3, 2, 2))));
        _mm_storeu_ps(out + 2 * j, sum);
    }
    if (j < n) kGenericKernels.ownRow2Lanczos2_8u(src, cols + j, wx, n - j, out + 2 * j);
}

void ownRow2Lanczos3_8u(const uint8_t* src, const int32_t* cols, const float* wx, int n, float* out) {
    const uint8_t* s = src - 4;
    const __m128i regroup = _mm_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15);
    int j = 0;
    for (; j + 2 <= n; j += 2, wx += 12) {
        const int32_t c0 = cols[j], c1 = cols[j + 1];
        const __m128i v = _mm_shuffle_epi8(_mm_unpacklo_epi64(load64(s + c0), load64(s + c1)), regroup);
        const __m128i e = _mm_shuffle_epi8(_mm_setr_epi32(load32(s + c0 + 8), load32(s + c1 + 8), 0, 0),
                                           _mm_setr_epi8(0, 1, 4, 5, 2, 3, 6, 7, -1, -1, -1, -1, -1, -1, -1, -1));
        const __m128 a = _mm_loadu_ps(wx), b = _mm_loadu_ps(wx + 6);
        const __m128 lo = _mm_unpacklo_ps(a, b), hi = _mm_unpackhi_ps(a, b);
        const __m128 t45 = _mm_unpacklo_ps(pairAt(wx + 4), pairAt(wx + 10));  // [p0w4 p1w4 p0w5 p1w5]
        __m128 sum = _mm_mul_ps(toFloat(v), _mm_shuffle_ps(lo, lo, _MM_SHUFFLE(1, 1, 0, 0)));
        sum =
            _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(v, 4)), _mm_shuffle_ps(lo, lo, _MM_SHUFFLE(3, 3, 2, 2))));
        sum =
            _mm_add_ps(sum, _mm_mul_ps(toFloat(_mm_srli_si128(v, 8)), _mm_shuffle_ps(hi, hi, _MM_SHUFFLE(1, 1, 0, 0))));
        sum = _mm_add_ps(sum,
                         _mm_mul_ps(toFloat(_mm_srli_si128(v, 12)), _mm_shuffle_ps(hi, hi, _MM_SHUFFLE(3, 3, 2, 2))));
        sum = _mm_add_ps(sum, _mm_mul_ps(toFloat(e), _mm_shuffle_ps(t45, t45, _MM_SHUFFLE(1, 1, 0, 0))));
        sum = _mm_add_ps(sum,
                         _mm_mul_ps(toFloat(_mm_srli_si128(e, 4)), _mm_shuffle_ps(t45, t45, _MM_SHUFFLE(3, 3, 2, 2))));
        _mm_storeu_ps(out + 2 * j, sum);
    }
    if (j < n) kGenericKernels.ownRow2Lanczos3_8u(src, cols + j, wx, n - j, out + 2 * j);
}

// Prepared passes: per group of four output floats, the load offset and the
// byte-shuffle mask of tap 0 and the weights already in tap order, laid out
// once per strip. Groups whose taps do not fit one 16-byte load run the
// plain pass on their four floats.
template <int T>
struct alignas(16) Group {
    int32_t shuffle;
    int32_t at;
    int32_t pad[2];
    __m128i mask;
    __m128 w[T];
};

// The weighted sum of a group whose taps lie in its one 16-byte load; the
// byte offset of tap t is Step * t (2 for interleaved chroma pairs).
template <int T, int Step>
inline __m128 shuffledSum(const uint8_t* src, const Group<T>& g) {
    const __m128i data = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + g.at));
    __m128 sum = _mm_mul_ps(_mm_cvtepi32_ps(_mm_shuffle_epi8(data, g.mask)), g.w[0]);
    #pragma GCC unroll 6
    for (int t = 1; t < T; ++t)
        sum = _mm_add_ps(sum, _mm_mul_ps(_mm_cvtepi32_ps(_mm_shuffle_epi8(
                                             data, _mm_add_epi32(g.mask, _mm_set1_epi32(Step * t)))),
                                         g.w[t]));
    return sum;
}

template <int A>
void row1Prepare(const int32_t* cols, const float* wx, int n, int32_t limit, void* layout) {
    constexpr int T = 2 * A;
    auto* g = static_cast<Group<T>*>(layout);
    for (int j = 0; j + 4 <= n; j += 4, wx += 4 * T, ++g) {
        const int32_t c0 = cols[j];
        g->shuffle = cols[j + 3] - c0 + T - 1 <= 15 && c0 - (A - 1) + 15 <= limit;
        g->at = c0 - (A - 1);
        g->mask = _mm_or_si128(_mm_sub_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(cols + j)),
                                             _mm_set1_epi32(c0)),
                               _mm_set1_epi32(static_cast<int>(0x80808000u)));
        __m128 w0 = _mm_loadu_ps(wx), w1 = _mm_loadu_ps(wx + T), w2 = _mm_loadu_ps(wx + 2 * T),
               w3 = _mm_loadu_ps(wx + 3 * T);
        _MM_TRANSPOSE4_PS(w0, w1, w2, w3);
        g->w[0] = w0;
        g->w[1] = w1;
        g->w[2] = w2;
        g->w[3] = w3;
        if (A == 3) {
            const __m128 x = _mm_movelh_ps(pairAt(wx + 4), pairAt(wx + 10));
            const __m128 y = _mm_movelh_ps(pairAt(wx + 16), pairAt(wx + 22));
            g->w[4 % T] = _mm_shuffle_ps(x, y, _MM_SHUFFLE(2, 0, 2, 0));
            g->w[5 % T] = _mm_shuffle_ps(x, y, _MM_SHUFFLE(3, 1, 3, 1));
        }
    }
}

template <int A>
void row1Prepared(const uint8_t* src, const void* layout, const int32_t* cols, const float* wx, int n, float* out) {
    constexpr int T = 2 * A;
    const RowPass plain = A == 2 ? ownRow1Cubic8u : ownRow1Lanczos3_8u;
    const auto* g = static_cast<const Group<T>*>(layout);
    int j = 0;
    for (; j + 4 <= n; j += 4, ++g) {
        if (!g->shuffle) {
            plain(src, cols + j, wx + j * T, 4, out + j);
            continue;
        }
        _mm_storeu_ps(out + j, shuffledSum<T, 1>(src, *g));
    }
    if (j < n) plain(src, cols + j, wx + j * T, n - j, out + j);
}

template <int A>
void row2Prepare(const int32_t* cols, const float* wx, int n, int32_t limit, void* layout) {
    constexpr int T = 2 * A;
    auto* g = static_cast<Group<T>*>(layout);
    for (int j = 0; j + 2 <= n; j += 2, wx += 2 * T, ++g) {
        const int32_t c0 = cols[j], c1 = cols[j + 1];
        g->shuffle = c1 - c0 + 2 * T - 1 <= 15 && c0 - 2 * (A - 1) + 15 <= limit;
        g->at = c0 - 2 * (A - 1);
        g->mask = _mm_or_si128(_mm_setr_epi32(0, 1, c1 - c0, c1 - c0 + 1),
                               _mm_set1_epi32(static_cast<int>(0x80808000u)));
        // Tap t of the two positions, each repeated for the two channels.
        for (int t = 0; t < T; ++t) g->w[t] = _mm_setr_ps(wx[t], wx[t], wx[T + t], wx[T + t]);
    }
}

template <int A>
void row2Prepared(const uint8_t* src, const void* layout, const int32_t* cols, const float* wx, int n, float* out) {
    constexpr int T = 2 * A;
    const RowPass plain = A == 2 ? ownRow2Lanczos2_8u : ownRow2Lanczos3_8u;
    const auto* g = static_cast<const Group<T>*>(layout);
    int j = 0;
    for (; j + 2 <= n; j += 2, ++g) {
        if (!g->shuffle) {
            plain(src, cols + j, wx + j * T, 2, out + 2 * j);
            continue;
        }
        _mm_storeu_ps(out + 2 * j, shuffledSum<T, 2>(src, *g));
    }
    if (j < n) plain(src, cols + j, wx + j * T, n - j, out + 2 * j);
}

static_assert(sizeof(Group<6>) <= 4 * kPreparedBytesPerFloat, "a group of four floats fits its share");

// Strided layouts for the exact 2:1 ratios, as in the AVX2 variant: the
// source piece converted once (split into even and odd columns for a
// reduction by 2), every tap of four outputs one contiguous load, the two
// phases of an enlargement by 2 interleaved at the end.
enum StrideMode : int32_t { kGroups = 0, kDouble = 1, kHalf = 2 };

struct alignas(16) Head {
    int32_t mode;
    int32_t base;     // first source byte the taps read, relative to column 0
    int32_t count;    // bytes read from base on
    int32_t offB;     // enlargement: float offset of the second phase's taps
    int32_t uniform;  // every group's weights equal the first group's
    int32_t pad[3];
};

template <int Ch>
int32_t strideMode(const int32_t* cols, int n) {
    constexpr int G = 4 / Ch;  // positions per four floats
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

template <int Ch, int T>
__m128 laneWeights(const float* wx, const int* pos, int t) {
    return _mm_setr_ps(wx[pos[0] * T + t], wx[pos[1 / Ch] * T + t], wx[pos[2 / Ch] * T + t], wx[pos[3 / Ch] * T + t]);
}

template <int Ch, int A>
void rowPrepare(const int32_t* cols, const float* wx, int n, int32_t limit, void* layout) {
    constexpr int T = 2 * A, G = 4 / Ch;
    auto* head = static_cast<Head*>(layout);
    head->mode = strideMode<Ch>(cols, n);
    if (head->mode == kGroups) {
        (Ch == 1 ? row1Prepare<A> : row2Prepare<A>)(cols, wx, n, limit, head + 1);
        return;
    }
    head->base = cols[0] - Ch * (A - 1);
    head->count = cols[n - 1] + Ch * A + (Ch - 1) - head->base + 1;
    head->offB = cols[1] - cols[0];
    auto* const first = reinterpret_cast<__m128*>(head + 1);
    __m128* w = first;
    int pos[4];
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
    // Exact ratios of 2 give every position of a phase the same weights:
    // the pass then keeps them in registers, which halves its loads.
    const int per = head->mode == kDouble ? T : 2 * T;
    head->uniform = 1;
    for (const __m128* g = first + per; head->uniform && g < w; g += per)
        head->uniform = std::memcmp(g, first, sizeof(__m128) * per) == 0;
}

inline void convertRow(const uint8_t* b, int count, float* f) {
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
        _mm_store_ps(f + i, toFloat(v));
        _mm_store_ps(f + i + 4, toFloat(_mm_srli_si128(v, 4)));
        _mm_store_ps(f + i + 8, toFloat(_mm_srli_si128(v, 8)));
        _mm_store_ps(f + i + 12, toFloat(_mm_srli_si128(v, 12)));
    }
    for (; i + 4 <= count; i += 4)
        _mm_store_ps(f + i, _mm_cvtepi32_ps(_mm_cvtepu8_epi32(_mm_cvtsi32_si128(load32(b + i)))));
    for (; i < count; ++i) f[i] = static_cast<float>(b[i]);
}

template <int Ch>
void convertSplit(const uint8_t* b, int count, float* even, float* odd) {
    const __m128i split = Ch == 1 ? _mm_setr_epi8(0, 2, 4, 6, 8, 10, 12, 14, 1, 3, 5, 7, 9, 11, 13, 15)
                                  : _mm_setr_epi8(0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15);
    int i = 0;
    for (; i + 16 <= count; i += 16) {
        const __m128i v = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i)), split);
        _mm_storeu_ps(even + i / 2, toFloat(v));
        _mm_storeu_ps(even + i / 2 + 4, toFloat(_mm_srli_si128(v, 4)));
        _mm_storeu_ps(odd + i / 2, toFloat(_mm_srli_si128(v, 8)));
        _mm_storeu_ps(odd + i / 2 + 4, toFloat(_mm_srli_si128(v, 12)));
    }
    for (; i < count; ++i) {
        const int unit = i / Ch, c = i % Ch;  // column (or pair) and channel
        (unit & 1 ? odd : even)[(unit / 2) * Ch + c] = static_cast<float>(b[i]);
    }
}

// Reduction by 2: tap t of G consecutive positions is one load of the even
// or odd columns. Returns the positions done.
template <int Ch, int T, bool Uniform>
int doublePass(const float* even, const float* odd, const __m128* w, int n, float* out) {
    constexpr int G = 4 / Ch;
    __m128 u[T];
    #pragma GCC unroll 6
    for (int t = 0; t < T; ++t) u[t] = w[t];
    int j = 0;
    for (; j + G <= n; j += G, w += T) {
        const __m128* k = Uniform ? u : w;
        __m128 sum = _mm_mul_ps(_mm_loadu_ps(even + Ch * j), k[0]);
        #pragma GCC unroll 6
        for (int t = 1; t < T; ++t)
            sum = _mm_add_ps(sum, _mm_mul_ps(_mm_loadu_ps((t & 1 ? odd : even) + Ch * (j + t / 2)), k[t]));
        _mm_storeu_ps(out + Ch * j, sum);
    }
    return j;
}

// Enlargement by 2: the two phases of positions load their taps from the
// converted row, their sums interleaved at the end.
template <int Ch, int T, bool Uniform>
int halfPass(const float* f, int offB, const __m128* w, int n, float* out) {
    constexpr int G = 4 / Ch;
    const float* fb = f + offB;
    __m128 u[2 * T];
    #pragma GCC unroll 12
    for (int t = 0; t < 2 * T; ++t) u[t] = w[t];
    int j = 0;
    for (; j + 2 * G <= n; j += 2 * G, w += 2 * T, f += 4, fb += 4) {
        const __m128* k = Uniform ? u : w;
        __m128 a = _mm_mul_ps(_mm_loadu_ps(f), k[0]);
        __m128 b = _mm_mul_ps(_mm_loadu_ps(fb), k[T]);
        #pragma GCC unroll 6
        for (int t = 1; t < T; ++t) {
            a = _mm_add_ps(a, _mm_mul_ps(_mm_loadu_ps(f + Ch * t), k[t]));
            b = _mm_add_ps(b, _mm_mul_ps(_mm_loadu_ps(fb + Ch * t), k[T + t]));
        }
        if (Ch == 1) {
            _mm_storeu_ps(out + j, _mm_unpacklo_ps(a, b));
            _mm_storeu_ps(out + j + 4, _mm_unpackhi_ps(a, b));
        } else {
            _mm_storeu_ps(out + 2 * j, _mm_movelh_ps(a, b));
            _mm_storeu_ps(out + 2 * j + 4, _mm_movehl_ps(b, a));
        }
    }
    return j;
}

template <int Ch, int A>
void rowPrepared(const uint8_t* src, const void* layout, const int32_t* cols, const float* wx, int n, float* out) {
    constexpr int T = 2 * A;
    const auto* head = static_cast<const Head*>(layout);
    if (head->mode == kGroups) {
        (Ch == 1 ? row1Prepared<A> : row2Prepared<A>)(src, head + 1, cols, wx, n, out);
        return;
    }
    const RowPass plain = Ch == 1 ? (A == 2 ? ownRow1Cubic8u : ownRow1Lanczos3_8u)
                                  : (A == 2 ? ownRow2Lanczos2_8u : ownRow2Lanczos3_8u);
    alignas(16) float f[2 * kStripFloats + 64];
    const auto* w = reinterpret_cast<const __m128*>(head + 1);
    int j;
    if (head->mode == kDouble) {
        float* even = f;
        float* odd = f + kStripFloats + 32;
        convertSplit<Ch>(src + head->base, head->count, even, odd);
        j = head->uniform ? doublePass<Ch, T, true>(even, odd, w, n, out)
                          : doublePass<Ch, T, false>(even, odd, w, n, out);
    } else {
        convertRow(src + head->base, head->count, f);
        j = head->uniform ? halfPass<Ch, T, true>(f, head->offB, w, n, out)
                          : halfPass<Ch, T, false>(f, head->offB, w, n, out);
    }
    if (j < n) plain(src, cols + j, wx + j * T, n - j, out + Ch * j);
}


// The ring rows' pointers and the weights live in locals: stores through
// the byte destination may alias anything the compiler cannot see is local,
// and would make it reload both on every step.
template <int Taps>
struct Rows {
    const float* r[6];
    explicit Rows(const float* const* rows) {
        #pragma GCC unroll 6
        for (int v = 0; v < Taps; ++v) r[v] = rows[v];
    }
};

template <int Taps>
inline __m128 colSum(const Rows<Taps>& rows, const __m128* w, int j) {
    __m128 sum = _mm_mul_ps(_mm_load_ps(rows.r[0] + j), w[0]);
    #pragma GCC unroll 6
    for (int v = 1; v < Taps; ++v) sum = _mm_add_ps(sum, _mm_mul_ps(_mm_load_ps(rows.r[v] + j), w[v]));
    return sum;
}

template <int Taps>
void colPass(const float* const* ring, const float* wy, int n, uint8_t* dst) {
    const Rows<Taps> rows(ring);
    __m128 w[Taps];
    #pragma GCC unroll 6
    for (int v = 0; v < Taps; ++v) w[v] = _mm_set1_ps(wy[v]);
    int j = 0;
    for (; j + 16 <= n; j += 16) {
        // nearest, ties to even
        const __m128i a = _mm_packs_epi32(_mm_cvtps_epi32(colSum<Taps>(rows, w, j)),
                                          _mm_cvtps_epi32(colSum<Taps>(rows, w, j + 4)));
        const __m128i b = _mm_packs_epi32(_mm_cvtps_epi32(colSum<Taps>(rows, w, j + 8)),
                                          _mm_cvtps_epi32(colSum<Taps>(rows, w, j + 12)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), _mm_packus_epi16(a, b));
    }
    if (j < n) {
        const float* rest[6];
        #pragma GCC unroll 6
        for (int v = 0; v < Taps; ++v) rest[v] = rows.r[v] + j;
        (Taps == 4 ? kGenericKernels.ownColCubic8u : kGenericKernels.ownColLanczos3_8u)(rest, wy, n - j, dst + j);
    }
}

// Two destination rows over the same ring rows: each ring row is read once.
template <int Taps>
void colPair(const float* const* ring, const float* wy0, const float* wy1, int n, uint8_t* dst0, uint8_t* dst1) {
    const Rows<Taps> rows(ring);
    __m128 w0[Taps], w1[Taps];
    #pragma GCC unroll 6
    for (int v = 0; v < Taps; ++v) {
        w0[v] = _mm_set1_ps(wy0[v]);
        w1[v] = _mm_set1_ps(wy1[v]);
    }
    int j = 0;
    for (; j + 8 <= n; j += 8) {
        const __m128 ra = _mm_load_ps(rows.r[0] + j), rb = _mm_load_ps(rows.r[0] + j + 4);
        __m128 s0a = _mm_mul_ps(ra, w0[0]), s0b = _mm_mul_ps(rb, w0[0]);
        __m128 s1a = _mm_mul_ps(ra, w1[0]), s1b = _mm_mul_ps(rb, w1[0]);
        #pragma GCC unroll 6
        for (int v = 1; v < Taps; ++v) {
            const __m128 xa = _mm_load_ps(rows.r[v] + j), xb = _mm_load_ps(rows.r[v] + j + 4);
            s0a = _mm_add_ps(s0a, _mm_mul_ps(xa, w0[v]));
            s0b = _mm_add_ps(s0b, _mm_mul_ps(xb, w0[v]));
            s1a = _mm_add_ps(s1a, _mm_mul_ps(xa, w1[v]));
            s1b = _mm_add_ps(s1b, _mm_mul_ps(xb, w1[v]));
        }
        const __m128i p0 = _mm_packs_epi32(_mm_cvtps_epi32(s0a), _mm_cvtps_epi32(s0b));
        const __m128i p1 = _mm_packs_epi32(_mm_cvtps_epi32(s1a), _mm_cvtps_epi32(s1b));
        const __m128i bytes = _mm_packus_epi16(p0, p1);
        _mm_storel_epi64(reinterpret_cast<__m128i*>(dst0 + j), bytes);
        // The high half stored as it stands: no shuffle on the busy vector ports.
        _mm_storeh_pi(reinterpret_cast<__m64*>(dst1 + j), _mm_castsi128_ps(bytes));
    }
    if (j < n) {
        const float* rest[6];
        #pragma GCC unroll 6
        for (int v = 0; v < Taps; ++v) rest[v] = rows.r[v] + j;
        colPass<Taps>(rest, wy0, n - j, dst0 + j);
        colPass<Taps>(rest, wy1, n - j, dst1 + j);
    }
}

void ownColCubic8u(const float* const* rows, const float* wy, int n, uint8_t* dst) { colPass<4>(rows, wy, n, dst); }

void ownColLanczos3_8u(const float* const* rows, const float* wy, int n, uint8_t* dst) { colPass<6>(rows, wy, n, dst); }

const ResizeKernels kSse41Kernels = {ownRow1Cubic8u, ownRow1Lanczos3_8u, ownRow2Lanczos2_8u, ownRow2Lanczos3_8u,
                                     ownColCubic8u, ownColLanczos3_8u, colPair<4>, colPair<6>,
                                     {rowPrepare<1, 2>, rowPrepared<1, 2>}, {rowPrepare<1, 3>, rowPrepared<1, 3>},
                                     {rowPrepare<2, 2>, rowPrepared<2, 2>}, {rowPrepare<2, 3>, rowPrepared<2, 3>}};

}  // namespace

ippResult y8_ippiResizeYUV420Lanczos_8u_P2R(const uint8_t* pSrcY, int32_t srcYStep, const uint8_t* pSrcUV,
                                            int32_t srcUVStep, uint8_t* pDstY, int32_t dstYStep, uint8_t* pDstUV,
                                            int32_t dstUVStep, ippiPlaneOffset dstOffset, ippiPlaneSize dstSize,
                                            ippiEdgeMode border, const uint8_t*, const ippiLanczosPlan* pPlan,
                                            uint8_t* pBuffer) {
    return resizeYUV420(kSse41Kernels, pSrcY, srcYStep, pSrcUV, srcUVStep, pDstY, dstYStep, pDstUV, dstUVStep,
                        dstOffset, dstSize, border, pPlan, pBuffer);
}

}  // namespace klmf_resize
