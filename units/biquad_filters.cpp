#include "units/biquad_filters.h"

#include <emmintrin.h>

#include <cfloat>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "framework/numeric.h"
#include "framework/portable_math.h"

namespace {

constexpr double kTwoPi = 6.2831854820251465;  // 2 pi rounded to float
constexpr double kPi = 3.14159265358979323846;

int16_t clampToShort(int32_t value) {
    if (value > 32767) return 32767;
    if (value < -32768) return -32768;
    return static_cast<int16_t>(value);
}

// 1 + a1 z^-1 + a2 z^-2 has both roots strictly inside the unit circle.
bool isStable(double a1, double a2) { return std::fabs(a2) < 1.0 && std::fabs(a1) < 1.0 + a2; }

}  // namespace

bool CFilter::designTerms(DesignTerms& terms) const {
    terms = DesignTerms{0.0f, 0.0f, 0.0f, 0.0f};
    terms.w0 = static_cast<float>(static_cast<double>(frequency) * kTwoPi / static_cast<double>(sampleRate));
    // Outside (0, pi) the cookbook formulas give an unstable or aliased
    // section; sin and cos are not even evaluated there.
    if (!(terms.w0 > 0.0f && static_cast<double>(terms.w0) < kPi)) return false;
    terms.cosW0 = static_cast<float>(portableCos(terms.w0));
    const float sinW0 = static_cast<float>(portableSin(terms.w0));
    const double alpha = static_cast<double>(sinW0) / (2.0 * static_cast<double>(q));
    if (!(std::fabs(alpha) <= FLT_MAX)) return false;  // q at or near 0, or NaN
    terms.alpha = static_cast<float>(alpha);
    terms.k = static_cast<float>(1.0 / (1.0 + static_cast<double>(terms.alpha)));
    return true;
}

void CFilter::storeDesign(Band band, const DesignTerms& terms, float nb0, float nb1, float nb2, float na1,
                          float na2) {
    const bool finite = std::isfinite(nb0) && std::isfinite(nb1) && std::isfinite(nb2) && std::isfinite(na1) &&
                        std::isfinite(na2);
    if (!finite || !isStable(na1, na2)) {
        storeEdgeResponse(band, terms);
        return;
    }
    b0 = nb0;
    b1 = nb1;
    b2 = nb2;
    a1 = na1;
    a2 = na2;
}

void CFilter::storeEdgeResponse(Band band, const DesignTerms& terms) {
    const bool signalBelowCutoff = !(terms.w0 <= 0.0f);
    const bool passes = signalBelowCutoff == (band == Band::low);
    b0 = passes ? 1.0f : 0.0f;
    b1 = 0.0f;
    b2 = 0.0f;
    a1 = 0.0f;
    a2 = 0.0f;
}

void CFilter::designSection(Band band) {
    DesignTerms t;
    if (!designTerms(t)) {
        storeEdgeResponse(band, t);
        return;
    }
    const double c = t.cosW0;
    const double k = t.k;
    float nb0, nb1;
    if (band == Band::low) {
        nb0 = static_cast<float>(0.5 * (1.0 - c) * k);
        nb1 = static_cast<float>((1.0 - c) * k);
    } else {
        nb0 = static_cast<float>(0.5 * (1.0 + c) * k);
        nb1 = static_cast<float>(-((1.0 + c) * k));
    }
    storeDesign(band, t, nb0, nb1, nb0, static_cast<float>((c * -2.0) * k),
                static_cast<float>((1.0 - static_cast<double>(t.alpha)) * k));
}

void CLowPassFilter::ComputeCoefficients() { designSection(Band::low); }

void CHighPassFilter::ComputeCoefficients() { designSection(Band::high); }

int32_t CFilter::filterSample(const FilterHistory& h, int32_t x0) const {
    const double y = static_cast<double>(h.x1) * b1 + static_cast<double>(x0) * b0 + static_cast<double>(h.x2) * b2 -
                     static_cast<double>(h.y1) * a1 - static_cast<double>(h.y2) * a2;
    return truncClamp(y, INT32_MIN, INT32_MAX, 0);
}

namespace {

void advance(FilterHistory& h, int32_t x0, int32_t y) {
    h.x2 = h.x1;
    h.x1 = x0;
    h.y2 = h.y1;
    h.y1 = y;
}

}  // namespace

void CFilter::AdoptRate(int32_t rate) {
    if (rate != sampleRate) {
        sampleRate = rate;
        ComputeCoefficients();
    }
}

void CFilter::Process(int16_t* samples, int32_t frames, int32_t channels, int32_t rate) {
    AdoptRate(rate);
    if (samples == nullptr || frames <= 0) return;
    const size_t count = static_cast<size_t>(frames);
    if (channels == 2) {
        // The history keeps the unclamped output so the recursion follows the
        // true filter response; only the written sample is clamped.
        for (size_t i = 0; i < 2 * count; i += 2) {
            const int32_t xl = samples[i];
            const int32_t yl = filterSample(left, xl);
            advance(left, xl, yl);
            samples[i] = clampToShort(yl);
            const int32_t xr = samples[i + 1];
            const int32_t yr = filterSample(right, xr);
            advance(right, xr, yr);
            samples[i + 1] = clampToShort(yr);
        }
    } else if (channels == 1) {
        for (size_t i = 0; i < count; ++i) {
            const int32_t x = samples[i];
            const int16_t y = clampToShort(filterSample(left, x));
            advance(left, x, y);
            samples[i] = y;
        }
    }
}

namespace {

// One section's stereo state in double lanes (left, right).
struct StereoSection {
    __m128d b0, b1, b2, a1, a2;
    __m128d x1, x2, y1, y2;

    explicit StereoSection(const CFilter& f)
        : b0(_mm_set1_pd(f.b0)),
          b1(_mm_set1_pd(f.b1)),
          b2(_mm_set1_pd(f.b2)),
          a1(_mm_set1_pd(f.a1)),
          a2(_mm_set1_pd(f.a2)),
          x1(_mm_set_pd(f.right.x1, f.left.x1)),
          x2(_mm_set_pd(f.right.x2, f.left.x2)),
          y1(_mm_set_pd(f.right.y1, f.left.y1)),
          y2(_mm_set_pd(f.right.y2, f.left.y2)) {}

    // One frame: returns the unclamped outputs as two int32 lanes and
    // advances the history.
    __m128i step(__m128d x0) {
        const __m128d y = _mm_sub_pd(
            _mm_sub_pd(_mm_add_pd(_mm_add_pd(_mm_mul_pd(x1, b1), _mm_mul_pd(x0, b0)), _mm_mul_pd(x2, b2)),
                       _mm_mul_pd(y1, a1)),
            _mm_mul_pd(y2, a2));
        __m128i out = _mm_cvttpd_epi32(y);
        // The conversion gives INT32_MIN for NaN and for anything outside the
        // int32 range; those (and true INT32_MIN) take truncClamp's rule.
        if (_mm_movemask_epi8(_mm_cmpeq_epi32(out, _mm_set1_epi32(INT32_MIN))) & 0xFF) {
            alignas(16) double lanes[2];
            _mm_store_pd(lanes, y);
            out = _mm_set_epi32(0, 0, truncClamp(lanes[1], INT32_MIN, INT32_MAX, 0),
                                truncClamp(lanes[0], INT32_MIN, INT32_MAX, 0));
        }
        x2 = x1;
        x1 = x0;
        y2 = y1;
        y1 = _mm_cvtepi32_pd(out);
        return out;
    }

    void storeHistory(CFilter& f) const {
        alignas(16) double lanes[4][2];
        _mm_store_pd(lanes[0], x1);
        _mm_store_pd(lanes[1], x2);
        _mm_store_pd(lanes[2], y1);
        _mm_store_pd(lanes[3], y2);
        f.left = FilterHistory{static_cast<int32_t>(lanes[0][0]), static_cast<int32_t>(lanes[1][0]),
                               static_cast<int32_t>(lanes[2][0]), static_cast<int32_t>(lanes[3][0])};
        f.right = FilterHistory{static_cast<int32_t>(lanes[0][1]), static_cast<int32_t>(lanes[1][1]),
                                static_cast<int32_t>(lanes[2][1]), static_cast<int32_t>(lanes[3][1])};
    }
};

// The frame's two 16-bit samples as doubles.
inline __m128d loadFrame(const int16_t* frame) {
    int32_t both;
    std::memcpy(&both, frame, sizeof both);
    const __m128i words = _mm_cvtsi32_si128(both);
    return _mm_cvtepi32_pd(_mm_srai_epi32(_mm_unpacklo_epi16(words, words), 16));
}

// Both outputs clamped to the 16-bit range and stored.
inline void storeFrame(int16_t* frame, __m128i out) {
    const int32_t both = _mm_cvtsi128_si32(_mm_packs_epi32(out, out));
    std::memcpy(frame, &both, sizeof both);
}

}  // namespace

void CFilter::ProcessStereoPair(CFilter& first, int16_t* firstSamples, CFilter& second, int16_t* secondSamples,
                                int32_t frames) {
    if (firstSamples == nullptr || secondSamples == nullptr || frames <= 0) return;
    StereoSection a(first);
    StereoSection b(second);
    for (int32_t i = 0; i < frames; ++i) {
        int16_t* frameA = firstSamples + 2 * static_cast<size_t>(i);
        int16_t* frameB = secondSamples + 2 * static_cast<size_t>(i);
        const __m128i outA = a.step(loadFrame(frameA));
        const __m128i outB = b.step(loadFrame(frameB));
        storeFrame(frameA, outA);
        storeFrame(frameB, outB);
    }
    a.storeHistory(first);
    b.storeHistory(second);
}
