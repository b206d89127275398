#include "framework/service_modes.h"

#include <cmath>
#include <cstddef>
#include <cstring>
#include <new>

#if defined(__SSE2__)
#include <emmintrin.h>
#include <xmmintrin.h>
#endif

#include "framework/numeric.h"
#include "framework/portable_math.h"

namespace {

// --- Block copy. ---
// Every mode copies front to back and loads each piece before it stores it,
// so a destination before the source gets the bytes of a plain forward copy.

using Byte = unsigned char;

uintptr_t addressOf(const void* p) { return reinterpret_cast<uintptr_t>(p); }

// A prefetch hint for the line `offset` bytes past `p`; the address may lie
// beyond the buffer (a prefetch never faults), so it is formed as an integer.
void prefetchAhead(const Byte* p, size_t offset) {
#if defined(__SSE2__)
    _mm_prefetch(reinterpret_cast<const char*>(addressOf(p) + offset), _MM_HINT_NTA);
#else
    (void)p;
    (void)offset;
#endif
}

void storeFence() {
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

// The 64-bit non-temporal store of mode 3 (two 32-bit ones on i686).
void streamWord64(Byte* destination, uint64_t word) {
#if defined(__SSE2__) && defined(__x86_64__)
    long long value;
    std::memcpy(&value, &word, sizeof value);
    _mm_stream_si64(reinterpret_cast<long long*>(destination), value);
#elif defined(__SSE2__)
    uint32_t low = static_cast<uint32_t>(word), high = static_cast<uint32_t>(word >> 32);
    int lowValue, highValue;
    std::memcpy(&lowValue, &low, sizeof lowValue);
    std::memcpy(&highValue, &high, sizeof highValue);
    _mm_stream_si32(reinterpret_cast<int*>(destination), lowValue);
    _mm_stream_si32(reinterpret_cast<int*>(destination + 4), highValue);
#else
    std::memcpy(destination, &word, sizeof word);
#endif
}

// One 64-byte block as eight 64-bit moves.
void moveBlock64(Byte* destination, const Byte* source, bool nonTemporal) {
    for (int i = 0; i < 8; ++i) {
        uint64_t word;
        std::memcpy(&word, source + 8 * i, sizeof word);
        if (nonTemporal)
            streamWord64(destination + 8 * i, word);
        else
            std::memcpy(destination + 8 * i, &word, sizeof word);
    }
}

// One 64-byte block as four 128-bit loads and non-temporal stores; the
// destination is 16-aligned.
void moveBlock128(Byte* destination, const Byte* source, bool sourceAligned) {
#if defined(__SSE2__)
    for (int i = 0; i < 4; ++i) {
        const __m128i* from = reinterpret_cast<const __m128i*>(source + 16 * i);
        __m128i value = sourceAligned ? _mm_load_si128(from) : _mm_loadu_si128(from);
        _mm_stream_si128(reinterpret_cast<__m128i*>(destination + 16 * i), value);
    }
#else
    (void)sourceAligned;
    moveBlock64(destination, source, false);
#endif
}

// The remainder: up to 3 bytes singly; more as 32-bit words, then a 16-bit
// word for bit 1 and a byte for bit 0.
void copyTail(Byte* destination, const Byte* source, size_t bytes) {
    if (bytes <= 3) {
        for (size_t i = 0; i < bytes; ++i) destination[i] = source[i];
        return;
    }
    size_t words = bytes / 4;
    for (size_t i = 0; i < words; ++i) {
        uint32_t word;
        std::memcpy(&word, source, sizeof word);
        std::memcpy(destination, &word, sizeof word);
        source += 4;
        destination += 4;
    }
    if (bytes & 2) {
        uint16_t half;
        std::memcpy(&half, source, sizeof half);
        std::memcpy(destination, &half, sizeof half);
        source += 2;
        destination += 2;
    }
    if (bytes & 1) *destination = *source;
}

enum class BlockKind { Wide64, Stream128, Stream64 };

void blockCopy(BlockKind kind, Byte* destination, const Byte* source, size_t bytes) {
    if (bytes >= 64) {
        const uintptr_t alignment = kind == BlockKind::Stream128 ? 16 : 8;
        while (addressOf(destination) % alignment != 0) {
            *destination++ = *source++;
            --bytes;
        }
        const bool prefetch = kind != BlockKind::Wide64;
        if (prefetch)
            for (size_t line = 0; line < 5; ++line) prefetchAhead(source, 64 * line);
        const bool sourceAligned = addressOf(source) % 16 == 0;
        while (bytes >= 64) {
            if (prefetch) prefetchAhead(source, 5 * 64);
            switch (kind) {
            case BlockKind::Wide64: moveBlock64(destination, source, false); break;
            case BlockKind::Stream64: moveBlock64(destination, source, true); break;
            case BlockKind::Stream128: moveBlock128(destination, source, sourceAligned); break;
            }
            destination += 64;
            source += 64;
            bytes -= 64;
        }
        if (prefetch) storeFence();
    }
    copyTail(destination, source, bytes);
}

// --- Numbers. ---

// Rounds to an integer-valued double in the direction of `roundMode` without
// touching the floating-point environment: 1 nearest (ties to even), 2 down,
// 3 up, anything else toward zero.
double roundInDirection(int32_t roundMode, double value) {
    switch (roundMode) {
    case 1: {
        double below = std::floor(value);
        double fraction = value - below;  // exact for every float
        if (fraction > 0.5) return below + 1.0;
        if (fraction < 0.5) return below;
        return std::fmod(below, 2.0) == 0.0 ? below : below + 1.0;
    }
    case 2: return std::floor(value);
    case 3: return std::ceil(value);
    default: return std::trunc(value);
    }
}

bool fitsInt32(double value) { return value >= -2147483648.0 && value < 2147483648.0; }

// The low 16 bits of `value` as a signed 16-bit number.
int16_t low16(uint32_t value) {
    int32_t low = static_cast<int32_t>(value & 0xFFFFu);
    return static_cast<int16_t>(low >= 0x8000 ? low - 0x10000 : low);
}

uint32_t toUnsigned(int32_t value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// The shift count of the bit-pattern approximation: (n - 1) mod 32, with n
// the exponent truncated toward zero (NaN and out-of-range count as INT32_MIN,
// the processor's own answer for them).
unsigned approximationShift(float exponent) {
    int32_t n = truncToInt32(exponent, INT32_MIN);
    return (toUnsigned(n) - 1u) & 31u;
}

constexpr uint32_t kOneBits = 0x3F800000u;
constexpr uint32_t kSaturatingEndMarker = 0x4B014B01u;

}  // namespace

void* serviceCopy(int32_t copyMode, void* destination, const void* source, int32_t bytes) {
    if (bytes <= 0) return destination;
    size_t count = static_cast<size_t>(bytes);
    Byte* to = static_cast<Byte*>(destination);
    const Byte* from = static_cast<const Byte*>(source);
    switch (copyMode) {
    case 1: blockCopy(BlockKind::Wide64, to, from, count); break;
    case 2: blockCopy(BlockKind::Stream128, to, from, count); break;
    case 3: blockCopy(BlockKind::Stream64, to, from, count); break;
    default: std::memmove(destination, source, count); break;
    }
    return destination;
}

// Heap blocks go through the nothrow operator new so that one hook (a
// replaced operator new in a test) sees every allocation the plug-in makes.
// In mode 1 the block is 16-aligned and the heap address sits in the word
// just before it; operator new's own alignment leaves room for that word.
static_assert(__STDCPP_DEFAULT_NEW_ALIGNMENT__ >= sizeof(void*), "room for the heap address");

void* serviceAlloc(int32_t allocMode, int32_t bytes) {
    if (bytes < 0) return nullptr;
    if (allocMode != 1) return ::operator new(static_cast<size_t>(bytes), std::nothrow);
    void* heap = ::operator new(static_cast<size_t>(bytes) + 16, std::nothrow);
    if (heap == nullptr) return nullptr;
    Byte* aligned = static_cast<Byte*>(heap) + (16 - addressOf(heap) % 16);
    std::memcpy(aligned - sizeof heap, &heap, sizeof heap);
    return aligned;
}

void serviceFree(int32_t allocMode, void* block) {
    if (block == nullptr) return;
    if (allocMode != 1) {
        ::operator delete(block);
        return;
    }
    void* heap;
    std::memcpy(&heap, static_cast<Byte*>(block) - sizeof heap, sizeof heap);
    ::operator delete(heap);
}

float servicePower(int32_t mathMode, float base, float exponent) {
    if (mathMode == 1) {
        uint32_t scaled = (floatBits(base) - kOneBits) << approximationShift(exponent);
        return floatFromBits(scaled + kOneBits);
    }
    return static_cast<float>(portablePow(static_cast<double>(base), static_cast<double>(exponent)));
}

float serviceRoot(int32_t mathMode, float value, float degree) {
    if (mathMode == 1) {
        uint32_t offset = floatBits(value) - kOneBits;
        unsigned shift = approximationShift(degree);
        // Arithmetic shift right, spelled out on unsigned bits.
        uint32_t shifted = offset >> shift;
        if ((offset & 0x80000000u) != 0) shifted |= ~(0xFFFFFFFFu >> shift);
        return floatFromBits(shifted + kOneBits);
    }
    if (degree == 2.0f) return static_cast<float>(std::sqrt(static_cast<double>(value)));
    float r = static_cast<float>(1.0 / static_cast<double>(degree));
    return static_cast<float>(portablePow(static_cast<double>(value), static_cast<double>(r)));
}

int32_t serviceRoundToInt(int32_t roundMode, float value) {
    double v = value;
    if (!fitsInt32(v)) return INT32_MIN;
    return static_cast<int32_t>(roundInDirection(roundMode, v));
}

void serviceFloatToShort(int32_t roundMode, const float* source, int16_t* destination, int32_t count) {
    if (source == nullptr || destination == nullptr) return;
    const bool ownDirection = roundMode >= 1 && roundMode <= 4;
    for (int32_t i = 0; i < count; ++i) {
        double v = source[i];
        // nearbyint follows the thread's current rounding direction and
        // leaves the environment as it found it.
        double rounded = ownDirection ? roundInDirection(roundMode, v) : std::nearbyint(v);
        destination[i] = fitsInt32(rounded) ? low16(toUnsigned(static_cast<int32_t>(rounded))) : 0;
    }
}

void serviceFloatToShortSaturating(float* source, int16_t* destination, int32_t count) {
    if (count <= 0 || source == nullptr || destination == nullptr) return;
    // The end marker sits past the range for the call's duration. The loop
    // itself runs by count: an element that happens to hold the marker's
    // pattern (the sample 51969) is converted like any other instead of
    // cutting the conversion short.
    float saved;
    std::memcpy(&saved, source + count, sizeof saved);
    const uint32_t marker = kSaturatingEndMarker;
    std::memcpy(source + count, &marker, sizeof marker);
    for (int32_t i = 0; i < count; ++i) {
        uint32_t bits;
        std::memcpy(&bits, source + i, sizeof bits);
        uint32_t high = bits >> 16;
        if (high == 0x4B00u) {
            destination[i] = low16((bits & 0xFFFFu) ^ 0x8000u);
            continue;
        }
        int16_t distance = low16(high - 0x4B00u);
        destination[i] = distance < 0 ? int16_t{-32768} : int16_t{32767};
    }
    std::memcpy(source + count, &saved, sizeof saved);
}
