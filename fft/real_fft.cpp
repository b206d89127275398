// The real transform of length n runs as a complex transform of the m = n/2
// points z[j] = a[2j] + i a[2j+1], followed (forward) or preceded (inverse)
// by the step that separates the spectra of the even and odd samples.
//
// The complex transform is a decimation-in-frequency radix-4 transform (one
// radix-2 pass first when log2(m) is odd) whose result lands in bit-reversed
// order. For m >= 16 it runs on SSE2 vectors in a "split block" layout: each
// group of four consecutive complex values is held as four real parts
// followed by four imaginary parts, so every butterfly of span >= 4 is plain
// vertical arithmetic. The first pass converts from the interleaved layout
// on the fly; the last pass (span 1) runs on 4x4 transposed groups and
// writes the bit-reversed, re-interleaved result directly, so no separate
// permutation pass and no scratch memory are needed.
//
// Every arithmetic step is a single IEEE float operation in a fixed order,
// so the result is the same on every SSE2 build.
#include "fft/real_fft.h"

#include <emmintrin.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <new>
#include <shared_mutex>

#include "framework/portable_math.h"

namespace {

constexpr int kMaxLevel = 30;     // n = 2^30, the largest power of two in int32
constexpr int kFirstSimdBits = 4; // complex lengths from 16 on run vectorised

// Tables for the real length n = 2^level (m = n/2 complex points).
struct FftLevel {
    float* memory;     // the allocation holding both tables
    float* firstPass;  // twiddles of the first complex pass over m points
    float* postReal;   // 0.5 - 0.5 sin(2 pi k / n), k = 0..m/2
    float* postImag;   // 0.5 cos(2 pi k / n), k = 0..m/2
    int64_t floats;
};

struct FftWorkspace {
    std::shared_mutex lock;
    int32_t coveredLevel = 0;  // the tables of levels 1..coveredLevel exist
    FftLevel levels[kMaxLevel + 1] = {};
    int64_t tableFloats = 0;
    int64_t levelsBuilt = 0;

    void releaseAll() {
        for (FftLevel& level : levels) {
            delete[] level.memory;
            level = FftLevel{};
        }
        coveredLevel = 0;
        tableFloats = 0;
    }
    ~FftWorkspace() { releaseAll(); }
};

FftWorkspace& workspace() {
    static FftWorkspace instance;
    return instance;
}

int levelOf(int32_t n) {
    if (n < 2 || (n & (n - 1)) != 0) return 0;
    int level = 0;
    while ((int32_t{1} << level) < n) ++level;
    return level;
}

// ---------------------------------------------------------------------------
// Tables

// cos and sin of 2 pi k / count (count a power of two, 0 <= k), reduced to
// the first octant so that the tables are exactly symmetric and exact at
// multiples of a quarter turn.
void unitRoot(int64_t k, int64_t count, double* cosine, double* sine) {
    static const double quarterTurn = 2.0 * portableAtan(1.0);
    k %= count;
    int64_t quadrant = (4 * k) / count;
    int64_t rest = 4 * k - quadrant * count;  // angle within the quadrant: quarterTurn * rest / count
    double c;
    double s;
    if (2 * rest <= count) {
        double angle = quarterTurn * static_cast<double>(rest) / static_cast<double>(count);
        c = portableCos(angle);
        s = portableSin(angle);
    } else {
        double angle = quarterTurn * static_cast<double>(count - rest) / static_cast<double>(count);
        c = portableSin(angle);
        s = portableCos(angle);
    }
    switch (quadrant) {
        case 0: *cosine = c; *sine = s; break;
        case 1: *cosine = -s; *sine = c; break;
        case 2: *cosine = -c; *sine = -s; break;
        default: *cosine = s; *sine = -c; break;
    }
    if (rest == 0) {  // exact zeros at quarter turns
        if (quadrant == 0 || quadrant == 2) *sine = 0.0;
        else *cosine = 0.0;
    }
}

void root(int64_t k, int64_t count, float* re, float* im) {
    double c;
    double s;
    unitRoot(k, count, &c, &s);
    *re = static_cast<float>(c);
    *im = static_cast<float>(s);
}

int64_t firstPassFloats(int bits) {
    int64_t m = int64_t{1} << bits;
    if (bits >= kFirstSimdBits && bits % 2 == 0) return m / 4 * 6;  // radix 4: three twiddles per butterfly
    return m;                                                         // radix 2: one twiddle per butterfly
}

// Twiddles w^j (w = e^{+2 pi i / m}) of the first pass over m = 2^bits points:
// radix 4 (w^j, w^2j, w^3j per butterfly) in split blocks of four for even
// bits >= 4, radix 2 in split blocks for odd bits >= 5, and radix 2
// interleaved (re, im) for the scalar lengths below 16.
void buildFirstPass(int bits, float* table) {
    int64_t m = int64_t{1} << bits;
    if (bits < kFirstSimdBits) {
        for (int64_t j = 0; j < m / 2; ++j) root(j, m, &table[2 * j], &table[2 * j + 1]);
    } else if (bits % 2 == 0) {
        for (int64_t j = 0; j < m / 4; ++j) {
            float* block = table + 24 * (j / 4) + (j % 4);
            for (int t = 1; t <= 3; ++t) root(t * j, m, &block[8 * (t - 1)], &block[8 * (t - 1) + 4]);
        }
    } else {
        for (int64_t j = 0; j < m / 2; ++j) {
            float* block = table + 8 * (j / 4) + (j % 4);
            root(j, m, &block[0], &block[4]);
        }
    }
}

// Weights of the even/odd separation for the real length n = 2m.
void buildPost(int64_t m, float* postReal, float* postImag) {
    for (int64_t k = 0; k <= m / 2; ++k) {
        double c;
        double s;
        unitRoot(k, 2 * m, &c, &s);
        postReal[k] = static_cast<float>(0.5 - 0.5 * s);
        postImag[k] = static_cast<float>(0.5 * c);
    }
}

bool buildLevel(FftLevel& level, int index) {
    const int bits = index - 1;
    const int64_t m = int64_t{1} << bits;
    const int64_t first = firstPassFloats(bits);
    const int64_t post = m / 2 + 1;
    // Each table starts on a 64-byte boundary; the padding covers the rounding.
    const int64_t floats = first + 2 * post + 3 * 16 + 16;
    if (floats > static_cast<int64_t>(PTRDIFF_MAX / sizeof(float) / 2)) return false;
    float* memory = new (std::nothrow) float[static_cast<size_t>(floats)];
    if (memory == nullptr) return false;
    auto align = [](float* p) {
        uintptr_t address = reinterpret_cast<uintptr_t>(p);
        return reinterpret_cast<float*>((address + 63) & ~static_cast<uintptr_t>(63));
    };
    level.memory = memory;
    level.firstPass = align(memory);
    level.postReal = align(level.firstPass + first);
    level.postImag = align(level.postReal + post);
    level.floats = floats;
    buildFirstPass(bits, level.firstPass);
    buildPost(m, level.postReal, level.postImag);
    return true;
}

// Grows the tables to cover `target`; the caller holds the lock exclusively.
bool growTo(FftWorkspace& ws, int target) {
    while (ws.coveredLevel < target) {
        int index = ws.coveredLevel + 1;
        if (!buildLevel(ws.levels[index], index)) return false;
        ws.tableFloats += ws.levels[index].floats;
        ++ws.levelsBuilt;
        ws.coveredLevel = index;
    }
    return true;
}

// ---------------------------------------------------------------------------
// Complex passes, vectorised

struct Split4 {  // four complex values
    __m128 re;
    __m128 im;
};

inline Split4 loadSplit(const float* p) { return {_mm_loadu_ps(p), _mm_loadu_ps(p + 4)}; }

inline void storeSplit(float* p, Split4 v) {
    _mm_storeu_ps(p, v.re);
    _mm_storeu_ps(p + 4, v.im);
}

inline Split4 loadInterleaved(const float* p) {
    __m128 a = _mm_loadu_ps(p);
    __m128 b = _mm_loadu_ps(p + 4);
    return {_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)), _mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))};
}

inline void storeInterleaved(float* p, Split4 v) {
    _mm_storeu_ps(p, _mm_unpacklo_ps(v.re, v.im));
    _mm_storeu_ps(p + 4, _mm_unpackhi_ps(v.re, v.im));
}

template <bool kFromInterleaved>
inline Split4 loadBlock(const float* p) {
    return kFromInterleaved ? loadInterleaved(p) : loadSplit(p);
}

inline Split4 add(Split4 a, Split4 b) { return {_mm_add_ps(a.re, b.re), _mm_add_ps(a.im, b.im)}; }
inline Split4 sub(Split4 a, Split4 b) { return {_mm_sub_ps(a.re, b.re), _mm_sub_ps(a.im, b.im)}; }

// x times w (forward) or times conj(w) (inverse).
template <bool kInverse>
inline Split4 twiddle(Split4 x, __m128 wr, __m128 wi) {
    if (kInverse)
        return {_mm_add_ps(_mm_mul_ps(x.re, wr), _mm_mul_ps(x.im, wi)),
                _mm_sub_ps(_mm_mul_ps(x.im, wr), _mm_mul_ps(x.re, wi))};
    return {_mm_sub_ps(_mm_mul_ps(x.re, wr), _mm_mul_ps(x.im, wi)),
            _mm_add_ps(_mm_mul_ps(x.re, wi), _mm_mul_ps(x.im, wr))};
}

// The four outputs of a radix-4 butterfly before twiddling, in the order
// they are stored (frequency classes 0, 2, 1, 3), which keeps the overall
// result in bit-reversed order.
template <bool kInverse>
inline void butterfly4(Split4 x0, Split4 x1, Split4 x2, Split4 x3, Split4* y) {
    Split4 a0 = add(x0, x2);
    Split4 a1 = sub(x0, x2);
    Split4 a2 = add(x1, x3);
    Split4 e = sub(x1, x3);  // times +i (forward) or -i (inverse) below
    y[0] = add(a0, a2);
    y[1] = sub(a0, a2);
    if (kInverse) {
        y[2] = {_mm_add_ps(a1.re, e.im), _mm_sub_ps(a1.im, e.re)};
        y[3] = {_mm_sub_ps(a1.re, e.im), _mm_add_ps(a1.im, e.re)};
    } else {
        y[2] = {_mm_sub_ps(a1.re, e.im), _mm_add_ps(a1.im, e.re)};
        y[3] = {_mm_add_ps(a1.re, e.im), _mm_sub_ps(a1.im, e.re)};
    }
}

// One radix-4 pass over sub-transforms of `length` points (span length/4 >= 4).
template <bool kInverse, bool kFromInterleaved>
void radix4Pass(float* d, int32_t m, int32_t length, const float* table) {
    const int32_t span = length / 4;
    for (int32_t base = 0; base < m; base += length) {
        float* p0 = d + 2 * static_cast<ptrdiff_t>(base);
        float* p1 = p0 + 2 * span;
        float* p2 = p1 + 2 * span;
        float* p3 = p2 + 2 * span;
        const float* w = table;
        for (int32_t j = 0; j < span; j += 4, w += 24) {
            Split4 y[4];
            butterfly4<kInverse>(loadBlock<kFromInterleaved>(p0 + 2 * j), loadBlock<kFromInterleaved>(p1 + 2 * j),
                                 loadBlock<kFromInterleaved>(p2 + 2 * j), loadBlock<kFromInterleaved>(p3 + 2 * j),
                                 y);
            storeSplit(p0 + 2 * j, y[0]);
            storeSplit(p1 + 2 * j, twiddle<kInverse>(y[1], _mm_load_ps(w + 8), _mm_load_ps(w + 12)));
            storeSplit(p2 + 2 * j, twiddle<kInverse>(y[2], _mm_load_ps(w), _mm_load_ps(w + 4)));
            storeSplit(p3 + 2 * j, twiddle<kInverse>(y[3], _mm_load_ps(w + 16), _mm_load_ps(w + 20)));
        }
    }
}

// The radix-2 first pass over all m points (span m/2 >= 16), from the
// interleaved layout.
template <bool kInverse>
void radix2FirstPass(float* d, int32_t m, const float* table) {
    const int32_t span = m / 2;
    float* p0 = d;
    float* p1 = d + 2 * static_cast<ptrdiff_t>(span);
    const float* w = table;
    for (int32_t j = 0; j < span; j += 4, w += 8) {
        Split4 x0 = loadInterleaved(p0 + 2 * j);
        Split4 x1 = loadInterleaved(p1 + 2 * j);
        storeSplit(p0 + 2 * j, add(x0, x1));
        storeSplit(p1 + 2 * j, twiddle<kInverse>(sub(x0, x1), _mm_load_ps(w), _mm_load_ps(w + 4)));
    }
}

const uint8_t kReversedByte[256] = {
#define R2(n) n, n + 2 * 64, n + 1 * 64, n + 3 * 64
#define R4(n) R2(n), R2(n + 2 * 16), R2(n + 1 * 16), R2(n + 3 * 16)
#define R6(n) R4(n), R4(n + 2 * 4), R4(n + 1 * 4), R4(n + 3 * 4)
    R6(0), R6(2), R6(1), R6(3)
#undef R6
#undef R4
#undef R2
};

inline uint32_t reverseBits(uint32_t value, int bits) {
    if (bits == 0) return 0;
    uint32_t reversed = static_cast<uint32_t>(kReversedByte[value & 0xff]) << 24 |
                        static_cast<uint32_t>(kReversedByte[(value >> 8) & 0xff]) << 16 |
                        static_cast<uint32_t>(kReversedByte[(value >> 16) & 0xff]) << 8 |
                        static_cast<uint32_t>(kReversedByte[value >> 24]);
    return reversed >> (32 - bits);
}

// The last radix-4 pass (span 1) of the group of four blocks whose index
// bits are [a][group] (a = 0..3 the top two bits of the block index), read
// in the order a = 0, 2, 1, 3 and transposed so that each vector holds one
// position of the four blocks. Output vector q then holds, lane by lane,
// exactly the values whose bit-reversed places form block
// reverse2(q) * groups + reverse(group).
template <bool kInverse>
inline void lastPassGroup(const float* d, int32_t groups, int32_t group, Split4* out) {
    const float* b0 = d + 8 * static_cast<ptrdiff_t>(group);
    const ptrdiff_t stride = 8 * static_cast<ptrdiff_t>(groups);
    Split4 r0 = loadSplit(b0);
    Split4 r1 = loadSplit(b0 + 2 * stride);
    Split4 r2 = loadSplit(b0 + stride);
    Split4 r3 = loadSplit(b0 + 3 * stride);
    _MM_TRANSPOSE4_PS(r0.re, r1.re, r2.re, r3.re);
    _MM_TRANSPOSE4_PS(r0.im, r1.im, r2.im, r3.im);
    butterfly4<kInverse>(r0, r1, r2, r3, out);
}

inline void storeGroup(float* d, int32_t groups, int32_t group, const Split4* out) {
    float* b0 = d + 8 * static_cast<ptrdiff_t>(group);
    const ptrdiff_t stride = 8 * static_cast<ptrdiff_t>(groups);
    storeInterleaved(b0, out[0]);
    storeInterleaved(b0 + 2 * stride, out[1]);
    storeInterleaved(b0 + stride, out[2]);
    storeInterleaved(b0 + 3 * stride, out[3]);
}

template <bool kInverse>
void lastPassAndReorder(float* d, int bits) {
    const int groupBits = bits - 4;
    const int32_t groups = int32_t{1} << groupBits;
    for (int32_t group = 0; group < groups; ++group) {
        int32_t partner = static_cast<int32_t>(reverseBits(static_cast<uint32_t>(group), groupBits));
        if (partner < group) continue;
        Split4 own[4];
        lastPassGroup<kInverse>(d, groups, group, own);
        if (partner == group) {
            storeGroup(d, groups, group, own);
        } else {
            Split4 other[4];
            lastPassGroup<kInverse>(d, groups, partner, other);
            storeGroup(d, groups, partner, own);
            storeGroup(d, groups, group, other);
        }
    }
}

template <bool kInverse>
void complexSimd(float* d, int bits, const FftLevel* levels) {
    const int32_t m = int32_t{1} << bits;
    int lengthBits = bits;
    if (bits % 2 == 1) {
        radix2FirstPass<kInverse>(d, m, levels[bits + 1].firstPass);
        lengthBits -= 1;
    } else {
        radix4Pass<kInverse, true>(d, m, m, levels[bits + 1].firstPass);
        lengthBits -= 2;
    }
    // The table of a radix-4 pass over 2^lengthBits points is the first-pass
    // table of the level of that complex length.
    for (; lengthBits >= 4; lengthBits -= 2)
        radix4Pass<kInverse, false>(d, m, int32_t{1} << lengthBits, levels[lengthBits + 1].firstPass);
    lastPassAndReorder<kInverse>(d, bits);
}

// ---------------------------------------------------------------------------
// Complex passes for m <= 8, scalar radix 2

template <bool kInverse>
void complexScalar(float* d, int bits, const FftLevel* levels) {
    const int32_t m = int32_t{1} << bits;
    for (int lengthBits = bits; lengthBits >= 1; --lengthBits) {
        const int32_t length = int32_t{1} << lengthBits;
        const int32_t span = length / 2;
        const float* w = levels[lengthBits + 1].firstPass;
        for (int32_t base = 0; base < m; base += length) {
            for (int32_t j = 0; j < span; ++j) {
                float* x0 = d + 2 * (base + j);
                float* x1 = d + 2 * (base + j + span);
                float sr = x0[0] - x1[0];
                float si = x0[1] - x1[1];
                x0[0] = x0[0] + x1[0];
                x0[1] = x0[1] + x1[1];
                float wr = w[2 * j];
                float wi = w[2 * j + 1];
                if (kInverse) {
                    x1[0] = sr * wr + si * wi;
                    x1[1] = si * wr - sr * wi;
                } else {
                    x1[0] = sr * wr - si * wi;
                    x1[1] = sr * wi + si * wr;
                }
            }
        }
    }
    for (int32_t i = 0; i < m; ++i) {
        int32_t r = static_cast<int32_t>(reverseBits(static_cast<uint32_t>(i), bits));
        if (r > i) {
            float re = d[2 * i];
            float im = d[2 * i + 1];
            d[2 * i] = d[2 * r];
            d[2 * i + 1] = d[2 * r + 1];
            d[2 * r] = re;
            d[2 * r + 1] = im;
        }
    }
}

// ---------------------------------------------------------------------------
// Separation of the even and odd spectra (forward) and its inverse.
//
// Forward, for 0 < k < m/2 with A = Z[k], B = conj(Z[m-k]) and
// V = (0.5 - 0.5 sin t, 0.5 cos t), t = 2 pi k / n:
//   Y = V (A - B), X[k] = A - Y, X[m-k] = Z[m-k] + conj(Y).
// The inverse is the same with conj(V). Z[m/2] and X[m/2] coincide.

template <bool kInverse>
inline void separatePair(float* pk, float* pm, float vr, float vi) {
    float ar = pk[0];
    float ai = pk[1];
    float mr = pm[0];
    float mi = pm[1];
    float dr = ar - mr;
    float di = ai + mi;
    float yr;
    float yi;
    if (kInverse) {
        yr = vr * dr + vi * di;
        yi = vr * di - vi * dr;
    } else {
        yr = vr * dr - vi * di;
        yi = vr * di + vi * dr;
    }
    pk[0] = ar - yr;
    pk[1] = ai - yi;
    pm[0] = mr + yr;
    pm[1] = mi - yi;
}

template <bool kInverse>
void separate(float* d, int32_t m, const FftLevel& level) {
    const int32_t half = m / 2;
    int32_t k = 1;
    for (; k + 3 < half; k += 4) {
        float* pk = d + 2 * static_cast<ptrdiff_t>(k);
        float* pm = d + 2 * static_cast<ptrdiff_t>(m - k - 3);
        Split4 a = loadInterleaved(pk);
        __m128 b1 = _mm_loadu_ps(pm);      // m-k-3, m-k-2
        __m128 b2 = _mm_loadu_ps(pm + 4);  // m-k-1, m-k
        __m128 mr = _mm_shuffle_ps(b2, b1, _MM_SHUFFLE(0, 2, 0, 2));  // lanes m-k .. m-k-3
        __m128 mi = _mm_shuffle_ps(b2, b1, _MM_SHUFFLE(1, 3, 1, 3));
        __m128 vr = _mm_loadu_ps(level.postReal + k);
        __m128 vi = _mm_loadu_ps(level.postImag + k);
        __m128 dr = _mm_sub_ps(a.re, mr);
        __m128 di = _mm_add_ps(a.im, mi);
        __m128 yr;
        __m128 yi;
        if (kInverse) {
            yr = _mm_add_ps(_mm_mul_ps(vr, dr), _mm_mul_ps(vi, di));
            yi = _mm_sub_ps(_mm_mul_ps(vr, di), _mm_mul_ps(vi, dr));
        } else {
            yr = _mm_sub_ps(_mm_mul_ps(vr, dr), _mm_mul_ps(vi, di));
            yi = _mm_add_ps(_mm_mul_ps(vr, di), _mm_mul_ps(vi, dr));
        }
        storeInterleaved(pk, Split4{_mm_sub_ps(a.re, yr), _mm_sub_ps(a.im, yi)});
        __m128 xr = _mm_add_ps(mr, yr);
        __m128 xi = _mm_sub_ps(mi, yi);
        __m128 lo = _mm_unpacklo_ps(xr, xi);  // m-k, m-k-1
        __m128 hi = _mm_unpackhi_ps(xr, xi);  // m-k-2, m-k-3
        _mm_storeu_ps(pm, _mm_shuffle_ps(hi, hi, _MM_SHUFFLE(1, 0, 3, 2)));
        _mm_storeu_ps(pm + 4, _mm_shuffle_ps(lo, lo, _MM_SHUFFLE(1, 0, 3, 2)));
    }
    for (; k < half; ++k)
        separatePair<kInverse>(d + 2 * static_cast<ptrdiff_t>(k), d + 2 * static_cast<ptrdiff_t>(m - k),
                               level.postReal[k], level.postImag[k]);
}

void transform(const FftWorkspace& ws, int level, bool inverse, float* a) {
    const int bits = level - 1;
    const int32_t m = int32_t{1} << bits;
    if (!inverse) {
        if (bits >= kFirstSimdBits)
            complexSimd<false>(a, bits, ws.levels);
        else
            complexScalar<false>(a, bits, ws.levels);
        separate<false>(a, m, ws.levels[level]);
        float sum = a[0] + a[1];
        float difference = a[0] - a[1];
        a[0] = sum;
        a[1] = difference;
    } else {
        a[1] = 0.5f * (a[0] - a[1]);
        a[0] = a[0] - a[1];
        separate<true>(a, m, ws.levels[level]);
        if (bits >= kFirstSimdBits)
            complexSimd<true>(a, bits, ws.levels);
        else
            complexScalar<true>(a, bits, ws.levels);
    }
}

}  // namespace

bool RealFftReserve(int32_t n) {
    int level = levelOf(n);
    if (level == 0) return false;
    FftWorkspace& ws = workspace();
    std::unique_lock<std::shared_mutex> exclusive(ws.lock);
    return growTo(ws, level);
}

bool RealFft(int32_t n, int32_t direction, float* data) {
    FftWorkspace& ws = workspace();
    if (n == 0) {
        std::unique_lock<std::shared_mutex> exclusive(ws.lock);
        ws.releaseAll();
        return true;
    }
    int level = levelOf(n);
    if (level == 0 || data == nullptr) return false;
    {
        std::shared_lock<std::shared_mutex> shared(ws.lock);
        if (ws.coveredLevel >= level) {
            transform(ws, level, direction < 0, data);
            return true;
        }
    }
    // Grow and transform in one exclusive hold, so that a release by another
    // thread cannot come between them.
    std::unique_lock<std::shared_mutex> exclusive(ws.lock);
    if (!growTo(ws, level)) return false;
    transform(ws, level, direction < 0, data);
    return true;
}

FftWorkspaceStatus RealFftWorkspaceStatus() {
    FftWorkspace& ws = workspace();
    std::shared_lock<std::shared_mutex> shared(ws.lock);
    int32_t covered = ws.coveredLevel == 0 ? 0 : int32_t{1} << ws.coveredLevel;
    return FftWorkspaceStatus{covered, ws.tableFloats, ws.levelsBuilt};
}
