// The mid/side width unit and the right-channel delay unit.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include "framework/dsp_services.h"
#include "units/real_surround.h"
#include "units/surround3d.h"

namespace {

const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

// ---- Surround3D ------------------------------------------------------------

float* widen(Surround3DBlock& block, float* frame) {
    block.frames = 1;
    block.samples = frame;
    EXPECT_EQ(surround3DUnit.process(&block), 1);
    return frame;
}

TEST(Surround3D, ScalesTheSideAgainstTheMid) {
    struct Case {
        float width, left, right, expectedLeft, expectedRight;
    } cases[] = {
        {2.0f, 1000.0f, 0.0f, 1500.0f, -500.0f},
        {1.33f, 1000.0f, 0.0f, 1165.0f, -165.0f},
        {1.0f, 12345.0f, -32768.0f, 12345.0f, -32768.0f},
        {1.0f, -1.0f, 32767.0f, -1.0f, 32767.0f},
        {0.0f, 1000.0f, 0.0f, 500.0f, 500.0f},
        {5.0f, -777.0f, -777.0f, -777.0f, -777.0f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        Surround3DBlock block{};
        block.width = c.width;
        float frame[2] = {c.left, c.right};
        widen(block, frame);
        EXPECT_EQ(frame[0], c.expectedLeft);
        EXPECT_EQ(frame[1], c.expectedRight);
    }
}

TEST(Surround3D, RefusesOnlyNegativeWidths) {
    struct Case {
        float width;
        int32_t expected;
    } cases[] = {{-0.01f, 0}, {-kInf, 0}, {0.0f, 1}, {1.33f, 1}, {kNaN, 1}, {kInf, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        Surround3DBlock block{};
        block.width = c.width;
        EXPECT_EQ(surround3DUnit.init(&block), c.expected);
        EXPECT_EQ(surround3DUnit.update(&block), c.expected);
    }
}

TEST(Surround3D, EmptyPieceTouchesNothing) {
    Surround3DBlock block{};
    block.width = 2.0f;
    float frame[2] = {1000.0f, 0.0f};
    block.frames = 0;
    block.samples = frame;
    EXPECT_EQ(surround3DUnit.process(&block), 0);
    EXPECT_EQ(frame[0], 1000.0f);
    EXPECT_EQ(frame[1], 0.0f);
}

// ---- RealSurround ----------------------------------------------------------

// The block holds a 128 KiB line, so it lives on the heap.
struct Delay {
    explicit Delay(float amount) : block(new RealSurroundBlock{}) {
        block->services = createServices();
        block->amount = amount;
        EXPECT_EQ(realSurroundUnit.init(block.get()), 1);
    }
    ~Delay() { realSurroundUnit.quit(block.get()); }

    // Runs frames [start, start + count) of `samples` as one piece.
    void piece(std::vector<float>& samples, int32_t start, int32_t count) {
        block->channels = 2;
        block->frames = count;
        block->samples = samples.data() + 2 * start;
        EXPECT_EQ(realSurroundUnit.process(block.get()), count);
    }
    void run(std::vector<float>& samples, int32_t start, int32_t end, int32_t pieceFrames) {
        for (int32_t at = start; at < end; at += pieceFrames) piece(samples, at, end - at < pieceFrames ? end - at : pieceFrames);
    }

    std::unique_ptr<RealSurroundBlock> block;
};

// Frame i carries left -(i + 1) and right i + 1: every frame is recognisable.
std::vector<float> numberedFrames(int32_t frames) {
    std::vector<float> samples(2 * static_cast<size_t>(frames));
    for (int32_t i = 0; i < frames; ++i) {
        samples[2 * i] = -static_cast<float>(i + 1);
        samples[2 * i + 1] = static_cast<float>(i + 1);
    }
    return samples;
}

// Right frames [from, to) must carry the input's right channel `delay`
// frames late (silence before the input began); left must be untouched.
void expectDelayed(const std::vector<float>& output, int32_t from, int32_t to, int32_t delay) {
    for (int32_t i = from; i < to; ++i) {
        ASSERT_EQ(output[2 * i], -static_cast<float>(i + 1)) << "left of frame " << i;
        const float expected = i < delay ? 0.0f : static_cast<float>(i - delay + 1);
        ASSERT_EQ(output[2 * i + 1], expected) << "right of frame " << i << ", delay " << delay;
    }
}

TEST(RealSurround, DelaysTheRightChannelExactlyWhateverThePieceSize) {
    struct Case {
        float amount;
        int32_t pieceFrames;
        int32_t delay;
    } cases[] = {
        {0.2f, 576, 160},      {0.2f, 100, 160},      {0.2f, 4096, 160},   {0.2f, 1, 160},
        {1.0f, 576, 800},      {1.0f, 100, 800},      {0.29f, 576, 231},   {0.0f, 576, 0},
        {kNaN, 576, 0},        {-3.0f, 576, 0},       {-kInf, 1152, 0},    {15.36f, 4096, 12287}, {15.37f, 4096, 12288},
        {1e30f, 4096, 12288},  {kInf, 4096, 12288},   {15.0f, 20000, 12000},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "amount " << c.amount << ", pieces of " << c.pieceFrames);
        Delay unit(c.amount);
        std::vector<float> samples = numberedFrames(40000);
        unit.run(samples, 0, 40000, c.pieceFrames);
        expectDelayed(samples, 0, 40000, c.delay);
    }
}

TEST(RealSurround, UpdateRestartsFromSilence) {
    Delay unit(0.2f);
    std::vector<float> samples = numberedFrames(3000);
    unit.run(samples, 0, 1000, 576);
    EXPECT_EQ(realSurroundUnit.update(unit.block.get()), 1);
    unit.run(samples, 1000, 3000, 576);
    for (int32_t i = 1000; i < 3000; ++i) {
        const float expected = i < 1160 ? 0.0f : static_cast<float>(i - 160 + 1);
        ASSERT_EQ(samples[2 * i + 1], expected) << "frame " << i;
    }
}

// A settings change that reaches the unit without an update still ends in
// the new delay, and never runs past the line.
TEST(RealSurround, AmountChangedWithoutResetSettlesOnTheNewDelay) {
    struct Case {
        float before, after;
        int32_t delay;
    } cases[] = {{0.2f, 1.0f, 800}, {1.0f, 0.2f, 160}, {0.2f, 100.0f, 12288}, {100.0f, 0.0f, 0}, {0.0f, 0.5f, 400}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.before << " -> " << c.after);
        Delay unit(c.before);
        std::vector<float> samples = numberedFrames(60000);
        unit.run(samples, 0, 20000, 1152);
        unit.block->amount = c.after;
        unit.run(samples, 20000, 60000, 1152);
        expectDelayed(samples, 20000 + c.delay, 60000, c.delay);
    }
}

}  // namespace
