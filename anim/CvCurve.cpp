#include "anim/CvCurve.h"

#include "kit/CvkHeap.h"

#include <cfloat>
#include <cstddef>
#include <cstring>

namespace {

// Largest capacity whose byte size fits a 32-bit allocation request.
constexpr int64_t kMaxCapacity = 0x7FFFFFFF / static_cast<int64_t>(sizeof(CvCurveKeyPrm));

} // namespace

CvCurveKeyPrm* CvCurve::_alloc(int capacity)
{
    if (capacity < 1 || capacity > kMaxCapacity)
        return nullptr;
    return static_cast<CvCurveKeyPrm*>(t_cvkMainHeapAlloc(
        static_cast<unsigned>(capacity) * sizeof(CvCurveKeyPrm), alignof(CvCurveKeyPrm), __FILE__,
        __LINE__));
}

void CvCurve::_free(CvCurveKeyPrm* p)
{
    if (p)
        t_cvkMainHeapFree(p, __FILE__, __LINE__);
}

CvCurve::CvCurve(int keyCount)
    : m_pKeys(nullptr), m_keyCount(0), m_capacity(0), m_xMin(0.0f), m_xMax(1.0f), m_yMin(0.0f),
      m_yMax(1.0f), m_valueMin(-FLT_MAX), m_valueMax(FLT_MAX), m_type(0), m_clampMode(0), m_noKey(1)
{
    if (keyCount > 0) {
        int64_t cap = 2 * static_cast<int64_t>(keyCount);
        m_pKeys = cap <= kMaxCapacity ? _alloc(static_cast<int>(cap)) : nullptr;
        if (m_pKeys) {
            std::memset(static_cast<void*>(m_pKeys), 0, sizeof(CvCurveKeyPrm) * keyCount);
            m_keyCount = keyCount;
            m_capacity = static_cast<int32_t>(cap);
        } else {
            SetError();
        }
    }
    _attach();
}

CvCurve::~CvCurve() { _free(m_pKeys); }

// Points the controller's channels into the key array (again).
void CvCurve::_attach()
{
    char* base = reinterpret_cast<char*>(m_pKeys);
    auto field = [base](size_t offset) {
        return base ? reinterpret_cast<float*>(base + offset) : nullptr;
    };
    const int stride = static_cast<int>(sizeof(CvCurveKeyPrm));
    m_ctrl.setupBuffer(CVK_CTRL_FRAME, field(offsetof(CvCurveKeyPrm, time)), 1, stride);
    m_ctrl.setupBuffer(CVK_CTRL_VALUE, field(offsetof(CvCurveKeyPrm, value)), 1, stride);
    m_ctrl.setupBuffer(CVK_CTRL_INPARAM, field(offsetof(CvCurveKeyPrm, inSlope)), 2, stride);
    m_ctrl.setupBuffer(CVK_CTRL_OUTPARAM, field(offsetof(CvCurveKeyPrm, outSlope)), 2, stride);
    m_ctrl.setKeyCount(m_keyCount);
    m_noKey = m_keyCount == 0 ? 1 : 0;
}

float CvCurve::getKeyTime(int k) const { return _valid(k) ? m_pKeys[k].time : 0.0f; }
float CvCurve::getKeyValue(int k) const { return _valid(k) ? m_pKeys[k].value : 0.0f; }

int CvCurve::setKeyTime(int k, float time)
{
    if (!_valid(k))
        return 0;
    m_pKeys[k].time = time;
    return 1;
}

int CvCurve::setKeyValue(int k, float value)
{
    if (!_valid(k))
        return 0;
    m_pKeys[k].value = value;
    return 1;
}

const CvCurveKeyPrm* CvCurve::getKey(int k) const { return _valid(k) ? &m_pKeys[k] : nullptr; }

int CvCurve::getKeyInTangent(int k, float* x, float* y) const
{
    if (!_valid(k))
        return 0;
    const CvCurveKeyPrm& key = m_pKeys[k];
    const float span = k > 0 ? key.time - m_pKeys[k - 1].time : 0.0f;
    if (x)
        *x = span * key.inWeight;
    if (y)
        *y = key.inSlope * span * key.inWeight;
    return 1;
}

int CvCurve::getKeyOutTangent(int k, float* x, float* y) const
{
    if (!_valid(k))
        return 0;
    const CvCurveKeyPrm& key = m_pKeys[k];
    const float span = k + 1 < m_keyCount ? m_pKeys[k + 1].time - key.time : 0.0f;
    if (x)
        *x = span * key.outWeight;
    if (y)
        *y = key.outSlope * span * key.outWeight;
    return 1;
}

int CvCurve::setKeyInTangent(int k, float slope, float weight)
{
    if (!_valid(k))
        return 0;
    m_pKeys[k].inSlope = slope;
    m_pKeys[k].inWeight = weight;
    return 1;
}

int CvCurve::setKeyOutTangent(int k, float slope, float weight)
{
    if (!_valid(k))
        return 0;
    m_pKeys[k].outSlope = slope;
    m_pKeys[k].outWeight = weight;
    return 1;
}

int CvCurve::_preset(int k, int preset, bool in)
{
    float p[2];
    if (!_valid(k) || !m_ctrl.evalParams(k, preset, p, nullptr))
        return 0;
    return in ? setKeyInTangent(k, p[0], p[1]) : setKeyOutTangent(k, p[0], p[1]);
}

int CvCurve::insertKeys(int index, int count)
{
    if (index < 0 || count < 1)
        return 0;
    const int64_t newCount = static_cast<int64_t>(m_keyCount) + count;
    if (newCount > kMaxCapacity)
        return 0;
    const int p = index < m_keyCount ? index : m_keyCount;

    int64_t cap = m_capacity > 0 ? m_capacity : 2 * newCount;
    while (cap < newCount)
        cap *= 2;
    if (cap > kMaxCapacity)
        cap = kMaxCapacity;

    const size_t rec = sizeof(CvCurveKeyPrm);
    const size_t tail = static_cast<size_t>(m_keyCount - p) * rec;
    if (cap == m_capacity) {
        std::memmove(static_cast<void*>(m_pKeys + p + count), m_pKeys + p, tail);
    } else {
        CvCurveKeyPrm* keys = _alloc(static_cast<int>(cap));
        if (!keys)
            return 0;
        if (m_pKeys) {
            std::memcpy(static_cast<void*>(keys), m_pKeys, static_cast<size_t>(p) * rec);
            std::memcpy(static_cast<void*>(keys + p + count), m_pKeys + p, tail);
        }
        _free(m_pKeys);
        m_pKeys = keys;
    }
    std::memset(static_cast<void*>(m_pKeys + p), 0, static_cast<size_t>(count) * rec);
    m_keyCount = static_cast<int32_t>(newCount);
    m_capacity = static_cast<int32_t>(cap);
    _attach();
    return 1;
}

int CvCurve::removeKeys(int index, int count)
{
    if (index < 0 || index >= m_keyCount || count < 1 || count > m_keyCount - index)
        return 0;
    const int newCount = m_keyCount - count;
    int h = m_capacity / 2;
    while (newCount < h)
        h /= 2;
    int cap = 2 * h;

    const size_t rec = sizeof(CvCurveKeyPrm);
    const size_t tail = static_cast<size_t>(m_keyCount - index - count) * rec;
    CvCurveKeyPrm* keys = nullptr;
    if (cap > 0 && cap != m_capacity) {
        keys = _alloc(cap);
        // When the smaller array cannot be had, keep the larger one.
        if (!keys)
            cap = m_capacity;
    }
    if (cap == m_capacity) {
        std::memmove(static_cast<void*>(m_pKeys + index), m_pKeys + index + count, tail);
    } else if (cap > 0) {
        std::memcpy(static_cast<void*>(keys), m_pKeys, static_cast<size_t>(index) * rec);
        std::memcpy(static_cast<void*>(keys + index), m_pKeys + index + count, tail);
        _free(m_pKeys);
        m_pKeys = keys;
    } else {
        _free(m_pKeys);
        m_pKeys = nullptr;
    }
    m_keyCount = newCount;
    m_capacity = cap;
    _attach();
    return count;
}

void CvCurve::select(int index, uint32_t flag)
{
    if (_valid(index))
        m_pKeys[index].state = flag;
}

uint32_t CvCurve::isSelected(int index) const { return _valid(index) ? m_pKeys[index].state : 0; }

void CvCurve::getXRange(float* minimum, float* maximum) const
{
    if (minimum)
        *minimum = m_xMin;
    if (maximum)
        *maximum = m_xMax;
}

void CvCurve::getYRange(float* minimum, float* maximum) const
{
    if (minimum)
        *minimum = m_yMin;
    if (maximum)
        *maximum = m_yMax;
}

float CvCurve::ClampValue(float x) const
{
    if (m_clampMode > 1)
        return x;
    if (x < m_valueMin)
        return m_valueMin;
    if (x > m_valueMax)
        return m_valueMax;
    return x;
}

float CvCurve::ClampRangeValue(float x) const
{
    if (x < m_yMin)
        return m_yMin;
    if (x > m_yMax)
        return m_yMax;
    return x;
}
