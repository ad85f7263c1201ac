#include "anim/CvkPolynomial.h"

#include "kit/tests/KitHeapSlots.h"

#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <vector>

namespace {

class PolynomialTest : public ::testing::Test {
protected:
    KitSimpleHeap m_heap;
};

// Polynomial from coefficients, constant first.
CvkPolynomial poly(std::initializer_list<float> c)
{
    CvkPolynomial p(static_cast<int>(c.size()) - 1);
    int i = 0;
    for (float v : c)
        p[i++] = v;
    return p;
}

// Product of (x - r) over the roots, times `lead`.
CvkPolynomial fromRoots(std::initializer_list<float> roots, float lead = 1.0f)
{
    CvkPolynomial p = poly({lead});
    for (float r : roots)
        p = p * poly({-r, 1.0f});
    return p;
}

std::vector<float> roots(const CvkPolynomial& p, float a, float b)
{
    std::vector<float> out(p.getDegree() > 0 ? p.getDegree() : 1);
    out.resize(p.getRoots(a, b, out.data()));
    return out;
}

std::vector<float> allRoots(const CvkPolynomial& p)
{
    std::vector<float> out(p.getDegree() > 0 ? p.getDegree() : 1);
    out.resize(p.getAllRoots(out.data()));
    return out;
}

TEST_F(PolynomialTest, ConstructionCopyAndDegreeChange)
{
    CvkPolynomial empty;
    EXPECT_EQ(empty.getDegree(), -1);
    EXPECT_EQ(empty.eval(3.0f), 0.0f);
    EXPECT_EQ(empty.GetTag(), 0x42415345u);

    CvkPolynomial p(2);
    EXPECT_EQ(p.getDegree(), 2);
    EXPECT_FALSE(p.CheckError());
    for (int i = 0; i <= 2; ++i)
        EXPECT_EQ(p[i], 0.0f);
    p[0] = 1.0f;
    p[2] = 3.0f;

    // Deep copies: changing the copy leaves the original alone.
    CvkPolynomial q(p);
    q[0] = 7.0f;
    EXPECT_EQ(p[0], 1.0f);
    CvkPolynomial r;
    r = p;
    r[2] = 9.0f;
    EXPECT_EQ(p[2], 3.0f);
    EXPECT_EQ(r[0], 1.0f);

    // Growing keeps the common coefficients and zero-fills the new ones;
    // shrinking drops the high ones.
    p.setDegree(4);
    EXPECT_EQ(p[0], 1.0f);
    EXPECT_EQ(p[2], 3.0f);
    EXPECT_EQ(p[3], 0.0f);
    EXPECT_EQ(p[4], 0.0f);
    p.setDegree(1);
    EXPECT_EQ(p.getDegree(), 1);
    EXPECT_EQ(p[0], 1.0f);
    p.workClear();
    EXPECT_EQ(p.getDegree(), -1);

    // An index outside the coefficients reads 0 and a write there is lost.
    q[5] = 4.0f;
    q[-1] = 4.0f;
    EXPECT_EQ(q[5], 0.0f);
    EXPECT_EQ(q.getDegree(), 2);
    const CvkPolynomial& cq = q;
    EXPECT_EQ(cq[3], 0.0f);
}

TEST_F(PolynomialTest, NoHeapGivesEmptyPolynomialWithError)
{
    CvkHeapSetMain(nullptr);
    CvkPolynomial p(3);
    EXPECT_EQ(p.getDegree(), -1);
    EXPECT_TRUE(p.CheckError());
    float r[3];
    EXPECT_EQ(p.getAllRoots(r), 0);
    EXPECT_EQ(p.allocRoots(), nullptr);
}

TEST_F(PolynomialTest, EvalArithmeticDerivativeInversion)
{
    CvkPolynomial p = poly({1.0f, -2.0f, 3.0f}); // 3x^2 - 2x + 1
    EXPECT_FLOAT_EQ(p.eval(2.0f), 9.0f);
    EXPECT_FLOAT_EQ(p(-1.0f), 6.0f);

    CvkPolynomial q = poly({0.5f, 1.0f}); // x + 0.5
    CvkPolynomial sum = p + q;
    ASSERT_EQ(sum.getDegree(), 2);
    EXPECT_FLOAT_EQ(sum[0], 1.5f);
    EXPECT_FLOAT_EQ(sum[1], -1.0f);
    EXPECT_FLOAT_EQ(sum[2], 3.0f);
    CvkPolynomial diff = q - p;
    EXPECT_FLOAT_EQ(diff[0], -0.5f);
    EXPECT_FLOAT_EQ(diff[1], 3.0f);
    EXPECT_FLOAT_EQ(diff[2], -3.0f);
    CvkPolynomial neg = -q;
    EXPECT_FLOAT_EQ(neg[0], -0.5f);
    EXPECT_FLOAT_EQ(neg[1], -1.0f);

    CvkPolynomial prod = p * q; // 3x^3 - 0.5x^2 + 0x + 0.5
    ASSERT_EQ(prod.getDegree(), 3);
    EXPECT_FLOAT_EQ(prod[0], 0.5f);
    EXPECT_FLOAT_EQ(prod[1], 0.0f);
    EXPECT_FLOAT_EQ(prod[2], -0.5f);
    EXPECT_FLOAT_EQ(prod[3], 3.0f);
    for (float x : {-2.0f, 0.3f, 1.7f})
        EXPECT_NEAR(prod(x), p(x) * q(x), 1e-4f);

    CvkPolynomial s1 = p * 2.0f;
    CvkPolynomial s2 = 2.0f * p;
    for (int i = 0; i <= 2; ++i) {
        EXPECT_FLOAT_EQ(s1[i], 2.0f * p[i]);
        EXPECT_FLOAT_EQ(s2[i], 2.0f * p[i]);
    }
    EXPECT_EQ((p * CvkPolynomial()).getDegree(), -1);

    CvkPolynomial d = prod.getDerivative(); // 9x^2 - x
    ASSERT_EQ(d.getDegree(), 2);
    EXPECT_FLOAT_EQ(d[0], 0.0f);
    EXPECT_FLOAT_EQ(d[1], -1.0f);
    EXPECT_FLOAT_EQ(d[2], 9.0f);
    EXPECT_EQ(poly({5.0f}).getDerivative().getDegree(), -1);

    CvkPolynomial inv = p.getInversion(); // x^2 - 2x + 3
    EXPECT_FLOAT_EQ(inv[0], 3.0f);
    EXPECT_FLOAT_EQ(inv[1], -2.0f);
    EXPECT_FLOAT_EQ(inv[2], 1.0f);
}

TEST_F(PolynomialTest, QuadraticClosedForm)
{
    float r[2];
    // x^2 - 1: the positive root first.
    ASSERT_EQ(poly({-1.0f, 0.0f, 1.0f}).getRoots2(r), 2);
    EXPECT_FLOAT_EQ(r[0], 1.0f);
    EXPECT_FLOAT_EQ(r[1], -1.0f);
    EXPECT_EQ(poly({1.0f, 0.0f, 1.0f}).getRoots2(r), 0);
    ASSERT_EQ(poly({0.0f, 0.0f, 1.0f}).getRoots2(r), 1);
    EXPECT_EQ(r[0], 0.0f);
    // (x - 2)^2: a double root, reported once.
    ASSERT_EQ(poly({4.0f, -4.0f, 1.0f}).getRoots2(r), 1);
    EXPECT_FLOAT_EQ(r[0], 2.0f);
    // The interval does not matter for a quadratic.
    ASSERT_EQ(poly({-1.0f, 0.0f, 1.0f}).getRoots(5.0f, 6.0f, r), 2);
    // Only degree 2 is solved here.
    EXPECT_EQ(poly({1.0f, 1.0f}).getRoots2(r), 0);
    // A vanished leading coefficient leaves a linear equation, not 0/0.
    ASSERT_EQ(poly({1.0f, 2.0f, 0.0f}).getRoots2(r), 1);
    EXPECT_FLOAT_EQ(r[0], -0.5f);
    EXPECT_EQ(poly({1.0f, 0.0f, 0.0f}).getRoots2(r), 0);
}

TEST_F(PolynomialTest, BisectionOnAnInterval)
{
    CvkPolynomial line = poly({-0.5f, 1.0f});
    float r = -1.0f;
    ASSERT_EQ(line.getRoots(0.0f, 1.0f, &r), 1);
    EXPECT_NEAR(r, 0.5f, 1e-5f);
    // No sign change, no root.
    EXPECT_EQ(line.getRoots(0.6f, 1.0f, &r), 0);
    // An end point on the root is returned as it is.
    ASSERT_EQ(line.newton(0.5f, 3.0f, &r), 1);
    EXPECT_EQ(r, 0.5f);
    ASSERT_EQ(line.newton(-2.0f, 0.5f, &r), 1);
    EXPECT_EQ(r, 0.5f);
    // Too short for one step (below e^-6), empty and reversed intervals.
    EXPECT_EQ(line.newton(0.4999f, 0.5001f, &r), 0);
    EXPECT_EQ(line.newton(0.7f, 0.7f, &r), 0);
    EXPECT_EQ(line.newton(1.0f, 0.0f, &r), 0);
    // Constants have no roots to report.
    EXPECT_EQ(poly({0.0f}).getRoots(0.0f, 1.0f, &r), 0);
    EXPECT_EQ(CvkPolynomial().getRoots(0.0f, 1.0f, &r), 0);
}

TEST_F(PolynomialTest, CubicRootsAscending)
{
    CvkPolynomial p = fromRoots({0.2f, 0.5f, 0.8f});
    std::vector<float> r = roots(p, 0.0f, 1.0f);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_NEAR(r[0], 0.2f, 1e-4f);
    EXPECT_NEAR(r[1], 0.5f, 1e-4f);
    EXPECT_NEAR(r[2], 0.8f, 1e-4f);
    // Only the roots inside the interval.
    r = roots(p, 0.3f, 1.0f);
    ASSERT_EQ(r.size(), 2u);
    EXPECT_NEAR(r[0], 0.5f, 1e-4f);
    EXPECT_NEAR(r[1], 0.8f, 1e-4f);

    // A value at a within the tolerance: a itself is the root.
    CvkPolynomial q = fromRoots({0.2f, 0.5f, 0.8f});
    q[0] += 5e-7f;
    r = roots(q, 0.2f, 0.4f);
    ASSERT_EQ(r.size(), 1u);
    EXPECT_EQ(r[0], 0.2f);
}

TEST_F(PolynomialTest, RepeatedAndDegenerateRoots)
{
    struct Case {
        const char* what;
        CvkPolynomial p;
        std::vector<float> expect;
    };
    Case cases[] = {
        {"triple root", fromRoots({0.5f, 0.5f, 0.5f}), {0.5f}},
        {"double and single", fromRoots({-1.0f, 0.5f, 0.5f}), {-1.0f, 0.5f}},
        {"quartic with two double roots", fromRoots({-2.0f, -2.0f, 1.5f, 1.5f}), {-2.0f, 1.5f}},
        {"no real root", poly({1.0f, 0.0f, 0.0f, 0.0f, 1.0f}), {}},
        {"cubic with zero leading coefficient", poly({-1.0f, 0.0f, 1.0f, 0.0f}), {-1.0f, 1.0f}},
        {"linear in cubic form", poly({-3.0f, 2.0f, 0.0f, 0.0f}), {1.5f}},
        {"quintic", fromRoots({-3.0f, -1.0f, 0.0f, 2.0f, 4.0f}), {-3.0f, -1.0f, 0.0f, 2.0f, 4.0f}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<float> r = allRoots(c.p);
        ASSERT_EQ(r.size(), c.expect.size());
        for (size_t k = 0; k < r.size(); ++k)
            EXPECT_NEAR(r[k], c.expect[k], 2e-3f);
    }
}

TEST_F(PolynomialTest, BoundsEncloseRootsWithSmallLeadingCoefficient)
{
    // 0.01 (x - 50)(x + 0.5)(x - 0.2): the leading coefficient is far below
    // the constant, and the root at 50 must still be found.
    CvkPolynomial p = fromRoots({-0.5f, 0.2f, 50.0f}, 0.01f);
    EXPECT_GT(p.getBounds(), 50.0f);
    std::vector<float> r = allRoots(p);
    ASSERT_EQ(r.size(), 3u);
    EXPECT_NEAR(r[0], -0.5f, 1e-3f);
    EXPECT_NEAR(r[1], 0.2f, 1e-3f);
    EXPECT_NEAR(r[2], 50.0f, 1e-2f);

    EXPECT_FLOAT_EQ(poly({-6.0f, 1.0f, 1.0f}).getBounds(), 7.0f); // 1 + 6/1
    EXPECT_EQ(poly({3.0f}).getBounds(), 0.0f);
}

TEST_F(PolynomialTest, RootArrays)
{
    CvkPolynomial p(4);
    float* a = p.allocRoots();
    ASSERT_NE(a, nullptr);
    a[3] = 1.0f; // room for four
    CvkPolynomial::freeRoots(&a);
    EXPECT_EQ(a, nullptr);
    CvkPolynomial::freeRoots(&a); // freeing again is harmless
    EXPECT_EQ(CvkPolynomial(0).allocRoots(), nullptr);
}

} // namespace
