#pragma once
// What the curve and controller tests share: the kit's simple heap in the
// three slots with the controller system booted, and evaluation that must
// succeed.
#include "anim/CvkController.h"
#include "kit/tests/KitHeapSlots.h"

#include <gtest/gtest.h>

class AnimTest : public ::testing::Test {
protected:
    void SetUp() override { CvkController_SysBoot(); }
    void TearDown() override
    {
        KitHeapSlotsSet(&m_heap.Heap()); // a test may have emptied a slot
        CvkController_SysEnd();
    }

    // The value of a curve or controller at time t.
    template <class Curve>
    static float at(Curve& c, float t)
    {
        float v = -999.0f;
        EXPECT_EQ(c.eval(t, &v), 1) << "t=" << t;
        return v;
    }

    KitSimpleHeap m_heap;
};
