#include "tools/demo_signal.h"

#include <algorithm>
#include <cmath>

namespace demo {
namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRate = kSampleRate;
constexpr int kBeatFrames = kSampleRate / 2;  // 120 beats per minute
constexpr int kEighthFrames = kBeatFrames / 2;
constexpr int kBeatsPerBar = 4;
constexpr int kBars = kFrames / (kBeatFrames * kBeatsPerBar);

double noteFrequency(int midiNote) { return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0); }

// A fixed-seed generator, so the noise of the drums is the same everywhere.
class Noise {
public:
    double next() {
        state_ = state_ * 1664525u + 1013904223u;
        return static_cast<double>(state_ >> 8) / 8388608.0 - 1.0;
    }

private:
    uint32_t state_ = 0x2545f491u;
};

struct StereoBuffer {
    std::vector<double> left = std::vector<double>(kFrames, 0.0);
    std::vector<double> right = std::vector<double>(kFrames, 0.0);

    // Adds `value` at `frame`, placed by `pan` (0 left, 1 right) with equal power.
    void add(int frame, double value, double pan) {
        if (frame < 0 || frame >= kFrames) return;
        left[frame] += value * std::cos(pan * kPi / 2);
        right[frame] += value * std::sin(pan * kPi / 2);
    }
};

// Am, F, C, G: one chord per bar, with the bass roots below.
struct Chord {
    int bassRoot;
    int voices[3];
};
constexpr Chord kProgression[kBars] = {
    {45, {57, 60, 64}}, {41, {53, 57, 60}}, {48, {60, 64, 67}}, {43, {55, 59, 62}}};

void addBassLine(StereoBuffer& out) {
    // Root, root, octave, root, fifth, root, octave, fifth in eighth notes.
    const int pattern[8] = {0, 0, 12, 0, 7, 0, 12, 7};
    for (int bar = 0; bar < kBars; ++bar) {
        for (int eighth = 0; eighth < 8 * kBeatsPerBar / 4; ++eighth) {
            int start = (bar * kBeatsPerBar * 2 + eighth) * kEighthFrames;
            double frequency = noteFrequency(kProgression[bar].bassRoot + pattern[eighth]);
            for (int i = 0; i < kEighthFrames; ++i) {
                double t = i / kRate;
                double phase = 2 * kPi * frequency * t;
                double envelope = std::min(1.0, t / 0.005) * std::exp(-t / 0.15);
                double tone = std::sin(phase) + 0.3 * std::sin(2 * phase) + 0.15 * std::sin(3 * phase);
                out.add(start + i, 0.32 * envelope * tone, 0.5);
            }
        }
    }
}

void addChordPad(StereoBuffer& out) {
    const int barFrames = kBeatFrames * kBeatsPerBar;
    for (int bar = 0; bar < kBars; ++bar) {
        int start = bar * barFrames;
        for (int voice = 0; voice < 3; ++voice) {
            double frequency = noteFrequency(kProgression[bar].voices[voice]);
            for (int i = 0; i < barFrames; ++i) {
                double t = i / kRate;
                double absolute = (start + i) / kRate;
                double envelope = std::min(1.0, t / 0.03) * (0.6 + 0.4 * std::exp(-t / 0.4)) *
                                  std::min(1.0, (barFrames - i) / (0.02 * kRate));
                double phase = 2 * kPi * frequency * t;
                double tone = std::sin(phase) + 0.5 * std::sin(2 * phase) + 0.25 * std::sin(3 * phase);
                // Each voice drifts across the field at its own slow rate.
                double pan = 0.5 + 0.4 * std::sin(2 * kPi * (0.25 + 0.05 * voice) * absolute + voice * 2.1);
                out.add(start + i, 0.07 * envelope * tone, pan);
            }
        }
    }
}

void addDrums(StereoBuffer& out) {
    Noise noise;
    const int beats = kBars * kBeatsPerBar;
    for (int beat = 0; beat < beats; ++beat) {
        int start = beat * kBeatFrames;
        // Kick on every beat: a falling sine with a sharp attack.
        double phase = 0;
        for (int i = 0; i < static_cast<int>(0.4 * kRate); ++i) {
            double t = i / kRate;
            phase += 2 * kPi * (50.0 + 110.0 * std::exp(-t / 0.03)) / kRate;
            out.add(start + i, 0.55 * std::exp(-t / 0.22) * std::sin(phase), 0.5);
        }
        // Snare on beats 2 and 4, a little right of centre.
        if (beat % 2 == 1) {
            for (int i = 0; i < static_cast<int>(0.25 * kRate); ++i) {
                double t = i / kRate;
                double body = 0.5 * std::sin(2 * kPi * 185.0 * t) * std::exp(-t / 0.04);
                out.add(start + i, 0.3 * (noise.next() * std::exp(-t / 0.07) + body), 0.62);
            }
        }
    }
    // Hi-hats on every eighth note, alternating sides: differenced noise
    // keeps only the bright part.
    for (int eighth = 0; eighth < beats * 2; ++eighth) {
        int start = eighth * kEighthFrames;
        double pan = eighth % 2 == 0 ? 0.3 : 0.75;
        double previous = 0;
        for (int i = 0; i < static_cast<int>(0.06 * kRate); ++i) {
            double t = i / kRate;
            double sample = noise.next();
            out.add(start + i, 0.12 * (sample - previous) * std::exp(-t / 0.018), pan);
            previous = sample;
        }
    }
}

}  // namespace

std::vector<int16_t> demoSignal() {
    StereoBuffer mix;
    addBassLine(mix);
    addChordPad(mix);
    addDrums(mix);

    // Scale to a peak of about -3 dBFS, so the chain has headroom to show.
    double peak = 0;
    for (int i = 0; i < kFrames; ++i) peak = std::max({peak, std::fabs(mix.left[i]), std::fabs(mix.right[i])});
    double scale = peak > 0 ? 0.7 * 32767.0 / peak : 0.0;

    std::vector<int16_t> samples(static_cast<size_t>(kFrames) * kChannels);
    auto quantise = [scale](double value) {
        double scaled = std::round(value * scale);
        return static_cast<int16_t>(std::clamp(scaled, -32768.0, 32767.0));
    };
    for (int i = 0; i < kFrames; ++i) {
        samples[2 * i] = quantise(mix.left[i]);
        samples[2 * i + 1] = quantise(mix.right[i]);
    }
    return samples;
}

}  // namespace demo
