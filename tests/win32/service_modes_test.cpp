// The services' copy modes and numeric entries on i686 Windows: the SSE2
// paths (32-bit non-temporal stores there), the explicit rounding and the
// caller's rounding state. Built from the sources themselves, since the DLL
// exports nothing but the player's entry.
#include <cfenv>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <limits>

#include <xmmintrin.h>

#include "framework/portable_math.cpp"
#include "framework/service_modes.cpp"

namespace {

int failures = 0;

void check(bool condition, const char* what) {
    if (!condition) {
        std::printf("FAIL %s\n", what);
        ++failures;
    }
}

uint32_t bits(float value) {
    uint32_t b;
    std::memcpy(&b, &value, 4);
    return b;
}

void checkCopies() {
    static unsigned char source[512], destination[512], expected[512];
    for (int i = 0; i < 512; ++i) source[i] = static_cast<unsigned char>(i * 131 + 7);
    for (int mode = 0; mode <= 3; ++mode)
        for (int from = 0; from < 16; ++from)
            for (int to = 0; to < 16; ++to)
                for (int length = 0; length <= 300; ++length) {
                    std::memset(destination, 0xee, sizeof destination);
                    std::memset(expected, 0xee, sizeof expected);
                    for (int i = 0; i < length; ++i) expected[to + i] = source[from + i];
                    serviceCopy(mode, destination + to, source + from, length);
                    if (std::memcmp(destination, expected, sizeof expected) != 0) {
                        std::printf("FAIL copy mode %d, +%d -> +%d, %d bytes\n", mode, from, to, length);
                        ++failures;
                        return;
                    }
                }
    // Destination before the source, inside one buffer.
    for (int mode = 0; mode <= 3; ++mode)
        for (int to = 0; to < 16; ++to)
            for (int shift : {1, 3, 8, 16, 33, 64, 100})
                for (int length = 0; length <= 300; ++length) {
                    for (int i = 0; i < 512; ++i) destination[i] = expected[i] = source[i];
                    for (int i = 0; i < length; ++i) expected[to + i] = expected[to + shift + i];
                    serviceCopy(mode, destination + to, destination + to + shift, length);
                    if (std::memcmp(destination, expected, sizeof expected) != 0) {
                        std::printf("FAIL overlapping copy mode %d, +%d, shift %d, %d bytes\n", mode, to, shift,
                                    length);
                        ++failures;
                        return;
                    }
                }
}

void checkNumbers() {
    const float nan = std::numeric_limits<float>::quiet_NaN();
    for (int direction : {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO}) {
        std::fesetround(direction);
        unsigned csr = _mm_getcsr() & 0x6000u;  // the rounding bits, not the sticky flags
        check(serviceRoundToInt(1, 2.5f) == 2 && serviceRoundToInt(1, 3.5f) == 4, "ties to even");
        check(serviceRoundToInt(2, -2.5f) == -3 && serviceRoundToInt(3, 2.1f) == 3, "down and up");
        for (int mode : {0, 4, 5, 9}) check(serviceRoundToInt(mode, -2.9f) == -2, "toward zero");
        check(serviceRoundToInt(1, nan) == INT32_MIN && serviceRoundToInt(3, 3e9f) == INT32_MIN, "out of range");
        float in[3] = {32768.0f, 65537.0f, nan};
        int16_t out[3];
        serviceFloatToShort(1, in, out, 3);
        check(out[0] == -32768 && out[1] == 1 && out[2] == 0, "floatToShort wraps");
        float biased[4] = {40000.0f + 8421376.0f, -40000.0f + 8421376.0f, 1234.0f + 8421376.0f, 5.0f};
        serviceFloatToShortSaturating(biased, out, 3);
        check(out[0] == 32767 && out[1] == -32768 && out[2] == 1234 && biased[3] == 5.0f, "saturating");
        check(std::fegetround() == direction && (_mm_getcsr() & 0x6000u) == csr, "rounding state kept");
    }
    std::fesetround(FE_TONEAREST);
    check(serviceRoot(0, 9.0f, 2.0f) == 3.0f && servicePower(0, 2.0f, 10.0f) == 1024.0f, "exact maths");
    check(bits(servicePower(1, 3.25f, 1.0f)) == bits(3.25f), "power(x, 1) in mode 1");
    check(bits(serviceRoot(1, 0.25f, 2.0f)) == 0x3F000000u, "arithmetic shift in root");
    void* block = serviceAlloc(1, 100);
    check(block != nullptr && reinterpret_cast<uintptr_t>(block) % 16 == 0, "aligned alloc");
    if (block != nullptr) std::memset(block, 1, 100);
    serviceFree(1, block);
}

}  // namespace

int main() {
    checkCopies();
    checkNumbers();
    std::printf("%s\n", failures == 0 ? "service modes: all passed" : "service modes: FAILED");
    return failures == 0 ? 0 : 1;
}
