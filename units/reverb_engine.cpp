#include "units/reverb_engine.h"

#include <atomic>

#include <emmintrin.h>

// 256-bit loops where the build can choose them at run time. The 32-bit
// Windows build keeps to SSE2. Each 256-bit function clears the upper
// register halves before SSE2 code runs again, which would otherwise stall.
#if (defined(__x86_64__) || defined(__i386__)) && !defined(_WIN32) && defined(__GNUC__)
#define BRIMWELL_REVERB_AVX 1
#include <immintrin.h>
#else
#define BRIMWELL_REVERB_AVX 0
#endif

#include <cstring>
#include <new>

namespace {

using reverb_tuning::kAllPassLengths;
using reverb_tuning::kBlockFrames;
using reverb_tuning::kCombLengths;
using reverb_tuning::kStereoSpread;

constexpr float kNormalInputGain = 0.015f;

constexpr int32_t kLineCount = 2 * reverb_tuning::kCombCount;

// flushToZero on four lanes: zero and all-ones exponents, moved up by one
// exponent step, end at or below that step (the all-ones one wraps to the
// sign bit); every other exponent lands above it.
inline __m128 flushToZero4(__m128 value) {
    const __m128i step = _mm_set1_epi32(0x00800000);
    const __m128i exponent = _mm_and_si128(_mm_castps_si128(value), _mm_set1_epi32(0x7F800000));
    const __m128i keep = _mm_cmpgt_epi32(_mm_add_epi32(exponent, step), step);
    return _mm_and_ps(value, _mm_castsi128_ps(keep));
}

// Copies `count` samples of a line to `destination`, flushed as a read would.
void readFlushed(float* destination, const float* source, int32_t count) {
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) _mm_storeu_ps(destination + i, flushToZero4(_mm_loadu_ps(source + i)));
    for (; i < count; ++i) destination[i] = flushToZero(source[i]);
}

// The next `count` samples of a line from its index on, flushed; the block
// is padded with zeros to a whole number of four-sample groups.
void readLine(const DelayLine& line, float* destination, int32_t count, void (*read)(float*, const float*, int32_t)) {
    const int32_t first = count < line.size - line.index ? count : line.size - line.index;
    read(destination, line.buffer + line.index, first);
    read(destination + first, line.buffer, count - first);
    for (int32_t i = count; i % 4 != 0; ++i) destination[i] = 0.0f;
}

// Stores `count` samples at the line's index on and advances the index.
void writeLine(DelayLine& line, const float* source, int32_t count) {
    const int32_t first = count < line.size - line.index ? count : line.size - line.index;
    std::memcpy(line.buffer + line.index, source, static_cast<size_t>(first) * sizeof(float));
    std::memcpy(line.buffer, source + first, static_cast<size_t>(count - first) * sizeof(float));
    line.index += count;
    if (line.index >= line.size) line.index -= line.size;
}

// Two floats at p as doubles, and two floats (the low lanes of v) stored at p.
inline __m128d loadPair(const float* p) {
    return _mm_cvtps_pd(_mm_loadl_pi(_mm_setzero_ps(), reinterpret_cast<const __m64*>(p)));
}
inline void storePair(float* p, __m128 v) { _mm_storel_pi(reinterpret_cast<__m64*>(p), v); }

// The comb loops over one block: each row of `pairs` holds the frame's
// delayed samples on entry and the values to write back on return. The
// eight left/right pairs of one frame are independent, so they are taken
// together, frame after frame.
void combLoops(float (*pairs)[kLineCount], const double (*input)[2], int32_t count, __m128d* stores,
               const __m128d* damp1, const __m128d* damp2, const __m128d* feedback) {
    constexpr int kPairs = kLineCount / 2;
    __m128d store[kPairs];
    for (int k = 0; k < kPairs; ++k) store[k] = stores[k];
    for (int32_t i = 0; i < count; ++i) {
        const __m128d mono = _mm_load_pd(input[i]);
        float* row = pairs[i];
        for (int k = 0; k < kPairs; ++k) {
            const __m128d delayed = loadPair(row + 2 * k);
            const __m128d mixed = _mm_add_pd(_mm_mul_pd(delayed, damp2[k]), _mm_mul_pd(store[k], damp1[k]));
            store[k] = _mm_cvtps_pd(flushToZero4(_mm_cvtpd_ps(mixed)));
            storePair(row + 2 * k, _mm_cvtpd_ps(_mm_add_pd(mono, _mm_mul_pd(store[k], feedback[k]))));
        }
    }
    for (int k = 0; k < kPairs; ++k) stores[k] = store[k];
}

#if BRIMWELL_REVERB_AVX
// The same loops with two pairs to a 256-bit register, where the processor
// has them: the operations are the same, four lanes at a time.
__attribute__((target("avx"))) void combLoopsAvx(float (*pairs)[kLineCount], const double (*input)[2],
                                                 int32_t count, __m128d* stores, const __m128d* damp1,
                                                 const __m128d* damp2, const __m128d* feedback) {
    constexpr int kQuads = kLineCount / 4;
    __m256d store[kQuads], d1[kQuads], d2[kQuads], fb[kQuads];
    for (int m = 0; m < kQuads; ++m) {
        store[m] = _mm256_set_m128d(stores[2 * m + 1], stores[2 * m]);
        d1[m] = _mm256_set_m128d(damp1[2 * m + 1], damp1[2 * m]);
        d2[m] = _mm256_set_m128d(damp2[2 * m + 1], damp2[2 * m]);
        fb[m] = _mm256_set_m128d(feedback[2 * m + 1], feedback[2 * m]);
    }
    for (int32_t i = 0; i < count; ++i) {
        const __m256d mono = _mm256_broadcast_sd(&input[i][0]);
        float* row = pairs[i];
        for (int m = 0; m < kQuads; ++m) {
            const __m256d delayed = _mm256_cvtps_pd(_mm_load_ps(row + 4 * m));
            const __m256d mixed = _mm256_add_pd(_mm256_mul_pd(delayed, d2[m]), _mm256_mul_pd(store[m], d1[m]));
            store[m] = _mm256_cvtps_pd(flushToZero4(_mm256_cvtpd_ps(mixed)));
            _mm_store_ps(row + 4 * m, _mm256_cvtpd_ps(_mm256_add_pd(mono, _mm256_mul_pd(store[m], fb[m]))));
        }
    }
    for (int m = 0; m < kQuads; ++m) {
        stores[2 * m] = _mm256_castpd256_pd128(store[m]);
        stores[2 * m + 1] = _mm256_extractf128_pd(store[m], 1);
    }
}

std::atomic<bool> wideLoopsWanted{true};  // a test switch, read on the audio path

bool useWideLoops() {
    static const bool have = __builtin_cpu_supports("avx2");
    return have && wideLoopsWanted.load(std::memory_order_relaxed);
}
#endif

// One all-pass over `count` contiguous samples of its line, in place on x.
// With the feedback of one half, delayed x 0.5 is exact in float except for
// delayed samples of the lowest normal exponent, so the line's new value
// x + delayed x 0.5 is then a single float sum; groups holding such a
// sample, and other feedbacks, are formed in double as the definition says.
void allPassRun(float* x, float* line, int32_t count, float feedback) {
    const __m128d feedback2 = _mm_set1_pd(feedback);
    const bool half = feedback == 0.5f;
    const __m128 halfs = _mm_set1_ps(0.5f);
    const __m128i exponentMask = _mm_set1_epi32(0x7F800000);
    const __m128i lowestExponent = _mm_set1_epi32(0x00800000);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 delayed = flushToZero4(_mm_loadu_ps(line + i));
        const __m128 input = _mm_loadu_ps(x + i);
        _mm_storeu_ps(x + i, _mm_sub_ps(delayed, input));
        const __m128i lowest =
            _mm_cmpeq_epi32(_mm_and_si128(_mm_castps_si128(delayed), exponentMask), lowestExponent);
        if (half && _mm_movemask_epi8(lowest) == 0) {
            _mm_storeu_ps(line + i, _mm_add_ps(input, _mm_mul_ps(delayed, halfs)));
            continue;
        }
        const __m128d lo = _mm_add_pd(_mm_cvtps_pd(input), _mm_mul_pd(_mm_cvtps_pd(delayed), feedback2));
        const __m128d hi = _mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(input, input)),
                                      _mm_mul_pd(_mm_cvtps_pd(_mm_movehl_ps(delayed, delayed)), feedback2));
        _mm_storeu_ps(line + i, _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi)));
    }
    for (; i < count; ++i) {
        const float delayed = flushToZero(line[i]);
        const float input = x[i];
        x[i] = static_cast<float>(static_cast<double>(delayed) - static_cast<double>(input));
        line[i] = static_cast<float>(static_cast<double>(input) + static_cast<double>(delayed) * feedback);
    }
}

#if BRIMWELL_REVERB_AVX
// readFlushed and allPassRun eight samples at a time, where the processor
// has AVX2; the rest, and an all-pass from any group with a delayed sample
// of the lowest normal exponent on, go to the SSE2 versions.
__attribute__((target("avx2"))) inline __m256 flushToZero8(__m256 value) {
    const __m256i step = _mm256_set1_epi32(0x00800000);
    const __m256i exponent = _mm256_and_si256(_mm256_castps_si256(value), _mm256_set1_epi32(0x7F800000));
    const __m256i keep = _mm256_cmpgt_epi32(_mm256_add_epi32(exponent, step), step);
    return _mm256_and_ps(value, _mm256_castsi256_ps(keep));
}

__attribute__((target("avx2"))) void readFlushedWide(float* destination, const float* source, int32_t count) {
    int32_t i = 0;
    for (; i + 8 <= count; i += 8) _mm256_storeu_ps(destination + i, flushToZero8(_mm256_loadu_ps(source + i)));
    _mm256_zeroupper();
    readFlushed(destination + i, source + i, count - i);
}

__attribute__((target("avx2"))) void allPassRunWide(float* x, float* line, int32_t count, float feedback) {
    int32_t i = 0;
    if (feedback == 0.5f) {
        const __m256 halfs = _mm256_set1_ps(0.5f);
        const __m256i exponentMask = _mm256_set1_epi32(0x7F800000);
        const __m256i lowestExponent = _mm256_set1_epi32(0x00800000);
        for (; i + 8 <= count; i += 8) {
            const __m256 delayed = flushToZero8(_mm256_loadu_ps(line + i));
            const __m256i lowest =
                _mm256_cmpeq_epi32(_mm256_and_si256(_mm256_castps_si256(delayed), exponentMask), lowestExponent);
            if (_mm256_movemask_epi8(lowest) != 0) break;
            const __m256 input = _mm256_loadu_ps(x + i);
            _mm256_storeu_ps(x + i, _mm256_sub_ps(delayed, input));
            _mm256_storeu_ps(line + i, _mm256_add_ps(input, _mm256_mul_ps(delayed, halfs)));
        }
    }
    _mm256_zeroupper();
    allPassRun(x + i, line + i, count - i, feedback);
}

// The mix of mixFour, four frames to a 256-bit register; returns the frames done.
__attribute__((target("avx"))) int32_t mixWide(const float* left, const float* right, const float* inputLeft,
                                               const float* inputRight, float* outputLeft, float* outputRight,
                                               int32_t count, double sameSide, double cross, double dry) {
    const __m256d s = _mm256_set1_pd(sameSide);
    const __m256d c = _mm256_set1_pd(cross);
    const __m256d d = _mm256_set1_pd(dry);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m256d l = _mm256_cvtps_pd(_mm_load_ps(left + i));
        const __m256d r = _mm256_cvtps_pd(_mm_load_ps(right + i));
        const __m256d inL = _mm256_cvtps_pd(_mm_loadu_ps(inputLeft + i));
        const __m256d inR = _mm256_cvtps_pd(_mm_loadu_ps(inputRight + i));
        _mm_storeu_ps(outputLeft + i, _mm256_cvtpd_ps(_mm256_add_pd(
                                          _mm256_add_pd(_mm256_mul_pd(l, s), _mm256_mul_pd(r, c)), _mm256_mul_pd(inL, d))));
        _mm_storeu_ps(outputRight + i, _mm256_cvtpd_ps(_mm256_add_pd(
                                           _mm256_add_pd(_mm256_mul_pd(r, s), _mm256_mul_pd(l, c)), _mm256_mul_pd(inR, d))));
    }
    return i;
}
#endif

void allPassBlock(DelayLine& line, float feedback, float* x, int32_t count,
                  void (*run)(float*, float*, int32_t, float)) {
    const int32_t first = count < line.size - line.index ? count : line.size - line.index;
    run(x, line.buffer + line.index, first, feedback);
    run(x + first, line.buffer, count - first, feedback);
    line.index += count;
    if (line.index >= line.size) line.index -= line.size;
}

// out = acc * sameSide + other * cross + input * dry, formed in double.
inline __m128d mixTwo(__m128 acc, __m128 other, __m128 input, __m128d sameSide, __m128d cross, __m128d dry) {
    return _mm_add_pd(_mm_add_pd(_mm_mul_pd(_mm_cvtps_pd(acc), sameSide), _mm_mul_pd(_mm_cvtps_pd(other), cross)),
                      _mm_mul_pd(_mm_cvtps_pd(input), dry));
}

inline __m128 mixFour(__m128 acc, __m128 other, __m128 input, __m128d sameSide, __m128d cross, __m128d dry) {
    const __m128d lo = mixTwo(acc, other, input, sameSide, cross, dry);
    const __m128d hi = mixTwo(_mm_movehl_ps(acc, acc), _mm_movehl_ps(other, other), _mm_movehl_ps(input, input),
                              sameSide, cross, dry);
    return _mm_movelh_ps(_mm_cvtpd_ps(lo), _mm_cvtpd_ps(hi));
}

}  // namespace

void setReverbWideLoops(bool enabled) {
#if BRIMWELL_REVERB_AVX
    wideLoopsWanted.store(enabled, std::memory_order_relaxed);
#else
    (void)enabled;
#endif
}

CReverbEngine* CReverbEngine::create() { return new (std::nothrow) CReverbEngine(); }

// Delay memory is laid out left comb 1, right comb 1, left comb 2, ..., then
// the all-passes the same way.
CReverbEngine::CReverbEngine() {
    float* next = delayMemory_;
    for (int k = 0; k < kCombCount; ++k) {
        combLeft_[k].setBuffer(next, kCombLengths[k]);
        next += kCombLengths[k];
        combRight_[k].setBuffer(next, kCombLengths[k] + kStereoSpread);
        next += kCombLengths[k] + kStereoSpread;
    }
    for (int k = 0; k < kAllPassCount; ++k) {
        allPassLeft_[k].setBuffer(next, kAllPassLengths[k]);
        next += kAllPassLengths[k];
        allPassRight_[k].setBuffer(next, kAllPassLengths[k] + kStereoSpread);
        next += kAllPassLengths[k] + kStereoSpread;
    }
    Mute();
}

void CReverbEngine::Update() {
    const double width = width_;
    wetSameSide_ = static_cast<float>(static_cast<double>(wet_) * (width * 0.5 + 0.5));
    wetCross_ = static_cast<float>(static_cast<double>(wet_) * ((1.0 - width) * 0.5));
    if (frozen()) {
        // Lossless, undamped loops that take no new input: the tail sustains.
        effectiveFeedback_ = 1.0f;
        effectiveDamp_ = 0.0f;
        inputGain_ = 0.0f;
    } else {
        effectiveFeedback_ = roomSize_;
        effectiveDamp_ = damp_;
        inputGain_ = kNormalInputGain;
    }
    for (int k = 0; k < kCombCount; ++k) {
        combLeft_[k].setFeedback(effectiveFeedback_);
        combLeft_[k].setDamp(effectiveDamp_);
        combRight_[k].setFeedback(effectiveFeedback_);
        combRight_[k].setDamp(effectiveDamp_);
    }
}

void CReverbEngine::Mute() {
    if (frozen()) return;
    for (int k = 0; k < kCombCount; ++k) {
        combLeft_[k].mute();
        combRight_[k].mute();
    }
    for (int k = 0; k < kAllPassCount; ++k) {
        allPassLeft_[k].mute();
        allPassRight_[k].mute();
    }
}

// The per-sample definitions in CCombFilter and CAllPassFilter, run a block
// at a time: every comb's delayed samples are read for the whole block (no
// line wraps inside a block that it could see), the comb loops run with the
// sixteen combs as eight left/right pairs in SIMD lanes, and the all-passes
// run on whole blocks. Each value is formed exactly as the per-sample code
// forms it.
void CReverbEngine::Process(const float* inputLeft, const float* inputRight, float* outputLeft,
                            float* outputRight, int32_t count) {
    static_assert(kBlockFrames <= kAllPassLengths[kAllPassCount - 1] && kBlockFrames <= kCombLengths[0],
                  "a block must not be longer than any delay line");
    for (int32_t done = 0; done < count; done += kBlockFrames) {
        const int32_t n = count - done < kBlockFrames ? count - done : kBlockFrames;
        processBlock(inputLeft + done, inputRight + done, outputLeft + done, outputRight + done, n);
    }
}

void CReverbEngine::processBlock(const float* inputLeft, const float* inputRight, float* outputLeft,
                                 float* outputRight, int32_t count) {
    alignas(16) double input[kBlockFrames][2];             // the mono input, in both lanes
    alignas(16) float lines[kLineCount][kBlockFrames];     // left comb 1, right comb 1, ...
    alignas(16) float pairs[kBlockFrames][kLineCount];     // the same, one row per frame
    alignas(16) float accumulated[2][kBlockFrames + 4];    // left, right
    CCombFilter* combs[kLineCount];
    for (int k = 0; k < kCombCount; ++k) {
        combs[2 * k] = &combLeft_[k];
        combs[2 * k + 1] = &combRight_[k];
    }

    // The mono input, rounded to float, then widened.
    const __m128d gain = _mm_set1_pd(inputGain_);
    int32_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128 l = _mm_loadu_ps(inputLeft + i);
        const __m128 r = _mm_loadu_ps(inputRight + i);
        const __m128d lo = _mm_mul_pd(_mm_add_pd(_mm_cvtps_pd(l), _mm_cvtps_pd(r)), gain);
        const __m128d hi =
            _mm_mul_pd(_mm_add_pd(_mm_cvtps_pd(_mm_movehl_ps(l, l)), _mm_cvtps_pd(_mm_movehl_ps(r, r))), gain);
        const __m128d wideLo = _mm_cvtps_pd(_mm_cvtpd_ps(lo));
        const __m128d wideHi = _mm_cvtps_pd(_mm_cvtpd_ps(hi));
        _mm_store_pd(input[i], _mm_unpacklo_pd(wideLo, wideLo));
        _mm_store_pd(input[i + 1], _mm_unpackhi_pd(wideLo, wideLo));
        _mm_store_pd(input[i + 2], _mm_unpacklo_pd(wideHi, wideHi));
        _mm_store_pd(input[i + 3], _mm_unpackhi_pd(wideHi, wideHi));
    }
    for (; i < count; ++i) {
        const double mono = static_cast<float>(
            (static_cast<double>(inputLeft[i]) + static_cast<double>(inputRight[i])) * inputGain_);
        input[i][0] = mono;
        input[i][1] = mono;
    }

    // Every comb's delayed samples, flushed; the outputs of combs 1..8
    // summed in order, each sum rounded to float; and the delayed samples
    // turned into one row per frame (left comb 1, right comb 1, left comb 2,
    // ...), four lines by four frames at a time.
    void (*read)(float*, const float*, int32_t) = readFlushed;
    void (*allPass)(float*, float*, int32_t, float) = allPassRun;
#if BRIMWELL_REVERB_AVX
    const bool wide = useWideLoops();
    if (wide) {
        read = readFlushedWide;
        allPass = allPassRunWide;
    }
#endif
    for (int c = 0; c < kLineCount; ++c) readLine(combs[c]->line_, lines[c], count, read);
    const int32_t padded = (count + 3) & ~3;
    for (i = 0; i < padded; i += 4) {
        __m128 sumLeft = _mm_setzero_ps();
        __m128 sumRight = _mm_setzero_ps();
        for (int q = 0; q < kLineCount; q += 4) {
            __m128 r0 = _mm_load_ps(lines[q] + i);
            __m128 r1 = _mm_load_ps(lines[q + 1] + i);
            __m128 r2 = _mm_load_ps(lines[q + 2] + i);
            __m128 r3 = _mm_load_ps(lines[q + 3] + i);
            sumLeft = _mm_add_ps(_mm_add_ps(sumLeft, r0), r2);
            sumRight = _mm_add_ps(_mm_add_ps(sumRight, r1), r3);
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            _mm_store_ps(pairs[i] + q, r0);
            _mm_store_ps(pairs[i + 1] + q, r1);
            _mm_store_ps(pairs[i + 2] + q, r2);
            _mm_store_ps(pairs[i + 3] + q, r3);
        }
        _mm_store_ps(accumulated[0] + i, sumLeft);
        _mm_store_ps(accumulated[1] + i, sumRight);
    }

    // The comb loops; the delayed samples are replaced by the values written.
    __m128d store[kCombCount];
    __m128d damp1[kCombCount];
    __m128d damp2[kCombCount];
    __m128d feedback[kCombCount];
    for (int k = 0; k < kCombCount; ++k) {
        store[k] = _mm_set_pd(combRight_[k].filterStore_, combLeft_[k].filterStore_);
        damp1[k] = _mm_set_pd(combRight_[k].damp1_, combLeft_[k].damp1_);
        damp2[k] = _mm_set_pd(combRight_[k].damp2_, combLeft_[k].damp2_);
        feedback[k] = _mm_set_pd(combRight_[k].feedback_, combLeft_[k].feedback_);
    }
#if BRIMWELL_REVERB_AVX
    if (wide)
        combLoopsAvx(pairs, input, count, store, damp1, damp2, feedback);
    else
#endif
        combLoops(pairs, input, count, store, damp1, damp2, feedback);
    for (int k = 0; k < kCombCount; ++k) {
        const __m128 stores = _mm_cvtpd_ps(store[k]);
        combLeft_[k].filterStore_ = _mm_cvtss_f32(stores);
        combRight_[k].filterStore_ = _mm_cvtss_f32(_mm_shuffle_ps(stores, stores, _MM_SHUFFLE(1, 1, 1, 1)));
    }

    // The written values back into the lines.
    for (i = 0; i < padded; i += 4) {
        for (int q = 0; q < kLineCount; q += 4) {
            __m128 r0 = _mm_load_ps(pairs[i] + q);
            __m128 r1 = _mm_load_ps(pairs[i + 1] + q);
            __m128 r2 = _mm_load_ps(pairs[i + 2] + q);
            __m128 r3 = _mm_load_ps(pairs[i + 3] + q);
            _MM_TRANSPOSE4_PS(r0, r1, r2, r3);
            _mm_store_ps(lines[q] + i, r0);
            _mm_store_ps(lines[q + 1] + i, r1);
            _mm_store_ps(lines[q + 2] + i, r2);
            _mm_store_ps(lines[q + 3] + i, r3);
        }
    }
    for (int c = 0; c < kLineCount; ++c) writeLine(combs[c]->line_, lines[c], count);

    for (int k = 0; k < kAllPassCount; ++k) {
        allPassBlock(allPassLeft_[k].line_, allPassLeft_[k].feedback_, accumulated[0], count, allPass);
        allPassBlock(allPassRight_[k].line_, allPassRight_[k].feedback_, accumulated[1], count, allPass);
    }

    const __m128d sameSide = _mm_set1_pd(wetSameSide_);
    const __m128d cross = _mm_set1_pd(wetCross_);
    const __m128d dry = _mm_set1_pd(dry_);
    i = 0;
#if BRIMWELL_REVERB_AVX
    if (wide)
        i = mixWide(accumulated[0], accumulated[1], inputLeft, inputRight, outputLeft, outputRight, count,
                    wetSameSide_, wetCross_, dry_);
#endif
    for (; i + 4 <= count; i += 4) {
        const __m128 left = _mm_load_ps(accumulated[0] + i);
        const __m128 right = _mm_load_ps(accumulated[1] + i);
        _mm_storeu_ps(outputLeft + i, mixFour(left, right, _mm_loadu_ps(inputLeft + i), sameSide, cross, dry));
        _mm_storeu_ps(outputRight + i, mixFour(right, left, _mm_loadu_ps(inputRight + i), sameSide, cross, dry));
    }
    for (; i < count; ++i) {
        const double left = accumulated[0][i];
        const double right = accumulated[1][i];
        outputLeft[i] = static_cast<float>(left * wetSameSide_ + right * wetCross_ +
                                           static_cast<double>(inputLeft[i]) * dry_);
        outputRight[i] = static_cast<float>(right * wetSameSide_ + left * wetCross_ +
                                            static_cast<double>(inputRight[i]) * dry_);
    }
}
