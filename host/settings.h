// The settings file: a 12-byte header and a 124-byte record, little-endian,
// kept as QELTA.cfg beside the plug-in library.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/platform.h"

struct DspArray;

constexpr int32_t kSettingsMagic = 670689;
constexpr int32_t kSettingsVersion = 3;
constexpr uint32_t kSettingsPayloadSize = 124;
constexpr size_t kSettingsHeaderSize = 12;
constexpr size_t kSettingsFileSize = kSettingsHeaderSize + kSettingsPayloadSize;  // 136
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

// The 136 bytes of a settings file holding `record`, little-endian whatever
// the host's byte order.
void EncodeSettingsFile(const SettingsRecord& record, uint8_t out[kSettingsFileSize]);

// Decodes the `size` bytes of a settings file into `record` and returns the
// ReadSettingsFile code. Only the payload bytes present are written: a short
// payload leaves the rest of `record` as it was. Fewer than 12 bytes count as
// a wrong magic.
int32_t DecodeSettings(const uint8_t* bytes, size_t size, SettingsRecord* record);

// Reads the file at `path` (opened for reading only) into `record`, as
// DecodeSettings does; -1 when it cannot be opened.
int32_t ReadSettingsFile(const char* path, SettingsRecord* record);

// Writes `record` to `path`: the whole file goes to path + ".tmp" first and
// then replaces the old file in one step, so a failure at any point leaves
// the old file as it was. An existing read-only file is never replaced (-1).
// Returns 6, 5 when a write fails, -1 when the file cannot be created.
int32_t WriteSettingsFile(const char* path, const SettingsRecord* record);

// Writes `size` bytes to `file`; true when all were written.
using SettingsChunkWriter = bool (*)(std::FILE* file, const uint8_t* bytes, size_t size);

// WriteSettingsFile with the header and the record each passed to `writer`
// (so a test can make either write fail).
int32_t WriteSettingsFileWith(const char* path, const SettingsRecord* record, SettingsChunkWriter writer);

// Reads `path` (null: no file) into the context, or applies the defaults.
void LoadSettings(const char* path, DspArray* context);

// Applies the outcome of a ReadSettingsFile to the context: for a result of 0
// the record's values, and the defaults for every parameter the file does not
// store; otherwise the defaults and the default switch state. Does no I/O and
// calls no unit entry.
void ApplySettings(int32_t readResult, const SettingsRecord& record, DspArray* context);

// The record that saving would write for the context's current values.
SettingsRecord GatherSettings(const DspArray* context);

// Writes the context's settings to the file beside the library; nothing when
// that path cannot be had.
void SaveSettings(platform::ModuleHandle module, DspArray* context);
