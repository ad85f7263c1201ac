#include "anim/CvkController.h"

#include "anim/tests/AnimTestKit.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// Keys as one record each, read by the controller through strides.
struct Key {
    float time;
    float value;
    float in[2];
    float out[2];
};

class ControllerTest : public AnimTest {
protected:
    // Points `c` at `keys`; tangents only when asked.
    static void attach(CvkController& c, std::vector<Key>& keys, bool tangents = true)
    {
        const int s = sizeof(Key);
        c.setupBuffer(CVK_CTRL_FRAME, &keys[0].time, 1, s);
        c.setupBuffer(CVK_CTRL_VALUE, &keys[0].value, 1, s);
        c.setupBuffer(CVK_CTRL_INPARAM, tangents ? keys[0].in : nullptr, 2, s);
        c.setupBuffer(CVK_CTRL_OUTPARAM, tangents ? keys[0].out : nullptr, 2, s);
        c.setKeyCount(static_cast<int>(keys.size()));
    }
};

TEST_F(ControllerTest, DefaultsAndReadiness)
{
    CvkController c;
    EXPECT_EQ(c.GetTag(), 0x42415345u);
    EXPECT_EQ(c.getInterpolate(), 3);
    EXPECT_EQ(c.getRepeat(), 0);
    EXPECT_EQ(c.getCurrentIdx(), CVK_CTRL_CACHE_CLEARED);
    for (int ch = 0; ch < 4; ++ch) {
        EXPECT_EQ(c.getDataDim(ch), 1);
        EXPECT_EQ(c.hasBuffer(ch), 0);
    }
    EXPECT_EQ(c.getDataDim(4), 0);
    EXPECT_EQ(c.setupBuffer(4, nullptr, 1, 4), 0);
    EXPECT_EQ(c.setupBuffer(0, nullptr, 0, 4), 0);

    // No keys: evaluation and key search fail, nothing is read.
    float v = 0.0f;
    int i = 5, j = 5;
    EXPECT_EQ(c.eval(1.0f, &v), 0);
    EXPECT_EQ(c.findKeys(1.0f, &i, &j), 0);
    EXPECT_EQ(i, -1);
    EXPECT_EQ(j, -1);
    c.CurrentIdxInit(0.0f);
    EXPECT_EQ(c.getCurrentIdx(), -1);
    EXPECT_EQ(c.findKeysUseCash(1.0f, &i, &j), 0);

    std::vector<Key> keys = {{0, 0, {}, {}}, {10, 1, {}, {}}};
    attach(c, keys, false);
    EXPECT_EQ(c.InitBuffCheck(), 0); // tangents missing
    attach(c, keys, true);
    EXPECT_EQ(c.InitBuffCheck(), 1);
    EXPECT_EQ(c.eval(1.0f, nullptr), 0);
    c.setKeyCount(0);
    EXPECT_EQ(c.IsReady(), 0);
    EXPECT_EQ(c.eval(1.0f, &v), 0);
}

TEST_F(ControllerTest, LinearAndRepeatModes)
{
    std::vector<Key> keys = {{0, 0, {}, {}}, {10, 1, {}, {}}};
    CvkController c;
    attach(c, keys);
    c.setInterpolate(CVK_CTRL_INTERPOLATE_LINEAR);
    struct Case {
        uint8_t repeat;
        float t;
        float expect;
    } cases[] = {
        {0, 5, 0.5f},   {0, -3, 0.0f},  {0, 13, 1.0f},  {0, 0, 0.0f},   {0, 10, 1.0f},
        {1, 12, 0.2f},  {1, -3, 0.7f},  {1, 20, 0.0f},  {1, 37, 0.7f},  {1, 5, 0.5f},
        {2, 12, 0.8f},  {2, 22, 0.2f},  {2, -3, 0.3f},  {2, -13, 0.7f}, {2, 30, 1.0f},
        {9, 13, 1.0f}, // unknown repeat modes do not fold
    };
    for (const Case& k : cases) {
        c.setRepeat(k.repeat);
        EXPECT_NEAR(at(c, k.t), k.expect, 1e-6f) << "repeat " << int(k.repeat) << " t=" << k.t;
    }
    c.setRepeat(2);
    EXPECT_NEAR(c.LoopFrameCalc(22.0f), 2.0f, 1e-6f);
    EXPECT_EQ(c.LoopFrameCalc(4.0f), 4.0f);
}

TEST_F(ControllerTest, StepSmoothAndEqualValues)
{
    std::vector<Key> keys = {{0, 2, {}, {}}, {4, 6, {}, {}}, {8, 6, {}, {}}};
    CvkController c;
    attach(c, keys);

    for (uint8_t mode : {uint8_t(0), uint8_t(7)}) { // step and an unknown mode
        c.setInterpolate(mode);
        EXPECT_EQ(at(c, 3.9f), 2.0f);
        EXPECT_EQ(at(c, 4.0f), 6.0f);
    }
    c.setInterpolate(CVK_CTRL_INTERPOLATE_SMOOTH);
    EXPECT_FLOAT_EQ(at(c, 2.0f), 4.0f);             // u = 0.5: the mean
    EXPECT_FLOAT_EQ(at(c, 1.0f), 2.0f + 4 * 0.15625f); // u = 0.25
    c.setInterpolate(CVK_CTRL_INTERPOLATE_LINEAR);
    keys[1].value = keys[2].value = 0.3f;
    EXPECT_EQ(at(c, 5.3f), 0.3f); // exactly the first value
}

TEST_F(ControllerTest, WeightedTangents)
{
    std::vector<Key> keys = {{0, 0, {}, {}}, {10, 5, {}, {}}};
    CvkController c;
    attach(c, keys);
    c.setInterpolate(CVK_CTRL_INTERPOLATE_WEIGHTED);

    // Unit weights and slopes dv/dt: linear.
    keys[0].out[0] = keys[1].in[0] = 0.5f;
    keys[0].out[1] = keys[1].in[1] = 1.0f;
    for (float t : {0.5f, 2.5f, 5.0f, 7.25f, 9.9f})
        EXPECT_NEAR(at(c, t), 0.5f * t, 1e-4f) << "t=" << t;

    // Unit weights and flat slopes: the smooth curve.
    keys[0].out[0] = keys[1].in[0] = 0.0f;
    EXPECT_NEAR(at(c, 2.5f), 5 * 0.15625f, 1e-4f);
    EXPECT_NEAR(at(c, 5.0f), 2.5f, 1e-4f);

    // Heavier out-weight on key 0 with a steep slope bends the curve up
    // early; the segment still ends on the key values.
    keys[0].out[0] = 2.0f;
    keys[0].out[1] = 2.0f;
    float early = at(c, 2.0f);
    EXPECT_GT(early, 0.5f * 2.0f);
    EXPECT_NEAR(at(c, 9.999f), 5.0f, 1e-2f);

    // Without tangent arrays the smooth preset applies: here the slope of
    // the chord with weight 1, which is linear again.
    CvkController d;
    attach(d, keys, false);
    d.setInterpolate(CVK_CTRL_INTERPOLATE_WEIGHTED);
    EXPECT_NEAR(at(d, 4.0f), 2.0f, 1e-4f);

    // In-tangent arrays of dimension 1 give weight 1.
    keys[0].out[0] = keys[1].in[0] = 0.0f;
    d.setupBuffer(CVK_CTRL_INPARAM, keys[0].in, 1, sizeof(Key));
    d.setupBuffer(CVK_CTRL_OUTPARAM, keys[0].out, 1, sizeof(Key));
    keys[0].out[1] = keys[1].in[1] = 5.0f; // ignored
    EXPECT_NEAR(at(d, 2.5f), 5 * 0.15625f, 1e-4f);
}

TEST_F(ControllerTest, WeightedModeSameWithoutBoot)
{
    std::vector<Key> keys = {{0, 1, {0, 0}, {3, 0.4f}}, {2, 4, {-1, 1.7f}, {0, 0}}, {3, 0, {}, {}}};
    CvkController c;
    attach(c, keys);
    std::vector<float> booted;
    for (float t = -0.5f; t < 3.5f; t += 0.125f)
        booted.push_back(at(c, t));
    CvkController_SysEnd();
    size_t k = 0;
    for (float t = -0.5f; t < 3.5f; t += 0.125f)
        EXPECT_EQ(at(c, t), booted[k++]) << "t=" << t;
    EXPECT_EQ(CvkController_SysBoot(), 1);
}

TEST_F(ControllerTest, VectorValues)
{
    struct V3 {
        float time;
        float v[3];
    };
    std::vector<V3> keys = {{0, {0, 10, -1}}, {2, {2, 20, 1}}};
    CvkController c;
    c.setupBuffer(CVK_CTRL_FRAME, &keys[0].time, 1, sizeof(V3));
    c.setupBuffer(CVK_CTRL_VALUE, keys[0].v, 3, sizeof(V3));
    c.setKeyCount(2);
    c.setInterpolate(CVK_CTRL_INTERPOLATE_LINEAR);
    float out[3];
    ASSERT_EQ(c.eval(0.5f, out), 1);
    EXPECT_FLOAT_EQ(out[0], 0.5f);
    EXPECT_FLOAT_EQ(out[1], 12.5f);
    EXPECT_FLOAT_EQ(out[2], -0.5f);
    ASSERT_EQ(c.eval(5.0f, out), 1);
    EXPECT_EQ(out[1], 20.0f);

    float ref = 1.0f;
    EXPECT_EQ(c.makeOffset(ref), 1);
    EXPECT_EQ(keys[1].v[0], 1.0f);
    EXPECT_EQ(keys[1].v[1], 19.0f);
    EXPECT_EQ(keys[1].v[2], 0.0f);

    const float nv[3] = {7, 8, 9};
    EXPECT_EQ(c.setValue(0, nv), 1);
    EXPECT_EQ(keys[0].v[2], 9.0f);
    EXPECT_EQ(c.getValue(1), keys[1].v);
}

TEST_F(ControllerTest, SingleKeyAndZeroLengthRange)
{
    std::vector<Key> keys = {{3, 7, {}, {}}};
    CvkController c;
    attach(c, keys);
    int i, j;
    EXPECT_EQ(c.findKeys(-100.0f, &i, &j), 1);
    EXPECT_EQ(i, 0);
    EXPECT_EQ(j, 0);
    for (uint8_t r : {uint8_t(0), uint8_t(1), uint8_t(2)}) {
        c.setRepeat(r);
        EXPECT_EQ(at(c, -5.0f), 7.0f);
        EXPECT_EQ(at(c, 50.0f), 7.0f);
    }
    // Several keys at one time: folding has no range to fold into.
    keys.push_back({3, 9, {}, {}});
    attach(c, keys);
    c.setRepeat(1);
    EXPECT_EQ(c.LoopFrameCalc(5.0f), 5.0f);
    EXPECT_EQ(at(c, 5.0f), 9.0f);
    EXPECT_EQ(at(c, 1.0f), 7.0f);
}

TEST_F(ControllerTest, KeySearchWithAndWithoutCache)
{
    // Nine keys cross the four-at-a-time scan of findKeySimple.
    std::vector<Key> keys;
    for (int k = 0; k < 9; ++k)
        keys.push_back({k * 1.5f, float(k), {}, {}});
    CvkController c;
    attach(c, keys);

    struct Case {
        float t;
        int i, j, simple;
    } cases[] = {
        {-1.0f, -1, 0, 0}, {0.0f, -1, 0, 1}, {0.1f, 0, 1, 1}, {1.5f, 1, 2, 2},
        {5.9f, 3, 4, 4},   {6.0f, 4, 5, 5},  {11.9f, 7, 8, 8}, {12.0f, 8, -1, 9}, {30.0f, 8, -1, 9},
    };
    for (const Case& k : cases) {
        int i, j;
        EXPECT_EQ(c.findKeys(k.t, &i, &j), 1);
        EXPECT_EQ(i, k.i) << "t=" << k.t;
        EXPECT_EQ(j, k.j) << "t=" << k.t;
        EXPECT_EQ(c.findKeySimple(k.t), k.simple) << "t=" << k.t;
    }

    // The cached walk agrees with the binary search whatever the order of
    // the times, and keeps the key it found.
    c.CurrentIdxInit(4.0f);
    EXPECT_EQ(c.getCurrentIdx(), 3);
    const float times[] = {4.0f, 4.4f, 10.0f, 0.7f, 13.0f, 6.1f, -2.0f, 11.99f, 0.01f, 7.5f};
    for (float t : times) {
        int i, j, ci, cj;
        c.findKeys(t, &i, &j);
        EXPECT_EQ(c.findKeysUseCash(t, &ci, &cj), 1);
        EXPECT_EQ(ci, i) << "t=" << t;
        EXPECT_EQ(cj, j) << "t=" << t;
        if (i >= 0 && j >= 0) {
            EXPECT_EQ(c.getCurrentIdx(), i);
        }
    }

    // Evaluation through the cache matches evaluation without it, also
    // after the keys have become fewer than the cached index.
    c.setInterpolate(CVK_CTRL_INTERPOLATE_LINEAR);
    c.setRepeat(CVK_CTRL_REPEAT_PINGPONG);
    c.CurrentIdxInit(11.0f);
    c.setKeyCount(4);
    CvkController plain;
    attach(plain, keys);
    plain.setKeyCount(4);
    plain.setInterpolate(CVK_CTRL_INTERPOLATE_LINEAR);
    plain.setRepeat(CVK_CTRL_REPEAT_PINGPONG);
    for (float t = -8.0f; t < 16.0f; t += 0.37f)
        EXPECT_EQ(at(c, t), at(plain, t)) << "t=" << t;
    c.CurrentIdxClear();
    EXPECT_EQ(c.getCurrentIdx(), CVK_CTRL_CACHE_CLEARED);
}

TEST_F(ControllerTest, FindKeyWithTolerance)
{
    std::vector<Key> keys = {{0, 0, {}, {}}, {1, 0, {}, {}}, {1.2f, 0, {}, {}}, {3, 0, {}, {}}};
    CvkController c;
    attach(c, keys);
    EXPECT_EQ(c.findKey(1.05f, 0.1f), 1);
    EXPECT_EQ(c.findKey(1.15f, 0.1f), 2); // the later, nearer key counts too
    EXPECT_EQ(c.findKey(2.0f, 0.1f), -1);
    EXPECT_EQ(c.findKey(2.95f, 0.1f), 3);
    EXPECT_EQ(c.findKey(3.05f, 0.1f), 3);
    EXPECT_EQ(c.isKey(0.0f, 1e-4f), 1);
    EXPECT_EQ(c.isKey(0.5f, 1e-4f), 0);
}

TEST_F(ControllerTest, TangentPresets)
{
    std::vector<Key> keys = {{0, 0, {}, {}}, {1, 2, {}, {}}, {3, 6, {}, {}}, {3.0000001f, 9, {}, {}}};
    CvkController c;
    attach(c, keys);
    struct Case {
        int key, preset;
        float slope, weight;
    } cases[] = {
        {1, 0, 2.0f, 1.0f}, {1, 1, 2.0f, 0.5f}, {1, 2, 2.0f, 2.0f}, {1, 3, 0.0f, 0.0f},
        {0, 0, 2.0f, 1.0f}, // missing neighbour: the key itself
        {3, 0, 0.0f, 1.0f}, // neighbours closer than 1e-6 in time
    };
    for (const Case& k : cases) {
        float in[2] = {-1, -1}, out[2] = {-1, -1};
        ASSERT_EQ(c.evalParams(k.key, k.preset, in, out), 1);
        EXPECT_FLOAT_EQ(in[0], k.slope) << k.key << "/" << k.preset;
        EXPECT_FLOAT_EQ(in[1], k.weight);
        EXPECT_EQ(out[0], in[0]);
        EXPECT_EQ(out[1], in[1]);
    }
    float p[2];
    EXPECT_EQ(c.evalParams(4, 0, p, p), 0);
    EXPECT_EQ(c.evalParams(-1, 0, p, p), 0);
    EXPECT_EQ(c.evalParams(1, 4, p, p), 0);
}

TEST_F(ControllerTest, AccessorsAndEditing)
{
    std::vector<Key> keys = {{0, 0, {}, {}}, {2, 1, {}, {}}, {4, 2, {}, {}}, {6, 3, {}, {}}};
    CvkController c;
    attach(c, keys);
    EXPECT_EQ(c.FrameTest(3), 1);
    EXPECT_EQ(c.FrameTest(4), 0);
    EXPECT_EQ(c.FrameTest(-1), 0);
    EXPECT_EQ(c.getFrame(2), 4.0f);
    EXPECT_EQ(c.getFrameFast(3), 6.0f);
    EXPECT_EQ(c.getFrame(4), 0.0f);
    EXPECT_EQ(c.getValue(4), nullptr);
    EXPECT_EQ(c.getInParam(-1), nullptr);
    EXPECT_EQ(c.setFrame(4, 1.0f), 0);
    const float param[2] = {0.25f, 3.0f};
    EXPECT_EQ(c.setOutParam(1, param), 1);
    EXPECT_EQ(keys[1].out[1], 3.0f);
    EXPECT_EQ(c.getOutParamFast(1), keys[1].out);
    EXPECT_EQ(c.setInParam(9, param), 0);

    // Moving keys: refused when the moved key would come too close to the
    // neighbour it moves towards.
    EXPECT_EQ(c.offsetAfter(2, -1.5f, 1.0f), 0);
    EXPECT_EQ(c.offsetAfter(2, -0.5f, 1.0f), 1);
    EXPECT_EQ(keys[1].time, 2.0f);
    EXPECT_EQ(keys[2].time, 3.5f);
    EXPECT_EQ(keys[3].time, 5.5f);
    EXPECT_EQ(c.offsetBefore(1, 1.0f, 1.0f), 0);
    EXPECT_EQ(c.offsetBefore(1, 0.25f, 1.0f), 1);
    EXPECT_EQ(keys[0].time, 0.25f);
    EXPECT_EQ(keys[1].time, 2.25f);
    EXPECT_EQ(keys[2].time, 3.5f);
    EXPECT_EQ(c.offsetAfter(0, -10.0f, 1.0f), 1); // no previous key to test
    EXPECT_EQ(keys[0].time, -9.75f);
    EXPECT_EQ(c.offsetAfter(4, 1.0f, 0.0f), 0);
    EXPECT_EQ(c.offsetBefore(-1, 1.0f, 0.0f), 0);

    // Scale about time 0, then offset.
    EXPECT_EQ(c.scale(2.0f, 1.0f), 1);
    EXPECT_EQ(keys[0].time, -18.5f);
    EXPECT_EQ(keys[3].time, -8.0f);
    EXPECT_EQ(keys[3].value, 3.0f);

    float o = 0;
    const float a = 5.0f, b = 2.0f;
    EXPECT_EQ(c.computeOffset(&o, &a, &b), 1);
    EXPECT_EQ(o, 3.0f);
    EXPECT_EQ(c.weightValue(&o, &a, 0.5f), 1);
    EXPECT_EQ(o, 2.5f);
    EXPECT_EQ(c.computeOffset(nullptr, &a, &b), 0);
    EXPECT_EQ(c.weightValue(&o, nullptr, 1.0f), 0);
    EXPECT_EQ(c.makeOffset(1.0f), 1);
    EXPECT_EQ(keys[0].value, -1.0f);
    EXPECT_EQ(keys[3].value, 2.0f);

    CvkController empty;
    EXPECT_EQ(empty.offsetAfter(0, 1.0f, 0.0f), 0);
    EXPECT_EQ(empty.scale(1.0f, 0.0f), 0);
    EXPECT_EQ(empty.makeOffset(1.0f), 1);
}

} // namespace
