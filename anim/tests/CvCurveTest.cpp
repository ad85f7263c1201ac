#include "anim/CvCurve.h"

#include "anim/tests/AnimTestKit.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

class CurveTest : public AnimTest {
protected:
    // Numbers the keys' values 0, 1, 2, ... and sets times 10 apart.
    static void number(CvCurve& c)
    {
        for (int k = 0; k < c.getNumKeys(); ++k) {
            c.setKeyValue(k, float(k));
            c.setKeyTime(k, 10.0f * k);
        }
    }
    static std::vector<float> values(const CvCurve& c)
    {
        std::vector<float> v;
        for (int k = 0; k < c.getNumKeys(); ++k)
            v.push_back(c.getKeyValue(k));
        return v;
    }
};

TEST_F(CurveTest, ConstructionAndEvaluation)
{
    CvCurve c(2);
    EXPECT_EQ(c.GetTag(), 0x42415345u);
    EXPECT_EQ(c.getNumKeys(), 2);
    EXPECT_EQ(c.getCapacity(), 4);
    EXPECT_EQ(c.isEmpty(), 0);
    const CvCurveKeyPrm* k0 = c.getKey(0);
    ASSERT_NE(k0, nullptr);
    EXPECT_EQ(k0->value, 0.0f);
    EXPECT_EQ(k0->outWeight, 0.0f);
    EXPECT_EQ(k0->state, 0u);

    c.setKeyTime(1, 10.0f);
    c.setKeyValue(1, 1.0f);
    c.setInterpolate(CVK_CTRL_INTERPOLATE_LINEAR);
    EXPECT_EQ(c.getInterpolate(), 1);
    EXPECT_FLOAT_EQ(at(c, 5.0f), 0.5f);
    c.setRepeat(CVK_CTRL_REPEAT_PINGPONG);
    EXPECT_EQ(c.getRepeat(), 2);
    EXPECT_NEAR(at(c, 12.0f), 0.8f, 1e-6f);

    // The controller reads the records in place.
    const CvkController& ctrl = c.getController();
    EXPECT_EQ(ctrl.getFrame(1), 10.0f);
    EXPECT_EQ(ctrl.getDataDim(CVK_CTRL_OUTPARAM), 2);
    EXPECT_EQ(ctrl.IsReady(), 1);

    // Out-of-range keys.
    EXPECT_EQ(c.getKeyTime(2), 0.0f);
    EXPECT_EQ(c.setKeyValue(-1, 1.0f), 0);
    EXPECT_EQ(c.getKey(2), nullptr);
    float x = 1, y = 1;
    EXPECT_EQ(c.getKeyInTangent(2, &x, &y), 0);

    CvCurve none;
    EXPECT_EQ(none.getNumKeys(), 0);
    EXPECT_EQ(none.getCapacity(), 0);
    EXPECT_EQ(none.isEmpty(), 1);
    float v;
    EXPECT_EQ(none.eval(0.0f, &v), 0);
}

TEST_F(CurveTest, InsertGrowsByDoubling)
{
    CvCurve c(2);
    number(c);
    struct Step {
        int index, count;
        int ret, keys, capacity;
        std::vector<float> values; // inserted keys read 0
    } steps[] = {
        {1, 1, 1, 3, 4, {0, 0, 1}},           // fits: moved in place
        {0, 2, 1, 5, 8, {0, 0, 0, 0, 1}},     // 5 > 4: doubled
        {99, 1, 1, 6, 8, {0, 0, 0, 0, 1, 0}}, // past the end: appended
        {-1, 1, 0, 6, 8, {0, 0, 0, 0, 1, 0}},
        {0, 0, 0, 6, 8, {0, 0, 0, 0, 1, 0}},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "insert " << s.index << "+" << s.count);
        EXPECT_EQ(c.insertKeys(s.index, s.count), s.ret);
        EXPECT_EQ(c.getNumKeys(), s.keys);
        EXPECT_EQ(c.getCapacity(), s.capacity);
        EXPECT_EQ(values(c), s.values);
    }
    // Several doublings at once: 17 keys need 8 -> 16 -> 32.
    number(c);
    ASSERT_EQ(c.insertKeys(3, 11), 1);
    EXPECT_EQ(c.getNumKeys(), 17);
    EXPECT_EQ(c.getCapacity(), 32);
    // The 11 new keys of the last insertion sit between the old keys 2 and 3.
    EXPECT_EQ(c.getKeyValue(2), 2.0f);
    EXPECT_EQ(c.getKeyValue(3), 0.0f);
    EXPECT_EQ(c.getKeyTime(13), 0.0f);
    EXPECT_EQ(c.getKeyValue(14), 3.0f);
    EXPECT_EQ(c.getKeyValue(16), 5.0f);

    // An empty curve starts from twice the new count.
    CvCurve e;
    EXPECT_EQ(e.insertKeys(0, 3), 1);
    EXPECT_EQ(e.getCapacity(), 6);
    EXPECT_EQ(e.isEmpty(), 0);
    EXPECT_EQ(e.getController().getKeyCount(), 3);
}

TEST_F(CurveTest, RemoveShrinksByHalving)
{
    CvCurve c(4); // capacity 8
    number(c);
    c.insertKeys(4, 2);
    c.setKeyValue(4, 4.0f);
    c.setKeyValue(5, 5.0f);
    ASSERT_EQ(c.getCapacity(), 8);
    struct Step {
        int index, count;
        int ret, keys, capacity;
        std::vector<float> values;
    } steps[] = {
        {1, 1, 1, 5, 8, {0, 2, 3, 4, 5}}, // 5 keys still need 8
        {0, 3, 3, 2, 4, {4, 5}},          // 2 keys: 8 -> 4
        {2, 1, 0, 2, 4, {4, 5}},          // index past the keys
        {1, 2, 0, 2, 4, {4, 5}},          // runs past the end
        {0, 0, 0, 2, 4, {4, 5}},
        {-1, 1, 0, 2, 4, {4, 5}},
        {0, 1, 1, 1, 2, {5}},
        {0, 1, 1, 0, 0, {}}, // last key: the array goes
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(testing::Message() << "remove " << s.index << "+" << s.count);
        EXPECT_EQ(c.removeKeys(s.index, s.count), s.ret);
        EXPECT_EQ(c.getNumKeys(), s.keys);
        EXPECT_EQ(c.getCapacity(), s.capacity);
        EXPECT_EQ(values(c), s.values);
    }
    EXPECT_EQ(c.isEmpty(), 1);
    EXPECT_EQ(c.getController().hasBuffer(CVK_CTRL_FRAME), 0);
    float v;
    EXPECT_EQ(c.eval(1.0f, &v), 0);
    // It grows again from nothing.
    EXPECT_EQ(c.insertKeys(0, 1), 1);
    EXPECT_EQ(c.getCapacity(), 2);
    EXPECT_EQ(c.eval(1.0f, &v), 1);
}

TEST_F(CurveTest, TangentsInKeyUnits)
{
    CvCurve c(3);
    const float t[3] = {0, 2, 6}, val[3] = {0, 4, 8};
    for (int k = 0; k < 3; ++k) {
        c.setKeyTime(k, t[k]);
        c.setKeyValue(k, val[k]);
    }
    // Slope of key 1 from its neighbours: (8 - 0) / (6 - 0).
    const float s = 8.0f / 6.0f;
    float x, y;
    ASSERT_EQ(c.setSlowIn(1), 1);
    ASSERT_EQ(c.getKeyInTangent(1, &x, &y), 1);
    EXPECT_FLOAT_EQ(x, 2.0f * 2.0f); // span 2, weight 2
    EXPECT_FLOAT_EQ(y, s * 4.0f);
    ASSERT_EQ(c.setFastOut(1), 1);
    ASSERT_EQ(c.getKeyOutTangent(1, &x, &y), 1);
    EXPECT_FLOAT_EQ(x, 4.0f * 0.5f); // span 4, weight 0.5
    EXPECT_FLOAT_EQ(y, s * 2.0f);

    struct Preset {
        int (CvCurve::*set)(int);
        bool in;
        float slope, weight;
    } presets[] = {
        {&CvCurve::setSmoothIn, true, s, 1.0f},   {&CvCurve::setSmoothOut, false, s, 1.0f},
        {&CvCurve::setFastIn, true, s, 0.5f},     {&CvCurve::setFastOut, false, s, 0.5f},
        {&CvCurve::setSlowIn, true, s, 2.0f},     {&CvCurve::setSlowOut, false, s, 2.0f},
        {&CvCurve::setLinearIn, true, 0.0f, 0.0f}, {&CvCurve::setLinearOut, false, 0.0f, 0.0f},
    };
    for (const Preset& p : presets) {
        ASSERT_EQ((c.*p.set)(1), 1);
        const CvCurveKeyPrm* k = c.getKey(1);
        EXPECT_FLOAT_EQ(p.in ? k->inSlope : k->outSlope, p.slope);
        EXPECT_FLOAT_EQ(p.in ? k->inWeight : k->outWeight, p.weight);
    }
    EXPECT_EQ(c.setSmoothIn(3), 0);

    // The first key has no previous key: its in-tangent spans nothing.
    c.setKeyInTangent(0, 1.0f, 1.0f);
    c.getKeyInTangent(0, &x, &y);
    EXPECT_EQ(x, 0.0f);
    EXPECT_EQ(y, 0.0f);
    EXPECT_EQ(c.setKeyOutTangent(5, 1.0f, 1.0f), 0);
}

TEST_F(CurveTest, SelectionRangesAndShifts)
{
    CvCurve c(3);
    number(c);
    c.select(1, 1);
    c.select(3, 1); // outside: ignored
    EXPECT_EQ(c.isSelected(1), 1u);
    EXPECT_EQ(c.isSelected(0), 0u);
    EXPECT_EQ(c.isSelected(3), 0u);
    EXPECT_EQ(c.isSelected(-1), 0u);

    EXPECT_EQ(c.findKey(10.2f, 0.5f), 1);
    int i, j;
    c.findKeys(15.0f, &i, &j);
    EXPECT_EQ(i, 1);
    EXPECT_EQ(j, 2);
    EXPECT_EQ(c.isKey(20.0f, 0.01f), 1);
    EXPECT_EQ(c.shiftAfter(1, 5.0f, 1.0f), 1);
    EXPECT_EQ(c.getKeyTime(2), 25.0f);
    EXPECT_EQ(c.shiftBefore(1, 9.5f, 1.0f), 0); // within 1 of key 2
    EXPECT_EQ(c.shiftBefore(0, -2.0f, 1.0f), 1);
    EXPECT_EQ(c.getKeyTime(0), -2.0f);
    EXPECT_EQ(c.scale(0.5f, 1.0f), 1);
    EXPECT_EQ(c.getKeyTime(0), 0.0f);
    EXPECT_EQ(c.getKeyTime(2), 13.5f);

    float lo, hi;
    c.setXRange(-1.0f, 5.0f);
    c.getXRange(&lo, &hi);
    EXPECT_EQ(lo, -1.0f);
    EXPECT_EQ(hi, 5.0f);
    c.setYRange(0.0f, 2.0f);
    c.getYRange(&lo, &hi);
    EXPECT_EQ(hi, 2.0f);
    EXPECT_EQ(c.ClampRangeValue(3.0f), 2.0f);
    EXPECT_EQ(c.ClampRangeValue(-3.0f), 0.0f);

    EXPECT_EQ(c.ClampValue(1e30f), 1e30f); // no limits set yet
    c.setValueMin(-1.0f);
    c.setValueMax(1.0f);
    EXPECT_EQ(c.getValueMin(), -1.0f);
    EXPECT_EQ(c.getValueMax(), 1.0f);
    for (int mode : {0, 1}) {
        c.setClampMode(mode);
        EXPECT_EQ(c.ClampValue(1.5f), 1.0f);
        EXPECT_EQ(c.ClampValue(-1.5f), -1.0f);
        EXPECT_EQ(c.ClampValue(0.25f), 0.25f);
    }
    c.setClampMode(2);
    EXPECT_EQ(c.ClampValue(1.5f), 1.5f);

    c.setType(0x1234);
    EXPECT_EQ(c.getType(), 0x1234u);
}

TEST_F(CurveTest, WithoutMainHeap)
{
    CvkHeapSetMain(nullptr);
    CvCurve c(4);
    EXPECT_TRUE(c.CheckError());
    EXPECT_EQ(c.getNumKeys(), 0);
    EXPECT_EQ(c.insertKeys(0, 2), 0);
    EXPECT_EQ(c.getNumKeys(), 0);
    float v;
    EXPECT_EQ(c.eval(0.0f, &v), 0);
}

} // namespace
