#include "host/settings.h"

#include <array>
#include <cstring>

#include "framework/dsp_services.h"
#include "host/context.h"

const char kSettingsFileName[] = "QELTA.cfg";

namespace {

constexpr size_t kFloatCount = 13;
constexpr size_t kEnableOffset = 52;
constexpr size_t kShowAtStartupOffset = 116;
constexpr size_t kPowerOnOffset = 120;
constexpr char kTemporarySuffix[] = ".tmp";
// Room for any path the system accepts, plus a process number and the suffix.
constexpr size_t kTemporaryPathCapacity = 4096 + 24 + sizeof kTemporarySuffix;

// Floats travel as their bit patterns through memcpy, never as float values:
// a value load (on i686 through the x87 stack) could quiet a signalling NaN.
void copyFloatBits(float* to, const float* from) { std::memcpy(to, from, sizeof(float)); }

uint32_t getU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}

void putU32(uint8_t* p, uint32_t value) {
    p[0] = static_cast<uint8_t>(value);
    p[1] = static_cast<uint8_t>(value >> 8);
    p[2] = static_cast<uint8_t>(value >> 16);
    p[3] = static_cast<uint8_t>(value >> 24);
}

int32_t getI32(const uint8_t* p) {
    uint32_t bits = getU32(p);
    int32_t value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

void putI32(uint8_t* p, int32_t value) {
    uint32_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    putU32(p, bits);
}

void putFloat(uint8_t* p, const float* value) {
    uint32_t bits;
    std::memcpy(&bits, value, sizeof bits);
    putU32(p, bits);
}

void getFloat(const uint8_t* p, float* value) {
    uint32_t bits = getU32(p);
    std::memcpy(value, &bits, sizeof bits);
}

// The record's floats in file order.
template <typename Record>
auto recordFloats(Record& r) {
    using Pointer = decltype(&r.surroundWidth);
    return std::array<Pointer, kFloatCount>{&r.surroundWidth, &r.surroundAmount, &r.lowGain,   &r.highGain,
                                            &r.angleDegrees,  &r.gainLeft,       &r.gainRight, &r.limitLeft,
                                            &r.limitRight,    &r.roomSize,       &r.wet,       &r.dry,
                                            &r.reverbWidth};
}

// The context parameters those floats belong to, in the same order.
template <typename Context>
auto contextFloats(Context& c) {
    using Pointer = decltype(&c.surround3D.width);
    return std::array<Pointer, kFloatCount>{
        &c.surround3D.width,         &c.realSurround.amount,     &c.eqBassBoost.lowGain,  &c.eqBassBoost.highGain,
        &c.fieldRotation.angleDegrees, &c.audioGain.gainLeft,    &c.audioGain.gainRight,  &c.hardLimiter.limitLeft,
        &c.hardLimiter.limitRight,   &c.digitalReverb.roomSize,  &c.digitalReverb.wet,    &c.digitalReverb.dry,
        &c.digitalReverb.width};
}

void encodeRecord(const SettingsRecord& record, uint8_t* out) {
    auto floats = recordFloats(record);
    for (size_t i = 0; i < kFloatCount; ++i) putFloat(out + 4 * i, floats[i]);
    for (size_t k = 0; k < 16; ++k) putI32(out + kEnableOffset + 4 * k, record.enableFlags[k]);
    putI32(out + kShowAtStartupOffset, record.showAtStartup);
    putI32(out + kPowerOnOffset, record.powerOn);
}

void decodeRecord(const uint8_t* bytes, SettingsRecord* record) {
    auto floats = recordFloats(*record);
    for (size_t i = 0; i < kFloatCount; ++i) getFloat(bytes + 4 * i, floats[i]);
    for (size_t k = 0; k < 16; ++k) record->enableFlags[k] = getI32(bytes + kEnableOffset + 4 * k);
    record->showAtStartup = getI32(bytes + kShowAtStartupOffset);
    record->powerOn = getI32(bytes + kPowerOnOffset);
}

// The enable words go through the services' copy, as every bulk copy in the
// plug-in does; a context without services (a test, a tool) copies directly.
void copyEnableWords(const DspServices* services, int32_t* to, const int32_t* from) {
    const int32_t bytes = 16 * sizeof(int32_t);
    if (services != nullptr && services->copy != nullptr)
        services->copy(to, from, bytes);
    else
        std::memmove(to, from, bytes);
}

bool writeWithStdio(std::FILE* file, const uint8_t* bytes, size_t size) {
    return std::fwrite(bytes, 1, size, file) == size;
}

}  // namespace

bool SettingsPath(platform::ModuleHandle module, char* destination, size_t size) {
    if (destination == nullptr || size == 0) return false;
    destination[0] = '\0';
    char libraryPath[kSettingsPathCapacity] = {0};
    if (!platform::moduleFilePath(module, libraryPath, sizeof libraryPath)) return false;
    char* cut = std::strrchr(libraryPath, '\\');
#if !defined(_WIN32)
    if (char* slash = std::strrchr(libraryPath, '/'); slash != nullptr && (cut == nullptr || slash > cut)) cut = slash;
#endif
    size_t directoryLength = cut ? static_cast<size_t>(cut - libraryPath) + 1 : 0;
    size_t nameLength = sizeof kSettingsFileName - 1;
    // Never a truncated path: one that does not fit means no settings file.
    if (directoryLength + nameLength + 1 > size || directoryLength + nameLength + 1 > kSettingsPathCapacity) return false;
    std::memcpy(destination, libraryPath, directoryLength);
    std::memcpy(destination + directoryLength, kSettingsFileName, nameLength + 1);
    return true;
}

void EncodeSettingsFile(const SettingsRecord& record, uint8_t out[kSettingsFileSize]) {
    putI32(out, kSettingsMagic);
    putI32(out + 4, kSettingsVersion);
    putU32(out + 8, kSettingsPayloadSize);
    encodeRecord(record, out + kSettingsHeaderSize);
}

int32_t DecodeSettings(const uint8_t* bytes, size_t size, SettingsRecord* record) {
    if (bytes == nullptr || size < kSettingsHeaderSize) return kReadBadMagic;
    if (getI32(bytes) != kSettingsMagic) return kReadBadMagic;
    uint32_t payloadSize = getU32(bytes + 8);
    if (payloadSize > kSettingsPayloadSize) return kReadPayloadTooLarge;

    size_t available = size - kSettingsHeaderSize;
    if (available > payloadSize) available = payloadSize;
    if (record != nullptr) {
        // Overlay the bytes present on the record's own encoding, so the
        // bytes the file does not supply keep their values.
        uint8_t payload[kSettingsPayloadSize];
        encodeRecord(*record, payload);
        std::memcpy(payload, bytes + kSettingsHeaderSize, available);
        decodeRecord(payload, record);
    }

    int32_t version = getI32(bytes + 4);
    if (version > kSettingsVersion) return kReadNewerVersion;
    if (version < kSettingsVersion) return kReadOlderVersion;
    return kReadOk;
}

int32_t ReadSettingsFile(const char* path, SettingsRecord* record) {
    if (path == nullptr) return kReadCannotOpen;
    // Reading only: a file that cannot be written is still a settings file.
    std::FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return kReadCannotOpen;
    uint8_t bytes[kSettingsFileSize];
    size_t size = std::fread(bytes, 1, sizeof bytes, file);
    std::fclose(file);
    return DecodeSettings(bytes, size, record);
}

int32_t WriteSettingsFileWith(const char* path, const SettingsRecord* record, SettingsChunkWriter writer) {
    if (path == nullptr || record == nullptr || writer == nullptr) return kWriteCannotCreate;
    // A read-only settings file is the user's decision to keep it as it is.
    if (platform::isReadOnlyFile(path)) return kWriteCannotCreate;

    // The temporary beside the file carries the process number, so two
    // players saving at the same moment never write into each other's.
    char temporaryPath[kTemporaryPathCapacity];
    int length = std::snprintf(temporaryPath, sizeof temporaryPath, "%s.%lu%s", path,
                               static_cast<unsigned long>(platform::processId()), kTemporarySuffix);
    if (length < 0 || static_cast<size_t>(length) >= sizeof temporaryPath) return kWriteCannotCreate;

    uint8_t bytes[kSettingsFileSize];
    EncodeSettingsFile(*record, bytes);

    std::FILE* file = std::fopen(temporaryPath, "wb");
    if (file == nullptr) return kWriteCannotCreate;
    bool written = writer(file, bytes, kSettingsHeaderSize) &&
                   writer(file, bytes + kSettingsHeaderSize, kSettingsPayloadSize) && platform::flushFileToDisk(file);
    bool closed = std::fclose(file) == 0;
    if (!written || !closed) {
        platform::deleteFile(temporaryPath);
        return kWriteFailed;
    }
    if (!platform::replaceFile(temporaryPath, path)) {
        platform::deleteFile(temporaryPath);
        return kWriteCannotCreate;
    }
    return kWriteOk;
}

int32_t WriteSettingsFile(const char* path, const SettingsRecord* record) {
    return WriteSettingsFileWith(path, record, writeWithStdio);
}

void ApplySettings(int32_t readResult, const SettingsRecord& record, DspArray* context) {
    if (context == nullptr) return;
    // Every parameter the file does not store gets its default, bass and
    // treble of the FFT equaliser included (it can only be switched on by a
    // file, and 0/0 would make it useless).
    ApplyDefaults(context);
    if (readResult != kReadOk) {
        ApplyDefaultSwitchState(context);
        return;
    }
    auto from = recordFloats(record);
    auto to = contextFloats(*context);
    for (size_t i = 0; i < kFloatCount; ++i) copyFloatBits(to[i], from[i]);
    copyEnableWords(context->services, context->enableFlags.words, record.enableFlags);
    context->showAtStartup = record.showAtStartup;
    context->powerOn = record.powerOn;
}

void LoadSettings(const char* path, DspArray* context) {
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    int32_t result = path != nullptr ? ReadSettingsFile(path, &record) : kReadCannotOpen;
    ApplySettings(result, record, context);
}

SettingsRecord GatherSettings(const DspArray* context) {
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    if (context == nullptr) return record;
    copyEnableWords(context->services, record.enableFlags, context->enableFlags.words);
    record.showAtStartup = context->showAtStartup;
    record.powerOn = context->powerOn;
    auto from = contextFloats(*context);
    auto to = recordFloats(record);
    for (size_t i = 0; i < kFloatCount; ++i) copyFloatBits(to[i], from[i]);
    return record;
}

void SaveSettings(platform::ModuleHandle module, DspArray* context) {
    if (context == nullptr) return;
    char path[kSettingsPathCapacity];
    if (!SettingsPath(module, path, sizeof path)) return;
    SettingsRecord record = GatherSettings(context);
    WriteSettingsFile(path, &record);
}
