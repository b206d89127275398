#include "framework/service_modes.h"

#include <cmath>
#include <cstring>
#include <new>

#include "framework/numeric.h"

void* serviceCopy(int32_t, void* destination, const void* source, int32_t bytes) {
    if (bytes > 0) std::memmove(destination, source, static_cast<size_t>(bytes));
    return destination;
}

// Plain heap blocks go through the nothrow operator new so that one hook
// (a replaced operator new in a test) sees every allocation the plug-in makes.
void* serviceAlloc(int32_t, int32_t bytes) {
    if (bytes < 0) return nullptr;
    return ::operator new(static_cast<size_t>(bytes), std::nothrow);
}

void serviceFree(int32_t, void* block) {
    if (block != nullptr) ::operator delete(block);
}

float servicePower(int32_t, float base, float exponent) {
    return static_cast<float>(std::pow(static_cast<double>(base), static_cast<double>(exponent)));
}

float serviceRoot(int32_t, float value, float degree) {
    if (degree == 2.0f) return static_cast<float>(std::sqrt(static_cast<double>(value)));
    float r = static_cast<float>(1.0 / static_cast<double>(degree));
    return static_cast<float>(std::pow(static_cast<double>(value), static_cast<double>(r)));
}

int32_t serviceRoundToInt(int32_t, float value) { return truncToInt32(value, INT32_MIN); }

void serviceFloatToShort(int32_t, const float* source, int16_t* destination, int32_t count) {
    for (int32_t i = 0; i < count; ++i)
        destination[i] = static_cast<int16_t>(truncToInt32(source[i], 0) & 0xFFFF);
}

void serviceFloatToShortSaturating(float*, int16_t*, int32_t) {}
