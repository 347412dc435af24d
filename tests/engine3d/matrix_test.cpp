#include "engine3d/matrix.h"

#include <gtest/gtest.h>

#include <cmath>

#include "engine3d/object3d.h"

namespace {

constexpr double HALF_PI = 1.5707963267948966;

void expect_near(const Vector3D& v, double x, double y, double z, double w) {
    EXPECT_NEAR(v.x, x, 1e-12);
    EXPECT_NEAR(v.y, y, 1e-12);
    EXPECT_NEAR(v.z, z, 1e-12);
    EXPECT_NEAR(v.w, w, 1e-12);
}

}  // namespace

TEST(Vector3D, Arithmetic) {
    const Vector3D a(1, 2, 3, 5), b(4, -1, 2, 7);
    expect_near(a + b, 5, 1, 5, 1);
    expect_near(a - b, -3, 3, 1, 1);
    expect_near(2.0 * a, 2, 4, 6, 1);
    expect_near(a.Cross(b), 2 * 2 - 3 * -1, 3 * 4 - 1 * 2, 1 * -1 - 2 * 4, 1);
    EXPECT_DOUBLE_EQ(Vector3D(3, 4, 12, 9).Length(), 13.0);  // w takes no part
    expect_near(Vector3D(3, 4, 12, 9).Normalized(), 3 / 13.0, 4 / 13.0, 12 / 13.0, 1);

    Vector3D h(2, 4, 6, 2);
    h.Homogenize();
    expect_near(h, 1, 2, 3, 1);
}

TEST(CMatrix, RotationsTranslationAndProjection) {
    CMatrix m;
    m.RotationZ(HALF_PI);
    expect_near(Transform(m, Vector3D(1, 0, 0, 1)), 0, 1, 0, 1);
    m.RotationX(HALF_PI);
    expect_near(Transform(m, Vector3D(0, 1, 0, 1)), 0, 0, 1, 1);
    m.RotationY(HALF_PI);
    expect_near(Transform(m, Vector3D(0, 0, 1, 1)), 1, 0, 0, 1);

    m.Translation(Vector3D(1, 2, 3, 1));
    expect_near(Transform(m, Vector3D(0, 0, 0, 1)), 1, 2, 3, 1);

    m.Scaling(2.5);
    expect_near(Transform(m, Vector3D(1, -2, 4, 1)), 2.5, -5, 10, 1);

    m.Projection(400);
    Vector3D p = Transform(m, Vector3D(100, 0, 400, 1));
    expect_near(p, 100, 0, 0, 2);  // w is kept until Homogenize
    p.Homogenize();
    expect_near(p, 50, 0, 0, 1);
}

TEST(CMatrix, RotationSineIsRoundedFromExtendedPrecision) {
    const double a = 0.7;
    CMatrix m;
    m.RotationZ(a);
    EXPECT_EQ(m.Get(1, 0), static_cast<double>(std::sin(static_cast<long double>(a))));
    EXPECT_EQ(m.Get(0, 1), -static_cast<double>(std::sin(static_cast<long double>(a))));
    EXPECT_EQ(m.Get(0, 0), static_cast<double>(std::cos(static_cast<long double>(a))));
    EXPECT_EQ(m.Get(3, 3), 1.0);
}

TEST(CMatrix, ProductOrderAndShapeErrors) {
    CMatrix t, r;
    t.Translation(Vector3D(10, 0, 0, 1));
    r.RotationZ(HALF_PI);
    // In t·r the rotation acts first: (1, 0, 0) turns to (0, 1, 0), then moves by 10 in x.
    expect_near(Transform(t * r, Vector3D(1, 0, 0, 1)), 10, 1, 0, 1);
    expect_near(Transform(r * t, Vector3D(1, 0, 0, 1)), 0, 11, 0, 1);

    const CMatrix three(3, 3);
    EXPECT_THROW(t * three, CMatrix::Error);
    EXPECT_THROW(CMatrix{three}, CMatrix::Error);

    // The general product works for other shapes; only the 4 x 4 copy rejects them.
    CMatrix a(2, 3), b(3, 2), out(0, 0);
    for (int i = 0; i < 6; ++i) {
        a.Set(i / 3, i % 3, i + 1);
        b.Set(i / 2, i % 2, 6 - i);
    }
    CMatrix::Multiply(a, b, out);
    ASSERT_EQ(out.Rows(), 2);
    ASSERT_EQ(out.Cols(), 2);
    EXPECT_EQ(out.Get(0, 0), 1 * 6 + 2 * 4 + 3 * 2);
    EXPECT_EQ(out.Get(1, 1), 4 * 5 + 5 * 3 + 6 * 1);
    EXPECT_THROW(a * b, CMatrix::Error);
    EXPECT_THROW(CMatrix::Multiply(a, a, out), CMatrix::Error);

    CMatrix rect(2, 3);
    EXPECT_THROW(rect.Identity(), CMatrix::Error);
    EXPECT_THROW(rect.RotationX(1.0), CMatrix::Error);
    EXPECT_THROW(CMatrix(-1, 4), CArray<double>::Constraint);
    EXPECT_THROW(CMatrix(1 << 16, 1 << 16), CArray<double>::Constraint);
    EXPECT_THROW(rect.Get(2, 0), CArray<double>::Constraint);

    rect = three;  // assignment takes over any shape
    EXPECT_EQ(rect.Rows(), 3);
    EXPECT_EQ(rect.Cols(), 3);
}

TEST(CMatrix, TransformSumsFromTheWTermTowardTheXTerm) {
    // Row 0 terms: x = -1e17, y = 1e17, z = 3, w = 3. From w toward x the small terms vanish into 1e17
    // and the result is 0; from x toward w it would be 6.
    CMatrix m;
    m.Set(0, 0, -1e17);
    m.Set(0, 1, 1e17);
    m.Set(0, 2, 3);
    m.Set(0, 3, 3);
    EXPECT_EQ(Transform(m, Vector3D(1, 1, 1, 1)).x, 0.0);
}

TEST(Camera, FocalLengthDistanceAndThirdSizeAtTheOrigin) {
    double focal = 0, distance = 0;
    camera_setup(3.1415927f * 0.2951666666666667, 400.0, 2000.0, focal, distance);
    EXPECT_NEAR(focal, 400.00088, 1e-5);
    EXPECT_NEAR(distance, 800.00176, 1e-5);

    const CMatrix camera = camera_matrix(Vector3D(0, 0, 0, 1));
    Vector3D p = Transform(camera, Vector3D(300, -150, 0, 1));
    p.Homogenize();
    EXPECT_NEAR(p.x, 100, 1e-9);
    EXPECT_NEAR(p.y, -50, 1e-9);

    // pos moves the object before it is pushed away and projected.
    Vector3D q = Transform(camera_matrix(Vector3D(30, 0, 0, 1)), Vector3D(0, 0, 0, 1));
    q.Homogenize();
    EXPECT_NEAR(q.x, 10, 1e-9);
}
