#include "engine3d/matrix.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "engine3d/object3d.h"
#include "engine3d/transform_kernels.h"
#include "tests/support/kernel_levels.h"

using zorbrix::camera_matrix;
using zorbrix::camera_setup;
using zorbrix::CArray;
using zorbrix::CMatrix;
using zorbrix::Transform;
using zorbrix::transform_kernels_for;
using zorbrix::TransformKernels;
using zorbrix::Vector3D;

namespace {

void expect_near(const Vector3D& v, double x, double y, double z, double w) {
    EXPECT_NEAR(v.x, x, 1e-9);
    EXPECT_NEAR(v.y, y, 1e-9);
    EXPECT_NEAR(v.z, z, 1e-9);
    EXPECT_NEAR(v.w, w, 1e-9);
}

}  // namespace

TEST(CMatrix, RotationsTranslationProjectionAndProductOrder) {
    const double half_pi = 1.5707963267948966;
    CMatrix m, t;
    m.RotationZ(half_pi);
    expect_near(Transform(m, Vector3D(1, 0, 0, 1)), 0, 1, 0, 1);
    t.Translation(Vector3D(10, 0, 0, 1));
    expect_near(Transform(t * m, Vector3D(1, 0, 0, 1)), 10, 1, 0, 1);  // the right factor acts first
    expect_near(Transform(m * t, Vector3D(1, 0, 0, 1)), 0, 11, 0, 1);
    m.RotationX(half_pi);
    expect_near(Transform(m, Vector3D(0, 1, 0, 1)), 0, 0, 1, 1);
    m.RotationY(half_pi);
    expect_near(Transform(m, Vector3D(0, 0, 1, 1)), 1, 0, 0, 1);

    m.Projection(400);
    Vector3D p = Transform(m, Vector3D(100, 0, 400, 1));
    expect_near(p, 100, 0, 0, 2);  // w is kept until Homogenize
    p.Homogenize();
    expect_near(p, 50, 0, 0, 1);
}

TEST(CMatrix, ShapeErrors) {
    CMatrix four;
    const CMatrix three(3, 3);
    EXPECT_THROW(four * three, CMatrix::Error);
    EXPECT_THROW(CMatrix{three}, CMatrix::Error);
    CMatrix a(2, 3), b(3, 2);
    EXPECT_THROW(a * b, CMatrix::Error);  // fits, but the result is not 4 x 4
    EXPECT_THROW(a.Identity(), CMatrix::Error);
    EXPECT_THROW(a.RotationX(1.0), CMatrix::Error);
    EXPECT_THROW(a.Get(2, 0), CArray<double>::Constraint);
    EXPECT_THROW(CMatrix(-1, 4), CArray<double>::Constraint);
    EXPECT_THROW(CMatrix(1 << 16, 1 << 16), CArray<double>::Constraint);
}

TEST(CMatrix, TransformSumsFromTheWTermTowardTheXTerm) {
    // Row 0 terms x = -1e17, y = 1e17, z = 3, w = 3: from w toward x the small terms vanish into 1e17
    // and the sum is 0; from x toward w it would be 6.
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

    Vector3D p = Transform(camera_matrix(Vector3D(0, 0, 0, 1)), Vector3D(300, -150, 0, 1));
    p.Homogenize();
    expect_near(p, 100, -50, 0, 1);
    Vector3D q = Transform(camera_matrix(Vector3D(30, 0, 0, 1)), Vector3D(0, 0, 0, 1));
    q.Homogenize();
    EXPECT_NEAR(q.x, 10, 1e-9);  // pos moves the object before the camera
}

class TransformKernelLevels : public zorbrix::test::KernelLevelTest {};
ZORBRIX_KERNEL_LEVELS(TransformKernelLevels);

TEST_P(TransformKernelLevels, MatchScalarBitForBit) {
    const TransformKernels ref = transform_kernels_for(zorbrix::CpuLevel::scalar), k = transform_kernels_for(level());
    std::mt19937 rng(13);
    std::uniform_real_distribution<double> value(-1000, 1000);
    std::vector<Vector3D> in(333), scalar(333), vector(333);
    for (int n = 0; n < 50; ++n) {
        double e[16];
        for (double& x : e) x = value(rng) / (n % 3 ? 1.0 : 1e6);
        if (n == 0) std::copy_n(camera_matrix(Vector3D(3, -2, 40, 1)).Data(), 16, e);
        for (auto& v : in) v = Vector3D(value(rng), value(rng), value(rng), n % 2 ? 1.0 : value(rng));
        ref.points(e, in.data(), scalar.data(), in.size());
        k.points(e, in.data(), vector.data(), in.size());
        ASSERT_EQ(0, std::memcmp(scalar.data(), vector.data(), in.size() * sizeof(Vector3D))) << n;
    }
}
