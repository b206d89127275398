// The real FFT against FFTW's single-precision real transform, and one
// redesign of the FFT equaliser.
#include <benchmark/benchmark.h>
#include <fftw3.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "fft/real_fft.h"
#include "host/context.h"
#include "host/lifecycle.h"
#include "platform/platform.h"

namespace {

constexpr int32_t kLength = 16384;

std::vector<float> randomData(int32_t n) {
    std::vector<float> data(static_cast<size_t>(n));
    uint32_t state = 1;
    for (float& x : data) {
        state = state * 1664525u + 1013904223u;
        x = static_cast<float>(static_cast<int32_t>(state >> 8) - (1 << 23)) / static_cast<float>(1 << 23);
    }
    return data;
}

void BM_RealFftForwardInverse(benchmark::State& state) {
    std::vector<float> data = randomData(kLength);
    RealFftReserve(kLength);
    const float scale = 2.0f / kLength;
    for (auto _ : state) {
        RealFft(kLength, 1, data.data());
        RealFft(kLength, -1, data.data());
        // Keep the data from growing without bound between iterations.
        for (float& x : data) x *= scale;
        benchmark::ClobberMemory();
    }
    state.SetLabel("n = 16384, forward + inverse (+ rescale)");
}
BENCHMARK(BM_RealFftForwardInverse);

void BM_FftwfForwardInverse(benchmark::State& state) {
    float* real = fftwf_alloc_real(kLength);
    fftwf_complex* spectrum = fftwf_alloc_complex(kLength / 2 + 1);
    fftwf_plan forward = fftwf_plan_dft_r2c_1d(kLength, real, spectrum, FFTW_MEASURE);
    fftwf_plan inverse = fftwf_plan_dft_c2r_1d(kLength, spectrum, real, FFTW_MEASURE);
    std::vector<float> data = randomData(kLength);
    std::copy(data.begin(), data.end(), real);
    const float scale = 1.0f / kLength;
    for (auto _ : state) {
        fftwf_execute(forward);
        fftwf_execute(inverse);
        for (int32_t i = 0; i < kLength; ++i) real[i] *= scale;
        benchmark::ClobberMemory();
    }
    fftwf_destroy_plan(forward);
    fftwf_destroy_plan(inverse);
    fftwf_free(spectrum);
    fftwf_free(real);
    state.SetLabel("fftwf r2c + c2r, FFTW_MEASURE (+ rescale)");
}
BENCHMARK(BM_FftwfForwardInverse);

// One update of the FFT equaliser: its gains and the design of both channels.
void BM_BassBoostUpdate(benchmark::State& state) {
    static std::string library = [] {
        char pattern[] = "/tmp/brimwell-bench-XXXXXX";
        return std::string(mkdtemp(pattern)) + "/dsp_brimwell.so";
    }();
    platform::overrideModulePath(library.c_str());
    winampDSPModule* module = winampDSPGetHeader2()->getModule(0);
    module->Init(module);
    DspArray& c = *dspContext;
    for (auto _ : state) benchmark::DoNotOptimize(c.ports[kBassBoost]->update(&c.bassBoost));
    module->Quit(module);
    state.SetLabel("reset + design of both channels");
}
BENCHMARK(BM_BassBoostUpdate)->Unit(benchmark::kMicrosecond);

}  // namespace
