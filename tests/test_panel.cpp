// The control panel driven through the stand-in dialog: what each message
// does to the context and to the controls.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <atomic>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "framework/numeric.h"
#include "host/context.h"
#include "host/lifecycle.h"
#include "host/settings.h"
#include "platform/platform.h"
#include "tests/support/plugin_loader.h"
#include "ui/panel_ids.h"
#include "ui/panel_logic.h"

namespace {

using platform::WindowHandle;

constexpr uintptr_t kScrollThumbTrack = 5;
constexpr uintptr_t kCancelCommand = 2;
constexpr uintptr_t kDoubleClickedNotification = 5;

winampDSPModule* playerModule() {
    winampDSPModule* module = winampDSPGetHeader2()->getModule(0);
    module->hwndParent = reinterpret_cast<WindowHandle>(0x1234);
    module->hDllInstance = nullptr;
    return module;
}

// Records every update entry the panel causes (and still runs the real one).
struct UpdateSpy {
    static DspArray* context;
    static UnitEntry originals[kUnitCount];
    static std::vector<int> calls;

    static int32_t record(void* block) {
        UnitChain chain = chainOf(context);
        for (int i = 0; i < kUnitCount; ++i) {
            if (chain.slots[i].block != block) continue;
            calls.push_back(i);
            return originals[i](block);
        }
        ADD_FAILURE() << "update with an unknown block";
        return 0;
    }
    static void install(DspArray* c) {
        context = c;
        calls.clear();
        for (int i = 0; i < kUnitCount; ++i) {
            originals[i] = c->ports[i]->update;
            c->ports[i]->update = &record;
        }
    }
};
DspArray* UpdateSpy::context = nullptr;

// After Default or Load Config: every port's update ran once, except the FFT
// equaliser's, which is updated through its split capture and design; its
// gains show it was (bass 130 gives band 2 the gain 21/50).
void expectEveryUnitUpdated() {
    std::vector<int> expected;
    const int order[kUnitCount] = {0, 5, 2, 3, 4, 6, 7, 8, 9, 10, 1};
    for (int index : order)
        if (index != kBassBoost) expected.push_back(index);
    EXPECT_EQ(UpdateSpy::calls, expected);
    EXPECT_FLOAT_EQ(UpdateSpy::context->bassBoost.gains0[2], 0.42f);
}
UnitEntry UpdateSpy::originals[kUnitCount];
std::vector<int> UpdateSpy::calls;

class PanelTest : public ::testing::Test {
protected:
    void SetUp() override {
        directory_ = makeTempDirectory();
        platform::overrideModulePath((directory_ + "/dsp_brimwell.so").c_str());
        platform::standInAnswerFileDialog(nullptr);
        ASSERT_EQ(pluginInit(playerModule()), 0);
        context_ = dspContext;
        panel_ = context_->panel;
        ASSERT_NE(panel_, nullptr);
        UpdateSpy::install(context_);
        platform::clearRecordedMessages();
    }
    void TearDown() override {
        if (dspContext != nullptr) pluginQuit(playerModule());
        platform::overrideModulePath(nullptr);
    }

    WindowHandle item(int id) const { return platform::dialogItem(panel_, id); }
    int32_t position(int id) const { return platform::sliderPosition(panel_, id); }
    std::string text(int id) const { return platform::standInControl(panel_, id).text; }
    bool checked(int id) const { return platform::checkState(panel_, id) == platform::CheckState::Checked; }

    intptr_t send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
        return platform::standInSend(panel_, message, wParam, lParam);
    }
    // The user drags a slider: the control moves, then tells the dialog.
    void moveSlider(int id, int32_t to) {
        platform::setSliderPosition(panel_, id, to);
        send(platform::kMsgHScroll, kScrollThumbTrack, reinterpret_cast<intptr_t>(item(id)));
    }
    void click(int id) {
        send(platform::kMsgCommand, static_cast<uintptr_t>(id), reinterpret_cast<intptr_t>(item(id)));
    }
    // An automatic check box flips its own mark before it reports the click.
    void clickBox(int id) {
        platform::setCheck(panel_, id, !checked(id));
        click(id);
    }
    void refresh() { RefreshPanel(panel_, context_); }

    std::string writeFile(const std::string& name, const void* bytes, size_t size) {
        std::string path = directory_ + "/" + name;
        std::FILE* file = std::fopen(path.c_str(), "wb");
        EXPECT_NE(file, nullptr);
        if (file != nullptr) {
            std::fwrite(bytes, 1, size, file);
            std::fclose(file);
        }
        return path;
    }

    std::string directory_;
    DspArray* context_ = nullptr;
    WindowHandle panel_ = nullptr;
};

// The thirteen parameters the panel shows, in slider-table order.
using Field = float* (*)(DspArray&);
enum FieldIndex {
    kWidth3D, kAmount, kLowGain, kHighGain, kAngle, kGainL, kGainR,
    kLimitL, kLimitR, kRoom, kWet, kDry, kReverbWidth, kFieldCount
};
const Field kFields[kFieldCount] = {
    [](DspArray& c) { return &c.surround3D.width; },       [](DspArray& c) { return &c.realSurround.amount; },
    [](DspArray& c) { return &c.eqBassBoost.lowGain; },    [](DspArray& c) { return &c.eqBassBoost.highGain; },
    [](DspArray& c) { return &c.fieldRotation.angleDegrees; }, [](DspArray& c) { return &c.audioGain.gainLeft; },
    [](DspArray& c) { return &c.audioGain.gainRight; },    [](DspArray& c) { return &c.hardLimiter.limitLeft; },
    [](DspArray& c) { return &c.hardLimiter.limitRight; }, [](DspArray& c) { return &c.digitalReverb.roomSize; },
    [](DspArray& c) { return &c.digitalReverb.wet; },      [](DspArray& c) { return &c.digitalReverb.dry; },
    [](DspArray& c) { return &c.digitalReverb.width; },
};

// Everything the panel can change, bit for bit, to tell "nothing changed".
struct Snapshot {
    uint32_t fields[kFieldCount];
    EnableFlags flags;
    int32_t powerOn, showAtStartup, bass, treble;

    explicit Snapshot(DspArray& c) {
        for (int i = 0; i < kFieldCount; ++i) fields[i] = floatBits(*kFields[i](c));
        flags = c.enableFlags;
        powerOn = c.powerOn;
        showAtStartup = c.showAtStartup;
        bass = c.bassBoost.bass;
        treble = c.bassBoost.treble;
    }
    bool operator==(const Snapshot& other) const { return std::memcmp(this, &other, sizeof *this) == 0; }
};

struct SliderView {
    int slider;
    int32_t minimum, maximum, position;
    int label;          // 0: none
    const char* text;
};

TEST_F(PanelTest, DefaultsShowOnEveryControl) {
    const SliderView expected[] = {
        {kFieldSurroundSlider, 100, 500, 133, kFieldSurroundValue, "1.33"},
        {kRealSurroundSlider, 0, 100, 20, kRealSurroundValue, "0.20"},
        {kBassSlider, 100, 1000, 320, kBassValue, "3.20"},
        {kSoftSlider, 100, 350, 120, kSoftValue, "1.20"},
        {kRotationSlider, 0, 360, 0, kRotationValue, "0.00"},
        {kGainLeftSlider, 1, 1000, 100, kGainLeftValue, "1.00"},
        {kGainRightSlider, 1, 1000, 100, kGainRightValue, "1.00"},
        {kLimitLeftSlider, 0, 32768, 32767, kLimitLeftValue, "1.00"},
        {kLimitRightSlider, 0, 32768, 32767, kLimitRightValue, "1.00"},
        {kRoomSizeSlider, 1, 100, 40, 0, nullptr},
        {kWetSlider, 1, 100, 34, 0, nullptr},  // 0.35f * 100 is just below 35
        {kDrySlider, 1, 100, 76, 0, nullptr},  // 0.77f * 100 is just below 77
        {kReverbWidthSlider, 1, 100, 50, 0, nullptr},
    };
    for (const SliderView& e : expected) {
        platform::StandInControl slider = platform::standInControl(panel_, e.slider);
        EXPECT_EQ(slider.minimum, e.minimum) << e.slider;
        EXPECT_EQ(slider.maximum, e.maximum) << e.slider;
        EXPECT_EQ(slider.position, e.position) << e.slider;
        if (e.label != 0) {
            EXPECT_EQ(text(e.label), e.text) << e.label;
        }
    }
    for (int box : {kSuperBassBox, kReverbBox, kRotationBox, kGainLinkBox, kLimitLinkBox, kPowerOnBox,
                    kShowAtStartupBox})
        EXPECT_TRUE(checked(box)) << box;
    EXPECT_FALSE(checked(kHardLimiterBox));
    for (int bar : {kMeterLeftBar, kMeterRightBar}) {
        platform::StandInControl meter = platform::standInControl(panel_, bar);
        EXPECT_EQ(meter.minimum, 0);
        EXPECT_EQ(meter.maximum, 32768);
        EXPECT_EQ(meter.position, 0);
    }

    // The limit labels divide by 32767, so the top of the range reads 1.00 too.
    context_->hardLimiter.limitLeft = 32768.0f;
    refresh();
    EXPECT_EQ(position(kLimitLeftSlider), 32768);
    EXPECT_EQ(text(kLimitLeftValue), "1.00");
    EXPECT_FALSE(checked(kLimitLinkBox));
}


TEST_F(PanelTest, EachSliderSetsOnlyItsParameterAndUpdatesItsUnit) {
    // Unlinked, so that each move changes one parameter.
    platform::setCheck(panel_, kGainLinkBox, false);
    platform::setCheck(panel_, kLimitLinkBox, false);
    struct Move {
        int slider;
        int32_t to;
        FieldIndex field;
        float value;
        int label;  // 0: none
        const char* text;
        int unit;
    } moves[] = {
        {kFieldSurroundSlider, 250, kWidth3D, 2.5f, kFieldSurroundValue, "2.50", kSurround3D},
        {kRealSurroundSlider, 55, kAmount, static_cast<float>(55 / 100.0), kRealSurroundValue, "0.55", kRealSurround},
        {kBassSlider, 1000, kLowGain, 10.0f, kBassValue, "10.00", kEqBassBoost},
        {kSoftSlider, 333, kHighGain, static_cast<float>(333 / 100.0), kSoftValue, "3.33", kEqBassBoost},
        {kRotationSlider, 359, kAngle, 359.0f, kRotationValue, "359.00", kFieldRotation},
        {kGainLeftSlider, 1, kGainL, static_cast<float>(1 / 100.0), kGainLeftValue, "0.01", kAudioGain},
        {kGainRightSlider, 1000, kGainR, 10.0f, kGainRightValue, "10.00", kAudioGain},
        {kLimitLeftSlider, 16384, kLimitL, 16384.0f, kLimitLeftValue, "0.50", kHardLimiter},
        {kLimitRightSlider, 0, kLimitR, 0.0f, kLimitRightValue, "0.00", kHardLimiter},
        {kRoomSizeSlider, 77, kRoom, static_cast<float>(77 / 100.0), 0, nullptr, kDigitalReverb},
        {kWetSlider, 12, kWet, static_cast<float>(12 / 100.0), 0, nullptr, kDigitalReverb},
        {kDrySlider, 100, kDry, 1.0f, 0, nullptr, kDigitalReverb},
        // The width slider sets the reverb's width from its own position.
        {kReverbWidthSlider, 3, kReverbWidth, static_cast<float>(3 / 100.0), 0, nullptr, kDigitalReverb},
    };
    for (const Move& move : moves) {
        SCOPED_TRACE(move.slider);
        Snapshot before(*context_);
        UpdateSpy::calls.clear();
        moveSlider(move.slider, move.to);

        Snapshot after(*context_);
        EXPECT_EQ(after.fields[move.field], floatBits(move.value));
        after.fields[move.field] = before.fields[move.field];
        EXPECT_TRUE(after == before) << "another value changed";
        EXPECT_EQ(UpdateSpy::calls, std::vector<int>{move.unit});
        if (move.label != 0) {
            EXPECT_EQ(text(move.label), move.text);
        }
    }
}

TEST_F(PanelTest, LinkedPairsMoveTogetherOnlyWhileTheirBoxIsChecked) {
    struct Case {
        int box, slider, other, label, otherLabel;
        FieldIndex field, otherField;
        int32_t to;
        float value;
        const char* text;
        int unit;
    } cases[] = {
        {kGainLinkBox, kGainLeftSlider, kGainRightSlider, kGainLeftValue, kGainRightValue, kGainL, kGainR, 250, 2.5f,
         "2.50", kAudioGain},
        {kGainLinkBox, kGainRightSlider, kGainLeftSlider, kGainRightValue, kGainLeftValue, kGainR, kGainL, 7,
         static_cast<float>(7 / 100.0), "0.07", kAudioGain},
        {kLimitLinkBox, kLimitRightSlider, kLimitLeftSlider, kLimitRightValue, kLimitLeftValue, kLimitR, kLimitL,
         16384, 16384.0f, "0.50", kHardLimiter},
    };
    for (const Case& c : cases) {
        for (bool linked : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.slider << (linked ? " linked" : " unlinked"));
            click(kDefaultButton);
            platform::setCheck(panel_, c.box, linked);
            float otherBefore = *kFields[c.otherField](*context_);
            std::string otherTextBefore = text(c.otherLabel);
            int32_t otherPositionBefore = position(c.other);
            UpdateSpy::calls.clear();
            moveSlider(c.slider, c.to);

            EXPECT_EQ(*kFields[c.field](*context_), c.value);
            EXPECT_EQ(text(c.label), c.text);
            EXPECT_EQ(UpdateSpy::calls, std::vector<int>{c.unit});  // once, also for two parameters
            if (linked) {
                EXPECT_EQ(*kFields[c.otherField](*context_), c.value);
                EXPECT_EQ(position(c.other), c.to);
                EXPECT_EQ(text(c.otherLabel), c.text);
            } else {
                EXPECT_EQ(*kFields[c.otherField](*context_), otherBefore);
                EXPECT_EQ(position(c.other), otherPositionBefore);
                EXPECT_EQ(text(c.otherLabel), otherTextBefore);
            }
        }
    }
}

TEST_F(PanelTest, CheckingLinkCopiesLeftToRightAndClearingChangesNothing) {
    struct Case {
        int box, left, right, leftLabel, rightLabel;
        FieldIndex leftField, rightField;
        int32_t rightTo;
        int unit;
    } cases[] = {
        {kGainLinkBox, kGainLeftSlider, kGainRightSlider, kGainLeftValue, kGainRightValue, kGainL, kGainR, 300,
         kAudioGain},
        {kLimitLinkBox, kLimitLeftSlider, kLimitRightSlider, kLimitLeftValue, kLimitRightValue, kLimitL, kLimitR, 5,
         kHardLimiter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.box);
        clickBox(c.box);  // clears it: copies left to right, which are equal anyway
        ASSERT_FALSE(checked(c.box));
        moveSlider(c.right, c.rightTo);
        ASSERT_NE(*kFields[c.rightField](*context_), *kFields[c.leftField](*context_));
        refresh();
        EXPECT_FALSE(checked(c.box)) << "shown unchecked while the pair differs";

        UpdateSpy::calls.clear();
        clickBox(c.box);
        EXPECT_TRUE(checked(c.box));
        EXPECT_EQ(*kFields[c.rightField](*context_), *kFields[c.leftField](*context_));
        EXPECT_EQ(position(c.right), position(c.left));
        EXPECT_EQ(text(c.rightLabel), text(c.leftLabel));
        EXPECT_EQ(UpdateSpy::calls, std::vector<int>{c.unit});

        Snapshot linked(*context_);
        clickBox(c.box);
        EXPECT_TRUE(Snapshot(*context_) == linked);
    }
}

TEST_F(PanelTest, SwitchBoxesFlipTheirWordWithoutUpdates) {
    struct Case {
        int box;
        int32_t* (*word)(DspArray&);
    } cases[] = {
        {kSuperBassBox, [](DspArray& c) { return &c.enableFlags.words[0]; }},
        {kReverbBox, [](DspArray& c) { return &c.enableFlags.words[1]; }},
        {kRotationBox, [](DspArray& c) { return &c.enableFlags.words[2]; }},
        {kHardLimiterBox, [](DspArray& c) { return &c.enableFlags.words[3]; }},
        {kPowerOnBox, [](DspArray& c) { return &c.powerOn; }},
        {kShowAtStartupBox, [](DspArray& c) { return &c.showAtStartup; }},
    };
    // From a settings file a word can hold anything; a click makes it 1 minus
    // itself, and the box shows any word but 0 as checked.
    struct Flip {
        int32_t from, to;
        bool shownBefore, shownAfter;
    } flips[] = {
        {1, 0, true, false},
        {0, 1, false, true},
        {2, -1, true, true},
        {std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::min() + 1, true, true},  // wraps
    };
    for (const Case& c : cases) {
        for (const Flip& f : flips) {
            SCOPED_TRACE(testing::Message() << c.box << " from " << f.from);
            *c.word(*context_) = f.from;
            refresh();
            EXPECT_EQ(checked(c.box), f.shownBefore);
            Snapshot before(*context_);
            UpdateSpy::calls.clear();
            clickBox(c.box);
            EXPECT_EQ(*c.word(*context_), f.to);
            refresh();
            EXPECT_EQ(checked(c.box), f.shownAfter);
            *c.word(*context_) = f.from;
            EXPECT_TRUE(Snapshot(*context_) == before) << "only the box's word changes";
            EXPECT_TRUE(UpdateSpy::calls.empty());
        }
    }
}

TEST_F(PanelTest, DefaultRestoresEverythingAndSwitchesTheFftEqualiserOff) {
    context_->enableFlags.words[kEnableBassBoost] = kBassBoostEnableValue;
    context_->enableFlags.words[kEnableHardLimiter] = 1;
    context_->enableFlags.words[7] = 0;
    context_->powerOn = 0;
    context_->showAtStartup = 0;
    context_->bassBoost.bass = 0;
    context_->digitalReverb.damping = 0.9f;
    for (int i = 0; i < kFieldCount; ++i) *kFields[i](*context_) = 0.125f;
    refresh();
    UpdateSpy::calls.clear();

    click(kDefaultButton);

    const int32_t defaultFlags[16] = {1, 1, 1, 0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1};
    EXPECT_EQ(std::memcmp(context_->enableFlags.words, defaultFlags, sizeof defaultFlags), 0);
    EXPECT_EQ(context_->powerOn, 1);
    EXPECT_EQ(context_->showAtStartup, 1);
    EXPECT_EQ(context_->bassBoost.bass, 130);
    EXPECT_EQ(context_->digitalReverb.damping, 0.5f);
    EXPECT_EQ(context_->surround3D.width, 1.33f);
    EXPECT_EQ(context_->hardLimiter.limitRight, 32767.0f);
    expectEveryUnitUpdated();
    // And the panel shows them.
    EXPECT_EQ(position(kFieldSurroundSlider), 133);
    EXPECT_EQ(text(kFieldSurroundValue), "1.33");
    EXPECT_EQ(position(kWetSlider), 34);
    EXPECT_TRUE(checked(kPowerOnBox));
    EXPECT_FALSE(checked(kHardLimiterBox));
}

// A 136-byte settings file: the header, then the record as stored.
std::vector<uint8_t> settingsFile(int32_t magic, int32_t version, uint32_t payload, const SettingsRecord& record) {
    std::vector<uint8_t> bytes(12 + sizeof record);
    SettingsHeader header{magic, version, payload};
    std::memcpy(bytes.data(), &header, 12);
    std::memcpy(bytes.data() + 12, &record, sizeof record);
    return bytes;
}

SettingsRecord sampleRecord() {
    SettingsRecord r;
    std::memset(&r, 0, sizeof r);
    r.surroundWidth = 4.0f;
    r.surroundAmount = 0.5f;
    r.lowGain = 6.5f;
    r.highGain = 3.0f;
    r.angleDegrees = 90.0f;
    r.gainLeft = 2.0f;
    r.gainRight = 3.0f;
    r.limitLeft = 16384.0f;
    r.limitRight = 16384.0f;
    r.roomSize = 0.9f;
    r.wet = 0.5f;
    r.dry = 0.25f;
    r.reverbWidth = 1.0f;
    for (int32_t& word : r.enableFlags) word = 1;
    r.enableFlags[kEnableDigitalReverb] = 0;
    r.enableFlags[kEnableHardLimiter] = 1;
    r.enableFlags[kEnableBassBoost] = kBassBoostEnableValue;
    r.showAtStartup = 0;
    r.powerOn = 1;
    return r;
}

TEST_F(PanelTest, LoadConfigOfAValidFileAppliesAndShowsIt) {
    std::vector<uint8_t> bytes = settingsFile(kSettingsMagic, 3, 124, sampleRecord());
    std::string path = writeFile("chosen.cfg", bytes.data(), bytes.size());
    platform::standInAnswerFileDialog(path.c_str());
    size_t dialogsBefore = platform::standInFileDialogs().size();

    click(kLoadConfigButton);

    std::vector<platform::RecordedFileDialog> dialogs = platform::standInFileDialogs();
    ASSERT_EQ(dialogs.size(), dialogsBefore + 1);
    EXPECT_EQ(dialogs.back().owner, panel_);
    EXPECT_EQ(dialogs.back().filter, std::string("QELTA Configuration File\0*.cfg\0", 31));
    EXPECT_EQ(dialogs.back().capacity, 1024u);
    EXPECT_TRUE(platform::recordedMessages().empty());

    EXPECT_EQ(context_->surround3D.width, 4.0f);
    EXPECT_EQ(context_->audioGain.gainRight, 3.0f);
    EXPECT_EQ(context_->digitalReverb.width, 1.0f);
    EXPECT_EQ(context_->enableFlags.words[kEnableBassBoost], kBassBoostEnableValue);
    EXPECT_EQ(context_->enableFlags.words[kEnableDigitalReverb], 0);
    EXPECT_EQ(context_->showAtStartup, 0);
    expectEveryUnitUpdated();

    EXPECT_EQ(position(kFieldSurroundSlider), 400);
    EXPECT_EQ(text(kFieldSurroundValue), "4.00");
    EXPECT_EQ(position(kRotationSlider), 90);
    EXPECT_EQ(position(kGainRightSlider), 300);
    EXPECT_FALSE(checked(kGainLinkBox));
    EXPECT_TRUE(checked(kLimitLinkBox));
    EXPECT_EQ(text(kLimitRightValue), "0.50");
    EXPECT_EQ(position(kDrySlider), 25);
    EXPECT_TRUE(checked(kHardLimiterBox));
    EXPECT_FALSE(checked(kReverbBox));
    EXPECT_FALSE(checked(kShowAtStartupBox));
}

TEST_F(PanelTest, LoadConfigOfAnUnusableFileKeepsEverythingAndSaysSo) {
    SettingsRecord record = sampleRecord();
    std::vector<uint8_t> wrongMagic = settingsFile(670690, 3, 124, record);
    std::vector<uint8_t> newer = settingsFile(kSettingsMagic, 4, 124, record);
    std::vector<uint8_t> older = settingsFile(kSettingsMagic, 2, 124, record);
    std::vector<uint8_t> oversized = settingsFile(kSettingsMagic, 3, 125, record);
    struct Case {
        const char* name;
        const std::vector<uint8_t>* bytes;
        size_t size;
    } cases[] = {
        {"magic.cfg", &wrongMagic, wrongMagic.size()}, {"newer.cfg", &newer, newer.size()},
        {"older.cfg", &older, older.size()},           {"oversized.cfg", &oversized, oversized.size()},
        {"short.cfg", &wrongMagic, 7},                 {"empty.cfg", &wrongMagic, 0},
    };
    // Some values of the user's own, to see that they survive.
    moveSlider(kFieldSurroundSlider, 222);
    clickBox(kPowerOnBox);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = writeFile(c.name, c.bytes->data(), c.size);
        Snapshot before(*context_);
        platform::clearRecordedMessages();
        UpdateSpy::calls.clear();
        platform::standInAnswerFileDialog(path.c_str());

        click(kLoadConfigButton);

        EXPECT_TRUE(Snapshot(*context_) == before);
        EXPECT_TRUE(UpdateSpy::calls.empty());
        EXPECT_EQ(position(kFieldSurroundSlider), 222);
        EXPECT_FALSE(checked(kPowerOnBox));
        std::vector<platform::RecordedMessage> messages = platform::recordedMessages();
        ASSERT_EQ(messages.size(), 1u);
        EXPECT_EQ(messages[0].owner, panel_);
        EXPECT_EQ(messages[0].caption, "Brimwell");
        EXPECT_EQ(messages[0].text, "The file is not a valid settings file.");
    }

    // A cancelled dialog changes nothing and says nothing.
    Snapshot before(*context_);
    platform::clearRecordedMessages();
    platform::standInAnswerFileDialog(nullptr);
    click(kLoadConfigButton);
    EXPECT_TRUE(Snapshot(*context_) == before);
    EXPECT_TRUE(platform::recordedMessages().empty());
}

TEST_F(PanelTest, ValuesOutsideASlidersRangeStopAtItsEnds) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    char huge[64];
    std::snprintf(huge, sizeof huge, "%.2f", static_cast<double>(3e38f) / 32767.0);
    struct Case {
        FieldIndex field;
        float value;
        int slider, label;
        int32_t expected;
        std::string text;  // the value as it is, not the clamped one
    } cases[] = {
        {kWidth3D, 7.5f, kFieldSurroundSlider, kFieldSurroundValue, 500, "7.50"},
        {kAngle, -90.0f, kRotationSlider, kRotationValue, 0, "-90.00"},
        {kAngle, 1e30f, kRotationSlider, kRotationValue, 360, "1000000015047466219876688855040.00"},
        {kGainL, nan, kGainLeftSlider, kGainLeftValue, 1, "nan"},
        {kGainR, -inf, kGainRightSlider, kGainRightValue, 1, "-inf"},
        {kLowGain, inf, kBassSlider, kBassValue, 1000, "inf"},
        {kLimitL, 3e38f, kLimitLeftSlider, kLimitLeftValue, 32768, huge},
        {kLimitR, -1.0f, kLimitRightSlider, kLimitRightValue, 0, "-0.00"},
        {kWet, 2e9f, kWetSlider, 0, 100, ""},
        {kDry, nan, kDrySlider, 0, 1, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.slider << " at " << c.value);
        click(kDefaultButton);
        *kFields[c.field](*context_) = c.value;
        refresh();
        EXPECT_EQ(position(c.slider), c.expected);
        if (c.label != 0) {
            EXPECT_EQ(text(c.label), c.text);
        }
    }
}

TEST_F(PanelTest, TimerShowsTheMeters) {
    struct Case {
        int32_t left, right;
    } cases[] = {{1234, 32768}, {0, 77}, {32768, 0}};
    for (const Case& c : cases) {
        context_->meterLeft = c.left;
        context_->meterRight = c.right;
        EXPECT_EQ(send(platform::kMsgTimer, 1, 0), 0);
        EXPECT_EQ(position(kMeterLeftBar), c.left);
        EXPECT_EQ(position(kMeterRightBar), c.right);
    }
    // Whatever the timer's identifier.
    context_->meterLeft = 5;
    send(platform::kMsgTimer, 99, 0);
    EXPECT_EQ(position(kMeterLeftBar), 5);
}

TEST_F(PanelTest, OkHidesAndConfigurationShowsTheSamePanelAgain) {
    moveSlider(kBassSlider, 512);
    ASSERT_TRUE(platform::standInWindowVisible(panel_));
    Snapshot before(*context_);
    click(kOkButton);
    EXPECT_FALSE(platform::standInWindowVisible(panel_));
    EXPECT_TRUE(platform::standInWindowExists(panel_));
    EXPECT_TRUE(Snapshot(*context_) == before);

    pluginConfig(playerModule());
    EXPECT_TRUE(platform::standInWindowVisible(panel_));
    EXPECT_EQ(context_->panel, panel_);
    EXPECT_EQ(position(kBassSlider), 512);
    EXPECT_EQ(text(kBassValue), "5.12");
}

TEST_F(PanelTest, AboutShowsItsTextOwnedByThePanel) {
    click(kAboutButton);
    std::vector<platform::RecordedMessage> messages = platform::recordedMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].owner, panel_);
    EXPECT_EQ(messages[0].caption, "About QELTA");
    EXPECT_EQ(messages[0].icon, platform::MessageIcon::Information);
    EXPECT_EQ(messages[0].text,
              "Brimwell(QELTA!)\nAudio effects for the player\n\nAuthor: The Brimwell developers\n"
              "Made wherever the player runs\n\nWebsite: https://brimwell.invalid\n"
              "EMail: brimwell@brimwell.invalid\n\nVersion: 1.1.36\n");
}

TEST_F(PanelTest, MessagesFromOtherWindowsAreIgnored) {
    WindowHandle other = platform::createDialog(nullptr, 102, nullptr, nullptr);
    WindowHandle foreign[] = {nullptr, reinterpret_cast<WindowHandle>(0x1234), other,
                              platform::dialogItem(other, kGainLeftSlider), item(kFieldSurroundValue),
                              item(kMeterLeftBar), item(kDefaultButton), item(kSuperBassBox)};
    Snapshot before(*context_);
    size_t dialogsBefore = platform::standInFileDialogs().size();
    for (WindowHandle window : foreign) {
        EXPECT_EQ(send(platform::kMsgHScroll, kScrollThumbTrack, reinterpret_cast<intptr_t>(window)), 0);
        if (window == item(kDefaultButton) || window == item(kSuperBassBox)) continue;  // real buttons
        for (int id : {kDefaultButton, kOkButton, kLoadConfigButton, kPowerOnBox, kAboutButton})
            EXPECT_EQ(send(platform::kMsgCommand, static_cast<uintptr_t>(id), reinterpret_cast<intptr_t>(window)), 0);
    }
    // Escape's cancel carries no control; a double click is not a click.
    send(platform::kMsgCommand, kCancelCommand, 0);
    send(platform::kMsgCommand, kOkButton | (kDoubleClickedNotification << 16),
         reinterpret_cast<intptr_t>(item(kOkButton)));
    send(platform::kMsgCommand, kPowerOnBox | (kDoubleClickedNotification << 16),
         reinterpret_cast<intptr_t>(item(kPowerOnBox)));
    // Messages the panel does not handle.
    EXPECT_EQ(send(0x0002 /* destroy */, 0, 0), 0);

    EXPECT_TRUE(Snapshot(*context_) == before);
    EXPECT_TRUE(UpdateSpy::calls.empty());
    EXPECT_TRUE(platform::standInWindowVisible(panel_));
    EXPECT_TRUE(platform::recordedMessages().empty());
    EXPECT_EQ(platform::standInFileDialogs().size(), dialogsBefore);
    EXPECT_EQ(position(kFieldSurroundSlider), 133);
    platform::destroyWindow(other);
}

// Every panel action while the playback thread processes blocks: the
// parameter writes, updates, flips and meter reads all go through the guard
// (ThreadSanitizer runs this one).
TEST_F(PanelTest, ConcurrentPlaybackWhilePanelChangesEverything) {
    std::atomic<bool> stop{false};
    std::atomic<int> badCounts{0};
    std::thread playback([&] {
        static int16_t block[1152 * 2];
        while (!stop.load()) {
            for (int i = 0; i < 1152 * 2; ++i) block[i] = static_cast<int16_t>((i * 977) % 30000 - 15000);
            int32_t produced = ModifySamples(playerModule(), block, 1152, 16, 2, 44100);
            if (produced < 0 || produced > 1152) ++badCounts;
            std::this_thread::yield();  // a player pauses between blocks
        }
    });
    const int sliders[] = {kFieldSurroundSlider, kRealSurroundSlider, kBassSlider,     kSoftSlider, kRotationSlider,
                           kGainLeftSlider,      kGainRightSlider,    kLimitLeftSlider, kLimitRightSlider,
                           kRoomSizeSlider,      kWetSlider,          kDrySlider,      kReverbWidthSlider};
    const int boxes[] = {kSuperBassBox, kReverbBox,   kRotationBox, kHardLimiterBox,
                         kPowerOnBox,   kGainLinkBox, kLimitLinkBox};
    for (int round = 0; round < 8; ++round) {
        for (int slider : sliders) moveSlider(slider, round * 37);
        for (int repeat = 0; repeat < 50; ++repeat)
            for (int box : boxes) clickBox(box);
        send(platform::kMsgTimer, 1, 0);
        if (round % 4 == 3) click(kDefaultButton);
    }
    stop.store(true);
    playback.join();
    EXPECT_EQ(badCounts.load(), 0);
}

}  // namespace
