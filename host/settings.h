// The settings file: a 12-byte header and a 124-byte record, little-endian,
// kept as QELTA.cfg beside the plug-in library.
#pragma once
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

struct DspArray;

constexpr int32_t kSettingsMagic = 670689;
constexpr int32_t kSettingsVersion = 3;
constexpr uint32_t kSettingsPayloadSize = 124;
constexpr size_t kSettingsHeaderSize = 12;
constexpr size_t kSettingsPathCapacity = 260;
extern const char kSettingsFileName[];  // "QELTA.cfg"

struct SettingsHeader {
    int32_t magic;
    int32_t version;
    uint32_t payloadSize;
};

struct SettingsRecord {
    float surroundWidth;  // Surround3DBlock width
    float surroundAmount; // RealSurroundBlock amount
    float lowGain;
    float highGain;
    float angleDegrees;
    float gainLeft;
    float gainRight;
    float limitLeft;
    float limitRight;
    float roomSize;
    float wet;
    float dry;
    float reverbWidth;    // DigitalReverbBlock width
    int32_t enableFlags[16];
    int32_t showAtStartup;
    int32_t powerOn;
};

// ReadSettingsFile results.
constexpr int32_t kReadCannotOpen = -1;
constexpr int32_t kReadOk = 0;
constexpr int32_t kReadNewerVersion = 1;
constexpr int32_t kReadOlderVersion = 2;
constexpr int32_t kReadBadMagic = 3;
constexpr int32_t kReadPayloadTooLarge = 4;
// WriteSettingsFile results.
constexpr int32_t kWriteCannotCreate = -1;
constexpr int32_t kWriteFailed = 5;
constexpr int32_t kWriteOk = 6;

// The settings path beside the library named by `module`. Returns false (and
// an empty destination) when the library path cannot be had or the result
// would not fit `size` bytes.
bool SettingsPath(platform::ModuleHandle module, char* destination, size_t size);

int32_t ReadSettingsFile(const char* path, SettingsRecord* record);
int32_t WriteSettingsFile(const char* path, const SettingsRecord* record);

// Reads `path` (null: no file) into the context, or applies the defaults.
void LoadSettings(const char* path, DspArray* context);

// Applies the outcome of a ReadSettingsFile to the context: the record for a
// result of 0, the defaults otherwise. Does no I/O.
void ApplySettings(int32_t readResult, const SettingsRecord& record, DspArray* context);

// The record that saving would write for the context's current values.
SettingsRecord GatherSettings(const DspArray* context);

// Writes the context's settings to the file beside the library.
void SaveSettings(platform::ModuleHandle module, DspArray* context);
