#pragma once
// CvkPolynomial: a small real polynomial with single-precision coefficients
// and a real-root finder that works on an interval.
//
// Roots are found piece by piece: the roots of the derivative split the
// interval into pieces on which the polynomial is monotone, and every piece
// that shows a sign change is bisected. Quadratics are solved in closed form.
// The animation controller uses it to invert the cubic time axis of a
// weighted-tangent segment.
//
// Coefficient arrays come from the kit's main heap. A polynomial whose array
// could not be allocated is empty (degree -1) and carries the Error flag.

#include "kit/CvkBase.h"
#include "platform/PlatformExport.h"

#include <cstdint>

// A value whose magnitude is at most this counts as zero; roots closer than
// this count as one.
constexpr float CVK_POLYNOMIAL_EPSILON = 1e-6f;
// Added to ln(interval length) when sizing the bisection budget.
constexpr float CVK_POLYNOMIAL_BISECT_BUDGET = 6.0f;

class LUMIVOR_EXPORT CvkPolynomial : public CvkBase {
public:
    // A polynomial of the given degree with every coefficient 0; a negative
    // degree gives the empty polynomial.
    explicit CvkPolynomial(int degree = -1);
    CvkPolynomial(const CvkPolynomial& other);
    CvkPolynomial& operator=(const CvkPolynomial& other);
    ~CvkPolynomial() override;

    // Degree, -1 for the empty polynomial.
    int getDegree() const { return m_degree; }
    // Changes the degree keeping the coefficients both degrees share; new
    // ones are 0. A negative degree empties the polynomial. 0 when the new
    // array cannot be allocated (the polynomial is then left unchanged).
    int setDegree(int degree);
    // Frees the coefficient array: the polynomial becomes empty.
    void workClear();

    // Coefficient of x^i. An index outside 0..degree reaches a scratch value
    // that reads as 0, so a wrong index never touches foreign memory.
    float& operator[](int i);
    float operator[](int i) const;

    // Value at x by Horner's rule from the highest coefficient (0 when empty).
    float eval(float x) const;
    float operator()(float x) const { return eval(x); }

    CvkPolynomial operator+(const CvkPolynomial& q) const;
    CvkPolynomial operator-(const CvkPolynomial& q) const;
    CvkPolynomial operator-() const;
    CvkPolynomial operator*(const CvkPolynomial& q) const;
    CvkPolynomial operator*(float s) const;
    friend LUMIVOR_EXPORT CvkPolynomial operator*(float s, const CvkPolynomial& p);

    // Degree - 1, coefficient i = (i + 1) * coefficient (i + 1).
    CvkPolynomial getDerivative() const;
    // x^n * p(1/x): the coefficients in reverse order.
    CvkPolynomial getInversion() const;

    // Real roots in a..b (see the source for the method); `roots` must hold
    // `degree` floats (allocRoots). Returns the number of roots written.
    // Degree 2 is solved in closed form without consulting the interval.
    int getRoots(float a, float b, float* roots) const;
    // Closed-form roots of a quadratic (degree 2 only, else 0): none, one
    // double root, or two roots (sqrt(D) - c1) / 2c2 then (-c1 - sqrt(D)) / 2c2.
    int getRoots2(float* roots) const;
    // Every real root: getRoots(-B, B) with B = getBounds().
    int getAllRoots(float* roots) const;
    // Cauchy bound 1 + max |ci| / |cn| over the highest non-zero coefficient
    // cn; every real root lies strictly inside -B..B. 0 when the polynomial
    // has no non-zero coefficient above the constant.
    float getBounds() const;

    // An array for `degree` floats from the main heap (null when the degree
    // is below 1 or the heap refuses); freeRoots frees it and clears *roots.
    float* allocRoots() const;
    static void freeRoots(float** roots);

    // Bisection on a..b: 1 and *root when an end point is a root, a midpoint
    // evaluates to (near) zero or the budget of steps ends; 0 when neither
    // half shows a sign change or the interval is too short for one step.
    int newton(float a, float b, float* root) const;

private:
    static float* _allocCoef(int count);
    static void _freeCoef(float* p);
    void _copyFrom(const CvkPolynomial& other);

    int32_t m_degree;  // -1 when empty
    float* m_pCoef;    // m_degree + 1 coefficients, index i for x^i
    float m_scratch;   // target of out-of-range operator[]
};
