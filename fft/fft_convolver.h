// A two-channel linear-phase FIR equaliser. From eleven band gains per
// channel and a sample rate it designs an 8191-tap response by the Kaiser
// window method (96 dB), keeps it as a 16384-point spectrum, and filters
// interleaved frames by FFT overlap-add in blocks of 8191 frames. Every frame
// comes back 12286 frames later: 8191 frames of block buffering plus the
// 4095 frames of the centred response. Samples are in full scale 1.0.
//
// Threads: processing (one thread) may run at the same time as designs and
// resets (any other thread). A design computes into the bank that processing
// is not using and publishes it; processing switches banks only at the start
// of a call. A reset is applied by the next processing call, before anything
// else. Designs are serialised among themselves.
#pragma once
#include <atomic>
#include <cstdint>
#include <mutex>

constexpr int32_t kConvolverBlockLength = 8191;  // L: frames per block, taps per response
constexpr int32_t kConvolverFftLength = 16384;   // N
constexpr int32_t kConvolverCentreTap = 4095;
constexpr int32_t kConvolverDelay = kConvolverBlockLength + kConvolverCentreTap;  // 12286
constexpr int32_t kConvolverBandCount = 11;
constexpr float kDesignAttenuation = 96.0f;  // dB

// One band of the ordered list a design walks.
struct BandNode {
    BandNode* next;   // the next higher band, or null
    float lowerEdge;  // Hz
    float upperEdge;  // Hz
    float gain;       // linear
};

struct FftConvolver {
    float* spectrumBanks[2][2];  // [channel][bank - 1]: N floats each, packed as RealFft leaves them
    float* designBuffer;         // N floats, scratch of designs
    float* workBuffer;           // N floats, scratch of processing
    // Active bank (1 or 2) in bits 0..7, pending bank (0: none) in bits 8..15.
    std::atomic<uint32_t> bankState;
    std::atomic<bool> resetRequested;
    int32_t blockLength;  // L
    int32_t fftLength;    // N
    int32_t fill;         // frames of the current block collected so far
    float* inputBlock;    // L interleaved stereo frames
    float* overlapBuffer; // N interleaved stereo frames: pending output, then the tail of the last block
    int32_t bandCount;
    float bandEdges[kConvolverBandCount - 1];  // upper edges of bands 0..9, Hz
    float factorialTable[16];                  // k! for k = 0..15
    float beta;                                // KaiserBeta(kDesignAttenuation)
    float windowNorm;                          // BesselI0(beta)
    float window[kConvolverCentreTap + 1];     // KaiserWindow(n) for n = 0..4095
    std::mutex designMutex;
    float* memory;  // the one allocation behind every buffer
};

// Null when memory runs out (the shared FFT workspace is then released).
FftConvolver* FftConvolverCreate();

// Designs both channels' responses for `sampleRate` and publishes them for
// the next processing call. No effect when the engine is null or the rate is
// not a positive finite number.
void FftConvolverDesign(FftConvolver* engine, const float gains0[kConvolverBandCount],
                        const float gains1[kConvolverBandCount], float sampleRate);

// Filters `frames` interleaved frames of `channels` (1 or 2) in place and
// returns `frames`; returns 0 with the buffer untouched when the engine is
// null, channels is not 1 or 2, or frames is not positive.
int32_t FftConvolverProcess(FftConvolver* engine, int32_t channels, float* buffer, int32_t frames);

// Drops the frames collected for the current block and the pending output;
// takes effect at the start of the next processing call. The spectra stay.
void FftConvolverReset(FftConvolver* engine);

// Frees the engine (null is fine) and releases the shared FFT workspace.
void FftConvolverDestroy(FftConvolver* engine);

// The bank processing uses, and the bank it will switch to at its next call
// (0: none), for tests.
int32_t FftConvolverActiveBank(const FftConvolver* engine);
int32_t FftConvolverPendingBank(const FftConvolver* engine);

// The design, step by step.
float KaiserBeta(float attenuationDb);
void FillFactorialTable(float table[16]);
float BesselI0(float x, const float factorialTable[16]);
float KaiserWindow(int32_t offset, float beta, float windowNorm, const float factorialTable[16]);
// The ideal low-pass with cutoff `cutoff` at tap offset `offset`, evaluated
// as written: (2 fc / fs) sin(x) / x with x rounded to single precision.
double LowpassTap(int32_t offset, float cutoff, float sampleRate);
// Builds the band list in `storage` and returns its head.
BandNode* BuildBandList(const float bandEdges[kConvolverBandCount - 1], const float gains[kConvolverBandCount],
                        float sampleRate, BandNode storage[kConvolverBandCount]);
// The ideal piecewise-constant response at `offset`, walking `bands` as written.
double BandTap(int32_t offset, const BandNode* bands, float sampleRate);
// The 8191 windowed taps a design transforms, as the fast design computes them.
void FftConvolverDesignTaps(const FftConvolver* engine, const float gains[kConvolverBandCount], float sampleRate,
                            float taps[kConvolverBlockLength]);
