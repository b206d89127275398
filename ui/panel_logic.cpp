#include "ui/panel_logic.h"

#include <cstdio>
#include <cstring>

#include "framework/chain.h"
#include "framework/numeric.h"
#include "host/context.h"
#include "host/settings.h"
#include "ui/panel_ids.h"

const char kPanelCaption[] = "Brimwell";
const char kAboutCaption[] = "About QELTA";
const char kInvalidSettingsText[] = "The file is not a valid settings file.";
const char kSettingsFileFilter[] = "QELTA Configuration File\0*.cfg\0";

namespace {

using platform::WindowHandle;

// One slider: its range, how a position becomes its parameter, its label and
// the unit whose update follows a change.
struct SliderBinding {
    int slider;
    int label;                 // 0: no label (the reverb sliders)
    int32_t minimum;
    int32_t maximum;
    double positionsPerUnit;   // 100: positions are hundredths; 1: the value itself
    double labelDivisor;       // the label shows value / labelDivisor
    int unit;
    float& (*parameter)(DspArray&);
};

const SliderBinding kSliders[] = {
    {kFieldSurroundSlider, kFieldSurroundValue, 100, 500, 100.0, 1.0, kSurround3D,
     [](DspArray& c) -> float& { return c.surround3D.width; }},
    {kRealSurroundSlider, kRealSurroundValue, 0, 100, 100.0, 1.0, kRealSurround,
     [](DspArray& c) -> float& { return c.realSurround.amount; }},
    {kBassSlider, kBassValue, 100, 1000, 100.0, 1.0, kEqBassBoost,
     [](DspArray& c) -> float& { return c.eqBassBoost.lowGain; }},
    {kSoftSlider, kSoftValue, 100, 350, 100.0, 1.0, kEqBassBoost,
     [](DspArray& c) -> float& { return c.eqBassBoost.highGain; }},
    {kRotationSlider, kRotationValue, 0, 360, 1.0, 1.0, kFieldRotation,
     [](DspArray& c) -> float& { return c.fieldRotation.angleDegrees; }},
    {kGainLeftSlider, kGainLeftValue, 1, 1000, 100.0, 1.0, kAudioGain,
     [](DspArray& c) -> float& { return c.audioGain.gainLeft; }},
    {kGainRightSlider, kGainRightValue, 1, 1000, 100.0, 1.0, kAudioGain,
     [](DspArray& c) -> float& { return c.audioGain.gainRight; }},
    {kLimitLeftSlider, kLimitLeftValue, 0, 32768, 1.0, 32767.0, kHardLimiter,
     [](DspArray& c) -> float& { return c.hardLimiter.limitLeft; }},
    {kLimitRightSlider, kLimitRightValue, 0, 32768, 1.0, 32767.0, kHardLimiter,
     [](DspArray& c) -> float& { return c.hardLimiter.limitRight; }},
    {kRoomSizeSlider, 0, 1, 100, 100.0, 1.0, kDigitalReverb,
     [](DspArray& c) -> float& { return c.digitalReverb.roomSize; }},
    {kWetSlider, 0, 1, 100, 100.0, 1.0, kDigitalReverb, [](DspArray& c) -> float& { return c.digitalReverb.wet; }},
    {kDrySlider, 0, 1, 100, 100.0, 1.0, kDigitalReverb, [](DspArray& c) -> float& { return c.digitalReverb.dry; }},
    {kReverbWidthSlider, 0, 1, 100, 100.0, 1.0, kDigitalReverb,
     [](DspArray& c) -> float& { return c.digitalReverb.width; }},
};
constexpr int kSliderCount = sizeof kSliders / sizeof kSliders[0];

// The boxes that show a word as checked when it is not 0 and flip it to
// 1 minus itself on a click.
struct SwitchBox {
    int box;
    int32_t& (*word)(DspArray&);
};

const SwitchBox kSwitches[] = {
    {kSuperBassBox, [](DspArray& c) -> int32_t& { return c.enableFlags.words[kEnableEqBassBoost]; }},
    {kReverbBox, [](DspArray& c) -> int32_t& { return c.enableFlags.words[kEnableDigitalReverb]; }},
    {kRotationBox, [](DspArray& c) -> int32_t& { return c.enableFlags.words[kEnableFieldRotation]; }},
    {kHardLimiterBox, [](DspArray& c) -> int32_t& { return c.enableFlags.words[kEnableHardLimiter]; }},
    {kPowerOnBox, [](DspArray& c) -> int32_t& { return c.powerOn; }},
    {kShowAtStartupBox, [](DspArray& c) -> int32_t& { return c.showAtStartup; }},
};
constexpr int kSwitchCount = sizeof kSwitches / sizeof kSwitches[0];

// A left/right pair that its "L-R" box keeps together.
struct LinkedPair {
    int box;
    int left;
    int right;
};
const LinkedPair kLinks[] = {
    {kGainLinkBox, kGainLeftSlider, kGainRightSlider},
    {kLimitLinkBox, kLimitLeftSlider, kLimitRightSlider},
};

// The order in which RefreshPanel sets the sliders and boxes.
const int kRefreshOrder[] = {
    kFieldSurroundSlider, kRealSurroundSlider, kSuperBassBox,   kBassSlider,     kSoftSlider,
    kRotationBox,         kRotationSlider,     kGainLinkBox,    kGainLeftSlider, kGainRightSlider,
    kHardLimiterBox,      kLimitLinkBox,       kLimitLeftSlider, kLimitRightSlider, kReverbBox,
    kRoomSizeSlider,      kWetSlider,          kDrySlider,      kReverbWidthSlider, kPowerOnBox,
    kShowAtStartupBox,
};

// The About box's lines.
const char kAboutFormat[] = "%s(%s)\n%s\n\nAuthor: %s\n%s\n\nWebsite: %s\nEMail: %s\n\nVersion: %d.%d.%d\n";
const char kProductName[] = "Brimwell";
const char kProductTag[] = "QELTA!";
const char kAboutNotice[] = "Audio effects for the player";
const char kAboutAuthor[] = "The Brimwell developers";
const char kAboutLocation[] = "Made wherever the player runs";
const char kAboutWebsite[] = "https://brimwell.invalid";
const char kAboutEmail[] = "brimwell@brimwell.invalid";
constexpr int kVersionMajor = 1;
constexpr int kVersionMinor = 1;
constexpr int kVersionBuild = 36;

// "%.2f" of any float divided by at most 32767 fits easily (3.4e38 gives 42
// characters); snprintf bounds it regardless.
constexpr size_t kLabelCapacity = 64;
// Label 1017 is copied to 1019 (and 1021 to 1023) through a text this size.
constexpr size_t kCopiedLabelCapacity = 256;

DspArray* currentContext() {
    ChainLock lock(contextGuard());
    return dspContext;
}

const SliderBinding& sliderBinding(int slider) {
    for (const SliderBinding& binding : kSliders)
        if (binding.slider == slider) return binding;
    return kSliders[0];  // unreachable: every caller names a slider of the table
}

// The position that shows `value`: scaled in double precision and truncated
// toward zero; values beyond the range (or NaN) stop at its ends.
int32_t positionFor(const SliderBinding& binding, float value) {
    return truncClamp(static_cast<double>(value) * binding.positionsPerUnit, binding.minimum, binding.maximum,
                      binding.minimum);
}

float valueAt(const SliderBinding& binding, int32_t position) {
    return static_cast<float>(static_cast<double>(position) / binding.positionsPerUnit);
}

void formatLabel(const SliderBinding& binding, float value, char (&text)[kLabelCapacity]) {
    std::snprintf(text, sizeof text, "%.2f", static_cast<double>(value) / binding.labelDivisor);
}

// Flips a switch word to 1 minus itself. The arithmetic wraps, so even the
// most negative word flips without overflow.
int32_t oneMinus(int32_t word) {
    return static_cast<int32_t>(static_cast<uint32_t>(1) - static_cast<uint32_t>(word));
}

// The sliders' values and the switch words, read together under the guard.
struct PanelView {
    float values[kSliderCount];
    int32_t switches[kSwitchCount];
};

PanelView readView(DspArray& context) {
    PanelView view;
    ChainLock lock(contextGuard());
    for (int i = 0; i < kSliderCount; ++i) view.values[i] = kSliders[i].parameter(context);
    for (int i = 0; i < kSwitchCount; ++i) view.switches[i] = kSwitches[i].word(context);
    return view;
}

float viewValue(const PanelView& view, int slider) {
    for (int i = 0; i < kSliderCount; ++i)
        if (kSliders[i].slider == slider) return view.values[i];
    return 0.0f;
}

void refreshSlider(WindowHandle panel, const SliderBinding& binding, float value) {
    platform::setSliderRange(panel, binding.slider, binding.minimum, binding.maximum);
    platform::setSliderPosition(panel, binding.slider, positionFor(binding, value));
    if (binding.label != 0) {
        char text[kLabelCapacity];
        formatLabel(binding, value, text);
        platform::setItemText(panel, binding.label, text);
    }
}

void refreshControl(WindowHandle panel, const PanelView& view, int id) {
    for (int i = 0; i < kSliderCount; ++i)
        if (kSliders[i].slider == id) return refreshSlider(panel, kSliders[i], view.values[i]);
    for (int i = 0; i < kSwitchCount; ++i)
        if (kSwitches[i].box == id) return platform::setCheck(panel, id, view.switches[i] != 0);
    for (const LinkedPair& link : kLinks) {
        if (link.box != id) continue;
        return platform::setCheck(panel, id, viewValue(view, link.left) == viewValue(view, link.right));
    }
}

// The other slider of a linked pair, when the pair's box is checked (exactly
// checked, not indeterminate); null otherwise.
const SliderBinding* linkedPartner(WindowHandle panel, const SliderBinding& moved) {
    for (const LinkedPair& link : kLinks) {
        if (moved.slider != link.left && moved.slider != link.right) continue;
        if (platform::checkState(panel, link.box) != platform::CheckState::Checked) return nullptr;
        return &sliderBinding(moved.slider == link.left ? link.right : link.left);
    }
    return nullptr;
}

// "L-R" clicked: both sliders to the left value's position, the left label
// copied to the right one, and the right parameter set to the left one.
void linkPair(WindowHandle panel, DspArray& context, const LinkedPair& link) {
    const SliderBinding& left = sliderBinding(link.left);
    const SliderBinding& right = sliderBinding(link.right);
    float leftValue;
    {
        ChainLock lock(contextGuard());
        leftValue = left.parameter(context);
    }
    int32_t position = positionFor(left, leftValue);
    platform::setSliderPosition(panel, left.slider, position);
    platform::setSliderPosition(panel, right.slider, position);
    char text[kCopiedLabelCapacity];
    platform::itemText(panel, left.label, text, sizeof text);
    platform::setItemText(panel, right.label, text);

    UnitChain chain = chainOf(&context);
    {
        ChainLock lock(contextGuard());
        right.parameter(context) = left.parameter(context);
        updateUnitGuarded(chain, right.unit);
    }
    finishDeferredUpdate(chain, right.unit);
}

void showAbout(WindowHandle panel) {
    char text[kAboutTextCapacity];
    formatAboutText(text, sizeof text);
    platform::messageBox(panel, text, kAboutCaption, platform::MessageIcon::Information);
}

void restoreDefaults(WindowHandle panel, DspArray& context) {
    UnitChain chain = chainOf(&context);
    {
        ChainLock lock(contextGuard());
        ApplyDefaultSwitchState(&context);
        ApplyDefaults(&context);
        updateAllGuarded(chain);
        context.powerOn = 1;
        context.showAtStartup = 1;
    }
    finishDeferredUpdates(chain);
    RefreshPanel(panel, &context);
}

// Reads the chosen file outside the guard. A file the reader does not accept
// leaves every current value alone and says so, instead of quietly putting
// the defaults in place of the user's settings.
void loadConfig(WindowHandle panel, DspArray& context) {
    char path[kSettingsFileNameCapacity];
    if (!platform::chooseExistingFile(panel, kSettingsFileFilter, path, sizeof path)) return;
    SettingsRecord record;
    std::memset(&record, 0, sizeof record);
    int32_t result = ReadSettingsFile(path, &record);
    if (result != kReadOk) {
        platform::messageBox(panel, kInvalidSettingsText, kPanelCaption, platform::MessageIcon::Error);
        return;
    }
    UnitChain chain = chainOf(&context);
    {
        ChainLock lock(contextGuard());
        ApplySettings(result, record, &context);
        updateAllGuarded(chain);
    }
    finishDeferredUpdates(chain);
    RefreshPanel(panel, &context);
}

}  // namespace

void formatAboutText(char* out, int capacity) {
    if (out == nullptr || capacity <= 0) return;
    std::snprintf(out, static_cast<size_t>(capacity), kAboutFormat, kProductName, kProductTag, kAboutNotice,
                  kAboutAuthor, kAboutLocation, kAboutWebsite, kAboutEmail, kVersionMajor, kVersionMinor,
                  kVersionBuild);
}

void RefreshPanel(WindowHandle panel, DspArray* context) {
    if (panel == nullptr || context == nullptr) return;
    PanelView view = readView(*context);
    for (int bar : {kMeterLeftBar, kMeterRightBar}) {
        platform::setProgressRange(panel, bar, 0, 32768);
        platform::setProgressPosition(panel, bar, 0);
    }
    for (int id : kRefreshOrder) refreshControl(panel, view, id);
}

void panelSliderMoved(WindowHandle panel, WindowHandle control) {
    if (control == nullptr) return;
    const SliderBinding* moved = nullptr;
    for (const SliderBinding& binding : kSliders)
        if (platform::dialogItem(panel, binding.slider) == control) moved = &binding;
    if (moved == nullptr) return;
    DspArray* context = currentContext();
    if (context == nullptr) return;

    int32_t position = platform::sliderPosition(panel, moved->slider);
    const SliderBinding* partner = linkedPartner(panel, *moved);
    if (partner != nullptr) platform::setSliderPosition(panel, partner->slider, position);
    float value = valueAt(*moved, position);

    UnitChain chain = chainOf(context);
    {
        ChainLock lock(contextGuard());
        if (partner != nullptr) partner->parameter(*context) = value;
        moved->parameter(*context) = value;
        updateUnitGuarded(chain, moved->unit);
    }
    finishDeferredUpdate(chain, moved->unit);

    if (moved->label != 0) {
        char text[kLabelCapacity];
        formatLabel(*moved, value, text);
        platform::setItemText(panel, moved->label, text);
        if (partner != nullptr) platform::setItemText(panel, partner->label, text);
    }
}

void panelClicked(WindowHandle panel, WindowHandle control) {
    if (control == nullptr) return;
    DspArray* context = currentContext();
    if (context == nullptr) return;
    auto is = [&](int id) { return platform::dialogItem(panel, id) == control; };

    if (is(kAboutButton)) return showAbout(panel);
    if (is(kOkButton)) return platform::showWindow(panel, false);
    if (is(kDefaultButton)) return restoreDefaults(panel, *context);
    if (is(kLoadConfigButton)) return loadConfig(panel, *context);
    for (const LinkedPair& link : kLinks)
        if (is(link.box)) return linkPair(panel, *context, link);
    for (const SwitchBox& entry : kSwitches) {
        if (!is(entry.box)) continue;
        ChainLock lock(contextGuard());
        int32_t& word = entry.word(*context);
        word = oneMinus(word);
        return;
    }
}

void panelTimer(WindowHandle panel) {
    DspArray* context = currentContext();
    if (context == nullptr) return;
    int32_t left;
    int32_t right;
    {
        ChainLock lock(contextGuard());
        left = context->meterLeft;
        right = context->meterRight;
    }
    platform::setProgressPosition(panel, kMeterLeftBar, left);
    platform::setProgressPosition(panel, kMeterRightBar, right);
    platform::sleepMilliseconds(1);
}
