#pragma once
// CvCurve: an editable one-dimensional keyframed curve.
//
// The curve owns an array of key records (main heap) and points the four
// channels of its embedded CvkController into it, so evaluation is the
// controller's. It adds key insertion and removal with a capacity that grows
// and shrinks by powers of two, key selection, tangent presets and the value
// and axis ranges an editor shows.

#include "anim/CvkController.h"
#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// One key, 28 bytes.
struct CvCurveKeyPrm {
    float value;
    float time;
    float inSlope;
    float inWeight;
    float outSlope;
    float outWeight;
    uint32_t state; // selection word (select / isSelected)
};
static_assert(sizeof(CvCurveKeyPrm) == 28, "key record is 28 bytes");

class LUMIVOR_EXPORT CvCurve : public CvkBase {
public:
    // A curve of `keyCount` zero-filled keys with room for twice as many.
    // A curve whose key array cannot be allocated has no keys and carries
    // the Error flag.
    explicit CvCurve(int keyCount = 0);
    ~CvCurve() override;
    CvCurve(const CvCurve&) = delete;
    CvCurve& operator=(const CvCurve&) = delete;

    // Value at `time`; see CvkController::eval.
    int eval(float time, float* value, float tolerance = 0.0f) { return m_ctrl.eval(time, value, tolerance); }

    int getNumKeys() const { return m_keyCount; }
    int getCapacity() const { return m_capacity; }
    // 1 while the curve has no keys.
    int isEmpty() const { return m_noKey; }

    // Key fields. Getters answer 0 and setters do nothing (returning 0) for
    // an index outside 0 .. key count - 1.
    float getKeyTime(int k) const;
    int setKeyTime(int k, float time);
    float getKeyValue(int k) const;
    int setKeyValue(int k, float value);
    // The stored tangent in key units: with D the time to the previous key
    // (in) or to the next key (out), *x = D * weight and *y = slope * D *
    // weight. A missing neighbour gives D = 0.
    int getKeyInTangent(int k, float* x, float* y) const;
    int getKeyOutTangent(int k, float* x, float* y) const;
    // Store a tangent as the controller reads it: (slope, weight).
    int setKeyInTangent(int k, float slope, float weight);
    int setKeyOutTangent(int k, float slope, float weight);
    // Direct access to a key record (null outside the keys).
    const CvCurveKeyPrm* getKey(int k) const;

    // Inserts `count` zero-filled keys at min(index, key count): 1, or 0 when
    // index < 0, count < 1 or the array cannot grow.
    int insertKeys(int index, int count);
    // Removes `count` keys from `index`: count, or 0 when index < 0,
    // index >= key count, count < 1 or index + count > key count.
    int removeKeys(int index, int count);
    void select(int index, uint32_t flag);
    uint32_t isSelected(int index) const;

    int findKey(float time, float tolerance) const { return m_ctrl.findKey(time, tolerance); }
    int findKeys(float time, int* i, int* j) const { return m_ctrl.findKeys(time, i, j); }
    int isKey(float time, float tolerance) const { return m_ctrl.isKey(time, tolerance); }
    int shiftBefore(int index, float delta, float minGap) { return m_ctrl.offsetBefore(index, delta, minGap); }
    int shiftAfter(int index, float delta, float minGap) { return m_ctrl.offsetAfter(index, delta, minGap); }
    // Key times t become t * a + b.
    int scale(float a, float b) { return m_ctrl.scale(a, b); }

    // Tangent presets: the controller's evalParams stored as the key's in-
    // or out-tangent. 0 for an index outside the keys.
    int setSmoothIn(int k) { return _preset(k, CVK_CTRL_PRESET_SMOOTH, true); }
    int setSmoothOut(int k) { return _preset(k, CVK_CTRL_PRESET_SMOOTH, false); }
    int setFastIn(int k) { return _preset(k, CVK_CTRL_PRESET_FAST, true); }
    int setFastOut(int k) { return _preset(k, CVK_CTRL_PRESET_FAST, false); }
    int setSlowIn(int k) { return _preset(k, CVK_CTRL_PRESET_SLOW, true); }
    int setSlowOut(int k) { return _preset(k, CVK_CTRL_PRESET_SLOW, false); }
    int setLinearIn(int k) { return _preset(k, CVK_CTRL_PRESET_LINEAR, true); }
    int setLinearOut(int k) { return _preset(k, CVK_CTRL_PRESET_LINEAR, false); }

    // Axis ranges an editor shows (x time, y value) and the value limits.
    void setXRange(float minimum, float maximum) { m_xMin = minimum; m_xMax = maximum; }
    void getXRange(float* minimum, float* maximum) const;
    void setYRange(float minimum, float maximum) { m_yMin = minimum; m_yMax = maximum; }
    void getYRange(float* minimum, float* maximum) const;
    void setValueMin(float v) { m_valueMin = v; }
    void setValueMax(float v) { m_valueMax = v; }
    float getValueMin() const { return m_valueMin; }
    float getValueMax() const { return m_valueMax; }
    // Clamp mode 0 or 1 (the default 0) makes ClampValue limit to the value
    // minimum and maximum; other modes leave values unchanged.
    void setClampMode(int32_t mode) { m_clampMode = mode; }
    int32_t getClampMode() const { return m_clampMode; }
    float ClampValue(float x) const;
    // Limits x to the y range.
    float ClampRangeValue(float x) const;

    void setType(uint32_t type) { m_type = type; }
    uint32_t getType() const { return m_type; }
    void setInterpolate(uint8_t mode) { m_ctrl.setInterpolate(mode); }
    uint8_t getInterpolate() const { return m_ctrl.getInterpolate(); }
    void setRepeat(uint8_t mode) { m_ctrl.setRepeat(mode); }
    uint8_t getRepeat() const { return m_ctrl.getRepeat(); }

    CvkController& getController() { return m_ctrl; }
    const CvkController& getController() const { return m_ctrl; }

private:
    static CvCurveKeyPrm* _alloc(int capacity);
    static void _free(CvCurveKeyPrm* p);
    void _attach();
    int _preset(int k, int preset, bool in);
    bool _valid(int k) const { return k >= 0 && k < m_keyCount; }

    CvkController m_ctrl;
    CvCurveKeyPrm* m_pKeys;
    int32_t m_keyCount;
    int32_t m_capacity;
    float m_xMin, m_xMax;
    float m_yMin, m_yMax;
    float m_valueMin, m_valueMax;
    uint32_t m_type;
    int32_t m_clampMode;
    int32_t m_noKey;
};
