#pragma once
// CvkController: evaluates a keyframed value at a time.
//
// The controller reads four caller-supplied strided float arrays (it owns
// none of them): channel 0 the key times (dimension 1), channel 1 the key
// values, channel 2 the in-tangents and channel 3 the out-tangents (each
// (slope, weight) when its dimension is 2). Evaluation folds the time into
// the key range when the controller repeats, finds the two keys around it and
// interpolates between them by one of four modes; the weighted-tangent mode
// inverts a cubic time axis with CvkPolynomial.
//
// An optional key cache (CurrentIdxInit) replaces the binary search by a walk
// from the key found last time, which pays off for increasing times.
//
// Mode 3 uses two process-wide scratch polynomials made by
// CvkController_SysBoot, so evaluation is not reentrant across threads.

#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// Data channels.
constexpr int CVK_CTRL_FRAME = 0;    // key times
constexpr int CVK_CTRL_VALUE = 1;    // key values
constexpr int CVK_CTRL_INPARAM = 2;  // in-tangent (slope, weight)
constexpr int CVK_CTRL_OUTPARAM = 3; // out-tangent (slope, weight)
constexpr int CVK_CTRL_CHANNELS = 4;

// Interpolation modes (any other value behaves as step).
constexpr uint8_t CVK_CTRL_INTERPOLATE_STEP = 0;
constexpr uint8_t CVK_CTRL_INTERPOLATE_LINEAR = 1;
constexpr uint8_t CVK_CTRL_INTERPOLATE_SMOOTH = 2;
constexpr uint8_t CVK_CTRL_INTERPOLATE_WEIGHTED = 3;

// Repeat modes outside the key range.
constexpr uint8_t CVK_CTRL_REPEAT_NONE = 0;
constexpr uint8_t CVK_CTRL_REPEAT_LOOP = 1;
constexpr uint8_t CVK_CTRL_REPEAT_PINGPONG = 2;

// Tangent presets of evalParams, with their weights 1.0, 0.5, 2.0 and 0.0.
constexpr int CVK_CTRL_PRESET_SMOOTH = 0;
constexpr int CVK_CTRL_PRESET_FAST = 1;
constexpr int CVK_CTRL_PRESET_SLOW = 2;
constexpr int CVK_CTRL_PRESET_LINEAR = 3;

// Key index value of a cleared key cache.
constexpr int32_t CVK_CTRL_CACHE_CLEARED = -10;

// Creates and releases the two scratch polynomials of the weighted-tangent
// mode; called by kit start-up and shut-down. Repeated calls do nothing.
// Without them, mode 3 still works with local polynomials (slower).
LUMIVOR_EXPORT int CvkController_SysBoot();
LUMIVOR_EXPORT void CvkController_SysEnd();

class LUMIVOR_EXPORT CvkController : public CvkBase {
public:
    struct Channel {
        float* pArray; // first element of key 0, null when not set
        int32_t dim;   // floats per key
        int32_t stride; // bytes from one key to the next
    };

    CvkController();
    ~CvkController() override;

    // Points a channel at caller data; 0 for an unknown channel or a
    // dimension below 1. Re-pointing keeps the key cache on or off as it
    // was: the cached index is only a starting point and is kept in range.
    int setupBuffer(int channel, float* array, int dimension, int stride);
    void setKeyCount(int n);
    int getKeyCount() const { return m_keyCount; }

    void setInterpolate(uint8_t mode) { m_interpolate = mode; }
    uint8_t getInterpolate() const { return m_interpolate; }
    void setRepeat(uint8_t mode) { m_repeat = mode; }
    uint8_t getRepeat() const { return m_repeat; }

    // Key access. The checked forms answer 0 (or null) and ignore writes for
    // an index outside 0 .. key count - 1 or a channel without array; the
    // Fast forms do no checks. Values and parameters are arrays of the
    // channel's dimension.
    int setFrame(int i, float time);
    float getFrame(int i) const;
    float getFrameFast(int i) const { return *_at(CVK_CTRL_FRAME, i); }
    int setValue(int i, const float* value);
    float* getValue(int i) const;
    float* getValueFast(int i) const { return _at(CVK_CTRL_VALUE, i); }
    int setInParam(int i, const float* param);
    float* getInParam(int i) const;
    float* getInParamFast(int i) const { return _at(CVK_CTRL_INPARAM, i); }
    int setOutParam(int i, const float* param);
    float* getOutParam(int i) const;
    float* getOutParamFast(int i) const { return _at(CVK_CTRL_OUTPARAM, i); }

    int getDataDim(int channel) const;
    int hasBuffer(int channel) const;
    // 1 when 0 <= i < key count.
    int FrameTest(int i) const { return (i >= 0 && i < m_keyCount) ? 1 : 0; }
    // Recomputes the ready flag: keys present and all four arrays set.
    int InitBuffCheck();
    int IsReady() const { return m_ready; }

    // Turns the key cache on: stores the first and last key times and the
    // key findKeySimple gives for the folded time (-1 without keys).
    void CurrentIdxInit(float time);
    // Turns it off (binary search).
    void CurrentIdxClear() { m_currentIdx = CVK_CTRL_CACHE_CLEARED; }
    int32_t getCurrentIdx() const { return m_currentIdx; }

    // Nearest key to `time` among the keys up to the first later one whose
    // distance is below `tolerance`; -1 if none.
    int findKey(float time, float tolerance) const;
    // First key whose time is greater than `time`, or the key count.
    int findKeySimple(float time) const;
    // The keys around `time`: (-1, 0) before the first key, (last, -1) after
    // the last, (i, i + 1) with time[i] <= time <= time[i + 1] in between,
    // (0, 0) for a single key. 0 (and -1, -1) without keys.
    int findKeys(float time, int* i, int* j) const;
    // The same through the key cache, which it moves to the key found.
    int findKeysUseCash(float time, int* i, int* j);
    int isKey(float time, float tolerance) const { return findKey(time, tolerance) >= 0 ? 1 : 0; }
    // Folds a time outside the key range back into it by the repeat mode.
    float LoopFrameCalc(float time) const;

    // Value at `time` into `value` (the value dimension's floats). 0 only
    // without keys, key times or values, or without an output pointer.
    // `tolerance` is accepted for callers that pass one; evaluation does not
    // depend on it.
    int eval(float time, float* value, float tolerance = 0.0f);
    // Tangent preset of key k: slope from the neighbouring keys (a missing
    // neighbour is key k itself; 0 for the linear preset or when their
    // times are closer than 1e-6) and the preset's weight, written as
    // (slope, weight) to both outputs (either may be null). 0 for a bad key
    // or preset.
    int evalParams(int key, int preset, float* inParam, float* outParam) const;

    // out = a - b (first component); 0 for a null pointer.
    int computeOffset(float* out, const float* a, const float* b) const;
    // out = a * w (first component); 0 for a null pointer.
    int weightValue(float* out, const float* a, float w) const;
    // Every component of every key value becomes value - reference.
    int makeOffset(float reference);
    // Adds delta to the times of keys 0 .. index (offsetBefore) or
    // index .. last (offsetAfter). 0 without key times, for a bad index, or
    // when the moved key would come closer than minGap to its neighbour on
    // the side it moves towards.
    int offsetBefore(int index, float delta, float minGap);
    int offsetAfter(int index, float delta, float minGap);
    // Every key time t becomes t * a + b: scaled about time 0, then offset.
    // Values and tangents are unchanged. 0 without key times.
    int scale(float a, float b);

private:
    float* _at(int channel, int i) const
    {
        const Channel& c = m_channel[channel];
        return reinterpret_cast<float*>(reinterpret_cast<char*>(c.pArray) +
                                        static_cast<intptr_t>(i) * c.stride);
    }
    float _time(int i) const { return *_at(CVK_CTRL_FRAME, i); }
    int _setParam(int channel, int i, const float* src);
    float* _getParam(int channel, int i) const;
    void _tangent(int channel, int key, float* slope, float* weight) const;

    Channel m_channel[CVK_CTRL_CHANNELS];
    int32_t m_keyCount;
    int32_t m_currentIdx;
    float m_firstTime;
    float m_lastTime;
    uint8_t m_interpolate;
    uint8_t m_repeat;
    uint8_t m_ready;
};
