// Each unit's process entry on 4096-frame pieces, and the whole sample
// entry, in nanoseconds per frame (items per second = frames per second).
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "host/context.h"
#include "host/lifecycle.h"
#include "platform/platform.h"
#include "../tests/support/test_signal.h"

namespace {

constexpr int32_t kFrames = 4096;

// A started plug-in whose settings file lives in a private directory.
struct Started {
    winampDSPModule* module;
    Started() {
        static std::string library = [] {
            char pattern[] = "/tmp/brimwell-bench-XXXXXX";
            return std::string(mkdtemp(pattern)) + "/dsp_brimwell.so";
        }();
        platform::overrideModulePath(library.c_str());
        module = winampDSPGetHeader2()->getModule(0);
        module->Init(module);
    }
    ~Started() { module->Quit(module); }
};

std::vector<float> floatSignal() {
    std::vector<int16_t> s = makeTestSignal(kFrames);
    return std::vector<float>(s.begin(), s.end());
}

void setFloatBlock(int index, DspArray& c, float* samples) {
    switch (index) {
        case kSurround3D: c.surround3D.samples = samples; c.surround3D.frames = kFrames; c.surround3D.channels = 2; break;
        case kRealSurround: c.realSurround.samples = samples; c.realSurround.frames = kFrames; c.realSurround.channels = 2; break;
        case kBassBoost: c.bassBoost.samples = samples; c.bassBoost.frames = kFrames; c.bassBoost.channels = 2; c.bassBoost.sampleRate = 44100; break;
        case kEqBassBoost: c.eqBassBoost.samples = samples; c.eqBassBoost.frames = kFrames; c.eqBassBoost.channels = 2; c.eqBassBoost.sampleRate = 44100; break;
        case kFieldRotation: c.fieldRotation.samples = samples; c.fieldRotation.frames = kFrames; break;
        case kAudioGain: c.audioGain.samples = samples; c.audioGain.frames = kFrames; break;
        case kHardLimiter: c.hardLimiter.samples = samples; c.hardLimiter.frames = kFrames; c.hardLimiter.channels = 2; break;
        case kDynamicLimiter: c.dynamicLimiter.samples = samples; c.dynamicLimiter.frames = kFrames; c.dynamicLimiter.channels = 2; break;
        case kDigitalReverb: c.digitalReverb.samples = samples; c.digitalReverb.frames = kFrames; c.digitalReverb.channels = 2; c.digitalReverb.sampleRate = 44100; break;
        default: break;
    }
}

void* blockOf(int index, DspArray& c) { return chainOf(&c).slots[index].block; }

// A unit that works in place on one float stream.
void BM_FloatUnit(benchmark::State& state) {
    int index = static_cast<int>(state.range(0));
    Started started;
    DspArray& c = *dspContext;
    std::vector<float> source = floatSignal(), work = source;
    UnitEntry process = c.ports[index]->process;
    void* block = blockOf(index, c);
    for (auto _ : state) {
        state.PauseTiming();
        work = source;
        setFloatBlock(index, c, work.data());
        state.ResumeTiming();
        benchmark::DoNotOptimize(process(block));
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.SetLabel(c.ports[index]->name);
}
BENCHMARK(BM_FloatUnit)->DenseRange(kSurround3D, kSurround3D)->Arg(kRealSurround)->Arg(kEqBassBoost)
    ->Arg(kFieldRotation)->Arg(kAudioGain)->Arg(kHardLimiter)->Arg(kDynamicLimiter)->Arg(kDigitalReverb)
    ->Arg(kBassBoost);

void BM_AudioFilter(benchmark::State& state) {
    Started started;
    DspArray& c = *dspContext;
    std::vector<int16_t> input = makeTestSignal(kFrames), low(input.size()), high(input.size());
    AudioFilterBlock& b = c.audioFilter;
    for (auto _ : state) {
        b.channels = 2;
        b.sampleRate = 44100;
        b.frames = kFrames;
        b.input = input.data();
        b.lowOutput = low.data();
        b.highOutput = high.data();
        benchmark::DoNotOptimize(c.ports[kAudioFilter]->process(&b));
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_AudioFilter);

void BM_StreamCombination(benchmark::State& state) {
    Started started;
    DspArray& c = *dspContext;
    std::vector<float> bass = floatSignal(), main = floatSignal(), out(bass.size());
    StreamCombinationBlock& b = c.streamCombination;
    for (auto _ : state) {
        b.channels = 2;
        b.frames = kFrames;
        b.bassSamples = bass.data();
        b.mainSamples = main.data();
        b.outSamples = out.data();
        benchmark::DoNotOptimize(c.ports[kStreamCombination]->process(&b));
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
}
BENCHMARK(BM_StreamCombination);

// The whole sample entry: the defaults (arg 0) and every stage on (arg 1).
void BM_ModifySamples(benchmark::State& state) {
    Started started;
    if (state.range(0) == 1) {
        ChainLock lock(contextGuard());
        for (int word = 0; word < 4; ++word) dspContext->enableFlags.words[word] = 1;
        dspContext->enableFlags.words[kEnableBassBoost] = kBassBoostEnableValue;
    }
    std::vector<int16_t> source = makeTestSignal(kFrames), block = source;
    for (auto _ : state) {
        state.PauseTiming();
        block = source;
        state.ResumeTiming();
        benchmark::DoNotOptimize(started.module->ModifySamples(started.module, block.data(), kFrames, 16, 2, 44100));
    }
    state.SetItemsProcessed(state.iterations() * kFrames);
    state.SetLabel(state.range(0) ? "every stage" : "defaults");
}
BENCHMARK(BM_ModifySamples)->Arg(0)->Arg(1);

}  // namespace
