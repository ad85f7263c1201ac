#include "anim/CvkPolynomial.h"

#include "kit/CvkHeap.h"

#include <cmath>
#include <cstring>

namespace {

// Derivative roots of polynomials up to this degree are kept on the stack.
constexpr int kStackRoots = 16;

bool isZero(float v) { return std::fabs(v) <= CVK_POLYNOMIAL_EPSILON; }

// Sign change between two values that are both known to be non-zero.
bool signChange(float u, float v) { return (u < 0.0f) != (v < 0.0f); }

} // namespace

float* CvkPolynomial::_allocCoef(int count)
{
    if (count < 1)
        return nullptr;
    return static_cast<float*>(t_cvkMainHeapAlloc(
        static_cast<unsigned>(count) * sizeof(float), alignof(float), __FILE__, __LINE__));
}

void CvkPolynomial::_freeCoef(float* p)
{
    if (p)
        t_cvkMainHeapFree(p, __FILE__, __LINE__);
}

CvkPolynomial::CvkPolynomial(int degree) : m_degree(-1), m_pCoef(nullptr), m_scratch(0.0f)
{
    if (degree >= 0 && !setDegree(degree))
        SetError();
}

CvkPolynomial::CvkPolynomial(const CvkPolynomial& other)
    : CvkBase(other), m_degree(-1), m_pCoef(nullptr), m_scratch(0.0f)
{
    _copyFrom(other);
}

CvkPolynomial& CvkPolynomial::operator=(const CvkPolynomial& other)
{
    if (this != &other) {
        CvkBase::operator=(other);
        _copyFrom(other);
    }
    return *this;
}

CvkPolynomial::~CvkPolynomial() { workClear(); }

void CvkPolynomial::_copyFrom(const CvkPolynomial& other)
{
    if (m_degree == other.m_degree && m_pCoef) {
        std::memcpy(m_pCoef, other.m_pCoef, sizeof(float) * (m_degree + 1));
        return;
    }
    workClear();
    if (other.m_degree < 0)
        return;
    float* p = _allocCoef(other.m_degree + 1);
    if (!p) {
        SetError();
        return;
    }
    std::memcpy(p, other.m_pCoef, sizeof(float) * (other.m_degree + 1));
    m_pCoef = p;
    m_degree = other.m_degree;
}

int CvkPolynomial::setDegree(int degree)
{
    if (degree < 0) {
        workClear();
        return 1;
    }
    if (degree == m_degree)
        return 1;
    float* p = _allocCoef(degree + 1);
    if (!p)
        return 0;
    int keep = (m_degree < degree ? m_degree : degree) + 1;
    for (int i = 0; i <= degree; ++i)
        p[i] = i < keep ? m_pCoef[i] : 0.0f;
    _freeCoef(m_pCoef);
    m_pCoef = p;
    m_degree = degree;
    return 1;
}

void CvkPolynomial::workClear()
{
    _freeCoef(m_pCoef);
    m_pCoef = nullptr;
    m_degree = -1;
}

float& CvkPolynomial::operator[](int i)
{
    if (i < 0 || i > m_degree) {
        m_scratch = 0.0f;
        return m_scratch;
    }
    return m_pCoef[i];
}

float CvkPolynomial::operator[](int i) const
{
    return (i < 0 || i > m_degree) ? 0.0f : m_pCoef[i];
}

float CvkPolynomial::eval(float x) const
{
    if (m_degree < 0)
        return 0.0f;
    float v = m_pCoef[m_degree];
    for (int i = m_degree - 1; i >= 0; --i)
        v = v * x + m_pCoef[i];
    return v;
}

CvkPolynomial CvkPolynomial::operator+(const CvkPolynomial& q) const
{
    CvkPolynomial r(m_degree > q.m_degree ? m_degree : q.m_degree);
    for (int i = 0; i <= r.m_degree; ++i)
        r[i] = (*this)[i] + q[i];
    return r;
}

CvkPolynomial CvkPolynomial::operator-(const CvkPolynomial& q) const
{
    CvkPolynomial r(m_degree > q.m_degree ? m_degree : q.m_degree);
    for (int i = 0; i <= r.m_degree; ++i)
        r[i] = (*this)[i] - q[i];
    return r;
}

CvkPolynomial CvkPolynomial::operator-() const
{
    CvkPolynomial r(m_degree);
    for (int i = 0; i <= r.m_degree; ++i)
        r[i] = -(*this)[i];
    return r;
}

CvkPolynomial CvkPolynomial::operator*(const CvkPolynomial& q) const
{
    // The product with the empty polynomial is empty.
    if (m_degree < 0 || q.m_degree < 0)
        return CvkPolynomial();
    CvkPolynomial r(m_degree + q.m_degree);
    if (r.m_degree < 0)
        return r;
    for (int i = 0; i <= m_degree; ++i)
        for (int j = 0; j <= q.m_degree; ++j)
            r.m_pCoef[i + j] += m_pCoef[i] * q.m_pCoef[j];
    return r;
}

CvkPolynomial CvkPolynomial::operator*(float s) const
{
    CvkPolynomial r(m_degree);
    for (int i = 0; i <= r.m_degree; ++i)
        r[i] = (*this)[i] * s;
    return r;
}

CvkPolynomial operator*(float s, const CvkPolynomial& p) { return p * s; }

CvkPolynomial CvkPolynomial::getDerivative() const
{
    CvkPolynomial r(m_degree - 1);
    for (int i = 0; i <= r.m_degree; ++i)
        r[i] = static_cast<float>(i + 1) * (*this)[i + 1];
    return r;
}

CvkPolynomial CvkPolynomial::getInversion() const
{
    CvkPolynomial r(m_degree);
    for (int i = 0; i <= r.m_degree; ++i)
        r[i] = (*this)[m_degree - i];
    return r;
}

int CvkPolynomial::newton(float a, float b, float* root) const
{
    if (!root)
        return 0;
    float fa = eval(a);
    float fb = eval(b);
    if (isZero(fa)) {
        *root = a;
        return 1;
    }
    if (isZero(fb)) {
        *root = b;
        return 1;
    }
    // The step budget grows with the interval; an interval shorter than
    // e^-6 (or an empty or reversed one) gets none and reports no root.
    if (!(b > a))
        return 0;
    float steps = 2.0f * std::ceil((std::log(b - a) + CVK_POLYNOMIAL_BISECT_BUDGET) / std::log(2.0f));
    if (!(steps >= 1.0f))
        return 0;
    int n = steps > 1000.0f ? 1000 : static_cast<int>(steps);
    float lo = a, hi = b, flo = fa, fhi = fb, m = a;
    for (int k = 0; k < n; ++k) {
        m = (lo + hi) * 0.5f;
        float fm = eval(m);
        if (isZero(fm)) {
            *root = m;
            return 1;
        }
        if (signChange(flo, fm)) {
            hi = m;
            fhi = fm;
        } else if (signChange(fm, fhi)) {
            lo = m;
            flo = fm;
        } else {
            return 0;
        }
    }
    *root = m;
    return 1;
}

int CvkPolynomial::getRoots2(float* roots) const
{
    if (m_degree != 2 || !roots)
        return 0;
    float c0 = m_pCoef[0], c1 = m_pCoef[1], c2 = m_pCoef[2];
    if (c2 == 0.0f) {
        // A quadratic whose leading coefficient vanished is linear: the
        // closed form would divide by zero and report NaN and infinity.
        if (c1 == 0.0f)
            return 0;
        roots[0] = -c0 / c1;
        return 1;
    }
    float d = c1 * c1 - 4.0f * c0 * c2;
    if (d < 0.0f)
        return 0;
    if (d < CVK_POLYNOMIAL_EPSILON) {
        roots[0] = -c1 / (2.0f * c2);
        return 1;
    }
    float s = std::sqrt(d);
    roots[0] = (s - c1) / (2.0f * c2);
    roots[1] = (-c1 - s) / (2.0f * c2);
    return 2;
}

int CvkPolynomial::getRoots(float a, float b, float* roots) const
{
    if (!roots || m_degree < 1)
        return 0;
    if (m_degree == 1)
        return newton(a, b, &roots[0]);
    if (m_degree == 2)
        return getRoots2(roots);

    // Roots of the derivative inside a..b, ascending: the turning points that
    // cut a..b into monotone pieces.
    CvkPolynomial deriv = getDerivative();
    if (deriv.getDegree() != m_degree - 1)
        return 0;
    float stackBuf[kStackRoots];
    float* cut = m_degree - 1 <= kStackRoots ? stackBuf : deriv.allocRoots();
    if (!cut)
        return 0;
    int nd = deriv.getRoots(a, b, cut);
    int k = 0;
    for (int i = 0; i < nd; ++i) {
        float r = cut[i];
        if (!(r >= a && r <= b))
            continue;
        int j = k++;
        for (; j > 0 && cut[j - 1] > r; --j)
            cut[j] = cut[j - 1];
        cut[j] = r;
    }

    // One bisection per piece; at most k + 1 <= degree roots are collected.
    int found = 0;
    float r;
    if (k == 0) {
        if (newton(a, b, &r))
            roots[found++] = r;
    } else {
        if (newton(a, cut[0], &r))
            roots[found++] = r;
        for (int i = 0; i + 1 < k; ++i)
            if (newton(cut[i], cut[i + 1], &r))
                roots[found++] = r;
        if (newton(cut[k - 1], b, &r))
            roots[found++] = r;
    }
    if (cut != stackBuf)
        freeRoots(&cut);

    // Neighbouring pieces share their end points, so one root can be found
    // twice: keep each root that differs from its predecessor by more than
    // the tolerance.
    if (found == 0)
        return 0;
    int kept = 1;
    float prev = roots[0];
    for (int i = 1; i < found; ++i) {
        float cur = roots[i];
        if (std::fabs(cur - prev) > CVK_POLYNOMIAL_EPSILON)
            roots[kept++] = cur;
        prev = cur;
    }
    return kept;
}

float CvkPolynomial::getBounds() const
{
    int n = m_degree;
    while (n > 0 && m_pCoef[n] == 0.0f)
        --n;
    if (n < 1)
        return 0.0f;
    float cn = std::fabs(m_pCoef[n]);
    float m = 0.0f;
    for (int i = 0; i < n; ++i) {
        float q = std::fabs(m_pCoef[i]) / cn;
        if (q > m)
            m = q;
    }
    return 1.0f + m;
}

int CvkPolynomial::getAllRoots(float* roots) const
{
    float b = getBounds();
    return getRoots(-b, b, roots);
}

float* CvkPolynomial::allocRoots() const { return _allocCoef(m_degree); }

void CvkPolynomial::freeRoots(float** roots)
{
    if (!roots)
        return;
    _freeCoef(*roots);
    *roots = nullptr;
}
