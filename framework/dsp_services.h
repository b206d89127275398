// The process-wide table of runtime services shared by the lifecycle, the
// pipeline and the units: block copy, heap blocks and a few numeric helpers.
#pragma once
#include <cstdint>

struct ServiceSettings {
    int32_t copyMode;
    int32_t allocMode;
    int32_t mathMode;
    int32_t roundMode;
};

struct DspServices {
    int32_t (*configure)(const ServiceSettings* settings);
    void* (*copy)(void* destination, const void* source, int32_t bytes);
    void* (*alloc)(int32_t bytes);
    void (*free)(void* block);
    float (*power)(float base, float exponent);
    float (*root)(float value, float degree);
    int32_t (*roundToInt)(float value);
    void (*floatToShort)(const float* source, int16_t* destination, int32_t count);
    // The element just past source[count - 1] must be writable: it holds an
    // end marker during the call and is restored before the call returns.
    void (*floatToShortSaturating)(float* source, int16_t* destination, int32_t count);
    char* versionText;  // "1.1.2", 16 characters of room
};

// Fills the one process-wide table and returns it. A later call fills the same
// table again.
DspServices* createServices();

// The settings stored by the last configure (all zero before the first).
ServiceSettings currentServiceSettings();
