// Second-order IIR sections that filter interleaved 16-bit PCM in place:
// direct form I with integer history, low-pass and high-pass designs.
#pragma once
#include <cstdint>

struct FilterHistory {
    int32_t x1;  // previous input
    int32_t x2;  // the input before it
    int32_t y1;  // previous output
    int32_t y2;  // the output before it
};

class CFilter {
public:
    virtual ~CFilter() {}

    // Filters `frames` frames of `channels` interleaved samples in place; only
    // mono and stereo are filtered. A rate other than the stored one redesigns
    // first, whatever the frame and channel counts.
    virtual void Process(int16_t* samples, int32_t frames, int32_t channels, int32_t rate);

    // Recomputes the five coefficients from frequency, q and sampleRate; the
    // history is kept.
    virtual void ComputeCoefficients() = 0;

    // The first step of Process: a rate other than the stored one is stored
    // and redesigns.
    void AdoptRate(int32_t rate);

    // Process of two stereo streams of `frames` frames by two sections whose
    // rate is current (AdoptRate), run together: the same bits as one
    // Process after the other, with four independent recursions in flight.
    static void ProcessStereoPair(CFilter& first, int16_t* firstSamples, CFilter& second, int16_t* secondSamples,
                                  int32_t frames);

    int32_t sampleRate = 44100;  // rate the coefficients were computed for
    int32_t frequency = 1000;    // cutoff in Hz
    float q = 1.0f;
    float b0 = 1.0f, b1 = 1.0f, b2 = 1.0f;  // divided by a0
    float a1 = 1.0f, a2 = 1.0f;
    FilterHistory left = {0, 0, 0, 0};   // also the mono history
    FilterHistory right = {0, 0, 0, 0};

protected:
    enum class Band { low, high };

    // The values both responses share, each rounded to float where formed.
    struct DesignTerms {
        float w0;
        float cosW0;
        float alpha;
        float k;  // 1 / a0
    };

    // Fills `terms` and returns true when the cutoff lies strictly between 0
    // and half the rate and q gives a finite alpha; otherwise only w0 is
    // meaningful.
    bool designTerms(DesignTerms& terms) const;

    // Computes the cookbook low-pass or high-pass section.
    void designSection(Band band);

    // Stores the designed coefficients when they form a stable section, and
    // the edge response otherwise.
    void storeDesign(Band band, const DesignTerms& terms, float nb0, float nb1, float nb2, float na1,
                     float na2);

    // The band with its cutoff pushed to the edge it crossed: a cutoff at or
    // beyond half the rate puts the whole signal below it (low-pass passes it
    // unchanged, high-pass gives silence); a cutoff at or below 0 Hz puts it
    // all above. Anything else unusable is treated as the first case.
    void storeEdgeResponse(Band band, const DesignTerms& terms);

private:
    int32_t filterSample(const FilterHistory& history, int32_t x0) const;
};

class CLowPassFilter : public CFilter {
public:
    void ComputeCoefficients() override;
};

class CHighPassFilter : public CFilter {
public:
    void ComputeCoefficients() override;
};
