#include "units/biquad_filters.h"

#include <cfloat>
#include <cmath>
#include <cstddef>

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

void CFilter::Process(int16_t* samples, int32_t frames, int32_t channels, int32_t rate) {
    if (rate != sampleRate) {
        sampleRate = rate;
        ComputeCoefficients();
    }
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
