// The stereo field rotation.
#include <gtest/gtest.h>

#include "units/field_rotation.h"

namespace {

TEST(FieldRotation, TurnsTheFieldAsAPlaneRotation) {
    struct Case {
        float degrees, left, right;
    } cases[] = {
        {0.0f, 1000.0f, 500.0f},           {45.0f, 353.553f, 1060.660f},  {90.0f, -500.00003f, 1000.0f},
        {180.0f, -999.99994f, -500.00009f}, {270.0f, 500.0f, -1000.0f},   {360.0f, 999.99994f, 500.00018f},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.degrees);
        FieldRotationBlock block{};
        block.angleDegrees = c.degrees;
        ASSERT_EQ(fieldRotationUnit.init(&block), 1);
        float frames[4] = {1000.0f, 500.0f, 0.0f, 0.0f};
        block.frames = 2;
        block.samples = frames;
        EXPECT_EQ(fieldRotationUnit.process(&block), 2);
        EXPECT_NEAR(frames[0], c.left, 1e-3);
        EXPECT_NEAR(frames[1], c.right, 1e-3);
        EXPECT_EQ(frames[2], 0.0f);
        EXPECT_EQ(frames[3], 0.0f);
    }
}

TEST(FieldRotation, ZeroDegreesIsExactAndAnEmptyPieceTouchesNothing) {
    FieldRotationBlock block{};
    ASSERT_EQ(fieldRotationUnit.update(&block), 1);
    float frame[2] = {-32768.0f, 32767.0f};
    block.samples = frame;
    block.frames = 0;
    EXPECT_EQ(fieldRotationUnit.process(&block), 0);
    block.frames = 1;
    EXPECT_EQ(fieldRotationUnit.process(&block), 1);
    EXPECT_EQ(frame[0], -32768.0f);
    EXPECT_EQ(frame[1], 32767.0f);
}

}  // namespace
