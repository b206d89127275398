// The services' copy and allocation modes and their numeric entries.
#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#if defined(__SSE2__)
#include <xmmintrin.h>
#endif

#include "framework/dsp_services.h"
#include "framework/numeric.h"
#include "framework/service_modes.h"
#include "tests/support/alloc_hook.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();
const int kEnvironmentDirections[] = {FE_TONEAREST, FE_UPWARD, FE_DOWNWARD, FE_TOWARDZERO};

// The thread's rounding state as both units see it: the x87/C environment
// and, where there is one, the SSE control register.
struct RoundingState {
    int direction;
    unsigned sseDirection;
    bool operator==(const RoundingState& other) const {
        return direction == other.direction && sseDirection == other.sseDirection;
    }
};

RoundingState roundingState() {
#if defined(__SSE2__)
    return {std::fegetround(), _mm_getcsr() & 0x6000u};
#else
    return {std::fegetround(), 0};
#endif
}

// Restores round-to-nearest however a test ends.
struct NearestOnExit {
    ~NearestOnExit() { std::fesetround(FE_TONEAREST); }
};

// --- Rounding. ---

TEST(RoundToInt, EveryModeIgnoresTheCallersDirectionAndLeavesIt) {
    struct Case {
        float value;
        int32_t mode;
        int32_t expected;
    } cases[] = {
        {2.5f, 1, 2},      {3.5f, 1, 4},       {-2.5f, 1, -2},      {0.5f, 1, 0},     {-0.5f, 1, 0},
        {1.5f, 1, 2},      {2.6f, 1, 3},       {-2.5f, 2, -3},      {2.9f, 2, 2},     {2.1f, 3, 3},
        {-2.9f, 3, -2},    {-2.9f, 0, -2},     {-2.9f, 4, -2},      {-2.9f, 5, -2},   {-2.9f, 9, -2},
        {2.9f, -7, 2},     {2147483520.0f, 1, 2147483520},          {-2147483648.0f, 3, INT32_MIN},
    };
    const float outOfRange[] = {kNaN, -kNaN, kInf, -kInf, 2147483648.0f, -2147483904.0f, 3e9f};
    NearestOnExit restore;
    for (int direction : kEnvironmentDirections) {
        ASSERT_EQ(std::fesetround(direction), 0);
        RoundingState before = roundingState();
        for (const Case& c : cases)
            EXPECT_EQ(serviceRoundToInt(c.mode, c.value), c.expected)
                << c.value << " in mode " << c.mode << ", environment " << direction;
        for (int32_t mode = 0; mode <= 6; ++mode)
            for (float value : outOfRange) EXPECT_EQ(serviceRoundToInt(mode, value), INT32_MIN) << value;
        EXPECT_TRUE(roundingState() == before);
    }
}

TEST(FloatToShort, WrapsTheLow16BitsAndRoundsByMode) {
    struct Case {
        int environment;
        int32_t mode;
        float value;
        int16_t expected;
    } cases[] = {
        {FE_TONEAREST, 1, 32768.0f, -32768},  {FE_TONEAREST, 1, 65537.0f, 1},     {FE_TONEAREST, 1, -32769.0f, 32767},
        {FE_TONEAREST, 1, 2.5f, 2},           {FE_UPWARD, 1, 3.5f, 4},            {FE_TONEAREST, 2, -2.5f, -3},
        {FE_TONEAREST, 3, 2.1f, 3},           {FE_UPWARD, 4, -2.9f, -2},          {FE_UPWARD, 2, 2.9f, 2},
        {FE_TONEAREST, 1, 2147483520.0f, -128},  // 0x7FFFFF80
        // Modes 0, 5 and others follow the caller's direction.
        {FE_TONEAREST, 0, 2.5f, 2},           {FE_TONEAREST, 0, 2.6f, 3},         {FE_UPWARD, 0, 2.1f, 3},
        {FE_DOWNWARD, 5, -2.1f, -3},          {FE_TOWARDZERO, 9, -2.9f, -2},      {FE_UPWARD, -1, -2.9f, -2},
        // NaN and values outside 32 bits give 0.
        {FE_TONEAREST, 1, kNaN, 0},           {FE_TONEAREST, 0, kNaN, 0},         {FE_UPWARD, 3, kInf, 0},
        {FE_TONEAREST, 0, -kInf, 0},          {FE_TONEAREST, 4, 2147483648.0f, 0}, {FE_TONEAREST, 0, -3e9f, 0},
    };
    NearestOnExit restore;
    for (const Case& c : cases) {
        ASSERT_EQ(std::fesetround(c.environment), 0);
        RoundingState before = roundingState();
        int16_t out[3] = {111, 111, 111};
        float in[2] = {c.value, c.value};
        serviceFloatToShort(c.mode, in, out, 2);
        EXPECT_EQ(out[0], c.expected) << c.value << " in mode " << c.mode << ", environment " << c.environment;
        EXPECT_EQ(out[1], c.expected);
        EXPECT_EQ(out[2], 111);
        EXPECT_TRUE(roundingState() == before);
    }
    int16_t out = 111;
    float in = 5.0f;
    serviceFloatToShort(1, &in, &out, 0);
    serviceFloatToShort(1, &in, &out, -3);
    EXPECT_EQ(out, 111);
}

float biased(float sample) { return sample + 8421376.0f; }

TEST(FloatToShortSaturating, SaturatesAndRestoresTheElementAfterTheRange) {
    const float samples[] = {40000, -40000, 1234, 0, 32767, -32768, 32768, -32769, 51969, -1, -8421376, 7};
    const int16_t expected[] = {32767, -32768, 1234, 0, 32767, -32768, 32767, -32768, 32767, -1, -32768, 7};
    constexpr int count = sizeof samples / sizeof samples[0];
    // 51969 biased is the end marker's own pattern; it must not end the loop.
    ASSERT_EQ(floatBits(biased(51969)), 0x4B014B01u);

    const uint32_t sentinel = 0x7fa5a5a5;  // a signalling NaN: restored by its bits
    float source[count + 1];
    for (int i = 0; i < count; ++i) source[i] = biased(samples[i]);
    std::memcpy(&source[count], &sentinel, 4);
    int16_t out[count + 1];
    std::fill(out, out + count + 1, int16_t{99});
    serviceFloatToShortSaturating(source, out, count);
    for (int i = 0; i < count; ++i) EXPECT_EQ(out[i], expected[i]) << samples[i];
    EXPECT_EQ(out[count], 99);
    uint32_t after;
    std::memcpy(&after, &source[count], 4);
    EXPECT_EQ(after, sentinel);

    // Count 0 writes nothing, past the range included.
    std::fill(out, out + count + 1, int16_t{99});
    serviceFloatToShortSaturating(source, out, 0);
    EXPECT_EQ(out[0], 99);
    std::memcpy(&after, &source[0], 4);
    EXPECT_EQ(after, floatBits(biased(40000)));
}

// --- Power and root. ---

TEST(PowerAndRoot, ExactAndBitPatternModes) {
    EXPECT_EQ(serviceRoot(0, 9.0f, 2.0f), 3.0f);
    EXPECT_EQ(serviceRoot(0, 2.0f, 2.0f), static_cast<float>(std::sqrt(2.0)));
    EXPECT_TRUE(std::isnan(serviceRoot(0, -1.0f, 2.0f)));
    EXPECT_EQ(servicePower(0, 2.0f, 10.0f), 1024.0f);
    EXPECT_EQ(servicePower(7, 2.0f, 0.5f), static_cast<float>(std::sqrt(2.0)));
    EXPECT_EQ(serviceRoot(0, 8.0f, 3.0f), static_cast<float>(std::pow(8.0, static_cast<double>(1.0f / 3.0f))));

    struct Case {
        bool isRoot;
        float x;
        float n;
        uint32_t expectedBits;
    } cases[] = {
        {false, 2.0f, 2.0f, 0x40800000},     // 4
        {false, 3.0f, 3.0f, 0x42800000},     // log scaled by 4: 64
        {false, 2.0f, 2.9f, 0x40800000},     // exponent truncated to 2
        {false, 2.0f, 33.0f, 0x40000000},    // shift (33 - 1) mod 32 = 0
        {false, 2.0f, 0.0f, 0x3F800000},     // shift 31 pushes the offset out
        {false, 2.0f, kNaN, 0x3F800000},     // NaN counts as INT32_MIN: shift 31
        {false, 2.0f, 1e20f, 0x3F800000},
        {false, 0.5f, 2.0f, 0x3E800000},     // negative offset, shifted left: 0.25
        {true, 4.0f, 2.0f, 0x40000000},      // 2
        {true, 0.25f, 2.0f, 0x3F000000},     // arithmetic shift of a negative offset: 0.5
        {true, 256.0f, 3.0f, 0x40800000},    // log divided by 4: 4
        {true, 0.0f, 2.0f, 0x1FC00000},      // (0 - 0x3F800000) >> 1, sign kept
        {true, 2.0f, 0.0f, 0x3F800000},      // shift 31 of a positive offset
        {true, 0.5f, 0.0f, 0x3F7FFFFF},      // shift 31 of a negative offset: -1
    };
    for (const Case& c : cases) {
        float result = c.isRoot ? serviceRoot(1, c.x, c.n) : servicePower(1, c.x, c.n);
        EXPECT_EQ(floatBits(result), c.expectedBits) << (c.isRoot ? "root " : "power ") << c.x << ", " << c.n;
    }
    for (float x : {0.0f, -0.0f, 1.0f, 3.25f, -7.5f, 1e-40f, 3e38f, kInf, -kInf})
        EXPECT_EQ(floatBits(servicePower(1, x, 1.0f)), floatBits(x)) << x;
    EXPECT_EQ(floatBits(servicePower(1, floatFromBits(0x7fc01234), 1.0f)), 0x7fc01234u);
}

// --- Allocation. ---

TEST(AlignedAlloc, SixteenAlignedWithTheHeapAddressBeforeIt) {
    std::vector<void*> blocks;
    for (int32_t bytes = 0; bytes <= 100; ++bytes) {
        void* block = serviceAlloc(1, bytes);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
        uintptr_t heap;
        std::memcpy(&heap, static_cast<char*>(block) - sizeof(void*), sizeof heap);
        uintptr_t address = reinterpret_cast<uintptr_t>(block);
        EXPECT_GE(address - heap, sizeof(void*));
        EXPECT_LE(address - heap, 16u);
        std::memset(block, 0xab, static_cast<size_t>(bytes));  // every byte usable
        blocks.push_back(block);
    }
    // Freed by the mode they were made in: the heap gets back its own blocks.
    for (void* block : blocks) serviceFree(1, block);
    serviceFree(1, nullptr);
    serviceFree(0, nullptr);

    alloc_hook::arm(1);
    EXPECT_EQ(serviceAlloc(1, 100), nullptr);
    EXPECT_EQ(alloc_hook::disarm(), 1);
    EXPECT_EQ(serviceAlloc(1, -1), nullptr);
    EXPECT_EQ(serviceAlloc(0, -1), nullptr);
}

// --- Block copy. ---

void forwardCopy(unsigned char* destination, const unsigned char* source, size_t bytes) {
    for (size_t i = 0; i < bytes; ++i) destination[i] = source[i];
}

unsigned char pattern(size_t i) { return static_cast<unsigned char>(i * 131 + 7 + (i >> 8)); }

const int32_t kCopyModes[] = {0, 1, 2, 3, 8};

TEST(Copy, EveryModeMatchesAForwardCopyAtEveryAlignment) {
    constexpr size_t kRoom = 16 + 300 + 64;
    alignas(64) unsigned char source[kRoom];
    alignas(64) unsigned char destination[kRoom];
    alignas(64) unsigned char expected[kRoom];
    for (size_t i = 0; i < kRoom; ++i) source[i] = pattern(i);
    for (int32_t mode : kCopyModes) {
        for (size_t sourceOffset = 0; sourceOffset < 16; ++sourceOffset) {
            for (size_t destinationOffset = 0; destinationOffset < 16; ++destinationOffset) {
                for (int32_t length = 0; length <= 300; ++length) {
                    std::memset(destination, 0xee, kRoom);
                    std::memset(expected, 0xee, kRoom);
                    forwardCopy(expected + destinationOffset, source + sourceOffset, static_cast<size_t>(length));
                    void* result = serviceCopy(mode, destination + destinationOffset, source + sourceOffset, length);
                    ASSERT_EQ(result, destination + destinationOffset);
                    ASSERT_EQ(std::memcmp(destination, expected, kRoom), 0)
                        << "mode " << mode << ", source +" << sourceOffset << ", destination +"
                        << destinationOffset << ", " << length << " bytes";
                }
            }
        }
    }
}

TEST(Copy, EveryModeMatchesAForwardCopyWithTheDestinationBeforeTheSource) {
    constexpr size_t kRoom = 16 + 100 + 300 + 64;
    const size_t shifts[] = {1, 2, 3, 4, 7, 8, 9, 15, 16, 17, 31, 32, 33, 63, 64, 65, 100};
    alignas(64) unsigned char buffer[kRoom];
    alignas(64) unsigned char expected[kRoom];
    for (int32_t mode : kCopyModes) {
        for (size_t destinationOffset = 0; destinationOffset < 16; ++destinationOffset) {
            for (size_t shift : shifts) {
                for (int32_t length = 0; length <= 300; ++length) {
                    for (size_t i = 0; i < kRoom; ++i) buffer[i] = expected[i] = pattern(i);
                    unsigned char* destination = buffer + destinationOffset;
                    forwardCopy(expected + destinationOffset, expected + destinationOffset + shift,
                                static_cast<size_t>(length));
                    serviceCopy(mode, destination, destination + shift, length);
                    ASSERT_EQ(std::memcmp(buffer, expected, kRoom), 0)
                        << "mode " << mode << ", destination +" << destinationOffset << ", shift " << shift << ", "
                        << length << " bytes";
                }
            }
        }
    }
}

TEST(Copy, NegativeCountsCopyNothing) {
    unsigned char a[8] = {1, 2, 3, 4, 5, 6, 7, 8}, b[8] = {0};
    for (int32_t mode : kCopyModes) {
        EXPECT_EQ(serviceCopy(mode, b, a, -5), b);
        EXPECT_EQ(serviceCopy(mode, b, a, 0), b);
    }
    EXPECT_EQ(std::memcmp(b, "\0\0\0\0\0\0\0\0", 8), 0);
}

// --- Through the table, with the caller's rounding state kept. ---

TEST(ServicesTable, EntriesFollowTheConfiguredModesAndKeepTheRoundingState) {
    DspServices* services = createServices();
    NearestOnExit restore;
    for (int direction : kEnvironmentDirections) {
        ASSERT_EQ(std::fesetround(direction), 0);
        RoundingState before = roundingState();

        ServiceSettings modes{2, 1, 1, 2};
        services->configure(&modes);
        alignas(16) unsigned char buffer[200];
        for (int i = 0; i < 200; ++i) buffer[i] = static_cast<unsigned char>(i);
        services->copy(buffer + 1, buffer + 9, 150);
        EXPECT_EQ(buffer[1], 9);
        EXPECT_EQ(buffer[150], 158);
        void* block = services->alloc(100);
        ASSERT_NE(block, nullptr);
        EXPECT_EQ(reinterpret_cast<uintptr_t>(block) % 16, 0u);
        services->free(block);
        EXPECT_EQ(floatBits(services->power(2.0f, 2.0f)), 0x40800000u);
        EXPECT_EQ(floatBits(services->root(4.0f, 2.0f)), 0x40000000u);
        EXPECT_EQ(services->roundToInt(-2.5f), -3);
        float in[3] = {2.5f, biased(-40000), 0.0f};
        int16_t out[2] = {0, 0};
        services->floatToShort(in, out, 1);
        EXPECT_EQ(out[0], 2);
        services->floatToShortSaturating(in + 1, out + 1, 1);
        EXPECT_EQ(out[1], -32768);
        EXPECT_EQ(in[2], 0.0f);

        ServiceSettings standard{0, 0, 0, 1};
        services->configure(&standard);
        EXPECT_EQ(services->roundToInt(-2.5f), -2);
        // The exact maths round in the caller's direction, like any arithmetic.
        float power = services->power(2.0f, 10.0f);
        if (direction == FE_TONEAREST) {
            EXPECT_EQ(power, 1024.0f);
        }
        EXPECT_EQ(services->root(9.0f, 2.0f), 3.0f);
        block = services->alloc(10);
        services->free(block);

        EXPECT_TRUE(roundingState() == before) << direction;
    }
}

}  // namespace
