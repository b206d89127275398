// The one processing context: every unit block, the enable words, the
// switches, the panel and the meters.
#pragma once
#include <cstdint>

#include "framework/chain.h"
#include "framework/chain_guard.h"
#include "platform/platform.h"
#include "units/audio_filter.h"
#include "units/audio_gain.h"
#include "units/bass_boost.h"
#include "units/digital_reverb.h"
#include "units/dynamic_limiter.h"
#include "units/eq_bass_boost.h"
#include "units/field_rotation.h"
#include "units/hard_limiter.h"
#include "units/real_surround.h"
#include "units/stream_combination.h"
#include "units/surround3d.h"

struct EnableFlags {
    int32_t words[16];
};

// Words 0..3 switch their stage on at exactly 1; word 15 at exactly 38.
enum EnableWord : int {
    kEnableEqBassBoost = 0,
    kEnableDigitalReverb = 1,
    kEnableFieldRotation = 2,
    kEnableHardLimiter = 3,
    kEnableBassBoost = 15,
};
constexpr int32_t kBassBoostEnableValue = 38;

struct DspArray {
    DspServices* services;
    DspPort* ports[kUnitCount];
    AudioFilterBlock audioFilter;
    Surround3DBlock surround3D;
    StreamCombinationBlock streamCombination;
    RealSurroundBlock realSurround;
    BassBoostBlock bassBoost;
    EqBassBoostBlock eqBassBoost;
    FieldRotationBlock fieldRotation;
    AudioGainBlock audioGain;
    HardLimiterBlock hardLimiter;
    DynamicLimiterBlock dynamicLimiter;
    DigitalReverbBlock digitalReverb;
    EnableFlags enableFlags;
    int32_t initialised;
    int32_t powerOn;
    int32_t showAtStartup;
    platform::WindowHandle panel;
    int32_t meterLeft;
    int32_t meterRight;
};

// Writes the default parameter values into the unit blocks; touches nothing else.
void ApplyDefaults(DspArray* context);

// Enable words 0..2 and 4..15 to 1, word 3 to 0, powerOn and showAtStartup to 1.
void ApplyDefaultSwitchState(DspArray* context);

// Fills every block with zero bytes.
void ClearUnitBlocks(DspArray* context);

// The slot table through which the chain operations reach the context's units.
UnitChain chainOf(DspArray* context);

// The process-wide context pointer, null while no context exists. Read and
// written only while holding contextGuard().
extern DspArray* dspContext;

// The lock between the playback thread and the user-interface thread.
ChainGuard& contextGuard();
