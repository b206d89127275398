#include "framework/dsp_services.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#include "framework/service_modes.h"

namespace {

// Written once at start-up and read by every service call, possibly from the
// playback thread: atomics keep that well defined without a lock.
std::atomic<int32_t> copyModeSetting{0};
std::atomic<int32_t> allocModeSetting{0};
std::atomic<int32_t> mathModeSetting{0};
std::atomic<int32_t> roundModeSetting{0};

DspServices servicesTable;
// The version text lives as long as the process, like the table itself.
char versionBuffer[16];

int32_t configureServices(const ServiceSettings* settings) {
    if (settings == nullptr) return 1;
    copyModeSetting.store(settings->copyMode, std::memory_order_relaxed);
    allocModeSetting.store(settings->allocMode, std::memory_order_relaxed);
    mathModeSetting.store(settings->mathMode, std::memory_order_relaxed);
    roundModeSetting.store(settings->roundMode, std::memory_order_relaxed);
    return 1;
}

void* copyEntry(void* destination, const void* source, int32_t bytes) {
    return serviceCopy(copyModeSetting.load(std::memory_order_relaxed), destination, source, bytes);
}
void* allocEntry(int32_t bytes) {
    return serviceAlloc(allocModeSetting.load(std::memory_order_relaxed), bytes);
}
void freeEntry(void* block) { serviceFree(allocModeSetting.load(std::memory_order_relaxed), block); }
float powerEntry(float base, float exponent) {
    return servicePower(mathModeSetting.load(std::memory_order_relaxed), base, exponent);
}
float rootEntry(float value, float degree) {
    return serviceRoot(mathModeSetting.load(std::memory_order_relaxed), value, degree);
}
int32_t roundToIntEntry(float value) {
    return serviceRoundToInt(roundModeSetting.load(std::memory_order_relaxed), value);
}
void floatToShortEntry(const float* source, int16_t* destination, int32_t count) {
    serviceFloatToShort(roundModeSetting.load(std::memory_order_relaxed), source, destination, count);
}
void floatToShortSaturatingEntry(float* source, int16_t* destination, int32_t count) {
    serviceFloatToShortSaturating(source, destination, count);
}

}  // namespace

DspServices* createServices() {
    servicesTable.configure = configureServices;
    servicesTable.copy = copyEntry;
    servicesTable.alloc = allocEntry;
    servicesTable.free = freeEntry;
    servicesTable.power = powerEntry;
    servicesTable.root = rootEntry;
    servicesTable.roundToInt = roundToIntEntry;
    servicesTable.floatToShort = floatToShortEntry;
    servicesTable.floatToShortSaturating = floatToShortSaturatingEntry;
    std::memset(versionBuffer, 0, sizeof versionBuffer);
    std::snprintf(versionBuffer, sizeof versionBuffer, "%d.%d.%d", 1, 1, 2);
    servicesTable.versionText = versionBuffer;
    return &servicesTable;
}

ServiceSettings currentServiceSettings() {
    return ServiceSettings{copyModeSetting.load(), allocModeSetting.load(), mathModeSetting.load(),
                           roundModeSetting.load()};
}
