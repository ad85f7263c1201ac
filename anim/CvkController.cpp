#include "anim/CvkController.h"

#include "anim/CvkPolynomial.h"
#include "kit/CvkHeap.h"

#include <cmath>

namespace {

// Scratch cubics of the weighted-tangent mode: the time axis X(p) and the
// value axis Y(p) of the segment being evaluated.
CvkPolynomial* g_ctrlTimeAxis = nullptr;
CvkPolynomial* g_ctrlValueAxis = nullptr;

constexpr float kPresetWeight[4] = {1.0f, 0.5f, 2.0f, 0.0f};

void copyFloats(float* dst, const float* src, int n)
{
    for (int k = 0; k < n; ++k)
        dst[k] = src[k];
}

} // namespace

int CvkController_SysBoot()
{
    if (g_ctrlTimeAxis && g_ctrlValueAxis)
        return 1;
    // Kit objects come from the system heap; without one there is nothing to
    // allocate from and mode 3 keeps using local polynomials.
    if (!CvkHeapGetSystem())
        return 0;
    if (!g_ctrlTimeAxis)
        g_ctrlTimeAxis = new CvkPolynomial(3);
    if (!g_ctrlValueAxis)
        g_ctrlValueAxis = new CvkPolynomial(3);
    return (g_ctrlTimeAxis && g_ctrlValueAxis) ? 1 : 0;
}

void CvkController_SysEnd()
{
    delete g_ctrlTimeAxis;
    delete g_ctrlValueAxis;
    g_ctrlTimeAxis = nullptr;
    g_ctrlValueAxis = nullptr;
}

CvkController::CvkController()
    : m_keyCount(0), m_currentIdx(CVK_CTRL_CACHE_CLEARED), m_firstTime(0.0f), m_lastTime(0.0f),
      m_interpolate(CVK_CTRL_INTERPOLATE_WEIGHTED), m_repeat(CVK_CTRL_REPEAT_NONE), m_ready(0)
{
    for (Channel& c : m_channel)
        c = Channel{nullptr, 1, 1};
}

CvkController::~CvkController() = default;

int CvkController::setupBuffer(int channel, float* array, int dimension, int stride)
{
    if (channel < 0 || channel >= CVK_CTRL_CHANNELS || dimension < 1)
        return 0;
    m_channel[channel] = Channel{array, dimension, stride};
    InitBuffCheck();
    return 1;
}

void CvkController::setKeyCount(int n)
{
    m_keyCount = n > 0 ? n : 0;
    InitBuffCheck();
}

int CvkController::InitBuffCheck()
{
    bool ok = m_keyCount > 0;
    for (const Channel& c : m_channel)
        ok = ok && c.pArray != nullptr;
    m_ready = ok ? 1 : 0;
    return m_ready;
}

int CvkController::getDataDim(int channel) const
{
    if (channel < 0 || channel >= CVK_CTRL_CHANNELS)
        return 0;
    return m_channel[channel].dim;
}

int CvkController::hasBuffer(int channel) const
{
    if (channel < 0 || channel >= CVK_CTRL_CHANNELS)
        return 0;
    return m_channel[channel].pArray ? 1 : 0;
}

int CvkController::setFrame(int i, float time)
{
    if (!FrameTest(i) || !m_channel[CVK_CTRL_FRAME].pArray)
        return 0;
    *_at(CVK_CTRL_FRAME, i) = time;
    return 1;
}

float CvkController::getFrame(int i) const
{
    if (!FrameTest(i) || !m_channel[CVK_CTRL_FRAME].pArray)
        return 0.0f;
    return _time(i);
}

int CvkController::_setParam(int channel, int i, const float* src)
{
    if (!src || !FrameTest(i) || !m_channel[channel].pArray)
        return 0;
    copyFloats(_at(channel, i), src, m_channel[channel].dim);
    return 1;
}

float* CvkController::_getParam(int channel, int i) const
{
    if (!FrameTest(i) || !m_channel[channel].pArray)
        return nullptr;
    return _at(channel, i);
}

int CvkController::setValue(int i, const float* value) { return _setParam(CVK_CTRL_VALUE, i, value); }
float* CvkController::getValue(int i) const { return _getParam(CVK_CTRL_VALUE, i); }
int CvkController::setInParam(int i, const float* param) { return _setParam(CVK_CTRL_INPARAM, i, param); }
float* CvkController::getInParam(int i) const { return _getParam(CVK_CTRL_INPARAM, i); }
int CvkController::setOutParam(int i, const float* param) { return _setParam(CVK_CTRL_OUTPARAM, i, param); }
float* CvkController::getOutParam(int i) const { return _getParam(CVK_CTRL_OUTPARAM, i); }

void CvkController::CurrentIdxInit(float time)
{
    if (m_keyCount < 1 || !m_channel[CVK_CTRL_FRAME].pArray) {
        m_currentIdx = -1;
        return;
    }
    m_firstTime = _time(0);
    m_lastTime = _time(m_keyCount - 1);
    m_currentIdx = findKeySimple(LoopFrameCalc(time));
}

int CvkController::findKeySimple(float time) const
{
    if (!m_channel[CVK_CTRL_FRAME].pArray)
        return 0;
    const int n = m_keyCount;
    int k = 0;
    for (; k + 4 <= n; k += 4) {
        if (_time(k) > time)
            return k;
        if (_time(k + 1) > time)
            return k + 1;
        if (_time(k + 2) > time)
            return k + 2;
        if (_time(k + 3) > time)
            return k + 3;
    }
    for (; k < n; ++k)
        if (_time(k) > time)
            return k;
    return n;
}

int CvkController::findKey(float time, float tolerance) const
{
    if (m_keyCount < 1 || !m_channel[CVK_CTRL_FRAME].pArray)
        return -1;
    int last = findKeySimple(time);
    if (last > m_keyCount - 1)
        last = m_keyCount - 1;
    int best = -1;
    float bestDist = 0.0f;
    for (int k = 0; k <= last; ++k) {
        float d = std::fabs(_time(k) - time);
        if (d < tolerance && (best < 0 || d < bestDist)) {
            best = k;
            bestDist = d;
        }
    }
    return best;
}

int CvkController::findKeys(float time, int* i, int* j) const
{
    int a = -1, b = -1, ok = 0;
    const int n = m_keyCount;
    if (n >= 1 && m_channel[CVK_CTRL_FRAME].pArray) {
        ok = 1;
        if (n == 1) {
            a = b = 0;
        } else if (time <= _time(0)) {
            a = -1;
            b = 0;
        } else if (time >= _time(n - 1)) {
            a = n - 1;
            b = -1;
        } else {
            // time[lo] <= time < time[hi] holds throughout.
            int lo = 0, hi = n - 1;
            while (hi - lo > 1) {
                int mid = lo + (hi - lo) / 2;
                if (_time(mid) <= time)
                    lo = mid;
                else
                    hi = mid;
            }
            a = lo;
            b = lo + 1;
        }
    }
    if (i)
        *i = a;
    if (j)
        *j = b;
    return ok;
}

int CvkController::findKeysUseCash(float time, int* i, int* j)
{
    const int n = m_keyCount;
    if (n < 2 || !m_channel[CVK_CTRL_FRAME].pArray || time <= _time(0) || time >= _time(n - 1))
        return findKeys(time, i, j);
    // Walk from the cached key to the last key whose time is <= time. The
    // cached index is only a starting point: it is brought into range first,
    // so a cache left over from other data cannot lead outside the keys.
    int c = m_currentIdx;
    if (c < 0)
        c = 0;
    if (c > n - 2)
        c = n - 2;
    while (c + 1 <= n - 2 && _time(c + 1) <= time)
        ++c;
    while (c > 0 && _time(c) > time)
        --c;
    m_currentIdx = c;
    if (i)
        *i = c;
    if (j)
        *j = c + 1;
    return 1;
}

float CvkController::LoopFrameCalc(float time) const
{
    if (m_repeat == CVK_CTRL_REPEAT_NONE || m_keyCount < 1 || !m_channel[CVK_CTRL_FRAME].pArray)
        return time;
    const float f0 = _time(0);
    const float f1 = _time(m_keyCount - 1);
    if (time >= f0 && time <= f1)
        return time;
    const float len = f1 - f0;
    // A range of zero length (one key, or all keys at one time) cannot be
    // folded into: the division below would give NaN.
    if (!(len > 0.0f))
        return time;
    const bool before = time < f0;
    const float d = before ? f0 - time : time - f1;
    const float k = std::floor(d / len);
    const float r = d - k * len;
    const bool odd = std::fmod(k, 2.0f) != 0.0f;
    if (m_repeat == CVK_CTRL_REPEAT_LOOP || (m_repeat == CVK_CTRL_REPEAT_PINGPONG && odd))
        return before ? f1 - r : f0 + r;
    if (m_repeat == CVK_CTRL_REPEAT_PINGPONG)
        return before ? f0 + r : f1 - r;
    return time;
}

void CvkController::_tangent(int channel, int key, float* slope, float* weight) const
{
    const Channel& c = m_channel[channel];
    if (!c.pArray) {
        float p[2] = {0.0f, 1.0f};
        evalParams(key, CVK_CTRL_PRESET_SMOOTH, p, nullptr);
        *slope = p[0];
        *weight = p[1];
        return;
    }
    const float* p = _at(channel, key);
    *slope = p[0];
    *weight = c.dim >= 2 ? p[1] : 1.0f;
}

int CvkController::eval(float time, float* value, float /*tolerance*/)
{
    if (!value || m_keyCount < 1 || !m_channel[CVK_CTRL_FRAME].pArray ||
        !m_channel[CVK_CTRL_VALUE].pArray)
        return 0;
    const float t = LoopFrameCalc(time);
    int i, j;
    if (m_currentIdx == CVK_CTRL_CACHE_CLEARED)
        findKeys(t, &i, &j);
    else
        findKeysUseCash(t, &i, &j);
    const int dim = m_channel[CVK_CTRL_VALUE].dim;
    if (i == j || j < 0) {
        if (i < 0)
            return 0;
        copyFloats(value, _at(CVK_CTRL_VALUE, i), dim);
        return 1;
    }
    if (i < 0) {
        copyFloats(value, _at(CVK_CTRL_VALUE, j), dim);
        return 1;
    }

    const float* y0 = _at(CVK_CTRL_VALUE, i);
    const float* y1 = _at(CVK_CTRL_VALUE, j);
    const float t0 = _time(i);
    const float t1 = _time(j);
    const float dt = t1 - t0;
    const float u = dt > 0.0f ? (t - t0) / dt : 0.0f;

    switch (m_interpolate) {
    case CVK_CTRL_INTERPOLATE_LINEAR:
        for (int c = 0; c < dim; ++c)
            value[c] = std::fabs(y0[c] - y1[c]) < 1e-7f ? y0[c] : (1.0f - u) * y0[c] + u * y1[c];
        return 1;
    case CVK_CTRL_INTERPOLATE_SMOOTH: {
        const float u2 = u * u;
        const float u3 = u2 * u;
        const float h0 = 2.0f * u3 - 3.0f * u2 + 1.0f;
        const float h1 = 3.0f * u2 - 2.0f * u3;
        for (int c = 0; c < dim; ++c)
            value[c] = h0 * y0[c] + h1 * y1[c];
        return 1;
    }
    case CVK_CTRL_INTERPOLATE_WEIGHTED: {
        float s0, w0, s1, w1;
        _tangent(CVK_CTRL_OUTPARAM, i, &s0, &w0);
        _tangent(CVK_CTRL_INPARAM, j, &s1, &w1);
        const float a = w0 * dt;
        const float b = w1 * dt;
        const float ca = s0 * a;
        const float eb = s1 * b;

        CvkPolynomial localX, localY;
        CvkPolynomial* px = g_ctrlTimeAxis;
        CvkPolynomial* py = g_ctrlValueAxis;
        if (!px || !py || px->getDegree() != 3 || py->getDegree() != 3) {
            localX.setDegree(3);
            localY.setDegree(3);
            px = &localX;
            py = &localY;
        }
        CvkPolynomial& X = *px;
        X[0] = t0 - t;
        X[1] = a;
        X[2] = 3.0f * dt - 2.0f * a - b;
        X[3] = a - 2.0f * dt + b;
        float roots[3];
        const int nr = X.getDegree() == 3 ? X.getRoots(0.0f, 1.0f, roots) : 0;
        for (int c = 0; c < dim; ++c) {
            if (nr != 1) {
                value[c] = y0[c];
                continue;
            }
            // The segment's tangents are scalar: every component uses them.
            const float dv = y1[c] - y0[c];
            CvkPolynomial& Y = *py;
            Y[0] = y0[c];
            Y[1] = ca;
            Y[2] = 3.0f * dv - 2.0f * ca - eb;
            Y[3] = ca - 2.0f * dv + eb;
            value[c] = Y.eval(roots[0]);
        }
        return 1;
    }
    default:
        copyFloats(value, y0, dim);
        return 1;
    }
}

int CvkController::evalParams(int key, int preset, float* inParam, float* outParam) const
{
    if (!FrameTest(key) || preset < CVK_CTRL_PRESET_SMOOTH || preset > CVK_CTRL_PRESET_LINEAR ||
        !m_channel[CVK_CTRL_FRAME].pArray || !m_channel[CVK_CTRL_VALUE].pArray)
        return 0;
    const int kp = key > 0 ? key - 1 : key;
    const int kn = key < m_keyCount - 1 ? key + 1 : key;
    const float span = _time(kn) - _time(kp);
    float slope = 0.0f;
    if (!(span < 1e-6f) && preset != CVK_CTRL_PRESET_LINEAR)
        slope = (*_at(CVK_CTRL_VALUE, kn) - *_at(CVK_CTRL_VALUE, kp)) / span;
    const float weight = kPresetWeight[preset];
    if (inParam) {
        inParam[0] = slope;
        inParam[1] = weight;
    }
    if (outParam) {
        outParam[0] = slope;
        outParam[1] = weight;
    }
    return 1;
}

int CvkController::computeOffset(float* out, const float* a, const float* b) const
{
    if (!out || !a || !b)
        return 0;
    out[0] = a[0] - b[0];
    return 1;
}

int CvkController::weightValue(float* out, const float* a, float w) const
{
    if (!out || !a)
        return 0;
    out[0] = a[0] * w;
    return 1;
}

int CvkController::makeOffset(float reference)
{
    if (!m_channel[CVK_CTRL_VALUE].pArray)
        return 1;
    const int dim = m_channel[CVK_CTRL_VALUE].dim;
    for (int k = 0; k < m_keyCount; ++k) {
        float* v = _at(CVK_CTRL_VALUE, k);
        for (int c = 0; c < dim; ++c)
            v[c] -= reference;
    }
    return 1;
}

int CvkController::offsetAfter(int index, float delta, float minGap)
{
    if (!m_channel[CVK_CTRL_FRAME].pArray || !FrameTest(index))
        return 0;
    if (delta < 0.0f && index > 0 && std::fabs(_time(index) + delta - _time(index - 1)) < minGap)
        return 0;
    for (int k = index; k < m_keyCount; ++k)
        *_at(CVK_CTRL_FRAME, k) += delta;
    return 1;
}

int CvkController::offsetBefore(int index, float delta, float minGap)
{
    if (!m_channel[CVK_CTRL_FRAME].pArray || !FrameTest(index))
        return 0;
    if (delta > 0.0f && index < m_keyCount - 1 &&
        std::fabs(_time(index) + delta - _time(index + 1)) < minGap)
        return 0;
    for (int k = 0; k <= index; ++k)
        *_at(CVK_CTRL_FRAME, k) += delta;
    return 1;
}

int CvkController::scale(float a, float b)
{
    if (!m_channel[CVK_CTRL_FRAME].pArray)
        return 0;
    for (int k = 0; k < m_keyCount; ++k) {
        float* t = _at(CVK_CTRL_FRAME, k);
        *t = *t * a + b;
    }
    return 1;
}
