// A deterministic, music-like 16-bit stereo test signal made with integer
// arithmetic only, so every build and every platform produces the same
// samples: a bass line, a chord of three voices, percussive noise bursts and
// a slow left/right movement.
#pragma once
#include <cstdint>
#include <vector>

inline std::vector<int16_t> makeTestSignal(int32_t frames, int32_t sampleRate = 44100) {
    std::vector<int16_t> samples(static_cast<size_t>(frames) * 2);
    uint32_t noise = 12345;
    const int32_t beat = sampleRate / 4;  // four beats a second
    const int32_t bassNotes[8] = {55, 55, 73, 65, 55, 82, 73, 49};
    const int32_t chordNotes[3] = {220, 277, 330};
    for (int32_t i = 0; i < frames; ++i) {
        int32_t beatIndex = i / beat;
        int32_t inBeat = i % beat;
        // Bass: a triangle wave, one note per beat.
        int32_t bassPeriod = sampleRate / bassNotes[beatIndex % 8];
        int32_t phase = i % bassPeriod;
        int32_t triangle = (phase < bassPeriod / 2 ? phase : bassPeriod - phase) * 4 * 6000 / bassPeriod - 6000;
        // Chord: three square-ish voices, softened.
        int32_t chord = 0;
        for (int32_t note : chordNotes) {
            int32_t period = sampleRate / note;
            chord += (i % period) < period / 2 ? 1500 : -1500;
        }
        // Percussion: a decaying noise burst at every second beat.
        noise = noise * 1664525u + 1013904223u;
        int32_t burst = 0;
        if (beatIndex % 2 == 0 && inBeat < 2000) {
            int32_t white = static_cast<int32_t>(noise >> 17) - 16384;
            burst = white * (2000 - inBeat) / 2000;
        }
        // A slow pan of the chord across the field.
        int32_t pan = (i / 64) % 1024;
        if (pan >= 512) pan = 1023 - pan;
        int32_t left = triangle + chord * pan / 512 + burst;
        int32_t right = triangle + chord * (512 - pan) / 512 + burst / 2;
        if (left > 32767) left = 32767;
        if (left < -32768) left = -32768;
        if (right > 32767) right = 32767;
        if (right < -32768) right = -32768;
        samples[2 * static_cast<size_t>(i)] = static_cast<int16_t>(left);
        samples[2 * static_cast<size_t>(i) + 1] = static_cast<int16_t>(right);
    }
    return samples;
}

// The block sizes a render cycles through, to cross piece boundaries in
// every way the pipeline allows.
inline int32_t testBlockSize(int32_t callIndex) {
    const int32_t sizes[6] = {576, 1152, 4096, 4097, 100, 8192 + 17};
    return sizes[callIndex % 6];
}
